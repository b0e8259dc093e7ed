#!/usr/bin/env bash
# Kills an update and a remove run with --rollback at each system call that
# changes the disk, one kill per run (strace injects SIGKILL at the Nth call
# of one system call), then starts the installer again, which puts the
# killed run back and leaves at the menu.  Each time the installation must
# be as it was before the run, or as a complete run leaves it: never a mix.
#
#   scripts/crash-sweep.sh          every kill point
#   scripts/crash-sweep.sh STEP     every STEP-th call of each system call
#
# Prints one line per job: kill points, runs found as before, as complete,
# and mixed; exits 1 when any run was mixed.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
step=${1:-1}
build=${BUILD:-$top/build}
calls="mkdir rmdir unlink unlinkat rename renameat renameat2 link linkat symlink fchmod fchown fsync fdatasync \
copy_file_range write ftruncate openat"

command -v strace >/dev/null || { DEBIAN_FRONTEND=noninteractive apt-get install -y -qq strace >/dev/null; }
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target quillor-install >/dev/null

S=$(mktemp -d)
trap 'rm -rf "$S"' EXIT

# run ROOT JOB [ARGS...]: the installer in ROOT/dist with the sample answers of JOB
run() {
  local root=$1 job=$2
  shift 2
  ( (cd "$root/dist" && QUILLOR_ROOT="$root" "$@" ./quillor-install --answers "answers/$job.txt" --rollback \
    </dev/null >/dev/null 2>&1) ) 2>/dev/null || true # no "Killed" notice for each kill
}

# snapshot ROOT: every entry's kind, mode and contents (the log aside)
snapshot() {
  (cd "$1" && {
    find . -path ./dist/install.log -prune -o -printf '%y %m %p %l\n'
    find . -type f ! -path ./dist/install.log -print0 | xargs -0 md5sum
  } | sort)
}

mkdir -p "$S/base/dist"
cp -r "$top/sample/." "$S/base/dist/"
cp "$build/quillor-install" "$S/base/dist/"
run "$S/base" install
echo "# changed here" >>"$S/base/quillor/index.tpl"

mixed_total=0
for job in update remove; do
  rm -rf "$S/full" && cp -a "$S/base" "$S/full"
  before=$(snapshot "$S/base")
  run "$S/full" "$job" strace -f -o "$S/trace" -e trace="${calls// /,}"
  after=$(snapshot "$S/full")
  points=0 same=0 done=0 mixed=0
  for call in $calls; do
    count=$(grep -c "^[0-9]* *$call(" "$S/trace" || true)
    for ((n = 1; n <= count; n += step)); do
      rm -rf "$S/r" && cp -a "$S/base" "$S/r"
      run "$S/r" "$job" strace -f -o /dev/null -e inject="$call:signal=SIGKILL:when=$n"
      (cd "$S/r/dist" && printf '0\n' | QUILLOR_ROOT="$S/r" ./quillor-install >/dev/null 2>&1) || true
      now=$(snapshot "$S/r")
      points=$((points + 1))
      if [ "$now" = "$before" ]; then
        same=$((same + 1))
      elif [ "$now" = "$after" ]; then
        done=$((done + 1))
      else
        mixed=$((mixed + 1))
        echo "mixed: $job killed at $call #$n" >&2
        diff <(echo "$before") <(echo "$now") | head -5 >&2 || true
      fi
    done
  done
  printf '%s: %d kill points, %d as before, %d as complete, %d mixed\n' "$job" "$points" "$same" "$done" "$mixed"
  mixed_total=$((mixed_total + mixed))
done
[ "$mixed_total" -eq 0 ]
