#!/usr/bin/env python3
"""scripts/install-deps.sh against the real apt-get, dpkg and bash, on a
private machine: apt's and dpkg's sources, state, lists and caches, and the
files that packages install, live in a temporary folder (APT_CONFIG,
DPKG_ADMINDIR, DPKG_ROOT), and its Debian mirror, signed with a key of the
test's own, is served on 127.0.0.1. The machine's own apt and dpkg are never
touched. The faults reach apt from outside, as on a real machine: a lock
held by another process, a network namespace with no network, an index
served with the wrong size, a package the mirror lacks, a third-party
source with the release's suite, a file the kernel refuses to run.

Stand-ins are left only for what cannot happen on this machine: binfmt_misc
is a folder whose register file, once written, makes the loader run, as the
kernel would; the project's commands and qemu-i386 are small scripts, which
the mirror's packages install."""

import contextlib
import functools
import gzip
import hashlib
import http.server
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPTS = os.path.normpath(os.path.join(HERE, "..", "..", "scripts"))
SCRIPT = os.path.join(SCRIPTS, "install-deps.sh")
RELEASE = "Debian 12 (bookworm)"
I386 = (r"\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:"
        r"\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff")
# An ELF header of no class the kernel knows: it refuses the file with
# ENOEXEC, and finds no other handler for it, as for an i386 program on a
# kernel that runs none.
REFUSED = b"\x7fELF\x03\x01\x01" + bytes(9) + b"\x02\x00\x03\x00" + bytes(44)


def read_list(name):
    """The packages and commands:package entries of packages.sh."""
    with open(os.path.join(SCRIPTS, "setup", "packages.sh")) as f:
        text = f.read()
    body = re.search(r"^%s=\((.*?)^\)" % name, text, re.M | re.S).group(1)
    return re.sub(r"#.*", "", body).split()


PACKAGES = read_list("packages")
COMMANDS = dict(entry.split(":", 1) for entry in read_list("commands"))


def script(text):
    return "#!/bin/sh\n" + text + "\n"


def WINE(version):
    """Wine's packages of one version: each needs its library of that same
    version, which amd64 and i386 must share."""
    depends = "Depends: libwine (= %s)\n" % version
    return [("libwine", version, "amd64", "Multi-Arch: same\n", {}),
            ("libwine", version, "i386", "Multi-Arch: same\n", {}),
            ("wine", version, "amd64", depends, {"usr/bin/wine": script("")}),
            ("wine32", version, "i386", depends, {})]


# (suite folder, Origin, Label, Codename) of each archive the mirror serves,
# and its packages: (name, version, architecture, fields, files).
QEMU = script('echo "qemu-i386 version 10.0.2 (Debian 1:10.0.2+ds-1~bpo12+1)"')
ARCHIVES = {
    "debian/dists/bookworm": ("Debian", "Debian", "bookworm", [
        ("cmake", "3.25.1-1", "amd64", "Depends: cmake-data (= 3.25.1-1)\n", {"usr/bin/cmake": script("")}),
        ("cmake-data", "3.25.1-1", "all", "", {"etc/cmake.conf": "new\n"}),
        ("cppcheck", "2.10-2", "amd64", "", {"usr/bin/cppcheck": script("")}),
        # Its command went elsewhere: a reinstall cannot bring it back.
        ("clang-format", "1:14.0-55.7", "amd64", "", {"usr/share/doc/clang-format/README": ""}),
    ] + WINE("8.0~repack-4")),
    # Wine's update, for both architectures: a mirror in mid-sync serves its
    # i386 index with the wrong size.
    "debian/dists/bookworm-updates": ("Debian", "Debian", "bookworm-updates", WINE("8.0~repack-4+deb12u1")),
    "debian/dists/bookworm-backports": ("Debian Backports", "Debian Backports", "bookworm-backports", [
        ("qemu-user", "1:10.0.2+ds-1~bpo12+1", "amd64", "", {"usr/bin/qemu-i386": QEMU}),
    ]),
    # apt keeps no empty index, and knows no suite without one.
    "debian-security/dists/bookworm-security": ("Debian", "Debian-Security", "bookworm-security", [
        ("tzdata", "2025b-0+deb12u1", "all", "", {}),
    ]),
    # A third-party repository that names the release as its suite, with a
    # main component.
    "php/dists/bookworm": ("deb.sury.org", "PHP", "bookworm", [
        ("qemu-user", "1:9.9-1", "amd64", "", {"usr/bin/qemu-i386": QEMU}),
    ]),
}


