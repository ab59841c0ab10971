#!/usr/bin/env bash
# Checks the four executables as files: architecture, imports (only Windows
# system DLLs: statically linked), version resource, manifest (asInvoker) and
# that a second build of the same commit gives the same bytes.
set -euo pipefail
. "$(dirname "$0")/common.sh"
cd "$ROOT"

failures=0
passes=0
check() { # description, command...
    local what=$1
    shift
    if "$@"; then echo "ok   $what"; passes=$((passes + 1)); else echo "FAIL $what"; failures=$((failures + 1)); fi
}
only_system_dlls() {
    local bad
    bad=$(x86_64-w64-mingw32-objdump -p "$1" | awk '/DLL Name:/ {print toupper($3)}' |
        grep -v -E '^(KERNEL32|ADVAPI32|MSVCRT|OLE32|OLEAUT32|USER32|GDI32|SHELL32|WS2_32|NTDLL|VERSION)\.DLL$' || true)
    [ -z "$bad" ] || { echo "     unexpected imports: $bad"; return 1; }
}
machine_is() { x86_64-w64-mingw32-objdump -f "$1" | grep "file format $2" >/dev/null; }
has_text16() { strings -el "$1" | grep -F -- "$2" >/dev/null; }
has_text8() { strings "$1" | grep -F -- "$2" >/dev/null; }

for exe in build/win64/Ardentis64.exe build/win64/Ardentis64-sim.exe \
           build/win32/Ardentis.exe build/win32/Ardentis-sim.exe; do
    case $exe in
        *64*) format=pei-x86-64 name=Ardentis64.exe ;;
        *) format=pei-i386 name=Ardentis.exe ;;
    esac
    check "$exe is $format" machine_is "$exe" "$format"
    check "$exe imports only system DLLs" only_system_dlls "$exe"
    check "$exe version resource names the product" has_text16 "$exe" "Nelvrik"
    check "$exe version resource names the revision" has_text16 "$exe" "Rev1.11_For_QUVAR"
    check "$exe manifest runs it as invoker" has_text8 "$exe" 'level="asInvoker"'
    check "$exe usage names $name" has_text8 "$exe" "$name"
done
# The release programs read no environment variable of their own.
for exe in build/win64/Ardentis64.exe build/win32/Ardentis.exe; do
    check "$exe knows nothing of the simulated store" bash -c "! strings '$exe' | grep -q ARDENTIS_SIM_EFIVARS"
done

# Reproducible: the same commit built again elsewhere gives the same bytes.
again=$(mktemp -d)
for preset in win64 win32; do
    cmake --preset "$preset" -B "$again/$preset" -DBUILD_TESTING=OFF >/dev/null
done
cmake --build "$again/win64" --target Ardentis64 Ardentis64-sim >/dev/null
cmake --build "$again/win32" --target Ardentis Ardentis-sim >/dev/null
for exe in win64/Ardentis64.exe win64/Ardentis64-sim.exe win32/Ardentis.exe win32/Ardentis-sim.exe; do
    check "$exe is reproducible" cmp -s "build/$exe" "$again/$exe"
done
rm -rf "$again"

echo "binaries: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
