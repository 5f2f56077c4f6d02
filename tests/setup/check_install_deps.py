#!/usr/bin/env python3
"""Runs scripts/install-deps.sh with stand-ins for the package tools first
and alone on PATH, never the real package manager, and with a stand-in Wine
loader, binfmt_misc folder, apt sources and Debian 13 release file: apt
failing for each cause it can have, a command that vanished from an
installed package, and a kernel that runs no 32-bit programs."""

import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest

SCRIPTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts")
SCRIPT = os.path.join(SCRIPTS, "install-deps.sh")
REAL_TOOLS = ["grep", "sed", "sort", "paste", "cat", "mktemp", "rm", "chmod", "mkdir", "awk", "head", "dirname",
              "basename"]
CODENAME = "trixie"
MID_SYNC = ("E: Failed to fetch http://mirror/debian-security/binary-i386/Packages.xz  File has unexpected size"
            " (374820 != 376004). Mirror sync in progress? [IP: 192.0.2.1 80]")
BROKEN = "E: Unable to correct problems, you have held broken packages."
# Records each call; "update" fails with $UPDATE; an install resolves only
# when $PLAIN (without -t) or $PINNED (with -t) says so, else fails with
# $FAIL, and then brings back the commands named in $RESTORES.
APT_GET = r"""echo "$*" >>"$CALLS"
case " $* " in *" update "*) echo "$UPDATE"; exit 100;; esac
case " $* " in *" -t "*) [ "$PINNED" = ok ] || { %s; };; *) [ "$PLAIN" = ok ] || { %s; };; esac
for c in $RESTORES; do printf '#!/bin/sh\n' >"$BIN/$c"; chmod +x "$BIN/$c"; done
for o; do case $o in *SourceList=*) cat "${o#*=}" >>"$CALLS";; esac; done
case " $* " in *" qemu-user "*) case " $* " in *-backports*) v=10.0.2;; *) v=7.2.0;; esac
    printf '#!/bin/sh\necho "qemu-i386 version %%s (Debian)"\n' $v >"$BIN/qemu-i386"
    chmod +x "$BIN/qemu-i386";; esac""" % (('echo "$FAIL"; exit 100',) * 2)