class Mirror:
    """The archives above as .deb files, indexes and Release files signed
    with a key of the test's own, served on 127.0.0.1."""

    def __init__(self, folder):
        self.folder = folder
        self.gnupg = os.path.join(folder, "gnupg")
        os.makedirs(self.gnupg, mode=0o700)
        self.gpg("--quick-gen-key", "lobbyfix test mirror", "ed25519", "sign", "never")
        self.keyring = os.path.join(folder, "keyring.gpg")
        with open(self.keyring, "wb") as f:
            f.write(self.gpg("--export"))
        for suite, (origin, label, codename, packages) in ARCHIVES.items():
            self.archive(suite, origin, label, codename, packages)
        self.stamp = int(time.time())

        class Quiet(http.server.SimpleHTTPRequestHandler):
            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Quiet, directory=folder))
        self.url = "http://127.0.0.1:%d" % self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def published(self, *paths):
        """Dates files that a test changed after every earlier version. The
        server's Last-Modified counts whole seconds, and apt asks for a file
        only if it is newer than the one apt has: a change made within the
        second of the last one would be answered "not modified"."""
        self.stamp = max(self.stamp, int(time.time())) + 1
        for path in paths:
            os.utime(path, (self.stamp, self.stamp))

    def gpg(self, *args):
        return subprocess.run(["gpg", "--homedir", self.gnupg, "--batch", "--quiet", "--pinentry-mode", "loopback",
                               "--passphrase", ""] + list(args), check=True, capture_output=True).stdout

    def archive(self, suite, origin, label, codename, packages):
        base = os.path.join(self.folder, suite.split("/")[0])
        indexes = {"amd64": "", "i386": ""}
        for name, version, arch, fields, files in packages:
            deb, control = self.deb(os.path.join(base, "pool"), name, version, arch, fields, files)
            with open(deb, "rb") as f:
                data = f.read()
            entry = "%sFilename: %s\nSize: %d\nSHA256: %s\n\n" % (
                control, os.path.relpath(deb, base), len(data), hashlib.sha256(data).hexdigest())
            for index in (["amd64", "i386"] if arch == "all" else [arch]):
                indexes[index] += entry
        sums = []
        for arch, text in indexes.items():
            sums.append(" %s %d main/binary-%s/Packages" % (hashlib.sha256(text.encode()).hexdigest(),
                                                           len(text.encode()), arch))
            os.makedirs(os.path.join(self.folder, suite, "main", "binary-" + arch))
            with open(os.path.join(self.folder, suite, "main", "binary-" + arch, "Packages"), "w") as f:
                f.write(text)
        release = os.path.join(self.folder, suite, "Release")
        with open(release, "w") as f:
            f.write("Origin: %s\nLabel: %s\nSuite: %s\nCodename: %s\nDate: %s\nArchitectures: amd64 i386\n"
                    "Components: main\nSHA256:\n%s\n" % (origin, label, codename, codename,
                                                        time.strftime("%a, %d %b %Y %H:%M:%S UTC", time.gmtime()),
                                                        "\n".join(sums)))
        self.gpg("--clearsign", "--output", os.path.join(self.folder, suite, "InRelease"), release)

    def deb(self, pool, name, version, arch, fields, files):
        """A package of the files, a file under etc/ being a configuration
        file; and its control paragraph."""
        tree = tempfile.mkdtemp(dir=self.folder)
        control = ("Package: %s\nVersion: %s\nArchitecture: %s\nMaintainer: lobbyfix <t@example.org>\n%s"
                   "Description: %s\n" % (name, version, arch, fields, name))
        files = dict(files, **{"DEBIAN/control": control})
        conffiles = "".join("/%s\n" % path for path in files if path.startswith("etc/"))
        if conffiles:
            files["DEBIAN/conffiles"] = conffiles
        for path, text in files.items():
            os.makedirs(os.path.join(tree, os.path.dirname(path)), exist_ok=True)
            with open(os.path.join(tree, path), "w") as f:
                f.write(text)
            os.chmod(os.path.join(tree, path), 0o755 if text.startswith("#!") else 0o644)
        os.makedirs(pool, exist_ok=True)
        deb = os.path.join(pool, "%s_%s_%s.deb" % (name, version.split(":")[-1], arch))
        subprocess.run(["dpkg-deb", "--root-owner-group", "-Zgzip", "-b", tree, deb], check=True, capture_output=True)
        shutil.rmtree(tree)
        return deb, control


def setUpModule():
    global FOLDER, MIRROR, TOOLS
    # The set-up would generate them on this machine.
    for name in ("ru_RU.utf8", "en_US.utf8"):
        if name not in subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.split():
            raise RuntimeError("the locale %s is missing: run scripts/install-deps.sh first" % name)
    FOLDER = tempfile.mkdtemp(prefix="lobbyfix-setup-")
    # apt downloads as its own user, and one case runs as nobody.
    os.chmod(FOLDER, 0o755)
    MIRROR = Mirror(os.path.join(FOLDER, "mirror"))
    # The machine's programs, but for the project's commands and qemu: those
    # are found only where the private machine has them.
    TOOLS = os.path.join(FOLDER, "tools")
    os.makedirs(TOOLS)
    hidden = set(COMMANDS) | {"qemu-i386", "qemu-i386-static"}
    for folder in ("/usr/local/bin", "/usr/sbin", "/usr/bin", "/sbin", "/bin"):
        for name in os.listdir(folder) if os.path.isdir(folder) else []:
            link = os.path.join(TOOLS, name)
            if name not in hidden and not os.path.lexists(link):
                os.symlink(os.path.join(folder, name), link)


