"""Authenticode signatures for the release package's programs (package.py).

Asked for through the environment (any of these set means "sign"):
  ARDENTIS_SIGN_PFX              the PKCS#12 file: certificate, its chain,
                                 private key
  ARDENTIS_SIGN_PASSWORD_FILE    a file holding the PKCS#12 password alone
  ARDENTIS_SIGN_TIMESTAMP_URL    optional: an RFC 3161 time-stamp server
With none of them set, the programs stay as built: the package is the
unsigned one, byte for byte.

Every .exe of the package is signed with osslsigncode, SHA-256; osslsigncode
reads the password from the file itself (-readpass), so it is never an
argument. Each signed program is verified before the package is made: the
signature must verify, chain included, with SHA-256, the time stamp too
where one was asked for, and the program must be the built one plus its
signature, byte for byte. The signing time is the last commit's, so that
the same certificate (with an RSA key) signs the same commit to the same
bytes when no time stamp is asked for. Any failure ends the run before a zip
exists. Only programs and public certificates pass through the working
folder, a private temporary one outside the build tree that is removed.
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile

PFX, PASSWORD_FILE, TIMESTAMP_URL = ("ARDENTIS_SIGN_PFX", "ARDENTIS_SIGN_PASSWORD_FILE",
                                     "ARDENTIS_SIGN_TIMESTAMP_URL")
# Debian's CA certificates (package ca-certificates): the roots a public
# code-signing or time-stamp certificate may chain to.
SYSTEM_CAS = "/etc/ssl/certs/ca-certificates.crt"


class SigningError(Exception):
    pass


def requested():
    return any(name in os.environ for name in (PFX, PASSWORD_FILE, TIMESTAMP_URL))


def sign_programs(files, source_date_epoch, package):
    """Returns files with every .exe signed, or files itself when no signing
    is asked for. package, the zip this run makes, is removed first: a run
    that fails leaves no package under the release's name."""
    if not requested():
        return files
    for stale in (package, package + ".part"):
        if os.path.exists(stale):
            os.remove(stale)
            print("package.py: removed the older %s" % stale, file=sys.stderr)
    try:
        pfx, password_file, url = settings()
        signed = dict(files)
        with tempfile.TemporaryDirectory(prefix="ardentis-sign-") as work:
            signer = None
            for name, data in files.items():
                if name.lower().endswith(".exe"):
                    signed[name], signer = sign_one(name, data, work, pfx, password_file, url,
                                                    source_date_epoch)
        if signer is None:
            raise SigningError("the package holds no .exe to sign")
    except SigningError as error:
        sys.exit("package.py: signing failed, no package made: %s" % error)
    print("package.py: signed and verified %s (SHA-256, %s; %s)" % (
        ", ".join(name for name in files if name.lower().endswith(".exe")), signer,
        "time stamp from %s" % url if url else "no time stamp"), file=sys.stderr)
    return signed


def settings():
    pfx = os.environ.get(PFX, "")
    password_file = os.environ.get(PASSWORD_FILE, "")
    url = os.environ.get(TIMESTAMP_URL, "")
    if not pfx:
        raise SigningError("%s is not set: set it to the PKCS#12 file to sign with, or unset %s "
                           "and %s for an unsigned package" % (PFX, PASSWORD_FILE, TIMESTAMP_URL))
    if not os.path.isfile(pfx) or not os.access(pfx, os.R_OK):
        raise SigningError("%s=%s is no readable file" % (PFX, pfx))
    if not password_file:
        raise SigningError("%s is not set: set it to a file holding the password of %s" %
                           (PASSWORD_FILE, pfx))
    if not os.path.isfile(password_file) or not os.access(password_file, os.R_OK):
        raise SigningError("%s=%s is no readable file" % (PASSWORD_FILE, password_file))
    if os.path.getsize(password_file) == 0:
        raise SigningError("%s=%s is empty: a private key without a password is not used" %
                           (PASSWORD_FILE, password_file))
    if url and not url.startswith(("http://", "https://")):
        raise SigningError("%s=%s is no http:// or https:// URL" % (TIMESTAMP_URL, url))
    for tool in ("osslsigncode", "openssl"):
        if shutil.which(tool) is None:
            raise SigningError("%s is not installed (bash scripts/install-deps.sh installs it)" %
                               tool)
    return pfx, password_file, url


def run(*command):
    """Runs a command without input; returns its exit code and its output."""
    done = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, check=False)
    return done.returncode, done.stdout.decode(errors="replace")


def first_lines(output, count=3):
    # osslsigncode's own words, without OpenSSL's error-queue lines.
    lines = [line.strip() for line in output.splitlines()
             if line.strip() and line.strip() not in ("Failed", "Succeeded")
             and ":error:" not in line]
    return " / ".join(lines[:count])


