#!/usr/bin/env bash
# Checks the eight executables (the tool and the fleet program, release and
# -sim builds, both architectures) as files: architecture, imports (only
# Windows system DLLs: statically linked), version resource, manifest
# (asInvoker) and that a second build of the same commit gives the same
# bytes. Then the release package (scripts/package.sh), as an administrator
# receives it: exactly its six files, checksums that verify, the release
# programs, a README.txt that carries what the programs print, the same bytes
# when packaged from the second build.
set -euo pipefail
. "$(dirname "$0")/common.sh"
enter_prefix "$@"
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
crlf_only() { [ -s "$1" ] && ! LC_ALL=C grep -q -v $'\r$' "$1"; }
in_readme() { LC_ALL=C grep -q -F -- "$1" "$readme"; }

# The one version, as the build took it from CMakeLists.txt.
version=$(sed -n 's/^version=//p' build/win64/release/release.txt)
revision=$(sed -n 's/^revision=//p' build/win64/release/release.txt)

# A second build of the same commit elsewhere, and the package from each.
again=$(mktemp -d)
trap 'rm -rf "$again"' EXIT
for preset in win64 win32; do
    cmake --preset "$preset" -B "$again/$preset" -DBUILD_TESTING=OFF >/dev/null
done
# Only what is compared and packaged: the eight programs.
cmake --build "$again/win64" --target Ardentis64 Ardentis64-sim ArdentisFleet64 ArdentisFleet64-sim >/dev/null
cmake --build "$again/win32" --target Ardentis Ardentis-sim ArdentisFleet ArdentisFleet-sim >/dev/null
zip=$(bash scripts/package.sh)
zip_again=$(bash scripts/package.sh "$again" "$again/dist")
unpacked=$again/unpacked
python3 -m zipfile -e "$zip" "$unpacked"

for exe in build/win64/Ardentis64.exe build/win64/Ardentis64-sim.exe \
           build/win32/Ardentis.exe build/win32/Ardentis-sim.exe \
           build/win64/ArdentisFleet64.exe build/win64/ArdentisFleet64-sim.exe \
           build/win32/ArdentisFleet.exe build/win32/ArdentisFleet-sim.exe \
           "$unpacked/Ardentis64.exe" "$unpacked/Ardentis.exe" \
           "$unpacked/ArdentisFleet64.exe" "$unpacked/ArdentisFleet.exe"; do
    case ${exe##*/} in
        ArdentisFleet64*) format=pei-x86-64 name=ArdentisFleet64.exe ;;
        ArdentisFleet*) format=pei-i386 name=ArdentisFleet.exe ;;
        *64*) format=pei-x86-64 name=Ardentis64.exe ;;
        *) format=pei-i386 name=Ardentis.exe ;;
    esac
    check "$exe is $format" machine_is "$exe" "$format"
    check "$exe imports only system DLLs" only_system_dlls "$exe"
    check "$exe version resource names the product" has_text16 "$exe" "Nelvrik"
    check "$exe version resource names the revision $revision" has_text16 "$exe" "$revision"
    check "$exe manifest runs it as invoker" has_text8 "$exe" 'level="asInvoker"'
    check "$exe usage names $name" has_text8 "$exe" "$name"
done
# The release programs read no environment variable of their own.
for exe in build/win64/Ardentis64.exe build/win32/Ardentis.exe \
           build/win64/ArdentisFleet64.exe build/win32/ArdentisFleet.exe \
           "$unpacked/Ardentis64.exe" "$unpacked/Ardentis.exe" \
           "$unpacked/ArdentisFleet64.exe" "$unpacked/ArdentisFleet.exe"; do
    check "$exe knows nothing of the simulated store" bash -c "! strings '$exe' | grep -q ARDENTIS_SIM_"
done

# Reproducible: the same commit built again elsewhere gives the same bytes.
for exe in win64/Ardentis64.exe win64/Ardentis64-sim.exe win32/Ardentis.exe win32/Ardentis-sim.exe \
           win64/ArdentisFleet64.exe win64/ArdentisFleet64-sim.exe win32/ArdentisFleet.exe \
           win32/ArdentisFleet-sim.exe; do
    check "$exe is reproducible" cmp -s "build/$exe" "$again/$exe"
done

# The release package.
check "$zip is named for version $version" [ "$zip" = "dist/Ardentis-$version.zip" ]
check "$zip is reproducible" cmp -s "$zip" "$zip_again"
check "$zip holds exactly the six files" \
    [ "$(LC_ALL=C ls -A "$unpacked" | tr '\n' ' ')" = "Ardentis.exe Ardentis64.exe ArdentisFleet.exe ArdentisFleet64.exe README.txt SHA256SUMS.txt " ]