def tearDownModule():
    MIRROR.server.shutdown()
    MIRROR.server.server_close()
    subprocess.run(["gpgconf", "--homedir", MIRROR.gnupg, "--kill", "all"], capture_output=True)
    shutil.rmtree(FOLDER)


class Holder:
    """Another process that holds a lock on a file as apt and dpkg take
    theirs (fcntl), for the given seconds."""

    def __init__(self, path, seconds):
        self.process = subprocess.Popen(
            [sys.executable, "-c", "import fcntl, sys, time\nf = open(sys.argv[1], 'w')\n"
             "fcntl.lockf(f, fcntl.LOCK_EX)\nprint('locked', flush=True)\ntime.sleep(float(sys.argv[2]))",
             path, str(seconds)], stdout=subprocess.PIPE, text=True)
        self.process.stdout.readline()
        with open("/proc/%d/comm" % self.process.pid) as f:
            self.held_by = "process %d (%s)" % (self.process.pid, f.read().strip())

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.process.kill()
        self.process.wait()
        self.process.stdout.close()


class InstallDeps(unittest.TestCase):

    def setUp(self):
        self.m = tempfile.mkdtemp(prefix="machine-", dir=FOLDER)
        os.chmod(self.m, 0o755)
        self.addCleanup(shutil.rmtree, self.m)
        self.status_written = False
        # What points apt and dpkg at the private machine.
        self.private = dict(APT_CONFIG=os.path.join(self.m, "etc/apt/apt.conf"),
                            DPKG_ADMINDIR=os.path.join(self.m, "var/lib/dpkg"), DPKG_ROOT=self.m)
        for folder in ("etc/apt/sources.list.d", "etc/apt/apt.conf.d", "etc/apt/preferences.d",
                       "var/lib/apt/lists/partial", "var/cache/apt/archives/partial", "var/log/apt",
                       "var/lib/dpkg/info", "var/lib/dpkg/updates", "usr/bin", "binfmt_misc"):
            os.makedirs(os.path.join(self.m, folder))
        self.write("etc/apt/apt.conf", 'Dir "%s/";\n' % self.m)
        self.write("etc/os-release", 'PRETTY_NAME="Debian GNU/Linux 12 (bookworm)"\nID=debian\n'
                   'VERSION_ID="12"\nVERSION_CODENAME=bookworm\n')
        self.sources(MIRROR.url)
        self.write("var/lib/dpkg/arch", "amd64\ni386\n")
        self.write("var/lib/dpkg/available", "")
        self.installed = {p: ("i386" if p.endswith(":i386") else "amd64") for p in PACKAGES}
        for command in COMMANDS:
            self.write("usr/bin/" + command, script(""), 0o755)
        self.loader = os.path.join(self.m, "wine-loader")
        self.write("wine-loader", script("exit 0"), 0o755)
        self.binfmt = os.path.join(self.m, "binfmt_misc")
        self.write("binfmt_misc/register", "")

    def write(self, path, text, mode=0o644):
        path = os.path.join(self.m, path)
        with open(path, "wb" if isinstance(text, bytes) else "w") as f:
            f.write(text)
        os.chmod(path, mode)

    def sources(self, url, third_party=None, key=None):
        """Debian's archive and security suites on the mirror, and a
        third-party source that names the release as its suite, in
        sources.list, which apt reads first."""
        self.write("etc/apt/sources.list.d/debian.sources", "".join(
            "Types: deb\nURIs: %s/%s\nSuites: %s\nComponents: main\nSigned-By: %s\n\n"
            % (url, path, suites, MIRROR.keyring)
            for path, suites in [("debian", "bookworm bookworm-updates"), ("debian-security", "bookworm-security")]))
        self.write("etc/apt/sources.list", "deb [signed-by=%s] %s/php bookworm main\n"
                   % (key or MIRROR.keyring, third_party or url))

    def status(self):
        self.status_written = True
        with open(os.path.join(self.m, "var/lib/dpkg/status"), "w") as f:
            for package, arch in self.installed.items():
                f.write("Package: %s\nStatus: install ok installed\nVersion: 1\nArchitecture: %s\n"
                        "Maintainer: lobbyfix <t@example.org>\nDescription: installed\n\n"
                        % (package.split(":")[0], arch))

    def run_script(self, script=SCRIPT, user=None, prefix=(), **env):
        if not self.status_written:
            self.status()
        env = {**self.private, "PATH": ":".join([os.path.join(self.m, "usr/bin"), TOOLS]), "HOME": self.m,
               "LANG": "ru_RU.UTF-8", "LOBBYFIX_OS_RELEASE": os.path.join(self.m, "etc/os-release"),
               "LOBBYFIX_DEBIAN_KEYRING": MIRROR.keyring, "LOBBYFIX_WINE_LOADER": self.loader,
               "LOBBYFIX_BINFMT_MISC": self.binfmt, **env}
        if user:  # with scripts that any user may read
            shutil.copytree(SCRIPTS, os.path.join(self.m, "scripts"), dirs_exist_ok=True)
            script = os.path.join(self.m, "scripts", os.path.relpath(script, SCRIPTS))
            prefix = ["setpriv", "--reuid=%d" % user, "--regid=%d" % user, "--clear-groups"] + list(prefix)
        command = list(prefix) + ["bash", script]
        result = subprocess.run(command, env=env, capture_output=True, text=True, timeout=120)
        return result.returncode, result.stdout + result.stderr

    def apt(self, *command):
        """apt-get or a dpkg command, on the private machine."""
        if not self.status_written:
            self.status()
        return subprocess.run(command if command[0].startswith("dpkg") else ("apt-get", "-qq") + command, check=True,
                              capture_output=True, text=True, env=dict(os.environ, **self.private)).stdout

    def has(self, path):
        return os.path.exists(os.path.join(self.m, path))

    def test_missing_packages_and_vanished_commands_come_from_the_mirror(self):
        # cmake is missing, and takes an upgrade of cmake-data, whose
        # configuration file was changed here; cppcheck's command is gone;
        # dpkg's lock is held for a while by another process; a dpkg run
        # was killed half-way, and left its journal.
        del self.installed["cmake"]
        os.remove(os.path.join(self.m, "usr/bin/cppcheck"))
        self.status()
        old, _ = MIRROR.deb(os.path.join(self.m, "old"), "cmake-data", "3.25.0-1", "all", "", {"etc/cmake.conf": "old\n"})
        half, _ = MIRROR.deb(os.path.join(self.m, "old"), "libhalf", "1", "all", "", {})
        self.apt("dpkg", "-i", old)
        self.apt("dpkg", "--unpack", half)
        self.write("var/lib/dpkg/updates/0001", "Package: libhalf\nStatus: install ok unpacked\nVersion: 1\n"
                   "Architecture: all\nMaintainer: lobbyfix <t@example.org>\nDescription: libhalf\n")
        self.write("etc/cmake.conf", "changed here\n")
        with Holder(os.path.join(self.m, "var/lib/dpkg/lock-frontend"), 3):
            status, out = self.run_script()
        self.assertEqual(0, status, out)
        self.assertIn("install-deps/packages: installing: cmake\n", out)
        self.assertIn("install-deps/packages: dpkg was interrupted earlier; finishing its work first", out)
        self.assertEqual("cmake-data 3.25.1-1 install ok installed\nlibhalf 1 install ok installed\n",
                         self.apt("dpkg-query", "-W", "-f", "${Package} ${Version} ${Status}\n", "cmake-data", "libhalf"))
        self.assertIn("install-deps/packages: reinstalling (a command of theirs is missing): cppcheck\n", out)
        self.assertTrue(self.has("usr/bin/cmake") and self.has("usr/bin/cppcheck"), out)
        with open(os.path.join(self.m, "etc/cmake.conf")) as f:
            self.assertEqual("changed here\n", f.read())
        self.assertNotIn("could not fetch", out)

        with self.subTest("a command that its package no longer has"):
            os.remove(os.path.join(self.m, "usr/bin/clang-format"))
            status, out = self.run_script()
            self.assertEqual(1, status, out)
            self.assertIn("install-deps/packages: clang-format is still missing after installing clang-format", out)

    def test_index_failures_that_the_set_up_gets_through(self):
        suite = os.path.join(MIRROR.folder, "debian/dists/bookworm-updates")
        for case in ["a mirror in mid-sync", "a mirror in mid-sync, found on decompressing",
                     "a dead third-party source", "a third-party source signed otherwise",
                     "the lists lock held for a while"]:
            with self.subTest(case):
                self.setUp()
                del self.installed["wine"], self.installed["wine32:i386"]
                if case.startswith("a mirror in mid-sync"):
                    # The machine has lists from before, of amd64 alone;
                    # apt keeps a suite's old lists when one of its new
                    # indexes fails. So Wine's amd64 packages come from the
                    # update, and its i386 ones only from the release.
                    self.write("var/lib/dpkg/arch", "amd64\n")
                    self.apt("update")
                    with self.mid_sync(suite, "main/binary-i386/Packages", compressed="decompressing" in case):
                        status, out = self.run_script()
                    self.assertIn("install-deps/architecture: adding the i386 architecture\n", out)
                    self.assertRegex(out, (r"could not fetch store:\S+_dists_bookworm-updates_main_binary-i386_"
                                           r"Packages.gz \(Hash Sum mismatch" if "decompressing" in case else
                                           r"could not fetch %s/debian/dists/bookworm-updates/main/binary-i386/"
                                           r"Packages \(File has unexpected size \(\d+ != \d+\)\. Mirror sync in "
                                           r"progress\?\)" % MIRROR.url) + r".*; going on with the indexes it did fetch")
                    # Only the release's own suite has the i386 library of
                    # the amd64 one's version.
                    self.assertIn("trying once more with every package taken from bookworm (-t bookworm)", out)
                elif case == "a dead third-party source":
                    # On a host of its own: apt 2.6 waits forever for a
                    # refused port on the host of a source that answers.
                    with socket.socket() as s:
                        s.bind(("127.0.0.2", 0))
                        dead = "http://127.0.0.2:%d" % s.getsockname()[1]
                    self.sources(MIRROR.url, third_party=dead)
                    status, out = self.run_script()
                    self.assertIn("could not fetch %s/php/dists/bookworm/InRelease, of a source that is not "
                                  "Debian's archive as apt knows it; going on without it" % dead, out)
                elif case == "a third-party source signed otherwise":
                    self.sources(MIRROR.url, key="/usr/share/keyrings/debian-archive-keyring.gpg")
                    status, out = self.run_script()
                    self.assertIn("could not fetch %s/php, of a source that is not Debian's archive as apt knows "
                                  "it; going on without it" % MIRROR.url, out)
                else:
                    with Holder(os.path.join(self.m, "var/lib/apt/lists/lock"), 3) as holder:
                        status, out = self.run_script()
                    self.assertIn("install-deps/packages: waiting up to 300 s for the lock %s/var/lib/apt/lists/lock,"
                                  " held by %s\n" % (self.m, holder.held_by), out)
                self.assertEqual(0, status, out)
                self.assertIn("install-deps/packages: installing: wine wine32:i386\n", out)
                self.assertTrue(self.has("usr/bin/wine"), out)
                self.assertEqual(case.startswith("a mirror in mid-sync"), "-t bookworm" in out, out)

    @contextlib.contextmanager
    def mid_sync(self, suite, index, compressed):
        """A suite of the mirror whose index is one byte longer than its
        Release file says; or, compressed, whose .gz is as the Release file
        says but holds other than what it says of the uncompressed index."""
        saved = {}
        for name in ("Release", "InRelease", index):
            with open(os.path.join(suite, name), "rb") as f:
                saved[name] = f.read()
        try:
            if not compressed:
                with open(os.path.join(suite, index), "ab") as f:
                    f.write(b"\n")
            else:
                text = saved[index]
                packed = gzip.compress(text, mtime=0)
                with open(os.path.join(suite, index + ".gz"), "wb") as f:
                    f.write(packed)
                entry = " %s %d %s" % (hashlib.sha256(text).hexdigest(), len(text), index)
                other = text + b"\n"
                release = saved["Release"].decode().replace(entry, " %s %d %s\n %s %d %s.gz" % (
                    hashlib.sha256(other).hexdigest(), len(other), index,
                    hashlib.sha256(packed).hexdigest(), len(packed), index))
                with open(os.path.join(suite, "Release"), "w") as f:
                    f.write(release)
                MIRROR.gpg("--yes", "--clearsign", "--output", os.path.join(suite, "InRelease"),
                           os.path.join(suite, "Release"))
            MIRROR.published(*(os.path.join(suite, name) for name in saved))
            yield
        finally:
            for name, data in saved.items():
                with open(os.path.join(suite, name), "wb") as f:
                    f.write(data)
            MIRROR.published(*(os.path.join(suite, name) for name in saved))
            if os.path.exists(os.path.join(suite, index + ".gz")):
                os.remove(os.path.join(suite, index + ".gz"))

    def test_each_failure_is_named_by_its_cause(self):
        for case, said in [
            ("a package the release lacks", "install-deps/packages: could not install gcovr: %s has no package "
             "gcovr. apt-get said:" % RELEASE),
            ("no network and no lists", "install-deps/packages: apt-get update could not fetch Debian's indexes for "
             "bookworm: no network: the package mirror cannot be reached. apt-get said:"),
            ("the lists lock held", "install-deps/packages: apt-get update failed: the lock {m}/var/lib/apt/lists/lock,"
             " held by {holder}, was not given up within 4 s"),
            ("dpkg's lock held", "install-deps/packages: could not install gcovr: the lock {m}/var/lib/dpkg/"
             "lock-frontend, held by {holder}, was not given up within 4 s"),
            ("not root", "install-deps: not root: the set-up installs packages with apt-get; run it as root"),
            ("apt-get as another user than root", "packages: apt-get update failed: not root: apt-get may not write"
             " the package database. apt-get said:"),
            ("a release that is not Debian's", "install-deps: this machine runs Ubuntu 24.04.1 LTS: the set-up is "
             "made for Debian 12 (bookworm) and Debian 13 (trixie) only"),
        ]:
            with self.subTest(case):
                self.setUp()
                del self.installed["gcovr"]
                lock, options, holder = None, {}, None
                if case == "no network and no lists":
                    self.sources("http://deb.debian.org")
                    options = dict(prefix=["unshare", "--net"])
                elif case == "the lists lock held":
                    lock = "var/lib/apt/lists/lock"
                elif case == "dpkg's lock held":
                    lock = "var/lib/dpkg/lock-frontend"
                elif case == "not root":
                    options = dict(user=65534)
                elif case == "apt-get as another user than root":
                    options = dict(user=65534, script=os.path.join(SCRIPTS, "setup", "packages.sh"))
                elif case == "a release that is not Debian's":
                    self.write("etc/os-release", 'PRETTY_NAME="Ubuntu 24.04.1 LTS"\nID=ubuntu\nVERSION_ID="24.04"\n'
                               'VERSION_CODENAME=noble\n')
                if lock:
                    with Holder(os.path.join(self.m, lock), 60) as holder:
                        status, out = self.run_script(LOBBYFIX_LOCK_WAIT="4")
                else:
                    status, out = self.run_script(**options)
                self.assertEqual(1, status, out)
                self.assertIn(said.format(m=self.m, holder=holder and holder.held_by), out)
                self.assertNotIn("mid-sync", out)
                self.assertNotIn("-t bookworm", out)
                if case in ("not root", "a release that is not Debian's"):  # nothing ran
                    self.assertEqual(["partial"], sorted(os.listdir(os.path.join(self.m, "var/lib/apt/lists"))))

    def test_a_kernel_that_runs_no_32_bit_programs(self):
        for case in ["ru_RU.UTF-8", "C.UTF-8", "a registration whose qemu is gone", "a registration of qemu 7.2",
                     "a registration refused", "a loader that fails otherwise", "a registration of the host's"]:
            with self.subTest(case):
                self.setUp()
                if case == "a registration of the host's":
                    # Made with the F flag where its qemu is not in sight;
                    # the loader runs through it.
                    self.write("binfmt_misc/qemu-i386", "enabled\ninterpreter /usr/bin/qemu-i386-static\nflags: F\n")
                    self.assertEqual((0, ""), self.run_script())
                    with open(os.path.join(self.binfmt, "qemu-i386")) as f:
                        self.assertIn("interpreter /usr/bin/qemu-i386-static\n", f.read())
                    continue
                self.write("wine-loader", REFUSED, 0o755)
                if case.startswith("a registration "):
                    self.write("usr/bin/qemu-i386", QEMU, 0o755)
                if case == "a registration whose qemu is gone":
                    self.write("binfmt_misc/qemu-i386", "enabled\ninterpreter /usr/libexec/qemu-binfmt/gone\n")
                elif case == "a registration of qemu 7.2":
                    # Debian's qemu-user-binfmt registers a link to qemu,
                    # which then refuses to run but through binfmt_misc.
                    self.write("usr/bin/qemu-i386-7", script(
                        'case $0 in *-binfmt-P) echo "qemu: $0 has to be run using kernel binfmt-misc subsystem" >&2;'
                        ' exit 1;; esac\necho "qemu-i386 version 7.2.19 (Debian 1:7.2+dfsg-7+deb12u7)"'), 0o755)
                    os.symlink("qemu-i386-7", os.path.join(self.m, "usr/bin/i386-binfmt-P"))
                    self.write("binfmt_misc/qemu-i386", "enabled\ninterpreter %s/usr/bin/i386-binfmt-P\n" % self.m)
                elif case == "a registration refused":
                    os.remove(os.path.join(self.binfmt, "register"))
                    os.mkdir(os.path.join(self.binfmt, "register"))
                elif case == "a loader that fails otherwise":
                    self.write("wine-loader", script('echo "$0: error while loading shared libraries: libwine.so.1" >&2;'
                                                     " exit 127"), 0o755)
                if case not in ("a registration refused", "a loader that fails otherwise"):
                    self.register_swaps_the_loader()
                status, out = self.run_script(LANG=case if "UTF-8" in case else "ru_RU.UTF-8")
                if case in ("a registration refused", "a loader that fails otherwise"):
                    self.assertEqual(1, status, out)
                    self.assertIn("install-deps/i386-programs: Wine's 32-bit loader %s does not run: " % self.loader
                                  + ("could not register %s/usr/bin/qemu-i386 with binfmt_misc" % self.m
                                     if case == "a registration refused"
                                     else "%s: error while loading shared libraries" % self.loader), out)
                    self.assertEqual(case == "a registration refused", "ia32_emulation=on" in out, out)
                    continue
                self.assertEqual(0, status, out)
                self.assertIn("i386-programs: this kernel runs no 32-bit programs (32-bit emulation is off)", out)
                self.assertEqual(":qemu-i386:M::%s:%s/usr/bin/qemu-i386:F" % (I386, self.m), self.registered)
                if "UTF-8" in case:
                    # The third-party source comes first, and has a qemu-user.
                    self.assertIn("installing qemu-user from bookworm-backports at %s/debian (" % MIRROR.url, out)
                    self.assertTrue(self.has("usr/bin/qemu-i386"))
                else:
                    self.assertRegex(out, r"removing the registration of i386 programs with \S+: %s" % (
                        "that file is gone" if "gone" in case else "qemu 7 is too slow to start Wine"))
                    self.assertNotIn("qemu-user", out)

    def register_swaps_the_loader(self):
        """binfmt_misc's register file as a pipe: what is written to it makes
        the loader run, as the kernel would, and is kept as self.registered."""
        register = os.path.join(self.binfmt, "register")
        os.remove(register)
        os.mkfifo(register)
        self.registered = None

        def kernel():
            with open(register) as f:
                self.registered = f.read()
            if self.registered:
                self.write("wine-loader.new", script("exit 0"), 0o755)
                os.rename(self.loader + ".new", self.loader)

        def release():  # a registration that never came
            try:
                os.close(os.open(register, os.O_WRONLY | os.O_NONBLOCK))
            except OSError:
                pass
            thread.join(5)

        thread = threading.Thread(target=kernel, daemon=True)
        thread.start()
        self.addCleanup(release)


