#!/usr/bin/env bash
# Builds everything and runs every test: the pure logic natively under ASan
# and UBSan, static analysis, the unit and end-to-end tests of both Windows
# targets under Wine, and the checks of the executables as files.
set -euo pipefail
. "$(dirname "$0")/common.sh"
enter_prefix "$@"

"$ROOT/scripts/install-deps.sh"
cd "$ROOT"
trap wine_stop EXIT

echo "[$SECONDS s] == host: pure logic under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset host >/dev/null
cmake --build --preset host
echo "[$SECONDS s] == static analysis: clang-tidy over the host build, cppcheck over all product code"
"$ROOT/scripts/static-analysis.sh"
ctest --preset host
echo "[$SECONDS s] == host: every fuzz target for a bounded time"
"$ROOT/scripts/fuzz.sh"

wine_warm
echo "[$SECONDS s] == win64: x86-64 under Wine"
cmake --preset win64 >/dev/null
cmake --build --preset win64
ctest --preset win64

echo "[$SECONDS s] == win32: i386"
cmake --preset win32 >/dev/null
cmake --build --preset win32
if why=$(i386_runs); then
    ctest --preset win32
else
    echo "i386 tests built in build/win32 but not run: $why"
fi

echo "[$SECONDS s] == the executables as files"
"$ROOT/scripts/check-binaries.sh"
echo "[$SECONDS s] == done"
