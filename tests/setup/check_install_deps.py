#!/usr/bin/env python3
"""Runs scripts/install-deps.sh with stand-ins for the package tools first
and alone on PATH, never the real package manager, and with a stand-in Wine
loader and binfmt_misc folder: a mirror in mid-sync, a mirror on which
nothing resolves, a command that vanished from an installed package, and a
kernel that runs no 32-bit programs."""

import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "install-deps.sh")
REAL_TOOLS = ["grep", "sed", "sort", "paste", "cat", "mktemp", "rm", "chmod", "mkdir", "awk", "head"]
with open("/etc/os-release") as f:
    CODENAME = re.search(r"^VERSION_CODENAME=(\w+)", f.read(), re.M).group(1)
FAIL = 'echo "E: Unable to correct problems, you have held broken packages."; exit 100'
# Records each call; "update" fails as on a mirror in mid-sync; an install
# resolves only when $PLAIN (without -t) or $PINNED (with -t) says so, and
# then brings back the commands named in $RESTORES.
APT_GET = r"""echo "$*" >>"$CALLS"
case " $* " in *" update "*)
    echo "E: Failed to fetch http://mirror/debian-security/binary-i386/Packages.xz  File has unexpected size" \
         "(374820 != 376004). Mirror sync in progress? [IP: 192.0.2.1 80]"; exit 100;; esac
case " $* " in *" -t "*) [ "$PINNED" = ok ] || { %s; };; *) [ "$PLAIN" = ok ] || { %s; };; esac
for c in $RESTORES; do printf '#!/bin/sh\n' >"$BIN/$c"; chmod +x "$BIN/$c"; done
for o; do case $o in *SourceList=*) cat "${o#*=}" >>"$CALLS";; esac; done
case " $* " in *" qemu-user "*) case " $* " in *-backports*) v=10.0.2;; *) v=7.2.0;; esac
    printf '#!/bin/sh\necho "qemu-i386 version %%s (Debian)"\n' $v >"$BIN/qemu-i386"
    chmod +x "$BIN/qemu-i386";; esac""" % (FAIL, FAIL)
# Runs once anything is registered, or always with LOADER=runs.
LOADER = """[ "$LOADER" = runs ] || [ -f "$BINFMT/register" -a -s "$BINFMT/register" ] && exit 0
echo "$0: cannot execute binary file: Exec format error" >&2; exit 126"""
I386 = (r"\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:"
        r"\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff")
DPKG_QUERY = 'case " $MISSING " in *" $3 "*) exit 1;; esac; echo "install ok installed"'