# Runs once anything is registered, or always with LOADER=runs; the shell's
# complaint is in Russian unless the C locale is asked for. LOADER=broken
# fails for another reason than the kernel's.
LOADER = """[ "$LOADER" = runs ] || [ -f "$BINFMT/register" -a -s "$BINFMT/register" ] && exit 0
[ "$LOADER" = broken ] && { echo "$0: error while loading shared libraries: libwine.so.1" >&2; exit 127; }
[ "$LC_ALL" = C ] || { echo "$0: не удается запустить: Ошибка формата выполняемого файла" >&2; exit 126; }
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
        with open(os.path.join(SCRIPTS, "setup", "packages.sh")) as f:
            for command in re.findall(r"^\s+([\w.+-]+):[\w.+-]+$", f.read(), re.M):
                self.stub(command, "")
        self.stub("id", 'echo "${UID_IS:-0}"')
        self.stub("apt-get", APT_GET)
        self.stub("dpkg-query", DPKG_QUERY)
        self.stub("dpkg", "echo i386")
        self.stub("locale", "echo ru_RU.utf8; echo en_US.utf8")
        self.stub("wine-loader", LOADER)
        self.binfmt = os.path.join(self.bin, "binfmt_misc")
        os.makedirs(os.path.join(self.bin, "apt", "sources.list.d"))
        # A vendor's repository that names the release as its suite comes
        # first, and is not the release's mirror.
        with open(os.path.join(self.bin, "apt", "sources.list.d", "docker.list"), "w") as f:
            f.write("deb [arch=amd64 signed-by=/etc/apt/keyrings/docker.gpg] https://vendor.test/linux/debian"
                    " %s stable\n" % CODENAME)
        with open(os.path.join(self.bin, "apt", "sources.list.d", "debian.sources"), "w") as f:
            f.write("Types: deb\nURIs: http://mirror.test/debian\nSuites: %s %s-updates\nComponents: main\n"
                    % (CODENAME, CODENAME))
        with open(os.path.join(self.bin, "os-release"), "w") as f:
            f.write("VERSION_ID=\"13\"\nVERSION_CODENAME=%s\n" % CODENAME)

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
                   LOBBYFIX_APT_ETC=os.path.join(self.bin, "apt"), LOBBYFIX_OS_RELEASE=os.path.join(self.bin, "os-release"),
                   **{"LOADER": "runs", "UPDATE": MID_SYNC, "FAIL": BROKEN, **env})
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
                self.assertRegex(calls, r"install .*-t %s cmake wine32:i386" % CODENAME)
                self.assertIn("trying once more with every package taken from %s" % CODENAME, out)
                if code:
                    self.assertIn("could not install cmake wine32:i386: apt-get failed. apt-get said:", out)
                    self.assertIn("held broken packages", out)
                self.assertNotIn("--allow-downgrades", calls)

    def test_each_apt_failure_is_named_by_its_cause(self):
        lock = "E: Could not get lock /var/lib/dpkg/lock-frontend. It is held by process 4242 (apt-get)"
        for case, env, said in [
            ("a package the release lacks", dict(FAIL="E: Unable to locate package libclang-rt-14-dev"),
             "could not install cmake: Debian 13 (trixie) has no package libclang-rt-14-dev. apt-get said:"),
            ("the dpkg lock held", dict(FAIL=lock), "could not install cmake: the dpkg lock is held by another"
             " process, and was not given up within five minutes (held by process 4242 (apt-get))"),
            ("no network", dict(UPDATE="W: Failed to fetch http://mirror.test/debian/dists/trixie/InRelease"
                                "  Temporary failure resolving 'mirror.test'"),
             "apt-get update failed: no network: the package mirror cannot be reached"),
            ("not root", dict(UID_IS="1000"), "not root: the set-up installs packages with apt-get"),
        ]:
            with self.subTest(case):
                status, out, calls = self.run_script(MISSING="cmake", **env)
                self.assertEqual(1, status, out)
                self.assertIn(said, out)
                self.assertNotIn("mid-sync", out)
                self.assertNotIn("-t %s" % CODENAME, calls)
                if case == "the dpkg lock held":
                    self.assertIn("-o DPkg::Lock::Timeout=300 install", calls)
                if case == "not root":
                    self.assertEqual("", calls)

    def test_a_vanished_command_is_reinstalled(self):
        for restores, code in [("cppcheck", 0), ("", 1)]:
            with self.subTest(restores=restores):
                status, out, calls = self.run_script(["cppcheck"], PLAIN="ok", RESTORES=restores)
                self.assertEqual(code, status, out)
                self.assertRegex(calls, r"install .*--reinstall cppcheck\n")
                if code:
                    self.assertIn("cppcheck is still missing", out)

    def test_a_kernel_that_runs_no_32_bit_programs(self):
        for case, code in [("runs", 0), ("register", 0), ("unwritable", 1), ("broken", 1)]:
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
                    self.assertRegex(calls, r"Dir::Cache::pkgcache=\S+ -o Dir::Cache::srcpkgcache=\S+ install")
                    with open(os.path.join(self.binfmt, "register")) as f:
                        self.assertEqual(":qemu-i386:M::%s:%s/qemu-i386:F" % (I386, self.bin), f.read())
                    with open(os.path.join(self.binfmt, "qemu-i386")) as f:
                        self.assertEqual("-1\n", f.read())
                if case == "runs":
                    self.assertEqual(0, os.path.getsize(os.path.join(self.binfmt, "register")))
                if case == "unwritable":
                    self.assertIn("ia32_emulation=on", out)
                    self.assertIn("allow binfmt_misc", out)
                if case == "broken":
                    self.assertIn("does not run: %s/wine-loader: error while loading shared libraries" % self.bin, out)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"] + sys.argv[1:])
