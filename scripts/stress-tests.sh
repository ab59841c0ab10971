#!/usr/bin/env bash
# Repeats a CTest suite and prints, per test, in how many of the runs it
# failed: a test that fails only sometimes shows here, not in one green run.
#
# Usage: scripts/stress-tests.sh [--preset win64|win32|host] [--busy] [-R REGEX] N
#   --preset  the suite (default win64); it is built first
#   --busy    keeps every core busy with a spinning loop while the runs go on
#   -R REGEX  only the CTest tests whose names match
# A build folder configured with -DARDENTIS_WINEPREFIX=<folder> runs its
# tests in that Wine prefix (made here if missing). One run at a time uses a
# prefix: a second one waits (see enter_prefix in common.sh).
# The log of every failed run is kept in build/stress/<preset>-<time>-<run>.log.
# Exit code 0 only when no run failed.
set -euo pipefail
. "$(dirname "$0")/common.sh"

args=("$@")
preset=win64
busy=0
regex=
while [ $# -gt 1 ]; do
    case $1 in
        --preset) preset=$2; shift 2 ;;
        --busy) busy=1; shift ;;
        -R) regex=$2; shift 2 ;;
        *) break ;;
    esac
done
runs=${1:-}
if ! [[ $runs =~ ^[1-9][0-9]*$ ]] || [ $# -ne 1 ]; then
    echo "usage: $0 [--preset win64|win32|host] [--busy] [-R REGEX] N" >&2
    exit 2
fi

cd "$ROOT"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" >/dev/null
logs="$ROOT/build/stress"
mkdir -p "$logs"
filter=()
[ -n "$regex" ] && filter=(-R "$regex")
mapfile -t tests < <(ctest --preset "$preset" -N "${filter[@]}" | sed -n 's/^ *Test *#[0-9]*: //p')
if [ ${#tests[@]} -eq 0 ]; then
    echo "no test matches" >&2
    exit 2
fi

# The tests run in the Wine prefix the build folder was configured with; a
# second prefix lets the two architectures' suites run side by side without
# sharing the tool's named mutex.
if [ "$preset" != host ]; then
    WINEPREFIX=$(sed -n 's/^ARDENTIS_WINEPREFIX:[A-Z]*=//p' "build/$preset/CMakeCache.txt")
    WINEPREFIX=${WINEPREFIX:-$ROOT/build/wineprefix}
    export WINEPREFIX
    enter_prefix "${args[@]}"
    wine_prefix_ready
fi

spinners=()
cleanup() {
    [ ${#spinners[@]} -gt 0 ] && kill "${spinners[@]}" 2>/dev/null
    wine_stop
}
trap cleanup EXIT
if [ "$busy" = 1 ]; then
    for _ in $(seq "$(nproc)"); do
        (while :; do :; done) &
        spinners+=($!)
    done
fi
[ "$preset" != host ] && wine_warm

declare -A failed
for t in "${tests[@]}"; do failed[$t]=0; done
failed_runs=0
started=$SECONDS
# Every invocation names its logs apart: a later run's pass must not remove
# an earlier invocation's failure.
stamp=$(date +%Y%m%d-%H%M%S)
for run in $(seq "$runs"); do
    rm -f "build/$preset/Testing/Temporary/LastTestsFailed.log"
    log="$logs/$preset-$stamp-$run.log"
    if ctest --preset "$preset" "${filter[@]}" >"$log" 2>&1; then
        rm -f "$log"
        result=passed
    else
        failed_runs=$((failed_runs + 1))
        result="FAILED (log: $log)"
        # "<number>:<name>" per failed test; a run that failed outside any
        # test (no such file) counts against every test of the run.
        if [ -f "build/$preset/Testing/Temporary/LastTestsFailed.log" ]; then
            while IFS=: read -r _ name; do
                failed[$name]=$((${failed[$name]:-0} + 1))
            done <"build/$preset/Testing/Temporary/LastTestsFailed.log"
        else
            for t in "${tests[@]}"; do failed[$t]=$((failed[$t] + 1)); done
        fi
    fi
    echo "run $run/$runs: $result ($((SECONDS - started)) s so far)"
done

echo
echo "== $preset: $runs runs$([ "$busy" = 1 ] && echo ", every core kept busy")${regex:+, tests matching '$regex'}"
printf '%-28s %s\n' "test" "failed runs"
for t in "${tests[@]}"; do
    printf '%-28s %d of %d\n' "$t" "${failed[$t]}" "$runs"
done
echo "$((runs - failed_runs)) passed, $failed_runs failed"
[ "$failed_runs" -eq 0 ]
