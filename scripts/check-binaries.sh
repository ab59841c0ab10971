#!/usr/bin/env bash
# Checks the eight executables (the tool and the fleet program, release and
# -sim builds, both architectures) as files: architecture, imports (only
# Windows system DLLs: statically linked), version resource, manifest
# (asInvoker) and that a second build of the same commit gives the same
# bytes. Then the release package (scripts/package.sh), as an administrator
# receives it: exactly its six files, checksums that verify, the release
# programs, a README.txt that carries what the programs print, the same bytes
# when packaged from the second build. Last, the package signed with a
# throwaway certificate (scripts/signing.py): valid SHA-256 signatures by it
# on every .exe, the same programs and files otherwise, reproducible, the
# same output under Wine; a wrong password or an unreachable time-stamp
# server makes no package; no password anywhere it could leak to.
set -euo pipefail
. "$(dirname "$0")/common.sh"
enter_prefix "$@"
cd "$ROOT"
# The unsigned package is checked as such; signing is checked at the end.
unset ARDENTIS_SIGN_PFX ARDENTIS_SIGN_PASSWORD_FILE ARDENTIS_SIGN_TIMESTAMP_URL

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
for exe in Ardentis64.exe Ardentis.exe ArdentisFleet64.exe ArdentisFleet.exe; do
    wine=$WINE64
    if [ "$exe" = Ardentis.exe ] || [ "$exe" = ArdentisFleet.exe ]; then
        wine=$WINE32
        why=$(i386_runs) || { echo "skip $exe under Wine: $why"; continue; }
    fi
    usage=$("$wine" "$unpacked/$exe" </dev/null || true)
    while IFS= read -r line; do
        case $line in $'\r'|'') continue ;; esac
        check "README.txt carries the usage line of $exe: ${line%$'\r'}" \
            bash -c 'LC_ALL=C grep -q -x -F -- "$1" "$2"' _ "$line" "$readme"
    done <<<"$usage"
    # The x86-64 programs' whole output stands in README.txt as one block, in
    # its order (the i386 ones differ only in the lines naming them).
    case $exe in
        *64.exe) check "README.txt shows what $exe prints without arguments, whole and in order" \
            python3 -c 'import sys
shown = [line.rstrip("\r") for line in sys.argv[1].split("\n") if line.strip("\r")]
readme = open(sys.argv[2], "rb").read().decode().split("\r\n")
sys.exit(not any(readme[i:i + len(shown)] == shown for i in range(len(readme))))' "$usage" "$readme" ;;
    esac
    case $exe in
        ArdentisFleet*)
            # On plain Wine (no firmware variables) a check says so in its summary line.
            summary=$(cd "$probe" && "$wine" "$unpacked/$exe" check Setup '{EC87D643-EBA4-4BB5-A1E5-3F3E36B20DA9}' 1A 5 </dev/null | tail -n 1 | tr -d '\r'; echo "rc=${PIPESTATUS[0]}")
            check "$exe check on a legacy-BIOS PC: not possible, 255" bash -c \
                'echo "$1" | tr "\n" "|" | grep -q -x -E "RESULT=NOT-POSSIBLE EXIT=255 OLD= NEW= READ= REASON=LEGACY-BIOS RUN=[0-9]{8}T[0-9]{6}Z-[0-9A-F]{8}\|rc=255\|"' _ "$summary"
            ;;
        *)
            # Exit codes as a batch file sees them, with what the program says.
            cp "$unpacked/$exe" "$probe/$exe"
            printf '@echo off\r\n%s > nul\r\necho %%ERRORLEVEL%%\r\n%s -act 2\r\necho %%ERRORLEVEL%%\r\n%s -act\r\necho %%ERRORLEVEL%%\r\n' \
                "$exe" "$exe" "$exe" >"$probe/codes.cmd"
            codes=$(cd "$probe" && { "$wine" cmd /c codes.cmd </dev/null || true; } | tr -d '\r' | tr '\n' '|')
            check "$exe gives 255 for usage, -1 for bad -act values" \
                [ "$codes" = "255|Please input the correct parameter with -act.|-1|The parameter error|-1|" ]
            ;;
    esac
done
for message in "Please input the correct parameter with -act." "The parameter error" \
               "Return Code: OK(0), ERROR(255)"; do
    check "README.txt carries \"$message\"" in_readme "$message"
done
for code in 0 255 -1; do
    check "README.txt explains exit code $code" bash -c "sed -n '/^Exit codes/,/^Messages/p' '$readme' | grep -q -E '^  $code +[a-z-]'"
done

