#!/usr/bin/env bash
# Static analysis; fails on any finding.
#   clang-tidy (checks in .clang-tidy) over every file the host preset compiles
#   (pure logic, host tests, fuzz targets), from build/host/compile_commands.json;
#   cppcheck over all product code, Windows-only files included, once as the
#   i386 and once as the x86-64 MinGW target.
# A finding the tool's own behaviour needs is suppressed at its line, with the
# reason beside it.
set -euo pipefail
. "$(dirname "$0")/common.sh"
cd "$ROOT"

jobs=${ARDENTIS_ANALYSIS_JOBS:-2}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
failed=0

# Configuring is enough to write the compilation database.
if [ ! -f build/host/compile_commands.json ]; then
    cmake --preset host >/dev/null
fi

echo "== clang-tidy: every file the host preset compiles"
python3 - "$ROOT" build/host/compile_commands.json "$out" <<'PY'
import json, os, sys
root, database, out = sys.argv[1] + os.sep, sys.argv[2], sys.argv[3]
# One entry per file: the fuzz sources and the replay main are compiled for
# several targets with the same flags, and clang-tidy would check every entry.
entries = {}
for e in json.load(open(database)):
    path = os.path.normpath(os.path.join(e["directory"], e["file"]))
    # googletest's own sources are compiled too; they are not ours to check.
    if path.startswith(root) and not path.startswith(root + "build" + os.sep):
        entries.setdefault(path, e)
json.dump(list(entries.values()), open(os.path.join(out, "compile_commands.json"), "w"))
open(os.path.join(out, "files"), "w").write("".join(p + "\n" for p in sorted(entries)))
PY
# Each file's diagnostics go to a log of its own, so parallel runs do not
# interleave; a file with findings is listed in $out/failed.
xargs -P "$jobs" -I{} sh -c \
    'clang-tidy -p "$2" --quiet "$1" > "$2/$(echo "$1" | tr / _).log" 2>&1 || echo "$1" >> "$2/failed"' \
    _ {} "$out" < "$out/files"
if [ -s "$out/failed" ]; then
    while read -r file; do
        grep -v 'warnings\? generated\.$' "$out/$(echo "$file" | tr / _).log" || true
    done < "$out/failed"
    echo "clang-tidy: findings in $(wc -l < "$out/failed") of $(wc -l < "$out/files") files"
    failed=1
else
    echo "clang-tidy: $(wc -l < "$out/files") files, no findings"
fi

echo "== cppcheck: driver, fwvar, common, access, wmi, flash, fleet (i386 and x86-64 MinGW targets)"
cppcheck_failed=0
for platform in win32A win64; do
    defines=(-D_WIN32 -D__MINGW32__)
    [ "$platform" = win64 ] && defines+=(-D_WIN64 -D__MINGW64__)
    if ! cppcheck --quiet --error-exitcode=1 --inline-suppr \
        --enable=warning,performance,portability --std=c++17 --language=c++ \
        --library=windows --platform="$platform" "${defines[@]}" -I . \
        driver fwvar common access wmi flash fleet; then
        echo "cppcheck ($platform): findings"
        cppcheck_failed=1
    fi
done
if [ "$cppcheck_failed" = 0 ]; then
    echo "cppcheck: no findings"
else
    failed=1
fi

if [ "$failed" != 0 ]; then
    echo "static analysis: FAILED"
    exit 1
fi
echo "static analysis: no findings"
