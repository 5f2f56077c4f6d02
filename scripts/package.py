#!/usr/bin/env python3
"""Writes the release zip and, beside it, the zip's SHA-256
(<zip>.sha256, as `sha256sum -c` reads it), optionally signing a copy of the
executable first.

The zip holds, in this order: the executable, its SHA-256 (lobbyfix.exe.sha256),
the players' readme (README-RU.txt) and the notices of the runtime parts
linked into the executable (THIRD-PARTY-NOTICES.txt). Both texts are kept in
release/ as plain UTF-8 with LF line ends, easy to edit and diff; the zip
carries them with CRLF line ends, so that Notepad shows them right on every
Windows, and the readme with a UTF-8 byte-order mark too, without which
Notepad before Windows 10 reads it in the ANSI code page. "@ZIP@" in the
readme becomes the zip's name.

The notices must match what scripts/notices.py makes from the executable's
link map (lobbyfix.map beside it): a package whose linked runtime parts
changed without its notices is refused.

The zip is the same bytes for every build of one commit: the entries come in
a fixed order, with fixed permissions, no owner ids and no extra fields, and
their time is the commit's (SOURCE_DATE_EPOCH if set, else the time of the
source tree's HEAD commit, else 1980-01-01 outside a git checkout), written
in UTC so that the build machine's time zone does not matter.

With --pkcs12 and --password-file, a copy of the executable gets an
Authenticode SHA-256 signature from osslsigncode, and the zip carries that
copy; the executable given stays unsigned.

Usage: package.py --executable EXE --archive ZIP --source DIR [--map MAP]
                  [--osslsigncode PROGRAM --pkcs12 FILE --password-file FILE
                   [--timestamp-url URL]]
"""

import argparse
import codecs
import hashlib
import os
import subprocess
import sys
import tempfile
import time
import zipfile

# Nothing is written into the source tree, not even compiled bytecode.
sys.dont_write_bytecode = True
import notices  # noqa: E402

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


def text_entry(path, bom=False):
    """A text of release/ as the zip carries it: CRLF line ends, and a UTF-8
    byte-order mark when asked for."""
    with open(path, "rb") as f:
        data = f.read()
    data.decode("utf-8")  # refuse a text that is not UTF-8
    data = data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
    return (codecs.BOM_UTF8 if bom else b"") + data


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
    parser.add_argument("--map")
    parser.add_argument("--osslsigncode")
    parser.add_argument("--pkcs12")
    parser.add_argument("--password-file")
    parser.add_argument("--timestamp-url")
    args = parser.parse_args()

    name = os.path.basename(args.executable)
    zip_name = os.path.basename(args.archive)
    release = os.path.join(args.source, "release")
    link_map = args.map or os.path.splitext(args.executable)[0] + ".map"
    with open(os.path.join(release, "THIRD-PARTY-NOTICES.txt"), encoding="utf-8", newline="") as f:
        if f.read() != notices.generate(link_map):
            # notices.py reads the toolchain's copyright files: run it with
            # the toolchain that linked the executable.
            sys.exit("package: release/THIRD-PARTY-NOTICES.txt does not match the runtime parts linked into %s: "
                     "run bash scripts/release-toolchain.sh /usr/bin/python3 scripts/notices.py --map %s --output %s"
                     % (name, link_map, os.path.join(release, "THIRD-PARTY-NOTICES.txt")))
    readme = text_entry(os.path.join(release, "README-RU.txt"), bom=True).replace(b"@ZIP@", zip_name.encode())
    notice_text = text_entry(os.path.join(release, "THIRD-PARTY-NOTICES.txt"))

    when = source_date(args.source)
    folder = os.path.dirname(os.path.abspath(args.archive))
    with tempfile.TemporaryDirectory(dir=folder, prefix=".package-") as staging:
        shipped = args.executable
        if args.pkcs12:
            shipped = os.path.join(staging, name)
            sign(args, args.executable, shipped)
            print("package: %s signed with %s" % (name, args.pkcs12))
            if not args.timestamp_url:
                print("package: warning: no time-stamp server, so the signature stops verifying when the "
                      "certificate expires (set LOBBYFIX_SIGN_TIMESTAMP_URL)")
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
            archive.writestr(entry("README-RU.txt", when, 0o644), readme, compresslevel=9)
            archive.writestr(entry("THIRD-PARTY-NOTICES.txt", when, 0o644), notice_text, compresslevel=9)
        with open(partial, "rb") as f:
            zip_digest = "%s  %s\n" % (hashlib.sha256(f.read()).hexdigest(), zip_name)
        hashed = os.path.join(staging, "package.zip.sha256")
        with open(hashed, "w", encoding="ascii", newline="\n") as f:
            f.write(zip_digest)
        # The old hash goes before the new zip comes: a failure in between
        # leaves a zip without a hash, never one with another zip's hash.
        if os.path.exists(args.archive + ".sha256"):
            os.remove(args.archive + ".sha256")
        for path in (partial, hashed):
            os.chmod(path, 0o644)
        os.replace(partial, args.archive)
        os.replace(hashed, args.archive + ".sha256")


if __name__ == "__main__":
    main()
