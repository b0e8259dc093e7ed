#!/usr/bin/env bash
# Builds the fuzz targets (clang++, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each one for SECONDS seconds
# (default 30), two at a time.  Every run starts by replaying the seed and
# regression inputs in fuzz/corpus/<target>/; new inputs go to the build
# folder only.  Exits non-zero when any target reports a crash, leak,
# hang, out-of-memory or failed check; the input that did it is kept in
# <build>/findings/.
#
#   scripts/fuzz.sh [seconds] [target...]      (or: make fuzz SECONDS=600)
#   FUZZ_BUILD=dir  build folder (default build-fuzz)
#   FUZZ_JOBS=n     targets run at once (default: the number of cores, at most 2)
#   FUZZ_FLAGS=...  extra libFuzzer options, e.g. -seed=1
set -u

# bash gives $SECONDS a meaning of its own: read the caller's value from
# the environment instead.
env_seconds=$(env | sed -n 's/^SECONDS=//p' | head -n 1)
seconds=${1:-${FUZZ_SECONDS:-${env_seconds:-30}}}
[ $# -gt 0 ] && shift
case "$seconds" in '' | *[!0-9]*) echo "fuzz: seconds must be a number, not '$seconds'" >&2; exit 2 ;; esac

cd "$(dirname "$0")/.."
root=$PWD
build=${FUZZ_BUILD:-build-fuzz}
case "$build" in /*) ;; *) build="$root/$build" ;; esac
all_targets=(text wild static_list vini help set_ini answers)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all_targets[@]}")
jobs=${FUZZ_JOBS:-$(nproc 2>/dev/null || echo 1)}
[ "$jobs" -gt 2 ] && jobs=2

# Longest input per target: the loader needs lines past its 9,999-byte
# buffer, the rewrite and the help reader lines past their pieces, the
# answers reader lines past its 4,096-byte buffer.
max_len() {
    case "$1" in
    vini) echo 24000 ;;
    answers) echo 9000 ;;
    set_ini | help | static_list) echo 4096 ;;
    *) echo 1500 ;;
    esac
}

# ---- tools ----

probe_fuzzer() {
    local dir
    dir=$(mktemp -d)
    printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }\n' >"$dir/p.cpp"
    clang++ -fsanitize=fuzzer,address,undefined "$dir/p.cpp" -o "$dir/p" >/dev/null 2>&1
    local rc=$?
    rm -rf "$dir"
    return $rc
}

install_tools() {
    local need=()
    command -v clang++ >/dev/null || need+=(clang)
    command -v cmake >/dev/null || need+=(cmake)
    command -v ninja >/dev/null || need+=(ninja-build)
    if [ ${#need[@]} -eq 0 ] && probe_fuzzer; then return 0; fi
    if [ "$(id -u)" -ne 0 ]; then
        echo "fuzz: missing clang with libFuzzer (${need[*]}); install them as root with apt-get" >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    [ ${#need[@]} -gt 0 ] && apt-get install -y -qq "${need[@]}" >/dev/null
    if ! probe_fuzzer; then
        local major
        major=$(clang++ --version | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -n 1)
        apt-get install -y -qq "libclang-rt-${major:-14}-dev" >/dev/null
    fi
    probe_fuzzer || { echo "fuzz: clang++ cannot build libFuzzer targets" >&2; exit 1; }
}

# ---- one target ----

# Runs one target; its log goes to $build/logs/<name>.log.
run_target() {
    local name=$1 bin="$build/fuzz_$1"
    local work="$build/corpus/$name" seeds="$root/fuzz/corpus/$name" found="$build/findings"
    local dict=() extra=()
    mkdir -p "$work" "$found" "$build/logs"
    [ -f "$root/fuzz/dict/$name.dict" ] && dict=(-dict="$root/fuzz/dict/$name.dict")
    if [ "$seconds" -gt 0 ]; then
        extra=(-max_total_time="$seconds")
    else
        extra=(-runs=0) # replay the seeds and regression inputs only
    fi
    "$bin" "$work" "$seeds" "${dict[@]}" "${extra[@]}" \
        -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=2048 -max_len="$(max_len "$name")" \
        -artifact_prefix="$found/$name-" -close_fd_mask=1 -print_final_stats=1 ${FUZZ_FLAGS:-} \
        >"$build/logs/$name.log" 2>&1
}

summary_line() {
    local name=$1 rc=$2 log="$build/logs/$1.log"
    local runs secs
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    secs=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -n 1)
    if [ "$rc" -eq 0 ]; then
        printf '  %-12s clean     %10s executions in %s s\n' "$name" "${runs:-?}" "${secs:-?}"
    else
        printf '  %-12s FINDING   (exit %s) see %s\n' "$name" "$rc" "$log"
        # the first report and its stack, enough to see what broke from a CI log
        grep -m 1 -E 'FUZZ CHECK FAILED|ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error' -A 24 "$log" | sed 's/^/      /'
        grep -m 1 'Test unit written to' "$log" | sed 's/^/      /'
    fi
}

# ---- main ----

install_tools
echo "fuzz: building in $build"
cmake -S "$root/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null || exit 1
cmake --build "$build" -j "$jobs" >"$build/build.log" 2>&1 || { cat "$build/build.log"; exit 1; }

echo "fuzz: ${#targets[@]} targets, $seconds s each, $jobs at a time"
declare -A rc_of
running=0
for name in "${targets[@]}"; do
    [ -x "$build/fuzz_$name" ] || { echo "fuzz: no target named $name" >&2; exit 2; }
    if [ "$running" -ge "$jobs" ]; then
        wait -n
        running=$((running - 1))
    fi
    rm -f "$build/logs/$name.rc"
    (
        run_target "$name"
        echo $? >"$build/logs/$name.rc"
    ) &
    running=$((running + 1))
done
wait
failed=0
for name in "${targets[@]}"; do
    rc_of[$name]=$(cat "$build/logs/$name.rc" 2>/dev/null || echo 1)
    [ "${rc_of[$name]}" -ne 0 ] && failed=$((failed + 1))
done
for name in "${targets[@]}"; do summary_line "$name" "${rc_of[$name]}"; done
echo "fuzz: $((${#targets[@]} - failed)) targets clean, $failed with findings"
[ "$failed" -eq 0 ]
