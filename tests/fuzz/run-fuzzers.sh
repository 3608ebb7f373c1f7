#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each one
# for the given seconds (default 60) from its committed corpus, printing the
# executions, their rate and the crashes (kept in build-fuzz/artifacts/):
#   [RUNS=n] [MAX_LEN=bytes] tests/fuzz/run-fuzzers.sh [seconds] [target ...]
set -uo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-60}
shift || true
build=${RAVA2_FUZZ_BUILD:-build-fuzz}
command -v clang++ >/dev/null || { echo "apt-get install clang libclang-rt-14-dev" >&2; exit 2; }
if [ ! -f "$build/CMakeCache.txt" ]; then
    mkdir -p "$build"
    CC=clang CXX=clang++ cmake -S . -B "$build" -DRAVA2_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        ${CMAKE_CXX_COMPILER_LAUNCHER:+-DCMAKE_CXX_COMPILER_LAUNCHER=$CMAKE_CXX_COMPILER_LAUNCHER} \
        >"$build/configure.log" 2>&1 || { cat "$build/configure.log"; exit 2; }
fi
cmake "$build" >/dev/null || exit 2
targets=("$@")
[ $# -gt 0 ] || mapfile -t targets < <(grep -v '^$' "$build/fuzz-targets.txt")
cmake --build "$build" -j"${JOBS:-2}" --target "${targets[@]/#/fuzz_}" >"$build/build.log" 2>&1 ||
    { tail -40 "$build/build.log"; exit 2; }

export QT_QPA_PLATFORM=offscreen
export LSAN_OPTIONS=suppressions=$PWD/tests/fuzz/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}
status=0
printf '%-18s %14s %10s %8s\n' target executions "exec/s" crashes
for t in "${targets[@]}"; do
    artifacts="$build/artifacts/$t" log="$build/logs/$t.log"
    mkdir -p "$build/corpus/$t" "$artifacts" "$build/logs"
    touch "$log.start"
    "$build/bin/fuzz_$t" -max_total_time="$seconds" ${RUNS:+-runs=$RUNS} -max_len="${MAX_LEN:-512}" \
        -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$artifacts/" \
        "$build/corpus/$t" "tests/fuzz/corpus/$t" >"$log" 2>&1
    rc=$?
    execs=$(grep -oP 'stat::number_of_executed_units: *\K[0-9]+' "$log" | tail -1)
    [ -n "$execs" ] || execs=$(grep -oP '^#\K[0-9]+' "$log" | tail -1)
    rate=$(grep -oP 'stat::average_exec_per_sec: *\K[0-9]+' "$log" | tail -1)
    crashes=$(find "$artifacts" -type f -newer "$log.start" \( -name 'crash-*' -o -name 'leak-*' \
        -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
    printf '%-18s %14s %10s %8s\n' "$t" "${execs:-?}" "${rate:-?}" "$crashes"
    if [ "$rc" -ne 0 ]; then
        status=1
        echo "  fuzz_$t stopped (exit $rc); see $log:" >&2
        grep -E 'ERROR|check failed|SUMMARY|Test unit written' "$log" | head -5 | sed 's/^/  /' >&2
    fi
done
exit $status
