#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12 (as root, no
# prompts) and creates the Wine prefix. Safe to run again: it only does what
# is missing.
set -euo pipefail
. "$(dirname "$0")/common.sh"
enter_prefix "$@"

packages=(cmake ninja-build g++ clang libclang-rt-14-dev llvm-14 googletest
          g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64 python3 bsdutils binutils hyperfine libbenchmark-dev
          clang-tidy cppcheck clang-format osslsigncode openssl ca-certificates)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
updated=0
if [ ${#missing[@]} -gt 0 ]; then
    echo "== Installing: ${missing[*]}"
    apt-get update -qq || true  # a list that failed to download is reported; the install decides
    updated=1
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# The 32-bit Wine side is only of use where the kernel runs 32-bit programs.
# Debian's archive is now and then caught mid-sync, its i386 lists behind the
# amd64 ones, and then wine32:i386 cannot be installed at all, for hours (a
# retry a minute later was seen never to help); that is the archive's state,
# not this project's, so the i386 suite is then built and checked but not
# run, and every script says so (i386_runs in common.sh).
if can_run_i386; then
    if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'ok installed'; then
        echo "== Installing the 32-bit Wine loader"
        dpkg --add-architecture i386
        # A list that failed to download is reported here; the install decides.
        apt-get update -qq || true
        if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -qq wine32:i386 >/tmp/ardentis-wine32.log 2>&1; then
            echo "== wine32:i386 could not be installed:"
            grep -E '^E:' /tmp/ardentis-wine32.log | head -3
        fi
        if [ ! -x "$WINE32" ]; then
            echo "== WARNING: Wine's 32-bit loader could not be installed from the package archive:"
            echo "== the i386 programs and tests are built and checked as files, not run"
        fi
    fi
else
    echo "== This kernel does not run 32-bit programs: i386 builds are checked, not run"
fi
: "$updated"

wine_prefix_ready
