#!/usr/bin/env bash
# Runs every libFuzzer target of the host build for a bounded time each
# (default 15 s; FUZZ_SECONDS=600 bash scripts/fuzz.sh for a longer run).
# New inputs land in build/fuzz/<target>; a crash or sanitizer report stops
# the run with its input saved there, and fails.
set -euo pipefail
. "$(dirname "$0")/common.sh"
cd "$ROOT"
seconds=${FUZZ_SECONDS:-15}
cmake --preset host >/dev/null
cmake --build --preset host >/dev/null
for fuzzer in build/host/tests/fuzz/fuzz_*; do
    target=${fuzzer##*/fuzz_}
    work=build/fuzz/$target
    mkdir -p "$work"
    echo "== fuzz_$target for ${seconds}s"
    "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$work/" \
        "$work" "tests/fuzz/corpus/$target" 2>&1 | grep -E '^(stat::number_of_executed_units|stat::new_units_added|==[0-9]+==ERROR|SUMMARY)' || true
    if ls "$work"/crash-* "$work"/leak-* "$work"/timeout-* >/dev/null 2>&1; then
        echo "fuzz_$target found a failing input: $(ls "$work"/crash-* "$work"/leak-* "$work"/timeout-* 2>/dev/null)"
        exit 1
    fi
done
