#!/usr/bin/env python3
"""Checks that the release package is reproducible and that signing works.

Two clean build folders, at different paths, under different time zones and
umasks, each configured with the windows preset and built for the package
target only:

  * folder one packages unsigned, folder two signed with a throwaway
    self-signed code-signing certificate made here with openssl;
  * both build the same lobbyfix.exe, which names neither folder nor the
    source tree, and which the signed folder leaves unsigned;
  * the signed zip's executable verifies against that certificate
    (osslsigncode, SHA-256), its .sha256 entry matches it, and without its
    signature it is the unsigned build, byte for byte;
  * switched off in folder two, signing stops at the next package build, and
    the zip and its hash file are then byte-identical to folder one's;
    switched on in folder one, the next package is signed;
  * each zip holds its four entries in order, with their own permissions;
    the hash file beside it is what `sha256sum -c` reads and matches it,
    and both files are world-readable (0644) under any umask;
  * the players' readme is UTF-8 with a byte-order mark and CRLF line ends;
    every key it names (regedit's path too), the four values and the GUID
    are strings the built executable holds, so it cannot drift from what
    the program writes; its reg commands name the program's lobby key (the
    import, the file the export wrote; a query, also the game's App Paths
    key), and carry /reg:32 but for Windows XP's forms of the same commands;
  * the package step refuses notices that no longer match the link map,
    and scripts/notices.py a link map with a runtime part it has no rule
    for, naming that part; neither writes its output then;
  * a time-stamp server given to the build reaches the signing command.

Usage: check_release.py --cmake CMAKE --source DIR --zip-name NAME
"""

import argparse
import codecs
import hashlib
import os
import re
import shlex
import shutil
import stat
import subprocess
import sys
import tempfile
import types
import unittest
import zipfile

EXE = "lobbyfix.exe"
README, NOTICES = "README-RU.txt", "THIRD-PARTY-NOTICES.txt"
# The zip's entries in order, each with its Unix mode: a regular file, the
# executable runnable, the texts not.
LAYOUT = [(EXE, 0o100755), (EXE + ".sha256", 0o100644), (README, 0o100644), (NOTICES, 0o100644)]
# The values the program writes; the readme tells players each of them.
VALUES = ["CurrentDirectory", "Path", "File", "Guid"]
# The key the readme's commands check, back up, undo and restore.
LOBBY_KEY = "\\Software\\Microsoft\\DirectPlay\\Applications\\RZN"
# The key whose Path value the readme has players query for the game's folder.
APP_PATHS_KEY = "\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vrk.exe"
# Windows' own words that the players' readme quotes. Every other «quote» in
# it, and every "quote" in README.md, is a text of the program's own. Add a
# Windows text here only in the exact words that Windows shows.
WINDOWS_TEXTS = {
    "ОК", "Отмена", "Да", "Разрешить", "Пуск", "Запустить", "Подробнее", "Выполнить в любом случае",
    "Система Windows защитила ваш компьютер", "Контроль учетных записей", "Контроль учетных записей пользователей",
    "Издатель: Неизвестно", "Командная строка", "cmd.exe", "Запуск от имени администратора",
    "Включение или отключение компонентов Windows", "Компоненты прежних версий", "DirectPlay",
}
args = None


def run(command, cwd=None, env=None, umask=None):
    def set_umask():
        if umask is not None:
            os.umask(umask)

    result = subprocess.run(command, cwd=cwd, env=env, preexec_fn=set_umask, capture_output=True, text=True)
    if result.returncode != 0:
        raise AssertionError("%s failed (%d):\n%s%s" % (" ".join(command), result.returncode,
                                                         result.stdout[-4000:], result.stderr[-4000:]))
    return result.stdout


class Folder:
    """A build folder of its own, built under one time zone and umask."""

    def __init__(self, path, tz, umask):
        self.path, self.umask = path, umask
        self.env = dict(os.environ, TZ=tz)

    def package(self, *definitions):
        """Configures with the definitions, builds the package target and
        returns what it made."""
        run([args.cmake, "--preset", "windows", "-B", self.path, *definitions], cwd=args.source, env=self.env,
            umask=self.umask)
        out = run([args.cmake, "--build", self.path, "--target", "package", "-j2"], env=self.env, umask=self.umask)
        archive = os.path.join(self.path, args.zip_name)
        made = types.SimpleNamespace(out=out, exe=read(os.path.join(self.path, EXE)), raw=read(archive),
                                     zip_hash=read(archive + ".sha256"))
        # The zip and its hash file beside it are published as they are.
        made.modes = [stat.S_IMODE(os.stat(path).st_mode) for path in (archive, archive + ".sha256")]
        with zipfile.ZipFile(archive) as z:
            made.layout = [(info.filename, info.external_attr >> 16) for info in z.infolist()]
            made.entries = {name: z.read(name) for name, _ in made.layout}
        return made


