#!/usr/bin/env bash
# Builds the release package for administrators, dist/Ardentis-<version>.zip:
# Ardentis64.exe, Ardentis.exe, ArdentisFleet64.exe, ArdentisFleet.exe,
# README.txt and SHA256SUMS.txt.
# The same commit gives the same bytes in any build folder.
#   bash scripts/package.sh [BUILD_ROOT [DIST]]    (default: build, dist)
# BUILD_ROOT holds the win64 and win32 build folders (configured here if new).
# Signed when given a certificate: ARDENTIS_SIGN_PFX (a PKCS#12 file) and
# ARDENTIS_SIGN_PASSWORD_FILE (a file holding its password), optionally
# ARDENTIS_SIGN_TIMESTAMP_URL (RFC 3161): every .exe is signed and verified
# before the checksums and the zip (scripts/signing.py).
set -euo pipefail
. "$(dirname "$0")/common.sh"
cd "$ROOT"
build_root=${1:-build}
dist=${2:-dist}
for preset in win64 win32; do
    cmake --preset "$preset" -B "$build_root/$preset" >/dev/null
done
cmake --build "$build_root/win64" --target Ardentis64 ArdentisFleet64 >/dev/null
cmake --build "$build_root/win32" --target Ardentis ArdentisFleet >/dev/null
python3 scripts/package.py "$build_root" "$dist"
