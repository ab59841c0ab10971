#!/usr/bin/env bash
# Runs every libFuzzer target of the host build for a bounded time. By default
# the whole run takes about FUZZ_TOTAL_SECONDS (60), shared evenly between the
# targets; FUZZ_SECONDS sets the time per target instead
# (FUZZ_SECONDS=600 bash scripts/fuzz.sh for a longer run).
# New inputs land in build/fuzz/<target>; a crash, sanitizer report, leak or
# time-out stops that target with its input saved there, and fails the run.
set -euo pipefail
. "$(dirname "$0")/common.sh"
cd "$ROOT"
cmake --preset host >/dev/null
cmake --build --preset host >/dev/null
fuzzers=(build/host/tests/fuzz/fuzz_*)
seconds=${FUZZ_SECONDS:-$(( ${FUZZ_TOTAL_SECONDS:-60} / ${#fuzzers[@]} ))}
(( seconds > 0 )) || seconds=1
failed=0
for fuzzer in "${fuzzers[@]}"; do
    target=${fuzzer##*/fuzz_}
    work=build/fuzz/$target
    mkdir -p "$work"
    rm -f "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-*
    echo "== fuzz_$target for ${seconds}s"
    status=0
    "$fuzzer" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$work/" "$work" "tests/fuzz/corpus/$target" >"$work/log" 2>&1 || status=$?
    grep -E '^(stat::number_of_executed_units|stat::new_units_added|==[0-9]+==ERROR|SUMMARY)' \
        "$work/log" || true
    if (( status != 0 )) || ls "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-* >/dev/null 2>&1; then
        echo "fuzz_$target FAILED (exit $status): $(ls "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-* 2>/dev/null | tr '\n' ' ')see $work/log"
        failed=1
    fi
done
exit $failed