def sign_one(name, data, work, pfx, password_file, url, source_date_epoch):
    """Signs one program and verifies the result; returns the signed bytes
    and who signed (as osslsigncode names the signer's certificate)."""
    unsigned = os.path.join(work, "unsigned-" + name)
    signed = os.path.join(work, "signed-" + name)
    with open(unsigned, "wb") as f:
        f.write(data)
    command = ["osslsigncode", "sign", "-pkcs12", pfx, "-readpass", password_file,
               "-h", "sha256", "-time", str(source_date_epoch)]
    if url:
        command += ["-ts", url]
    code, output = run(*command, "-in", unsigned, "-out", signed)
    if code != 0 or not os.path.isfile(signed):
        if "PKCS#12" in output:
            raise SigningError(
                "%s could not be opened with the password in %s (wrong password, or no PKCS#12 "
                "file); osslsigncode: %s" % (pfx, password_file, first_lines(output)))
        if url and "timestamp" in output.lower():
            raise SigningError("no time stamp from %s for %s; osslsigncode: %s" %
                               (url, name, first_lines(output)))
        raise SigningError("osslsigncode could not sign %s: %s" % (name, first_lines(output)))
    signer = verify(name, signed, work, url)
    with open(signed, "rb") as f:
        signed_data = f.read()
    changed = added_only_a_signature(data, signed_data)
    if changed:
        raise SigningError("signed %s is not the built program with a signature added: %s" %
                           (name, changed))
    return signed_data, signer


def added_only_a_signature(unsigned, signed):
    """Whether signed is unsigned with an Authenticode signature added and
    nothing else changed: the same bytes but for the header's checksum and
    the certificate table's directory entry, then zero padding to 8 bytes
    and the certificate table up to the end. Returns what differs, or ""."""
    def layout(data):
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        directories = optional + {0x10B: 96, 0x20B: 112}[magic]  # PE32, PE32+
        if struct.unpack_from("<I", data, directories - 4)[0] <= 4:
            raise ValueError
        return optional + 64, directories + 4 * 8  # checksum, certificate table entry

    try:
        checksum, entry = layout(unsigned)
        if layout(signed) != (checksum, entry):
            return "another PE header"
    except (ValueError, KeyError, struct.error):
        return "no PE file"
    if struct.unpack_from("<II", unsigned, entry) != (0, 0):
        return "the built program is signed already"
    offset, size = struct.unpack_from("<II", signed, entry)
    if offset < len(unsigned) or offset % 8 or offset - len(unsigned) >= 8 or \
            offset + size != len(signed) or any(signed[len(unsigned):offset]):
        return "the certificate table is not where the signature is added"

    def masked(data):
        data = bytearray(data[:len(unsigned)])
        data[checksum:checksum + 4] = bytes(4)
        data[entry:entry + 8] = bytes(8)
        return data

    return "" if masked(signed) == masked(unsigned) else "bytes of the program differ"


def verify(name, signed, work, url):
    """Verifies a signed program as osslsigncode sees it; returns the signer."""
    # The trust anchors: the certificates the signature carries (those of the
    # PKCS#12 file) and Debian's CA certificates. The chain must still be
    # complete, up to a self-signed root, valid now and for code signing;
    # whom a PC trusts is decided on Windows.
    signature, carried, anchors = (os.path.join(work, "%s.%s" % (name, kind))
                                   for kind in ("sig.pem", "certs.pem", "anchors.pem"))
    code, output = run("osslsigncode", "extract-signature", "-pem", "-in", signed,
                       "-out", signature)
    if code != 0:
        raise SigningError("no signature found in signed %s: %s" % (name, first_lines(output)))
    code, output = run("openssl", "pkcs7", "-in", signature, "-print_certs", "-out", carried)
    if code != 0:
        raise SigningError("the signature of %s cannot be read: %s" % (name, first_lines(output)))
    with open(anchors, "wb") as out:
        for path in (carried, SYSTEM_CAS):
            if os.path.isfile(path):
                with open(path, "rb") as f:
                    out.write(f.read())
    code, output = run("osslsigncode", "verify", "-in", signed, "-CAfile", anchors)
    lines = [line.strip() for line in output.splitlines()]
    # osslsigncode's exit code says nothing of a time stamp that fails to
    # verify: its report is read line by line.
    problems = [line for line in lines if line.endswith("verification: failed")
                or "MISMATCH" in line or line.startswith(("Error:", "Unsupported"))]
    if code != 0 or problems or "Signature verification: ok" not in lines:
        raise SigningError("the signature of %s does not verify (is the PKCS#12 file's "
                           "certificate valid today, for code signing, with its chain up to a "
                           "root in the file or among Debian's CA certificates?); osslsigncode: "
                           "%s" % (name, first_lines("\n".join(problems) or output, 6)))
    if "Message digest algorithm  : SHA256" not in lines:
        raise SigningError("the signature of %s is not SHA-256" % name)
    if "Number of verified signatures: 1" not in lines:
        raise SigningError("%s does not carry exactly one signature" % name)
    if url and "Timestamp Server Signature verification: ok" not in lines:
        raise SigningError("the time stamp of %s does not verify" % name)
    subject = next((line for line in lines if line.startswith("Subject:")), "Subject: ?")
    serial = next((line for line in lines if line.startswith("Serial :")), "Serial : ?")
    return "signer %s, serial %s" % (subject.split(":", 1)[1].strip(),
                                     serial.split(":", 1)[1].strip())