def read(path):
    with open(path, "rb") as f:
        return f.read()


def signing(p12, password):
    return ["-DLOBBYFIX_SIGN_PKCS12=" + p12, "-DLOBBYFIX_SIGN_PASSWORD_FILE=" + password]


NO_SIGNING = ["-DLOBBYFIX_SIGN_PKCS12=", "-DLOBBYFIX_SIGN_PASSWORD_FILE="]


class Release(unittest.TestCase):

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="lobbyfix-release-")
        self.addCleanup(shutil.rmtree, self.work, True)

    def make_certificate(self):
        cert, key = os.path.join(self.work, "cert.pem"), os.path.join(self.work, "key.pem")
        p12, password = os.path.join(self.work, "cert.p12"), os.path.join(self.work, "password.txt")
        with open(password, "w") as f:
            f.write("release test\n")
        run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert, "-days", "2",
             "-subj", "/CN=lobbyfix release test", "-addext", "keyUsage=critical,digitalSignature",
             "-addext", "extendedKeyUsage=codeSigning"])
        run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out", p12, "-passout", "file:" + password])
        return cert, p12, password

    def write(self, name, data):
        path = os.path.join(self.work, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def assert_signed(self, made, unsigned, cert, label):
        self.assertEqual(LAYOUT, made.layout, label)
        entries = made.entries
        signed = entries[EXE]
        self.assertTrue(signed != unsigned, label + ": the zipped executable is not signed")
        self.assertEqual("%s  %s\n" % (hashlib.sha256(signed).hexdigest(), EXE), entries[EXE + ".sha256"].decode(),
                         label + ": the .sha256 entry does not match the zipped executable")
        path = self.write(label + "-signed.exe", signed)
        verified = run(["osslsigncode", "verify", "-in", path, "-CAfile", cert])
        self.assertTrue(re.search(r"digest algorithm\s*:\s*sha256", verified, re.I),
                        label + ": the signature's digest is not SHA-256")
        stripped = os.path.join(self.work, label + "-stripped.exe")
        run(["osslsigncode", "remove-signature", "-in", path, "-out", stripped])
        with open(stripped, "rb") as f:
            self.assertTrue(f.read() == unsigned, label + ": without its signature it is not the unsigned build")

    def assert_readme_agrees(self, readme, exe):
        self.assertTrue(readme.startswith(codecs.BOM_UTF8), "the readme has no UTF-8 byte-order mark")
        text = readme[len(codecs.BOM_UTF8):].decode("utf-8")
        self.assertTrue(args.zip_name in text, "the readme does not name the zip")

        def held(string, flags=0):
            # The image holds its key paths, values and GUID as NUL-terminated strings.
            return re.search(b"\0" + re.escape(string.encode("ascii")) + b"\0", exe, flags) is not None

        # Keys are named as "HKLM\..." in commands, or as regedit shows them,
        # the 32-bit view of 64-bit Windows under WOW6432Node; each is a key
        # the program opens (registry paths ignore case).
        paths = ["".join(path) for path in re.findall(r'"HKLM(\\[^"]+)"|HKEY_LOCAL_MACHINE(\\\S+)', text)]
        self.assertEqual(len(re.findall(r"\\Software\\", text, re.I)), len(paths), "a key named another way")
        self.assertTrue(any("\\WOW6432Node\\" in path for path in paths), "no regedit path for 64-bit Windows")
        for path in paths:
            key = re.sub(r"^\\SOFTWARE\\WOW6432Node(?=\\)", r"\\Software", path)
            self.assertTrue(held(key, re.I), "the program uses no key HKLM" + path)
        for value in VALUES:
            self.assertTrue(held(value), "the program writes no value " + value)
            self.assertTrue(re.search(r"\b%s\b" % value, text), "the readme does not name the value " + value)
        guids = re.findall(r"\{[0-9A-Fa-f-]{36}\}", text)
        self.assertTrue(guids and all(held(guid) for guid in guids), "a GUID that is not the program's: %s" % guids)

        # Every reg command names the lobby key, but the import, which names
        # the file that the export wrote, and a query may name the game's
        # App Paths key, to show its folder. On 64-bit Windows and under Wine
        # each carries /reg:32, so that it sees what the 32-bit programs
        # see; only Windows XP's forms, the same commands, go without it.
        commands = [shlex.split(line) for line in text.splitlines() if re.match(r"\s*(wine )?reg ", line)]
        backups = {words[-2] for words in commands if "export" in words and "/reg:32" in words}
        switched = [words for words in commands if "/reg:32" in words]
        for words in commands:
            verb, target = words[words.index("reg") + 1:words.index("reg") + 3]
            line = " ".join(words)
            keys = ["HKLM" + LOBBY_KEY] + (["HKLM" + APP_PATHS_KEY] if verb == "query" else [])
            self.assertIn(target, backups if verb == "import" else keys, line)
            if "/reg:32" not in words:
                self.assertNotEqual("wine", words[0], "a Wine command without /reg:32: " + line)
                self.assertIn(words, [[w for w in twin if w != "/reg:32"] for twin in switched],
                              "a command for 64-bit Windows without /reg:32: " + line)
        self.assert_quotes_are_shown(text, exe)

    def assert_quotes_are_shown(self, text, exe):
        """Each box text that a doc quotes is one the program shows, or a
        whole line of one: Windows-1251 bytes that are not part of a longer
        text. Or it is a registry error message filled in from a template's
        one source."""
        with open(os.path.join(args.source, "src", "registry", "MessageTemplates.h")) as f:
            templates = re.findall(r'^#define TEXT_\w+ "(.*)"$', f.read(), re.M)
        with open(os.path.join(args.source, "README.md"), encoding="utf-8") as f:
            markdown = re.sub(r"```.*?```|`[^`]*`", "", f.read(), flags=re.S)
        unknown = []
        for doc, quotes, others in [("release/" + README, re.findall("«(.*?)»", text, re.S), WINDOWS_TEXTS),
                                    ("README.md", re.findall('"(.*?)"', markdown, re.S), set())]:
            for quote in sorted({" ".join(q.split()) for q in quotes} - others):
                data = quote.encode("cp1251", "replace")
                if not (re.search(rb"(?:^|[^\x20-\xff]) *" + re.escape(data) + rb"[\0\n]", exe) or any(
                        re.fullmatch(re.escape(t).replace("%s", "[^']*"), quote) for t in templates)):
                    unknown.append("%s quotes %r" % (doc, quote))
        self.assertEqual([], unknown, "texts that lobbyfix.exe does not show")

    def refusals(self, folder):
        """(what is wrong, the command that must refuse it, what it must
        say, what it must not write), over a folder's build."""
        scripts = os.path.join(args.source, "scripts")
        exe, link_map = os.path.join(folder.path, EXE), os.path.join(folder.path, "lobbyfix.map")
        # Notices that no longer match the link map: a source tree whose
        # notices lack their last line.
        stale = os.path.join(self.work, "stale-source")
        shutil.copytree(os.path.join(args.source, "release"), os.path.join(stale, "release"))
        notices = read(os.path.join(stale, "release", NOTICES))
        self.write(os.path.join(stale, "release", NOTICES), notices.rstrip(b"\n").rsplit(b"\n", 1)[0])
        stale_zip = os.path.join(self.work, "stale.zip")
        # A link map that also takes in a runtime part no rule knows: GCC's
        # floating-point conversions carry notices of their own.
        with open(link_map, encoding="utf-8", errors="replace") as f:
            text = f.read()
        member = "%s(floating_to_chars.o)" % re.search(r"^(/\S+/libstdc\+\+\.a)\(", text, re.M)[1]
        unknown_map = self.write("unknown.map", text.replace("\n", "\n" + member + "\n", 1).encode())
        unknown_notices = os.path.join(self.work, "unknown-notices.txt")
        nowhere, refused = os.path.join(self.work, "nowhere", "cert.p12"), os.path.join(self.work, "refused")
        return [
            ("a certificate that is not there", [args.cmake, "--preset", "windows", "-B", refused,
                                                 *signing(nowhere, os.path.join(self.work, "password.txt"))],
             "LOBBYFIX_SIGN_PKCS12: there is no file " + nowhere, os.path.join(refused, "Makefile")),
            ("stale notices", [sys.executable, os.path.join(scripts, "package.py"), "--executable", exe,
                               "--map", link_map, "--archive", stale_zip, "--source", stale],
             "does not match the runtime parts linked into", stale_zip),
            ("an unknown runtime part", [sys.executable, os.path.join(scripts, "notices.py"), "--map", unknown_map,
                                         "--output", unknown_notices],
             "libstdc++.a(floating_to_chars.o)", unknown_notices),
        ]

    def test_two_clean_builds_give_the_same_package_and_signing_changes_only_the_signature(self):
        cert, p12, password = self.make_certificate()
        one = Folder(os.path.join(self.work, "one"), "UTC", 0o022)
        two = Folder(os.path.join(self.work, "a second", "build folder"), "Pacific/Kiritimati", 0o077)

        unsigned = one.package(*NO_SIGNING)
        exe_one = unsigned.exe
        self.assertEqual(LAYOUT, unsigned.layout)
        self.assertTrue(unsigned.entries[EXE] == exe_one, "the unsigned zip does not carry lobbyfix.exe")
        self.assertIn("unsigned", unsigned.out)
        self.assertEqual("%s  %s\n" % (hashlib.sha256(unsigned.raw).hexdigest(), args.zip_name),
                         unsigned.zip_hash.decode(), "the hash file beside the zip does not match it")
        for name in (README, NOTICES):
            self.assertTrue(b"\n" not in unsigned.entries[name].replace(b"\r\n", b""),
                            name + " has a line end other than CRLF")
        self.assert_readme_agrees(unsigned.entries[README], exe_one)
        for folder in (args.source, one.path, two.path):
            self.assertTrue(os.fsencode(os.path.realpath(folder)) not in exe_one, "the image names " + folder)
        for wrong, command, says, unwritten in self.refusals(one):
            with self.subTest(refused=wrong):
                result = subprocess.run(command, cwd=args.source, capture_output=True, text=True)
                self.assertNotEqual(0, result.returncode, wrong + " was not refused")
                self.assertIn(says, " ".join(result.stderr.split()))  # CMake wraps its messages
                self.assertFalse(os.path.exists(unwritten), unwritten + " was written")

        signed = two.package(*signing(p12, password))
        self.assertTrue(signed.exe == exe_one, "two clean builds made different executables")
        self.assertIn("signed with", signed.out)
        self.assertIn("certificate expires (set LOBBYFIX_SIGN_TIMESTAMP_URL)", signed.out)
        self.assert_signed(signed, exe_one, cert, "two")

        # Signing off in the signed folder: the next package is the unsigned one.
        again = two.package(*NO_SIGNING)
        self.assertTrue(again.exe == exe_one, "the rebuilt executable changed")
        self.assertTrue(again.raw == unsigned.raw, "two clean builds made different zips")
        self.assertEqual(unsigned.zip_hash, again.zip_hash, "two clean builds wrote different hash files")
        for made in (unsigned, again):
            self.assertEqual([0o644, 0o644], made.modes, "the zip or its hash file is not world-readable")

        # Signing on in the unsigned folder, with a time-stamp server: the
        # next package is signed, and the server reaches the signing tool,
        # here a wrapper that records its arguments and signs without it.
        record, url = os.path.join(self.work, "osslsigncode.args"), "http://timestamp.invalid/rfc3161"
        wrapper = self.write("osslsigncode", (WRAPPER % (sys.executable, record, shutil.which("osslsigncode")))
                             .encode())
        os.chmod(wrapper, 0o755)
        stamped = one.package(*signing(p12, password), "-DLOBBYFIX_SIGN_TIMESTAMP_URL=" + url,
                              "-DLOBBYFIX_OSSLSIGNCODE=" + wrapper)
        self.assert_signed(stamped, exe_one, cert, "one")
        with open(record) as f:
            self.assertIn("-ts %s " % url, f.read(), "the time-stamp server did not reach the signing command")
        self.assertNotIn("no time-stamp server", stamped.out)


# Stands in for osslsigncode: records its arguments, then signs with the
# real one without the time-stamp server, which this machine cannot reach.
WRAPPER = """#!%s
import os, sys
argv = sys.argv[1:]
open(%r, "w").write(" ".join(argv) + " ")
if "-ts" in argv:
    del argv[argv.index("-ts"):argv.index("-ts") + 2]
os.execv(%r, ["osslsigncode"] + argv)
"""


def main():
    global args
    parser = argparse.ArgumentParser()
    parser.add_argument("--cmake", default="cmake")
    parser.add_argument("--source", required=True)
    parser.add_argument("--zip-name", required=True)
    args, rest = parser.parse_known_args()
    for tool in ("openssl", "osslsigncode"):
        if shutil.which(tool) is None:
            sys.exit(tool + " is missing: run scripts/install-deps.sh")
    unittest.main(argv=[sys.argv[0], "-v"] + rest)


if __name__ == "__main__":
    main()
