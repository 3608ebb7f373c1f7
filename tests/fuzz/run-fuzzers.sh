#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build-fuzz/) and runs each one for
# the given number of seconds (default 60), starting from its committed
# corpus. Prints, per target, the executions libFuzzer reports and the
# crashes it found; crashing inputs are kept under build-fuzz/artifacts/.
#
#   tests/fuzz/run-fuzzers.sh [seconds] [target ...]
#
# RUNS=n stops each target after n executions instead (seconds stay the
# limit); MAX_LEN sets the longest input tried (default 512 bytes).
#
# New inputs found during a run go to a scratch corpus under build-fuzz/, not
# into the committed one: add an input there by hand when it matters (every
# crash's input does).
set -uo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-60}
shift || true
build=${RAVA2_FUZZ_BUILD:-build-fuzz}
jobs=${JOBS:-2}

if ! command -v clang++ >/dev/null; then
    echo "clang++ is missing: apt-get install clang libclang-rt-14-dev" >&2
    exit 2
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
    mkdir -p "$build"
    CC=clang CXX=clang++ cmake -S . -B "$build" -DRAVA2_FUZZ=ON \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo ${CMAKE_CXX_COMPILER_LAUNCHER:+-DCMAKE_CXX_COMPILER_LAUNCHER=$CMAKE_CXX_COMPILER_LAUNCHER} \
        >"$build/configure.log" 2>&1 || { cat "$build/configure.log"; exit 2; }
fi
cmake "$build" >/dev/null || exit 2
if [ $# -gt 0 ]; then
    targets=("$@")
else
    mapfile -t targets < <(grep -v '^$' "$build/fuzz-targets.txt")
fi
cmake --build "$build" -j"$jobs" --target "${targets[@]/#/fuzz_}" >"$build/build.log" 2>&1 ||
    { tail -40 "$build/build.log"; exit 2; }

export QT_QPA_PLATFORM=offscreen
export LSAN_OPTIONS=suppressions=$PWD/tests/fuzz/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}
status=0
printf '%-18s %14s %10s %8s\n' target executions "exec/s" crashes
for t in "${targets[@]}"; do
    scratch="$build/corpus/$t"
    artifacts="$build/artifacts/$t"
    mkdir -p "$scratch" "$artifacts"
    log="$build/logs/$t.log"
    mkdir -p "$(dirname "$log")"
    touch "$log.start"
    "$build/bin/fuzz_$t" -max_total_time="$seconds" ${RUNS:+-runs=$RUNS} \
        -max_len="${MAX_LEN:-512}" -print_final_stats=1 -timeout=10 \
        -rss_limit_mb=2048 -artifact_prefix="$artifacts/" "$scratch" "tests/fuzz/corpus/$t" \
        >"$log" 2>&1
    rc=$?
    execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
    if [ -z "$execs" ]; then # a crash ends the run before the final stats
        execs=$(grep -oE '^#[0-9]+' "$log" | tail -1 | tr -d '#')
    fi
    rate=$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
    # Crashes, leaks, time-outs and running out of memory; a slow unit is
    # kept too but is not a failure.
    crashes=$(find "$artifacts" -type f -newer "$log.start" \( -name 'crash-*' -o -name 'leak-*' \
        -o -name 'timeout-*' -o -name 'oom-*' \) 2>/dev/null | wc -l)
    printf '%-18s %14s %10s %8s\n' "$t" "${execs:-?}" "${rate:-?}" "$crashes"
    if [ "$rc" -ne 0 ]; then
        status=1
        echo "  fuzz_$t stopped (exit $rc); see $log:" >&2
        grep -E 'ERROR|check failed|SUMMARY|Test unit written' "$log" | head -5 | sed 's/^/  /' >&2
    fi
done
exit $status
