#!/usr/bin/env python3
"""Writes the release zip: the executable and its SHA-256 (as `sha256sum -c`
reads it), optionally signing a copy of the executable first.

The zip is the same bytes for every build of one commit: the entries come in
a fixed order, with fixed permissions, no owner ids and no extra fields, and
their time is the commit's (SOURCE_DATE_EPOCH if set, else the time of the
source tree's HEAD commit, else 1980-01-01 outside a git checkout), written
in UTC so that the build machine's time zone does not matter.

With --pkcs12 and --password-file, a copy of the executable gets an
Authenticode SHA-256 signature from osslsigncode, and the zip carries that
copy; the executable given stays unsigned.

Usage: package.py --executable EXE --archive ZIP --source DIR
                  [--osslsigncode PROGRAM --pkcs12 FILE --password-file FILE
                   [--timestamp-url URL]]
"""

import argparse
import hashlib
import os
import subprocess
import sys
import tempfile
import time
import zipfile

ZIP_EPOCH = 315532800  # 1980-01-01 00:00 UTC, the earliest time a zip can hold


def source_date(source):
    """The time the zip's entries carry, in seconds since 1970."""
    fixed = os.environ.get("SOURCE_DATE_EPOCH")
    if fixed:
        return int(fixed)
    try:
        commit = subprocess.run(["git", "-C", source, "log", "-1", "--format=%ct"],
                                check=True, capture_output=True, text=True).stdout.strip()
        return int(commit)
    except (OSError, subprocess.CalledProcessError, ValueError):
        return ZIP_EPOCH


def entry(name, when, mode):
    info = zipfile.ZipInfo(name, date_time=time.gmtime(max(when, ZIP_EPOCH))[:6])
    info.create_system = 3  # Unix, so that the permissions below are read
    info.external_attr = (0o100000 | mode) << 16  # a regular file
    info.compress_type = zipfile.ZIP_DEFLATED
    return info


def sign(args, executable, signed):
    command = [args.osslsigncode, "sign", "-pkcs12", args.pkcs12, "-readpass", args.password_file,
               "-h", "sha256", "-in", executable, "-out", signed]
    if args.timestamp_url:
        command[2:2] = ["-ts", args.timestamp_url]
    result = subprocess.run(command, capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit("package: signing failed:\n" + result.stdout + result.stderr)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--executable", required=True)
    parser.add_argument("--archive", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--osslsigncode")
    parser.add_argument("--pkcs12")
    parser.add_argument("--password-file")
    parser.add_argument("--timestamp-url")
    args = parser.parse_args()

    name = os.path.basename(args.executable)
    when = source_date(args.source)
    folder = os.path.dirname(os.path.abspath(args.archive))
    with tempfile.TemporaryDirectory(dir=folder, prefix=".package-") as staging:
        shipped = args.executable
        if args.pkcs12:
            shipped = os.path.join(staging, name)
            sign(args, args.executable, shipped)
            print("package: %s signed with %s" % (name, args.pkcs12))
        else:
            print("package: %s unsigned (set LOBBYFIX_SIGN_PKCS12 and LOBBYFIX_SIGN_PASSWORD_FILE to sign)" % name)
        with open(shipped, "rb") as f:
            image = f.read()
        digest = "%s  %s\n" % (hashlib.sha256(image).hexdigest(), name)

        # Written beside the archive and renamed over it, so that a failed
        # run leaves no half-written zip behind.
        partial = os.path.join(staging, "package.zip")
        with zipfile.ZipFile(partial, "w") as archive:
            archive.writestr(entry(name, when, 0o755), image, compresslevel=9)
            archive.writestr(entry(name + ".sha256", when, 0o644), digest.encode("ascii"), compresslevel=9)
        os.chmod(partial, 0o644)
        os.replace(partial, args.archive)


if __name__ == "__main__":
    main()
