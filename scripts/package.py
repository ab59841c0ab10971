#!/usr/bin/python3
"""Puts the release package together from the win64 and win32 builds.

Usage: package.py BUILD_ROOT DIST. Writes DIST/Ardentis-<version>.zip, the
version and the time stamp taken from the builds (release/release.txt, which
CMake writes from the project's one version and the last commit's time).
Reproducible: fixed order, one fixed time stamp, no owner or permission bits,
nothing of the build folder's path. Given a certificate (signing.py), every
.exe is signed and verified before the checksums and the zip are made.
"""

import hashlib
import os
import sys
import time
import zipfile

import signing


def read(path):
    with open(path, "rb") as f:
        return f.read()


def main():
    build_root, dist = sys.argv[1:3]
    win64, win32 = (os.path.join(build_root, arch) for arch in ("win64", "win32"))
    release = read(os.path.join(win64, "release", "release.txt"))
    readme = read(os.path.join(win64, "release", "README.txt"))
    if (read(os.path.join(win32, "release", "release.txt")), read(os.path.join(
            win32, "release", "README.txt"))) != (release, readme):
        sys.exit("package.py: the win64 and win32 builds are of different releases")
    info = dict(line.split("=", 1) for line in release.decode().splitlines())

    files = {
        "Ardentis64.exe": read(os.path.join(win64, "Ardentis64.exe")),
        "Ardentis.exe": read(os.path.join(win32, "Ardentis.exe")),
        "ArdentisFleet64.exe": read(os.path.join(win64, "ArdentisFleet64.exe")),
        "ArdentisFleet.exe": read(os.path.join(win32, "ArdentisFleet.exe")),
        "README.txt": readme,
    }
    path = os.path.join(dist, "Ardentis-%s.zip" % info["version"])
    # Authenticode: when asked for, every .exe above is signed and verified here.
    files = signing.sign_programs(files, int(info["source_date_epoch"]), path)
    files["SHA256SUMS.txt"] = "".join(
        "%s *%s\r\n" % (hashlib.sha256(data).hexdigest(), name)
        for name, data in files.items()).encode()

    stamp = time.gmtime(int(info["source_date_epoch"]))[:6]
    os.makedirs(dist, exist_ok=True)
    with zipfile.ZipFile(path + ".part", "w") as archive:
        for name, data in files.items():
            entry = zipfile.ZipInfo(name, date_time=stamp)
            entry.create_system = 0  # MS-DOS: no Unix owner or mode
            entry.external_attr = 0
            archive.writestr(entry, data, compress_type=zipfile.ZIP_DEFLATED, compresslevel=9)
    os.replace(path + ".part", path)
    print(path)


if __name__ == "__main__":
    main()
