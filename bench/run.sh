#!/usr/bin/env bash
# Times the installer against the system's own tools doing the same work on
# the same bytes, and writes the results as a markdown table.
#
#   bench/run.sh                   default (large) size, as `make bench` runs it
#   BENCH_SIZE=small bench/run.sh  a quick run on a tenth of the data
#
# Settings (environment):
#   BENCH_SIZE   large (default) or small
#   BENCH_RUNS   timed rounds per comparison (default 5 large, 3 small)
#   BENCH_DIR    scratch folder (emptied first).  The default is a folder in
#                /dev/shm when that RAM-backed file system has room, else
#                scratch/bench: on a virtual disk the times of writes and
#                deletions are set by the device's flushing and discards
#                (seconds of waiting for no CPU at all), which would hide
#                what the programs themselves cost.
#   BENCH_OUT    table file (default docs/performance.md)
#   BENCH_KEEP   1 keeps the generated data afterwards
#
# Every comparison runs in rounds, A then B in each round (A B A B ...), each
# run after a prepare step that rebuilds the target trees and syncs the disk;
# the table gives the median of the rounds.  Before timing, one untimed run
# of each job is checked against its cp/rm equivalent with diff -r, so the
# two sides are known to produce the same trees.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
size=${BENCH_SIZE:-large}
shm_room() { df -Pk /dev/shm 2>/dev/null | awk 'NR == 2 { print int($4 / 1048576) }'; }
out=${BENCH_OUT:-$top/docs/performance.md}
build=$top/build-bench
tools=$build/bench

case $size in
large) tpl=20000 img=300 pages=200 walk=100000 runs=${BENCH_RUNS:-5} room=12 ;;
small) tpl=2000 img=30 pages=20 walk=10000 runs=${BENCH_RUNS:-3} room=2 ;;
*) echo "BENCH_SIZE must be large or small" >&2; exit 2 ;;
esac
if [ -n "${BENCH_DIR:-}" ]; then
  scratch=$BENCH_DIR
elif [ "$(shm_room)" -ge "$room" ] 2>/dev/null; then
  scratch=/dev/shm/quillor-bench   # GiB free there >= what the data needs
else
  scratch=$top/scratch/bench
fi

say() { printf '== %s\n' "$*" >&2; }
fail() { printf 'bench: %s\n' "$*" >&2; exit 1; }

# ---- tools ----