check "SHA256SUMS.txt covers the other five files" \
    [ "$(cut -d'*' -f2 "$unpacked/SHA256SUMS.txt" | tr -d '\r' | LC_ALL=C sort | tr '\n' ' ')" = "Ardentis.exe Ardentis64.exe ArdentisFleet.exe ArdentisFleet64.exe README.txt " ]
check "the checksums verify" bash -c "cd '$unpacked' && sha256sum --strict --quiet -c SHA256SUMS.txt"
check "Ardentis64.exe in the package is the release build" cmp -s "$unpacked/Ardentis64.exe" build/win64/Ardentis64.exe
check "Ardentis.exe in the package is the release build" cmp -s "$unpacked/Ardentis.exe" build/win32/Ardentis.exe
check "ArdentisFleet64.exe in the package is the release build" cmp -s "$unpacked/ArdentisFleet64.exe" build/win64/ArdentisFleet64.exe
check "ArdentisFleet.exe in the package is the release build" cmp -s "$unpacked/ArdentisFleet.exe" build/win32/ArdentisFleet.exe
readme=$unpacked/README.txt
for exe in ArdentisFleet64.exe ArdentisFleet.exe; do
    check "README.txt tells of $exe" in_readme "$exe"
done
for file in README.txt SHA256SUMS.txt; do
    check "$file has CR LF line ends" crlf_only "$unpacked/$file"
done
check "README.txt names the version" in_readme "Ardentis $version ($revision)"

# What the programs print, run under Wine, must be in README.txt as printed.
wine_warm
probe=$(mktemp -d /tmp/ardentis-package-XXXXXX)
trap 'rm -rf "$again" "$probe"' EXIT
for exe in Ardentis64.exe Ardentis.exe; do
    wine=$WINE64
    if [ "$exe" = Ardentis.exe ]; then
        wine=$WINE32
        why=$(i386_runs) || { echo "skip $exe under Wine: $why"; continue; }
    fi
    usage=$("$wine" "$unpacked/$exe" </dev/null || true)
    while IFS= read -r line; do
        check "README.txt carries the usage line of $exe: ${line%$'\r'}" \
            bash -c 'LC_ALL=C grep -q -x -F -- "$1" "$2"' _ "$line" "$readme"
    done <<<"$usage"
    # Exit codes as a batch file sees them, with what the program says.
    cp "$unpacked/$exe" "$probe/$exe"
    printf '@echo off\r\n%s > nul\r\necho %%ERRORLEVEL%%\r\n%s -act 2\r\necho %%ERRORLEVEL%%\r\n%s -act\r\necho %%ERRORLEVEL%%\r\n' \
        "$exe" "$exe" "$exe" >"$probe/codes.cmd"
    codes=$(cd "$probe" && { "$wine" cmd /c codes.cmd </dev/null || true; } | tr -d '\r' | tr '\n' '|')
    check "$exe gives 255 for usage, -1 for bad -act values" \
        [ "$codes" = "255|Please input the correct parameter with -act.|-1|The parameter error|-1|" ]
done
# The release fleet program: its usage as README.txt shows it, and on plain
# Wine (no firmware variables) a check that says so in its summary line.
for exe in ArdentisFleet64.exe ArdentisFleet.exe; do
    wine=$WINE64
    if [ "$exe" = ArdentisFleet.exe ]; then
        wine=$WINE32
        why=$(i386_runs) || { echo "skip $exe under Wine: $why"; continue; }
    fi
    usage=$("$wine" "$unpacked/$exe" </dev/null || true)
    while IFS= read -r line; do
        case $line in RESULT=*|$'\r'|'') continue ;; esac
        check "README.txt carries the usage line of $exe: ${line%$'\r'}" \
            bash -c 'LC_ALL=C grep -q -x -F -- "$1" "$2"' _ "$line" "$readme"
    done <<<"$usage"
    summary=$(cd "$probe" && "$wine" "$unpacked/$exe" check Setup '{EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9}' 1A 5 </dev/null | tail -n 1 | tr -d '\r'; echo "rc=${PIPESTATUS[0]}")
    check "$exe check on a legacy-BIOS PC: not possible, 255" bash -c \
        'echo "$1" | tr "\n" "|" | grep -q -x -E "RESULT=NOT-POSSIBLE EXIT=255 OLD= NEW= READ= REASON=LEGACY-BIOS RUN=[0-9]{8}T[0-9]{6}Z-[0-9A-F]{8}\|rc=255\|"' _ "$summary"
done
for message in "Please input the correct parameter with -act." "The parameter error" \
               "Return Code: OK(0), ERROR(255)"; do
    check "README.txt carries \"$message\"" in_readme "$message"
done
for code in 0 255 -1; do
    check "README.txt explains exit code $code" bash -c "sed -n '/^Exit codes/,/^Messages/p' '$readme' | grep -q -E '^  $code +[a-z-]'"
done

echo "binaries: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
