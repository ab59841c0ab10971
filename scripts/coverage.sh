#!/usr/bin/env bash
# Line and branch coverage of the product code (driver, fwvar, common, access, wmi,
# flash) by the whole suite, per folder. Not part of CI: it builds two extra
# instrumented trees and runs every test once more.
#   host:    build/cov-host, clang's source-based coverage; the host unit
#            tests and the fuzz-corpus replays.
#   Windows: build/cov-win64, MinGW's gcov; the win64 CTest suite under Wine.
# The product lines no run reached are listed in build/coverage/missed.txt.
set -euo pipefail
. "$(dirname "$0")/common.sh"
enter_prefix "$@"
cd "$ROOT"

host=build/cov-host
win=build/cov-win64
out=build/coverage
mkdir -p "$out"
failed=()

echo "== cov-host: build, then the host tests and fuzz-corpus replays"
cmake --preset cov-host >/dev/null
cmake --build --preset cov-host >/dev/null
rm -rf "$host/profiles"
# %p: every process writes its own profile, none overwrites another's.
LLVM_PROFILE_FILE="$ROOT/$host/profiles/%p.profraw" \
    ctest --test-dir "$host" --output-on-failure --timeout 120 >"$out/ctest-host.log" 2>&1 ||
    failed+=(host)
tail -n 3 "$out/ctest-host.log"
llvm-profdata-14 merge -sparse "$host"/profiles/*.profraw -o "$host/coverage.profdata"
objects=(-object "$host/tests/ardentis_host_tests")
for replay in "$host"/tests/fuzz/replay_*; do
    objects+=(-object "$replay")
done
# Sources are compiled with relative paths; -compilation-dir makes them whole.
# It warns of a few unused inline helpers of the test harnesses (no profile
# record, hash 0); product functions are not among them.
llvm-cov-14 export -format=lcov -compilation-dir="$ROOT" -instr-profile="$host/coverage.profdata" \
    "${objects[@]}" >"$out/host.lcov"

echo "== cov-win64: build, then the win64 suite under Wine"
cmake --preset cov-win64 >/dev/null
cmake --build --preset cov-win64 >/dev/null
find "$win" -name '*.gcda' -delete
trap wine_stop EXIT
wine_warm
# Each program writes its counts at exit to the absolute Linux path of its
# object files; under Wine a path without a drive is taken on the current
# drive, so the prefix names Wine's Z: drive, the Linux root.
GCOV_PREFIX=Z: ctest --test-dir "$win" --output-on-failure --timeout 180 >"$out/ctest-win64.log" 2>&1 ||
    failed+=(win64)
tail -n 3 "$out/ctest-win64.log"
# One JSON document per object; the report keeps the product files.
(cd "$win" && find . -name '*.gcno' | sort | xargs x86_64-w64-mingw32-gcov -j -t -b 2>/dev/null) \
    >"$out/win64.gcov.json"

echo "== coverage of the product code"
python3 "$ROOT/scripts/coverage_report.py" --root "$ROOT" --host-lcov "$out/host.lcov" \
    --win-gcov-json "$out/win64.gcov.json" --missed "$out/missed.txt"

if [ ${#failed[@]} -gt 0 ]; then
    echo "Tests failed in: ${failed[*]} (logs in $out/): these figures are of a failing suite" >&2
    exit 1
fi