need=()
command -v hyperfine >/dev/null || need+=(hyperfine)
[ -x /usr/bin/time ] || need+=(time)
command -v strace >/dev/null || need+=(strace)
if [ ${#need[@]} -gt 0 ]; then
  [ "$(id -u)" -eq 0 ] || fail "missing packages: ${need[*]} (install them with apt-get)"
  say "installing ${need[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
fi
scripts/install-deps.sh

say "building the Release binary in $build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLOR_TESTS=OFF >/dev/null
cmake --build "$build" >/dev/null
mkdir -p "$tools"
cxx() { g++ -O2 -std=c++17 -Wall -Wextra -I"$top" -o "$@"; }
cxx "$tools/gen_dist" bench/gen_dist.cpp
cxx "$tools/walk_driver" bench/walk_driver.cpp "$build/libquillor_core.a"
cxx "$tools/vini_driver" bench/vini_driver.cpp "$build/libquillor_core.a"

# ---- data ----

rm -rf "$scratch"
mkdir -p "$scratch"
S=$(cd "$scratch" && pwd)
trap '[ "${BENCH_KEEP:-0}" = 1 ] || rm -rf "$S"' EXIT

# make_dist DIR TPL IMG PAGES: a distribution folder with the installer in it
make_dist() {
  "$tools/gen_dist" dist "$1" "$2" "$3" "$4"
  cp sample/quillor.ini sample/install.hlp "$build/quillor-install" "$1/"
}
say "generating the distribution ($tpl templates, $img images, $pages pages)"
make_dist "$S/dist" "$tpl" "$img" "$pages"
say "generating the walk tree (~$walk entries) and the configuration files"
"$tools/gen_dist" walk "$S/walk" "$walk"
for n in 100 1000 10000; do "$tools/gen_dist" ini "$S/conf$n.ini" "$n"; done

# Scripted answers: Enter takes every default; "n" keeps the distribution
# ("Shall I delete the temporary files?"), "y" replaces the templates on
# update, "n" declines the backup on remove.  The last line is the final Enter.
mkdir -p "$S/answers"
{ printf '1\n'; for _ in $(seq 17); do printf '\n'; done; printf 'n\n\n'; } >"$S/answers/install"
printf '2\n\n\n\n\n\n\ny\n\n\n\n\n\nn\n\n' >"$S/answers/update"
printf '3\n\n\n\n\nn\n\nn\n\n' >"$S/answers/remove"

# ---- the jobs, both ways ----

R=$S/root        # the scratch root every timed run writes into
installer() { # DIST JOB ROOT [OPTION]: the installer, scripted
  printf "cd '%s' && QUILLOR_ROOT='%s' ./quillor-install %s < '%s/answers/%s' > /dev/null" "$1" "$3" "${4:-}" "$S" "$2"
}
equiv() { # DIST JOB ROOT: the same work with cp / rm
  printf "bash '%s/bench/equiv.sh' %s '%s' '%s'" "$top" "$2" "$1" "$3"
}
fresh="rm -rf '$R' && mkdir -p '$R' && sync"
installed="rm -rf '$R' && cp -a '$S/installed' '$R' && sync"

# check_job JOB SETUP: one untimed run each way into two roots, compared
check_job() {
  local job=$1 setup=$2 a=$S/check_a b=$S/check_b
  for r in "$a" "$b"; do
    rm -rf "$r"
    if [ "$setup" = installed ]; then cp -a "$S/installed" "$r"; else mkdir -p "$r"; fi
  done
  (cd "$S/dist" && QUILLOR_ROOT="$a" /usr/bin/time -f %M -o "$S/rss.$job" \
    ./quillor-install <"$S/answers/$job" >"$S/out.$job") || { tail -5 "$S/out.$job" >&2; fail "the $job run failed"; }
  grep -q "No errors occured" "$S/out.$job" || { tail -5 "$S/out.$job" >&2; fail "the $job run reported errors"; }
  [ -d "$S/dist/tpl" ] || fail "the $job run deleted the distribution"
  eval "$(equiv "$S/dist" "$job" "$b")"
  diff -rq "$a" "$b" | head -20 >&2 || fail "$job: the installer's tree and the equivalent's differ"
}
say "checking that each job and its equivalent produce the same tree"
check_job install empty
mv "$S/check_a" "$S/installed"
check_job update installed
check_job remove installed
rm -rf "$S/check_a" "$S/check_b"

# ---- system calls per copied file ----

# count_calls JOB SETUP: the job once under strace -c; prints the calls per
# copied file (all the job's calls over the files it wrote, each of which
# takes exactly one copy_file_range below 1 GiB) and the two counts.
count_calls() {
  local job=$1 r=$S/strace_root
  rm -rf "$r"
  if [ "$2" = installed ]; then cp -a "$S/installed" "$r"; else mkdir -p "$r"; fi
  (cd "$S/dist" && QUILLOR_ROOT="$r" strace -f -c -o "$S/strace.$job" ./quillor-install \
    <"$S/answers/$job" >/dev/null) || fail "the $job run under strace failed"
  rm -rf "$r"
  awk '$NF == "total" { calls = $4 } $NF == "copy_file_range" { files = $4 }
    END { if (files > 0) printf "%.1f %d %d\n", calls / files, calls, files; else print "- " calls " 0" }' \
    "$S/strace.$job"
}
say "counting system calls per copied file"
read -r calls_install calls_install_all files_install < <(count_calls install empty)
read -r calls_update calls_update_all files_update < <(count_calls update installed)
say "system calls per copied file: install $calls_install, update $calls_update"

# ---- timing ----

# pair NAME RUNS_PER_ROUND PREP_A CMD_A PREP_B CMD_B: alternating rounds; the
# medians of the round times go to $S/NAME.a and $S/NAME.b (one a line).
pair() {
  local name=$1 k=$2
  : >"$S/$name.a"
  : >"$S/$name.b"
  for ((i = 1; i <= runs; i++)); do
    say "$name: round $i of $runs"
    hyperfine --style none --runs "$k" --export-csv "$S/round.csv" \
      --prepare "$3" --prepare "$5" "$4" "$6" >/dev/null
    awk -F, -v a="$S/$name.a" -v b="$S/$name.b" '
      NR == 1 { for (i = 1; i <= NF; i++) if ($i == "median") m = i; next }
      NR == 2 { print $m >> a } NR == 3 { print $m >> b }' "$S/round.csv"
  done
}
median() { sort -g "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
secs() { awk -v t="$1" 'BEGIN { printf "%.3f s", t }'; }

pair install 1 "$fresh" "$(installer "$S/dist" install "$R")" "$fresh" "$(equiv "$S/dist" install "$R")"
pair update 1 "$installed" "$(installer "$S/dist" update "$R")" "$installed" "$(equiv "$S/dist" update "$R")"
pair remove 1 "$installed" "$(installer "$S/dist" remove "$R")" "$installed" "$(equiv "$S/dist" remove "$R")"
pair rollback 1 "$installed" "$(installer "$S/dist" update "$R" --rollback)" "$installed" "$(installer "$S/dist" update "$R")"
# the plan of an update that meets a twentieth of the templates new, against the update itself
cp -a "$S/installed" "$S/installed_less"
ls "$S/installed_less/quillor" | grep '\.tpl$' | awk -v n=$((tpl / 20)) 'NR <= n' |
  while read -r f; do rm -f "$S/installed_less/quillor/$f"; done
less="rm -rf '$R' && cp -a '$S/installed_less' '$R' && sync"
pair dry 1 "$less" "$(installer "$S/dist" update "$R" --dry-run)" "$less" "$(installer "$S/dist" update "$R")"
rm -rf "$S/installed_less"
pair walk 5 "true" "cd '$S' && '$tools/walk_driver' '.\\walk\\' '*.tpl' > /dev/null 2>&1" \
  "true" "cd '$S' && find walk -iname '*.tpl' > /dev/null"
rm -rf "$S/installed" "$R"   # room for the double distribution
say "generating the double distribution for the growth check"
make_dist "$S/dist2" $((tpl * 2)) $((img * 2)) $((pages * 2))
pair growth 1 "$fresh" "$(installer "$S/dist" install "$R")" "$fresh" "$(installer "$S/dist2" install "$R")"
pair growth_cp 1 "$fresh" "$(equiv "$S/dist" install "$R")" "$fresh" "$(equiv "$S/dist2" install "$R")"

# Configuration loads: each run reads 100,000 lines in all (the 100-line
# file 1,000 times, ...), so equal times would mean a cost linear in lines.
: >"$S/vini.times"
for n in 100 1000 10000; do
  say "vini_load: $n lines"
  hyperfine --style none --runs $((runs * 2)) --export-csv "$S/round.csv" \
    "cd '$S' && '$tools/vini_driver' conf$n.ini $((100000 / n)) > /dev/null" >/dev/null
  awk -F, -v n="$n" 'NR == 1 { for (i = 1; i <= NF; i++) if ($i == "median") m = i; next }
    NR == 2 { print n, $m }' "$S/round.csv" >>"$S/vini.times"
done
rm -f "$S/round.csv"

# ---- the table ----

walk_entries=$(cd "$S" && "$tools/walk_driver" '.\walk\' '*' 2>&1 >/dev/null | tail -1)
walk_found=$(cd "$S" && find walk -iname '*.tpl' | wc -l)
row() { # LABEL NAME TARGET [growth]: the ratio is A / B, or B / A for growth
  local a b r
  a=$(median "$S/$2.a")
  b=$(median "$S/$2.b")
  if [ "${4:-}" = growth ]; then r=$(ratio "$b" "$a"); else r=$(ratio "$a" "$b"); fi
  printf '| %s | %s | %s | **%s** | %s |\n' "$1" "$(secs "$a")" "$(secs "$b")" "$r" "$3"
}
kib_to_mib() { awk -v k="$(cat "$1")" 'BEGIN { printf "%.1f MiB", k / 1024 }'; }
cpu=$(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)
mem=$(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)
fs=$(stat -f -c %T "$S")
commit=$(git rev-parse --short HEAD 2>/dev/null || echo unknown)
git diff --quiet HEAD 2>/dev/null || commit="$commit + uncommitted changes"

mkdir -p "$(dirname "$out")"
{
  echo "<!-- written by bench/run.sh; do not edit by hand -->"
  echo "## Latest figures ($size size)"
  echo
  echo "Run on $(date -u '+%Y-%m-%d %H:%M UTC'), commit $commit: $cpu, $(nproc) cores, $mem,"
  echo "$(uname -sr), scratch on $fs, $(g++ --version | head -1), $(cp --version | head -1)."
  echo "Distribution: $tpl files in tpl (1-64 KiB), $img images (256 KiB-4 MiB), $pages pages."
  echo "Medians of $runs alternating rounds (A B A B ...), wall time from hyperfine."
  echo
  echo "| job | installer | system tools | ratio | target |"
  echo "|---|---|---|---|---|"
  row "install (exe, ini, tpl/\\*, tpl/\\*.tpl, img/\\* twice, manuals/\\*.htm\\*) vs cp" install "<= 0.8"
  row "update, DEL_TEMPLATES and backups, vs cp" update "<= 0.95"
  row "remove, BACK_ALL no, vs rm -rf" remove "<= 1.0"
  row "walk of $walk_entries entries ($walk_found match *.tpl), dir_walk vs find -iname" walk "<= 0.8"
  row "update --rollback vs update" rollback "<= 1.10"
  row "update --dry-run vs update, $((tpl / 20)) templates new" dry "<= 1.0"
  echo
  echo "| growth: install of 2 x the files | N | 2 N | ratio | target |"
  echo "|---|---|---|---|---|"
  row "installer" growth "<= cp's" growth
  row "cp (for reference)" growth_cp "-" growth
  echo
  echo "System calls per copied file (strace -c, all of the job's calls over the files it wrote):"
  echo "install $calls_install per new file ($calls_install_all calls, $files_install files; target <= 8),"
  echo "update $calls_update per file replaced or backed up ($calls_update_all calls, $files_update files; target <= 11)."
  echo
  echo "Peak memory (maximum resident set size): install $(kib_to_mib "$S/rss.install") (target <= 32 MiB),"
  echo "update $(kib_to_mib "$S/rss.update"), remove $(kib_to_mib "$S/rss.remove")."
  echo
  echo "| vini_load | loads per run | median per run | per load | per line |"
  echo "|---|---|---|---|---|"
  while read -r n t; do
    awk -v n="$n" -v t="$t" 'BEGIN { loads = 100000 / n
      printf "| %d lines | %d | %.3f s | %.3f ms | %.2f us |\n", n, loads, t, t / loads * 1000, t / 100000 * 1e6 }'
  done <"$S/vini.times"
} >"$out.new"

# The figures replace the part of the page below the marker; what stands
# above it (the explanations) stays.
marker="<!-- written by bench/run.sh; do not edit by hand -->"
if [ -f "$out" ] && grep -qF "$marker" "$out"; then
  { awk -v m="$marker" '$0 == m { exit } { print }' "$out"; cat "$out.new"; } >"$out.tmp"
  mv "$out.tmp" "$out"
  rm -f "$out.new"
else
  mv "$out.new" "$out"
fi
say "table written to $out"
awk -v m="$marker" '$0 == m { on = 1 } on' "$out"