class InstallDeps(unittest.TestCase):

    def setUp(self):
        self.bin = tempfile.mkdtemp(prefix="lobbyfix-deps-")
        self.addCleanup(shutil.rmtree, self.bin)
        for tool in REAL_TOOLS:
            os.symlink(shutil.which(tool), os.path.join(self.bin, tool))
        with open(SCRIPT) as f:
            for command in re.findall(r"^\s+([\w.+-]+):[\w.+-]+$", f.read(), re.M):
                self.stub(command, "")
        self.stub("apt-get", APT_GET)
        self.stub("dpkg-query", DPKG_QUERY)
        self.stub("dpkg", "echo i386")
        self.stub("locale", "echo ru_RU.utf8; echo en_US.utf8")
        self.stub("wine-loader", LOADER)
        self.binfmt = os.path.join(self.bin, "binfmt_misc")
        os.makedirs(os.path.join(self.bin, "apt", "sources.list.d"))
        with open(os.path.join(self.bin, "apt", "sources.list.d", "debian.sources"), "w") as f:
            f.write("Types: deb\nURIs: http://mirror.test/debian\nSuites: %s %s-updates\n" % (CODENAME, CODENAME))

    def stub(self, name, body):
        path = os.path.join(self.bin, name)
        with open(path, "w") as f:
            f.write("#!/bin/sh\n" + body + "\n")
        os.chmod(path, stat.S_IRWXU)

    def run_script(self, vanished=(), **env):
        for command in vanished:
            os.remove(os.path.join(self.bin, command))
        env = dict(PATH=self.bin, BIN=self.bin, CALLS=os.path.join(self.bin, "calls"), BINFMT=self.binfmt,
                   LOBBYFIX_WINE_LOADER=os.path.join(self.bin, "wine-loader"), LOBBYFIX_BINFMT_MISC=self.binfmt,
                   LOBBYFIX_APT_ETC=os.path.join(self.bin, "apt"), **{"LOADER": "runs", **env})
        with open(env["CALLS"], "w"):
            pass
        result = subprocess.run([shutil.which("bash"), SCRIPT], env=env, capture_output=True, text=True)
        with open(env["CALLS"]) as f:
            return result.returncode, result.stdout + result.stderr, f.read()

    def test_a_mirror_in_mid_sync(self):
        for plain, pinned, code in [("fail", "ok", 0), ("fail", "fail", 1)]:
            with self.subTest(pinned=pinned):
                status, out, calls = self.run_script(MISSING="cmake wine32:i386", PLAIN=plain, PINNED=pinned)
                self.assertEqual(code, status, out)
                self.assertRegex(out, r"could not fetch \S+binary-i386/Packages.xz \(File has unexpected size "
                                 r"\(374820 != 376004\)\. Mirror sync in progress\?\); going on")
                self.assertRegex(calls, r"install .*-t \w+ cmake wine32:i386")
                self.assertIn("trying once more with both architectures taken from", out)
                if code:
                    self.assertIn("could not install cmake wine32:i386.", out)
                    self.assertIn("mid-sync", out)
                    self.assertIn("held broken packages", out)
                self.assertNotIn("--allow-downgrades", calls)

    def test_a_vanished_command_is_reinstalled(self):
        for restores, code in [("cppcheck", 0), ("", 1)]:
            with self.subTest(restores=restores):
                status, out, calls = self.run_script(["cppcheck"], PLAIN="ok", RESTORES=restores)
                self.assertEqual(code, status, out)
                self.assertRegex(calls, r"install .*--reinstall cppcheck\n")
                if code:
                    self.assertIn("cppcheck is still missing", out)

    def test_a_kernel_that_runs_no_32_bit_programs(self):
        for case, code in [("runs", 0), ("register", 0), ("unwritable", 1)]:
            with self.subTest(case):
                shutil.rmtree(self.binfmt, ignore_errors=True)
                os.makedirs(os.path.join(self.binfmt, "register") if case == "unwritable" else self.binfmt)
                for name, text in [("register", ""), ("qemu-i386", "interpreter /usr/bin/qemu-i386-static\n")]:
                    if not os.path.isdir(os.path.join(self.binfmt, name)):
                        with open(os.path.join(self.binfmt, name), "w") as f:
                            f.write(text)
                self.stub("qemu-i386", 'echo "qemu-i386 version %s"' % ("7.2.0" if case == "register" else "10.0.2"))
                status, out, calls = self.run_script(LOADER=case, PINNED="ok")
                self.assertEqual(code, status, out)
                self.assertEqual(case == "register", "qemu-user" in calls, calls)
                if case == "register":
                    self.assertRegex(calls, r"deb \S* http://mirror.test/debian %s-backports main\n" % CODENAME)
                    self.assertRegex(calls, r"install .*-t %s-backports qemu-user" % CODENAME)
                    with open(os.path.join(self.binfmt, "register")) as f:
                        self.assertEqual(":qemu-i386:M::%s:%s/qemu-i386:F" % (I386, self.bin), f.read())
                    with open(os.path.join(self.binfmt, "qemu-i386")) as f:
                        self.assertEqual("-1\n", f.read())
                if case == "runs":
                    self.assertEqual(0, os.path.getsize(os.path.join(self.binfmt, "register")))
                if code:
                    self.assertIn("ia32_emulation=on", out)
                    self.assertIn("allow binfmt_misc", out)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"] + sys.argv[1:])