def copy_program(path, root):
    """A program of this machine, with the libraries it loads, into a root
    of bin, lib and lib64 links to usr/."""
    for name in ("bin", "lib", "lib64"):
        if not os.path.lexists(os.path.join(root, name)):
            os.makedirs(os.path.join(root, "usr", name), exist_ok=True)
            os.symlink("usr/" + name, os.path.join(root, name))
    libraries = re.findall(r"(/\S+) \(0x", subprocess.run(["ldd", path], capture_output=True, text=True).stdout)
    shutil.copy(os.path.realpath(path), os.path.join(root, "usr/bin", os.path.basename(path)))
    for source in libraries:  # where the loader looks, as ldd names them
        os.makedirs(os.path.dirname(root + source), exist_ok=True)
        shutil.copy(os.path.realpath(source), root + source)


class DebianRoot(unittest.TestCase):
    """scripts/debian-root.sh with a small stand-in root, made of this
    machine's shell and a few programs, under a repository's build/: what
    a command run in it can reach, where it runs, and that no mount is left,
    seen in /proc/self/mountinfo. Nothing is ever removed through a mount:
    a mount under the test's folder fails the test and keeps the folder.
    mmdebstrap is a stand-in that copies the stand-in root, for the rules
    that a make keeps."""

    def setUp(self):
        self.folder = os.path.realpath(tempfile.mkdtemp(prefix="lobbyfix-roots-"))
        self.addCleanup(self.remove_folder)
        self.tree = os.path.join(self.folder, "repo")
        os.makedirs(os.path.join(self.tree, "scripts", "setup"))
        for name in ("debian-root.sh", "setup/common.sh"):
            shutil.copy(os.path.join(SCRIPTS, name), os.path.join(self.tree, "scripts", name))
        with open(os.path.join(self.tree, "MARKER"), "w") as f:
            f.write("the repository\n")
        self.standin = os.path.join(self.folder, "standin")
        for program in ("sh", "cat", "ls", "sleep", "pwd", "true"):
            copy_program(shutil.which(program), self.standin)
        for folder in ("proc", "sys", "dev", "etc", "tmp"):
            os.makedirs(os.path.join(self.standin, folder))
        for name, text in [("apt-get", "exit 1"), ("dpkg-query", "echo 'ca-certificates:all install ok installed'")]:
            with open(os.path.join(self.standin, "usr/bin", name), "w") as f:
                f.write(script(text))
            os.chmod(os.path.join(self.standin, "usr/bin", name), 0o755)
        self.root = os.path.join(self.tree, "build", "root")
        self.script = os.path.join(self.tree, "scripts", "debian-root.sh")
        shutil.copytree(self.standin, self.root, symlinks=True)
        os.symlink(self.tree, os.path.join(self.folder, "link"))

    def mounts(self):
        with open("/proc/self/mountinfo") as f:
            return [line.split()[4] for line in f if (line.split()[4] + "/").startswith(self.folder + "/")]

    def remove_folder(self):
        self.assertEqual([], self.mounts())
        subprocess.run(["rm", "-rf", "--one-file-system", self.folder], check=True)

    def run_root(self, *args, **kwargs):
        return subprocess.run(["bash", self.script] + list(args), cwd=self.tree, capture_output=True, text=True,
                              timeout=60, **kwargs)

    def test_a_command_reaches_the_repository_and_none_of_the_machine(self):
        probe = ("pwd; cat %s/MARKER; echo dev:; ls -A /dev; echo root:; ls -A %s/build/root/dev; echo mounts:; "
                 "cat /proc/self/mountinfo" % (self.tree, self.tree))
        for case, cwd, script, where in [
            ("from the repository", self.tree, self.tree, self.tree),
            ("from /", "/", self.tree, self.tree),
            ("through a symbolic link", os.path.join(self.folder, "link", "build"),
             os.path.join(self.folder, "link"), os.path.join(self.tree, "build")),
        ]:
            with self.subTest(case):
                result = subprocess.run(["bash", os.path.join(script, "scripts", "debian-root.sh"), "run",
                                         os.path.join(script, "build", "root"), "sh", "-c", probe],
                                        cwd=cwd, capture_output=True, text=True, timeout=60)
                self.assertEqual(0, result.returncode, result.stderr)
                lines = result.stdout.splitlines()
                self.assertEqual([where, "the repository", "dev:"], lines[:3])
                devices = set(lines[3:lines.index("root:")])
                self.assertLessEqual(devices, {"null", "zero", "full", "random", "urandom", "tty", "pts", "ptmx",
                                               "shm", "fd", "stdin", "stdout", "stderr", "core", "console"})
                self.assertIn("null", devices)
                self.assertEqual("mounts:", lines[lines.index("root:") + 1], result.stdout)
                inside = [line.split()[4] for line in lines[lines.index("mounts:") + 1:]]
                self.assertIn(self.tree, inside)
                self.assertEqual([], [m for m in inside if m.startswith(self.tree + "/")])
                self.assertEqual([], self.mounts())

    def test_no_mount_is_left_however_the_command_ends(self):
        for case, args, code, said in [
            ("it fails", ["sh", "-c", "exit 3"], 3, ""),
            ("it cannot start", ["--in", "/nowhere", "true"], 1,
             "debian-root: bubblewrap could not set up the sandbox of the root at %s, or start true in it"
             % self.root),
            ("a root outside build/", None, 1, "debian-root: %s is not under %s/build/" % (self.standin, self.tree)),
        ]:
            with self.subTest(case):
                if args is None:
                    result = self.run_root("run", self.standin, "true")
                else:
                    result = self.run_root("run", self.root, *args)
                self.assertEqual(code, result.returncode, result.stderr)
                self.assertIn(said, result.stderr)
                self.assertEqual([], self.mounts())
        with self.subTest("it is killed"):
            process = subprocess.Popen(["bash", self.script, "run", self.root, "sh", "-c",
                                        "echo started; exec sleep " + self.marker],
                                       cwd=self.tree, stdout=subprocess.PIPE, text=True)
            self.assertEqual("started\n", process.stdout.readline())
            process.kill()
            process.wait()
            process.stdout.close()
            deadline = time.monotonic() + 10
            while self.sleepers() and time.monotonic() < deadline:
                time.sleep(0.1)
            self.assertEqual([], self.sleepers())
            self.assertEqual([], self.mounts())

    # The sleep's time, of this test's own: another run of it may be sleeping.
    marker = "61.%d" % os.getpid()

    def sleepers(self):
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    if f.read() == b"sleep\x00" + self.marker.encode() + b"\x00":
                        found.append(pid)
            except OSError:
                pass
        return found

    def test_a_make_waits_for_another_and_mends_an_interrupted_one(self):
        # mmdebstrap, as the real one, refuses a folder that is not empty,
        # and fails when its pipe to apt would be numbered 10 or more (dash
        # runs its "cat >&N" only below 10): with a descriptor from 3 to 9
        # open at its start, on this machine.
        bin = os.path.join(self.folder, "bin")
        os.makedirs(bin)
        log = os.path.join(self.folder, "mmdebstrap.log")
        with open(os.path.join(bin, "mmdebstrap"), "w") as f:
            f.write(script('for a; do target=$last; last=$a; done\n'
                           '[ -z "$(ls -A "$target" 2>/dev/null)" ] || { echo "E: $target is not empty" >&2; exit 1; }\n'
                           'for fd in 3 4 5 6 7 8 9; do [ ! -e /proc/$$/fd/$fd ] || '
                           '{ echo "/bin/sh: 1: Syntax error: Bad fd number" >&2; exit 1; }; done\n'
                           'cat >>%s.sources; echo start >>%s; sleep 1; cp -a %s "$target"; echo end >>%s'
                           % (log, log, self.standin, log)))
        os.chmod(os.path.join(bin, "mmdebstrap"), 0o755)
        machine = InstallDeps("run")
        machine.setUp()
        self.addCleanup(machine.doCleanups)
        machine.apt("update")
        env = dict(os.environ, PATH=bin + ":" + os.environ["PATH"], APT_CONFIG=machine.private["APT_CONFIG"],
                   LOBBYFIX_OS_RELEASE=os.path.join(machine.m, "etc/os-release"))
        shutil.rmtree(self.root)
        os.makedirs(self.root + ".new/usr")  # what an interrupted make left
        # Each from a caller that left descriptor 8 open.
        makes = [subprocess.Popen(["bash", "-c", 'exec 8>/dev/null; exec bash "$@"', "caller", self.script,
                                   "make", self.root, "trixie"],
                                  env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
                 for _ in range(2)]
        outs = [make.communicate(timeout=60)[0] for make in makes]
        self.assertEqual([0, 0], [make.returncode for make in makes], outs)
        self.assertIn("debian-root: waiting for another make of the root at %s" % self.root, "".join(outs))
        with open(log) as f:
            self.assertEqual("start\nend\n", f.read())
        with open(log + ".sources") as f:
            self.assertEqual("deb {0}/debian trixie main\ndeb {0}/debian trixie-updates main\n"
                             "deb {0}/debian-security trixie-security main\n".format(MIRROR.url), f.read())
        self.assertTrue(os.path.exists(os.path.join(self.root, "usr/bin/sh")))
        self.assertFalse(os.path.exists(self.root + ".new"))
        with self.subTest("a folder outside build/"):
            result = self.run_root("make", os.path.join(self.folder, "elsewhere"), "trixie", env=env)
            self.assertEqual(1, result.returncode)
            self.assertIn("is not under %s/build/" % self.tree, result.stderr)
            self.assertFalse(os.path.exists(os.path.join(self.folder, "elsewhere")))


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"] + sys.argv[1:])
