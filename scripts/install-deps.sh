#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12 (as root, no
# prompts) and creates the Wine prefix. Safe to run again: it only does what
# is missing.
set -euo pipefail
. "$(dirname "$0")/common.sh"
enter_prefix "$@"

packages=(cmake ninja-build g++ clang libclang-rt-14-dev llvm-14 googletest
          g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64 python3 bsdutils binutils hyperfine libbenchmark-dev
          clang-tidy cppcheck)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
updated=0
if [ ${#missing[@]} -gt 0 ]; then
    echo "== Installing: ${missing[*]}"
    apt-get update -qq
    updated=1
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# The 32-bit Wine side is only of use where the kernel runs 32-bit programs.
if can_run_i386; then
    if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'ok installed'; then
        echo "== Installing the 32-bit Wine loader"
        dpkg --add-architecture i386
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq wine32:i386 >/dev/null
    fi
else
    echo "== This kernel does not run 32-bit programs: i386 builds are checked, not run"
fi
: "$updated"

wine_prefix_ready