# Signed: the package made again with a throwaway code-signing certificate
# made here (scripts/signing.py signs every .exe the package holds). The key,
# the certificates and the password live only in $signing (private, removed
# on exit); the password reaches openssl and osslsigncode as a file.
signing=$(mktemp -d /tmp/ardentis-signing-XXXXXX)
trap 'rm -rf "$again" "$probe" "$signing"' EXIT
(
    umask 077
    printf 'ardentis-test-%s\n' "$(openssl rand -hex 16)" >"$signing/password"
    printf 'ardentis-wrong-%s\n' "$(openssl rand -hex 16)" >"$signing/wrong-password"
    # The signer, another code-signing certificate, and one for TLS servers.
    for who in signer:codeSigning other:codeSigning tls:serverAuth; do
        openssl req -x509 -newkey rsa:3072 -sha256 -days 30 -noenc -subj "/CN=Ardentis test ${who%:*}" \
            -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=${who#*:}" \
            -keyout "$signing/${who%:*}.key" -out "$signing/${who%:*}.pem" 2>/dev/null
    done
    for who in signer tls; do
        openssl pkcs12 -export -inkey "$signing/$who.key" -in "$signing/$who.pem" \
            -passout "file:$signing/password" -out "$signing/$who.p12"
    done
    mkdir "$signing/tmp"
) || { echo "FAIL making the test certificates with openssl"; exit 1; }
signer_hash=$(openssl x509 -in "$signing/signer.pem" -outform DER | sha256sum | cut -d' ' -f1)
# package.sh with the throwaway certificate; its temporary files in
# $signing/tmp, its messages in $signing/NAME.log. Extra VAR=value arguments
# go into its environment.
package_signed() { # name, build root, dist, [VAR=value...]
    local name=$1 build_root=$2 dist=$3
    shift 3
    env TMPDIR="$signing/tmp" ARDENTIS_SIGN_PFX="$signing/signer.p12" \
        ARDENTIS_SIGN_PASSWORD_FILE="$signing/password" "$@" \
        bash scripts/package.sh "$build_root" "$dist" >"$signing/$name.out" 2>"$signing/$name.log"
}
# A valid SHA-256 Authenticode signature, by the certificate in the PEM file
# (as its own trust anchor and as the leaf), on an otherwise unchanged file.
signed_by() { # exe, certificate, [leaf hash]
    local hash=${3:-$(openssl x509 -in "$2" -outform DER | sha256sum | cut -d' ' -f1)} report
    report=$(osslsigncode verify -in "$1" -CAfile "$2" -require-leaf-hash "sha256:$hash" 2>&1) || return 1
    grep -q -x 'Message digest algorithm  : SHA256' <<<"$report" &&
        grep -q -x 'Signature verification: ok' <<<"$report" &&
        grep -q -x 'Number of verified signatures: 1' <<<"$report" &&
        ! grep -q -E 'verification: failed|MISMATCH' <<<"$report"
}
not_signed_by() { ! signed_by "$@"; }
one_byte_breaks_it() { # signed exe: a copy with one byte changed fails verification
    local copy=$signing/tmp/changed.exe broken
    flip_middle_byte "$1" "$copy"
    [ "$(cmp -l "$1" "$copy" | wc -l)" = 1 ] && not_signed_by "$copy" "$signing/signer.pem"
    broken=$?
    rm -f "$copy"
    return $broken
}
no_signature() {
    ! osslsigncode extract-signature -in "$1" -out "$signing/tmp/extracted" >/dev/null 2>&1
    local none=$?
    rm -f "$signing/tmp/extracted"
    return $none
}
# The same program: the signed one with its signature taken off again
# (osslsigncode remove-signature) is the unsigned one but for the header's
# checksum and zero padding to 8 bytes at the end.
same_program() { # signed exe, unsigned exe
    osslsigncode remove-signature -in "$1" -out "$signing/tmp/stripped.exe" >/dev/null 2>&1 &&
        python3 -c 'import sys
stripped, unsigned = (bytearray(open(path, "rb").read()) for path in sys.argv[1:3])
checksum = int.from_bytes(unsigned[0x3C:0x40], "little") + 88
stripped[checksum:checksum + 4] = unsigned[checksum:checksum + 4] = bytes(4)
sys.exit(not (stripped[:len(unsigned)] == unsigned and len(stripped) - len(unsigned) < 8
              and not any(stripped[len(unsigned):])))' "$signing/tmp/stripped.exe" "$2"
    local same=$?
    rm -f "$signing/tmp/stripped.exe"
    return $same
}
format_of() { x86_64-w64-mingw32-objdump -f "$1" | sed -n 's/.*file format //p'; }
only_carries_signer() { # exe: the signature holds the signer's certificate, nothing else
    osslsigncode extract-signature -pem -in "$1" -out "$signing/tmp/sig.pem" >/dev/null &&
        [ "$(openssl pkcs7 -in "$signing/tmp/sig.pem" -print_certs | grep -c 'BEGIN CERTIFICATE')" = 1 ] &&
        openssl pkcs7 -in "$signing/tmp/sig.pem" -print_certs | openssl x509 -noout -fingerprint -sha256 |
        tr -d ':' | grep -q -i "=$signer_hash\$"
    local only=$?
    rm -f "$signing/tmp/sig.pem"
    return $only
}
flip_middle_byte() { # in, out: the same file with one byte changed
    python3 -c 'import sys
data = bytearray(open(sys.argv[1], "rb").read())
data[len(data) // 2] ^= 0x01
open(sys.argv[2], "wb").write(data)' "$1" "$2"
}
no_password_in() { # files or folders: neither test password appears in them
    ! grep -r -q -F -f "$signing/password" "$@" && ! grep -r -q -F -f "$signing/wrong-password" "$@"
}
tmp_empty() { [ -z "$(ls -A "$signing/tmp")" ]; }

mapfile -t programs < <(cd "$unpacked" && LC_ALL=C ls -- *.exe)
check "the package holds .exe files to sign: ${programs[*]}" [ ${#programs[@]} -gt 0 ]
for exe in "${programs[@]}"; do
    check "unsigned $exe carries no signature" no_signature "$unpacked/$exe"
done
if package_signed signed build "$signing/dist"; then
    signed_zip=$(cat "$signing/signed.out")
    check "packaging with a certificate makes $signed_zip" [ "$signed_zip" = "$signing/dist/Ardentis-$version.zip" ]
else
    check "packaging with a certificate succeeds" false
    sed 's/^/     /' "$signing/signed.log"
    signed_zip=
fi
check "signing left no temporary file" tmp_empty
if [ -n "$signed_zip" ]; then
    check "the signing log names the signer" grep -q "signer /CN=Ardentis test signer" "$signing/signed.log"
    package_signed again "$again" "$signing/dist-again" || true
    check "the signed package is reproducible (same certificate, same commit, no time stamp)" \
        cmp -s "$signed_zip" "$signing/dist-again/Ardentis-$version.zip"
    signed=$signing/unpacked
    python3 -m zipfile -e "$signed_zip" "$signed"
    check "the signed package holds the same files as the unsigned one" \
        [ "$(LC_ALL=C ls -A "$signed" | tr '\n' ' ')" = "$(LC_ALL=C ls -A "$unpacked" | tr '\n' ' ')" ]
    check "SHA256SUMS.txt of the signed package verifies" bash -c "cd '$signed' && sha256sum --strict --quiet -c SHA256SUMS.txt"
    check "SHA256SUMS.txt of the signed package covers every other file" \
        [ "$(cut -d'*' -f2 "$signed/SHA256SUMS.txt" | tr -d '\r' | LC_ALL=C sort | tr '\n' ' ')" = \
          "$(LC_ALL=C ls -A "$signed" | grep -v -x SHA256SUMS.txt | tr '\n' ' ')" ]
    for file in "$unpacked"/*; do
        file=${file##*/}
        case $file in
            *.exe | SHA256SUMS.txt) ;;
            *) check "signed package: $file is the unsigned package's" cmp -s "$signed/$file" "$unpacked/$file" ;;
        esac
    done
    check "no password in the logs, the signed package or the build folders" \
        no_password_in "$signing"/*.log "$signing"/*.out "$signed" build/win64 build/win32 "$again/win64" "$again/win32"
    check "no private key in the signed package" bash -c "! grep -r -q 'PRIVATE KEY' '$signed'"
    for exe in "${programs[@]}"; do
        check "signed $exe carries a valid SHA-256 signature by the test certificate" \
            signed_by "$signed/$exe" "$signing/signer.pem"
        # The checks above must be able to fail: another certificate as the
        # trust anchor, the right one with another leaf, one byte changed.
        check "signed $exe does not verify as signed by another certificate" \
            not_signed_by "$signed/$exe" "$signing/other.pem"
        check "signed $exe does not verify with another leaf required" \
            not_signed_by "$signed/$exe" "$signing/signer.pem" "${signer_hash//?/0}"
        check "signed $exe changed by one byte fails verification" one_byte_breaks_it "$signed/$exe"
        check "signed $exe carries the signer's certificate and nothing else" only_carries_signer "$signed/$exe"
        check "signed $exe is the unsigned package's program with a signature added" \
            same_program "$signed/$exe" "$unpacked/$exe"
        format=$(format_of "$unpacked/$exe")
        check "signed $exe is $format" machine_is "$signed/$exe" "$format"
        check "signed $exe imports only system DLLs" only_system_dlls "$signed/$exe"
        check "signed $exe version resource names the product" has_text16 "$signed/$exe" "Nelvrik"
        check "signed $exe version resource names the revision $revision" has_text16 "$signed/$exe" "$revision"
        check "signed $exe manifest runs it as invoker" has_text8 "$signed/$exe" 'level="asInvoker"'
    done
    # Under Wine the signed programs say and exit as the unsigned ones do.
    for exe in "${programs[@]}"; do
        wine=$WINE64
        if [ "$(format_of "$unpacked/$exe")" = pei-i386 ]; then
            wine=$WINE32
            why=$(i386_runs) || { echo "skip signed $exe under Wine: $why"; continue; }
        fi
        for kind in unsigned signed; do
            mkdir -p "$probe/$kind"
            if [ $kind = signed ]; then from=$signed; else from=$unpacked; fi
            cp "$from/$exe" "$probe/$kind/$exe"
            printf '@echo off\r\n' >"$probe/$kind/runs.cmd"
            for args in "" " -act 2" " -act"; do
                printf '%s%s\r\necho exit %%ERRORLEVEL%%\r\n' "$exe" "$args" >>"$probe/$kind/runs.cmd"
            done
            (cd "$probe/$kind" && { "$wine" cmd /c runs.cmd </dev/null || true; } | tr -d '\r') >"$probe/$kind.out"
        done
        check "$exe under Wine: the unsigned program printed and exited ($(grep '^exit ' "$probe/unsigned.out" | tr '\n' ' '))" \
            [ "$(grep -c -v '^exit ' "$probe/unsigned.out")" -gt 0 ]
        check "$exe under Wine: the signed program prints and exits as the unsigned one" \
            cmp -s "$probe/unsigned.out" "$probe/signed.out"
        rm -rf "$probe/unsigned" "$probe/signed" "$probe/unsigned.out" "$probe/signed.out"
    done
fi

# A signing that fails makes no package, and removes an older one of the
# same name so that it cannot be taken for the release.
fails_to_package() { # name, [VAR=value...]: with an older zip in its dist folder
    local name=$1
    shift
    rm -rf "$signing/dist-$name" && mkdir "$signing/dist-$name" && cp "$zip" "$signing/dist-$name/"
    ! package_signed "$name" build "$signing/dist-$name" "$@"
}
failure_told() { # name, message
    grep -q -F -- "package.py: signing failed, no package made: $2" "$signing/$1.log"
}
no_zip_left() { [ -z "$(ls -A "$signing/dist-$1")" ]; }
check "packaging with a wrong password fails" \
    fails_to_package wrong ARDENTIS_SIGN_PASSWORD_FILE="$signing/wrong-password"
check "a wrong password is told clearly" failure_told wrong \
    "$signing/signer.p12 could not be opened with the password in $signing/wrong-password (wrong password"
check "a wrong password leaves no zip, whole or half-made" no_zip_left wrong
check "packaging with a certificate not for code signing fails" \
    fails_to_package tls ARDENTIS_SIGN_PFX="$signing/tls.p12"
check "a certificate not for code signing is told" failure_told tls "the signature of "
check "a certificate not for code signing leaves no zip" no_zip_left tls
check "packaging fails when the time-stamp server cannot be reached" \
    fails_to_package unreachable ARDENTIS_SIGN_TIMESTAMP_URL=http://127.0.0.1:9/
check "an unreachable time-stamp server is told" failure_told unreachable "no time stamp from http://127.0.0.1:9/"
check "a failed time stamp leaves no zip" no_zip_left unreachable
check "a failed signing leaves no temporary file" tmp_empty
check "no password in the failed runs' messages" no_password_in "$signing"/{wrong,tls,unreachable}.{out,log}
# Signing took nothing away from the unsigned package of the same commit.
unsigned_again=$(bash scripts/package.sh build "$signing/dist-unsigned")
check "the unsigned package is the same after signing" cmp -s "$zip" "$unsigned_again"
for text in "Get-AuthenticodeSignature" "signtool verify /pa" "ARDENTIS_SIGN_PFX=" "ARDENTIS_SIGN_PASSWORD_FILE="; do
    check "README.txt tells of $text" in_readme "$text"
done

echo "binaries: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
