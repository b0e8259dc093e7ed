#!/usr/bin/env bash
# What making the copies durable costs.  The install job (every default)
# copies a generated distribution into a scratch root on a RAM-backed file
# system (/dev/shm) and on the disk (scratch/sync); strace times the
# installer's syncfs and fsync calls within each run.  For the alternative
# the issue allowed, the same files are copied with cp and then made
# durable by fdatasync of each file (coreutils' sync -d) or by one syncfs
# (sync -f), each timed alone.  Prints a markdown table on standard output.
#
#   BIN          the installer (default build/quillor-install)
#   SYNC_RUNS    rounds per place (default 3)
#   SYNC_TPL, SYNC_IMG, SYNC_PAGES   distribution size (default 2000, 10, 20)
# Part of `make bench`; runs alone as bench/sync_cost.sh.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin=${BIN:-$top/build/quillor-install}
runs=${SYNC_RUNS:-3}
tpl=${SYNC_TPL:-2000} img=${SYNC_IMG:-10} pages=${SYNC_PAGES:-20}
[ -x "$bin" ] || { echo "sync_cost: no installer at $bin" >&2; exit 1; }
command -v strace >/dev/null || { echo "sync_cost: needs strace" >&2; exit 1; }
work=$(mktemp -d)
places=("/dev/shm/quillor-sync.$$" "$top/scratch/sync.$$")
trap 'rm -rf "$work" "${places[@]}"' EXIT
g++ -O2 -std=c++17 -o "$work/gen_dist" "$top/bench/gen_dist.cpp"
{ printf '1\n'; for _ in $(seq 17); do printf '\n'; done; printf 'n\n\n'; } >"$work/answers"

ms() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.0f\n", (b - a) * 1000 }'; }
now() { date +%s.%N; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# sum of the <seconds> strace gave the calls named $2 in trace file $1, in ms
traced_ms() { awk -v c="$2" '$0 ~ c"\\(" { gsub(/[<>]/, "", $NF); s += $NF } END { printf "%.1f\n", s * 1000 }' "$1"; }

echo "| file system | data | install, total (ms) | of it syncfs (ms) | of it fsync, configuration (ms) | cp, then fdatasync per file (ms) | cp, then one syncfs (ms) |"
echo "|---|---|---|---|---|---|---|"
for place in "${places[@]}"; do
  rm -rf "$place" && mkdir -p "$place"
  "$work/gen_dist" dist "$place/dist" "$tpl" "$img" "$pages"
  cp "$top/sample/quillor.ini" "$top/sample/install.hlp" "$bin" "$place/dist/"
  cp "$place/dist/quillor.ini" "$work/quillor.ini"
  data=$(du -sm "$place/dist" | cut -f1)
  : >"$work/total" && : >"$work/syncfs" && : >"$work/fsync" && : >"$work/perfile" && : >"$work/once"
  for _ in $(seq "$runs"); do
    rm -rf "$place/root" && mkdir "$place/root" && cp "$work/quillor.ini" "$place/dist/" && sync
    t0=$(now)
    (cd "$place/dist" && QUILLOR_ROOT="$place/root" strace -f -qq --seccomp-bpf -T -e trace=syncfs,fsync -o "$work/trace" \
      ./"$(basename "$bin")" <"$work/answers" >"$work/out")
    t1=$(now)
    grep -q "No errors occured" "$work/out" || { tail -5 "$work/out" >&2; exit 1; }
    ms "$t0" "$t1" >>"$work/total"
    traced_ms "$work/trace" syncfs >>"$work/syncfs"
    traced_ms "$work/trace" fsync >>"$work/fsync"
    for how in perfile once; do
      rm -rf "$place/copy" && sync && cp -r "$place/dist" "$place/copy"
      t0=$(now)
      if [ $how = perfile ]; then find "$place/copy" -type f -print0 | xargs -0 sync -d; else sync -f "$place/copy"; fi
      t1=$(now)
      ms "$t0" "$t1" >>"$work/$how"
    done
  done
  case $place in /dev/shm/*) fs=tmpfs ;; *) fs="disk ($(df -PT "$place" | awk 'NR == 2 { print $2 }'))" ;; esac
  echo "| $fs | ${data} MB, $((tpl + img + pages)) files | $(median <"$work/total") | $(median <"$work/syncfs") | $(median <"$work/fsync") | $(median <"$work/perfile") | $(median <"$work/once") |"
  rm -rf "$place"
done
