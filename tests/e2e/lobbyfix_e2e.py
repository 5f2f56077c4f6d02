#!/usr/bin/env python3
"""End-to-end scenarios: the shipped lobbyfix.exe in a throwaway Wine prefix.

  lobbyfix_e2e.py list                      names of the scenarios
  lobbyfix_e2e.py setup   --prefix P --driver D --tool T
  lobbyfix_e2e.py run NAME --prefix P --driver D --tool T
  lobbyfix_e2e.py cleanup --prefix P --driver D --tool T

setup makes a fresh 64-bit (WoW64) prefix, where the 32-bit tool sees the
32-bit registry view as on a player's 64-bit Windows, with a persistent
wineserver and Wine's null display driver; every scenario then starts from a
machine without the game's App Paths entry, without its lobby registration
and without game files, sets up what it needs, runs the tool through the
driver and checks the boxes, the exit status, the registry and what the
DirectPlay lobby lists; cleanup stops the wineserver and removes the prefix
(set LOBBYFIX_KEEP_PREFIX=1 to keep it).
"""

import argparse
import os
import re
import shlex
import shutil
import subprocess
import sys
import unittest
import uuid

# Nothing is written into the source tree, not even compiled bytecode.
sys.dont_write_bytecode = True
SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(SOURCE, "tests", "support"))
sys.path.insert(0, os.path.join(SOURCE, "scripts"))
import package  # noqa: E402
import winedriver  # noqa: E402
from winedriver import REG_BINARY, REG_DWORD, REG_EXPAND_SZ, REG_SZ, Value  # noqa: E402

APP_PATHS = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vrk.exe"
APPLICATIONS = "Software\\Microsoft\\DirectPlay\\Applications"
LOBBY = APPLICATIONS + "\\RZN"
# Where a 64-bit program finds what 32-bit programs keep under HKLM\Software.
LOBBY_OF_32BIT_PROGRAMS = "Software\\Wow6432Node\\Microsoft\\DirectPlay\\Applications\\RZN"
WINE_DEBUG = "Software\\Wine\\Debug"
# Wine's loader of 64-bit programs (Debian keeps it off PATH).
WINE64 = shutil.which("wine64") or "/usr/lib/wine/wine64"
DP_OK = 0
GAME = "C:\\Games\\Dunmarsh"
GUID = "{5E7D19A2-3C84-4f0b-9A61-2B0F47C8E3D5}"
# Where the players' readme has the player type the game's folder.
FOLDER = "<папка>"

# The boxes as the user reads them. "c" before "игрой" is the Latin letter,
# the third letter of "Arсade" the Cyrillic one (U+0441).
QUESTION_CAPTION = "Игра: Dunmarsh"
QUESTION_TEXT = ("Устранение проблемы \u0063 игрой в интернет\n"
                 + " " * 8 + "(GameSpy Ar\u0441ade не находит игру)\n"
                 + "\n"
                 + " " * 18 + "Устранить проблему?")
SUCCESS_CAPTION = "Успех"
SUCCESS_TEXT = (" " * 7 + "Проблема успешно устранена\n"
                + " " * 14 + "Приятной вам игры!\n"
                + "\n"
                + "Посетите наш сайт в сети интернет\n"
                + " " * 17 + "www.dunmarsh.ru")
ERROR_CAPTION = "Ошибка"
ERROR_TEXT = "Игра Dunmarsh не установлена на компьютере."

IDOK, IDCANCEL = 1, 2
OK_CANCEL = [IDOK, IDCANCEL]
OK_ONLY = [IDOK]

CONFIG = {}


def sz(text):
    """REG_SZ data as the tool writes it: the text's Windows-1251 bytes and a NUL."""
    return Value(REG_SZ, len(text.encode("cp1251")) + 1, text.encode("cp1251") + b"\0")


def registration(folder):
    return {
        "CurrentDirectory": sz(folder),
        "Path": sz(folder),
        "File": sz("VRK.exe"),
        "Guid": sz(GUID),
    }


def readme_steps(part):
    """What the players' readme, as the zip carries it, has a player do, in
    its order: in its Windows sections ("windows"), where the tool runs at
    the run section's heading; in its section for a Windows that will not
    run the tool, which does the tool's work by hand ("by hand"); or in its
    Linux block ("linux"). Each step is ("run", None), or a command line as
    the player types it, with its verb: a reg command with /reg:32, or dir.
    Windows XP's forms are left out: Wine's 64-bit reg needs /reg:32."""
    readme = package.text_entry(os.path.join(SOURCE, "release", "README-RU.txt"), bom=True)
    steps = {"windows": [], "by hand": [], "linux": []}
    into = steps["windows"]
    for line in readme.decode("utf-8-sig").splitlines():
        heading = re.match(r"\d+\. (.*)", line)
        if heading:
            into = steps["linux" if heading[1].startswith("LINUX")
                         else "by hand" if heading[1].startswith("ЕСЛИ WINDOWS НЕ") else "windows"]
        if heading and heading[1] == "ЗАПУСК" or line.strip() == "wine lobbyfix.exe":
            into.append(("run", None))
        elif re.match(r"\s*(wine )?reg ", line) and "/reg:32" in line or re.match(r"\s*dir ", line):
            into.append((re.match(r"\s*(?:wine )?(?:reg )?(\w+)", line)[1], line.strip()))
    return steps[part]


class Scenarios(unittest.TestCase):
    """Each test is one run (or two) of the tool on a machine set up for it."""

    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.prefix = winedriver.Prefix(CONFIG["prefix"], CONFIG["driver"])
        cls.tool = winedriver.windows_path(CONFIG["tool"])

    # ---- machine set-up ---------------------------------------------------

    def setUp(self):
        for path in ("Games", "vrk.exe", "Игры"):
            target = self.prefix.drive_c(path)
            if os.path.isdir(target):
                shutil.rmtree(target)
            elif os.path.lexists(target):
                os.remove(target)
        self.script = winedriver.Script()
        self.script.reg_delete("HKLM", APP_PATHS).reg_delete("HKLM", APPLICATIONS)

    def install_file(self, windows_path, stamp=None):
        """Puts a stub game executable at C:\\...; stamp is a `touch -d` date."""
        self.assertTrue(windows_path.startswith("C:\\"))
        target = self.prefix.drive_c(*windows_path[3:].split("\\"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as out:
            out.write(b"MZ stub of the game executable\n")
        if stamp is not None:
            subprocess.run(["touch", "-d", stamp, target], check=True)
        return target

    def set_path(self, data, reg_type=REG_SZ):
        """Sets the folder value: a text as Windows-1251 with a NUL, or raw bytes."""
        if isinstance(data, str):
            data = data.encode("cp1251") + b"\0"
        self.script.reg_set("HKLM", APP_PATHS, "Path", reg_type, data)

    def install_game(self, folder=GAME, stamp=None):
        target = self.install_file(folder + "\\vrk.exe", stamp)
        self.set_path(folder)
        return target

    def queue_run(self, actions=("ok", "ok"), dumps=()):
        """Adds one run of the tool, answering its boxes in turn. After it come
        a dump of each HKLM (path, view64) in dumps, a dump of the lobby key
        (always the last dump) and the lobby's list of applications."""
        self.script.run(self.tool, "C:\\Games", list(actions))
        for path, view64 in dumps:
            self.script.reg_dump("HKLM", path, view64)
        self.script.reg_dump("HKLM", LOBBY)
        self.script.lobby()

    def run_tool(self, *runs, locale="ru_RU.UTF-8", zone="UTC", dumps=()):
        """Adds a run for each list of answers (one run of OK, OK if none) and
        drives them all; dumps go after the last run."""
        runs = runs or [("ok", "ok")]
        for number, actions in enumerate(runs, start=1):
            self.queue_run(actions, dumps if number == len(runs) else ())
        return self.drive(locale, zone)

    def drive(self, locale="ru_RU.UTF-8", zone="UTC"):
        """Drives the script queued so far and returns the report."""
        os.makedirs(self.prefix.drive_c("Games"), exist_ok=True)
        report = self.prefix.drive(self.script, self.id().split(".")[-1], locale=locale, zone=zone)
        self.assertEqual([], report.timeouts, "a box or the tool timed out:\n" + "\n".join(report.lines))
        self.assertEqual([], report.errors, "\n".join(report.lines))
        self.assertTrue(report.done, "the driver did not finish:\n" + "\n".join(report.lines) + report.log)
        return report

    # ---- checks -----------------------------------------------------------

    def assertBox(self, box, caption, text, buttons, icon, ansi=True):
        self.assertEqual(caption, box.caption)
        self.assertEqual(text, box.text)
        self.assertEqual(buttons, sorted(box.buttons))
        self.assertEqual(icon, box.icon)
        if ansi:
            # Read back through the ANSI calls of a Russian system, the box
            # holds exactly the Windows-1251 bytes of its texts.
            self.assertEqual(caption.encode("cp1251"), box.caption_ansi)
            self.assertEqual(text.encode("cp1251"), box.text_ansi)

    def assertQuestion(self, box, **kw):
        self.assertBox(box, QUESTION_CAPTION, QUESTION_TEXT, OK_CANCEL, False, **kw)

    def assertSuccess(self, box, **kw):
        self.assertBox(box, SUCCESS_CAPTION, SUCCESS_TEXT, OK_CANCEL, False, **kw)

    def assertError(self, box, **kw):
        self.assertBox(box, ERROR_CAPTION, ERROR_TEXT, OK_ONLY, True, **kw)

    def assertLobby(self, report, listed):
        """The lobby answered the last enumeration with DP_OK and lists RZN
        with the game's GUID, or does not list it at all."""
        self.assertTrue(report.lobbies, "the lobby could not be asked:\n" + "\n".join(report.lines))
        lobby = report.lobbies[-1]
        self.assertEqual(DP_OK, lobby.result, lobby)
        self.assertEqual(uuid.UUID(GUID) if listed else None, lobby.guid("RZN"), lobby)

    def assertNotInstalled(self, report):
        """Question answered, then the error box, status 1, nothing registered."""
        self.assertEqual(2, len(report.boxes), report.boxes)
        self.assertQuestion(report.boxes[0])
        self.assertError(report.boxes[1])
        self.assertEqual(1, report.exit_code)
        self.assertIsNone(report.dumps[-1], "the lobby key was created")
        self.assertLobby(report, listed=False)

    def assertLaunched(self, report):
        """The lobby started the game once: <Path>\\<File> in <CurrentDirectory>."""
        self.assertEqual(1, len(report.launches), report.lines)
        launch = report.launches[0]
        self.assertEqual(DP_OK, launch.result, launch)
        self.assertEqual((GAME + "\\VRK.exe").lower(), launch.started.get("module", "").lower(), launch)
        self.assertEqual(GAME, launch.started.get("folder"), launch)

    def assertRegistered(self, report, folder, exit_code=0):
        self.assertEqual(2, len(report.boxes), report.boxes)
        self.assertQuestion(report.boxes[0])
        self.assertSuccess(report.boxes[1])
        self.assertEqual(exit_code, report.exit_code)
        self.assertEqual(registration(folder), report.dumps[-1])
        self.assertLobby(report, listed=True)

    # ---- the question -----------------------------------------------------

    def test_cancel_on_question(self):
        self.install_game()
        report = self.run_tool(["cancel"])
        self.assertEqual(1, len(report.boxes))
        self.assertQuestion(report.boxes[0])
        self.assertEqual(1, report.exit_code)
        self.assertIsNone(report.dumps[-1])
        self.assertLobby(report, listed=False)

    def test_close_or_escape_on_question(self):
        self.install_game()
        report = self.run_tool(["escape"], ["close"])
        self.assertEqual(2, len(report.boxes))
        for box in report.boxes:
            self.assertQuestion(box)
        self.assertEqual([1, 1], report.exit_codes)
        self.assertEqual([None, None], report.dumps)

    # ---- the game is not there --------------------------------------------

    def test_missing_app_paths_key(self):
        self.install_file(GAME + "\\vrk.exe")
        report = self.run_tool(dumps=[(APP_PATHS, False)])
        self.assertNotInstalled(report)
        self.assertIsNone(report.dumps[-2], "the App Paths key was created")

    def test_app_paths_key_without_full_access(self):
        # The user may read the key but not control it fully: every open asks
        # for full access, so the game counts as not installed.
        self.install_game()
        self.script.reg_deny("HKLM", APP_PATHS)
        self.assertNotInstalled(self.run_tool())

    def test_missing_executable(self):
        os.makedirs(self.prefix.drive_c("Games", "Dunmarsh"))
        self.set_path(GAME)
        self.assertNotInstalled(self.run_tool(["ok", "close"]))

    def test_directory_named_like_the_executable(self):
        os.makedirs(self.prefix.drive_c("Games", "Dunmarsh", "vrk.exe"))
        self.set_path(GAME)
        self.assertNotInstalled(self.run_tool())

    def test_executable_written_before_1980(self):
        self.install_game(stamp="1979-06-15 12:00:00")
        self.assertNotInstalled(self.run_tool())

    def test_executable_written_in_1980_by_the_local_clock_only(self):
        # 22:30 UTC on 31 December 1979 is 01:30 on 1 January 1980 in Moscow
        # (UTC+3): the stamp is taken in local time, so there the game counts
        # as installed.
        self.install_game(stamp="1979-12-31 22:30:00 UTC")
        self.assertRegistered(self.run_tool(zone="Europe/Moscow"), GAME)

    def test_executable_written_after_2107(self):
        # Windows cannot hold such a time as an MS-DOS stamp, so the game
        # counts as not installed there. Known Wine difference: Wine packs
        # the time anyway, and the tool goes on to register the game.
        self.install_game(stamp="2110-06-15 12:00:00")
        self.assertRegistered(self.run_tool(), GAME)

    def test_lobby_key_that_cannot_be_created(self):
        # The DirectPlay application list is a volatile key, below which the
        # registry makes no lasting key: creating the game's key fails.
        # (Wine does not refuse a create below a key that merely lacks the
        # right to make subkeys, so that way of refusing cannot be shown here.)
        self.install_game()
        self.script.reg_delete("HKLM", APPLICATIONS)
        self.script.reg_key("HKLM", APPLICATIONS, volatile=True)
        self.assertNotInstalled(self.run_tool())

    def test_lobby_key_without_full_access(self):
        self.install_game()
        self.script.reg_set("HKLM", LOBBY, "Path", REG_SZ, b"C:\\Old\0")
        self.script.reg_deny("HKLM", LOBBY)
        report = self.run_tool()
        self.assertEqual(2, len(report.boxes))
        self.assertError(report.boxes[1])
        self.assertEqual(1, report.exit_code)
        self.assertEqual({"Path": Value(REG_SZ, 7, b"C:\\Old\0")}, report.dumps[-1])

    # ---- the game is registered -------------------------------------------

    def test_success_ok(self):
        self.install_game()
        # Read by a 64-bit program, the registration is found only among
        # those of 32-bit programs, which the 32-bit lobby reads.
        report = self.run_tool(dumps=[(LOBBY_OF_32BIT_PROGRAMS, True), (LOBBY, True)])
        self.assertRegistered(report, GAME)
        self.assertEqual([registration(GAME), None], report.dumps[-3:-1])

    def test_success_cancel_or_close_keeps_the_registration(self):
        self.install_game()
        report = self.run_tool(["ok", "close"], ["ok", "cancel"])
        self.assertEqual(4, len(report.boxes))
        self.assertSuccess(report.boxes[1])
        self.assertSuccess(report.boxes[3])
        self.assertEqual([1, 1], report.exit_codes)
        self.assertEqual([registration(GAME)] * 2, report.dumps)

    def test_lobby_launches_the_game(self):
        # What the lobby service does when a match begins: DirectPlay starts
        # <Path>\<File> in <CurrentDirectory>. The game here is the stand-in,
        # which reports how it was started.
        target = self.install_game()
        shutil.copy(CONFIG["game"], target)
        self.queue_run()
        # Wine's DirectPlay reads a CommandLine value and crashes without it;
        # Windows treats it as optional, so the tool does not write it and
        # Wine players add it, empty, as the players' readme says.
        self.script.reg_set("HKLM", LOBBY, "CommandLine", REG_SZ, b"\0")
        self.script.launch(GUID)
        report = self.drive()
        self.assertRegistered(report, GAME)
        self.assertLaunched(report)

    def test_the_players_readme_on_windows(self):
        self.follow_readme("windows", ["export", "run", "query", "delete", "import"])

    def test_the_players_readme_on_linux(self):
        self.follow_readme("linux", ["export", "run", "add", "query", "delete", "import"])

    def test_the_players_readme_by_hand(self):
        # The tool's work done with the readme's own lines, for a plain
        # folder and for one that ends with a backslash, which the player
        # doubles as the readme says: a lone one would escape the closing
        # quote. Each gives exactly the key the tool writes for that folder.
        steps = readme_steps("by hand")
        self.assertEqual(["query", "dir", "add", "add", "add", "add"], [verb for verb, _ in steps])
        for folder in (GAME, GAME + "\\"):
            self.script = winedriver.Script().reg_delete("HKLM", APPLICATIONS)
            self.install_game(folder)
            self.drive()
            for verb, line in steps:
                if verb == "query":
                    shown = re.search(r"(?m)^\s+Path\s+REG_SZ {4}(.*?)\r?$", self.readme(line))
                    queried = shown and shown[1]
                    self.assertEqual(folder, queried, "the query does not show the folder")
                    typed = queried + "\\" if queried.endswith("\\") else queried
                    continue
                printed = self.readme(line.replace(FOLDER, typed))
                if verb == "dir":
                    # A listed file: its size, then its name (the echoed command has the name too).
                    self.assertRegex(printed, r"(?m)\d +vrk\.exe\r?$", "dir does not list the game's executable")
            self.script = winedriver.Script().reg_dump("HKLM", LOBBY).reg_delete("HKLM", APPLICATIONS)
            self.queue_run()
            report = self.drive()
            self.assertEqual(0, report.exit_code)
            by_hand, written = report.dumps
            self.assertEqual(written, by_hand, "by hand in %s, not what the tool writes" % folder)

    def follow_readme(self, part, verbs):
        """Does what the readme says, in its order, on a machine whose lobby
        key holds a value of its own: the backup, the tool's run, the check,
        under Wine the CommandLine value (then the lobby starts the game),
        the undo, and the restore of what was there before the run."""
        steps = readme_steps(part)
        self.assertCountEqual(verbs, [verb for verb, _ in steps])
        backup = shlex.split(next(line for verb, line in steps if verb == "export"))[-2]
        self.assertTrue(backup.startswith("C:\\"), backup)
        backup = self.prefix.drive_c(*backup[3:].split("\\"))
        if os.path.exists(backup):
            os.remove(backup)
        shutil.copy(CONFIG["game"], self.install_game())
        own = {"Launcher": Value(REG_SZ, 10, b"lobby.exe\0")}
        self.script.reg_set("HKLM", LOBBY, "Launcher", REG_SZ, b"lobby.exe\0")
        self.drive()
        for verb, line in steps:
            if verb == "run":
                self.script = winedriver.Script()
                self.queue_run()
                report = self.drive()
                self.assertEqual(0, report.exit_code)
                self.assertLessEqual(dict(registration(GAME), **own).items(), report.dumps[-1].items())
                continue
            printed = self.readme(line)
            if verb == "query":
                for name, value in registration(GAME).items():
                    self.assertRegex(printed, r"(?m)^\s+%s\s+REG_SZ\s+%s\s*$"
                                     % (name, re.escape(value.data[:-1].decode())))
            elif verb == "add":
                # Checked before the launch: without it in the lobby's view,
                # Wine's DirectPlay crashes and its debugger would hold the run.
                self.assertIn("CommandLine", self.lobby_key(), "the CommandLine value is not where the lobby reads it")
                self.script = winedriver.Script().launch(GUID)
                self.assertLaunched(self.drive())
            elif verb == "delete":
                self.assertIsNone(self.lobby_key(), "the undo left the key")
            elif verb == "import":
                self.assertEqual(own, self.lobby_key(), "the restore did not bring back exactly what was there before")

    def readme(self, line):
        """Runs one of the readme's command lines in the prefix as the player
        types it, and returns what it printed. A Windows line goes unchanged
        to the command prompt, in a batch file, so that reg takes its quotes
        and backslashes apart as on Windows; a Linux line is split into
        words as a shell does, and wine hands them over. Either runs Wine's
        64-bit programs, as the command prompt of 64-bit Windows does, and as
        wine does in builds where it starts 64-bit programs in a 64-bit
        prefix; there only /reg:32 reaches the 32-bit programs' view.
        (Debian's wine starts the 32-bit reg, which sees that view anyway.)"""
        log = self.prefix.drive_c("driver-work", "readme.log")
        if line.startswith("wine "):
            command = [WINE64] + shlex.split(line)[1:]
        else:
            with open(self.prefix.drive_c("driver-work", "readme.bat"), "wb") as batch:
                batch.write(line.encode("cp866") + b"\r\n")
            command = [WINE64, "cmd", "/c", "C:\\driver-work\\readme.bat"]
        with open(log, "wb") as out:
            result = subprocess.run(command, env=self.prefix.env(), stdin=subprocess.DEVNULL, stdout=out,
                                    stderr=subprocess.STDOUT, timeout=winedriver.WINE_TIMEOUT)
        with open(log, encoding="utf-8", errors="replace") as f:
            printed = f.read()
        self.assertEqual(0, result.returncode, line + ":\n" + printed)
        return printed

    def lobby_key(self):
        """The lobby key's values as the 32-bit lobby sees them, or None."""
        self.script = winedriver.Script().reg_dump("HKLM", LOBBY)
        return self.drive().dumps[-1]

    def test_executable_written_after_2044(self):
        # Its MS-DOS stamp is negative as a signed number, and still valid.
        self.install_game(stamp="2050-03-01 12:00:00")
        self.assertRegistered(self.run_tool(), GAME)

    def test_read_only_executable(self):
        os.chmod(self.install_game(), 0o444)
        self.assertRegistered(self.run_tool(), GAME)

    def test_folder_with_trailing_backslash(self):
        self.install_file(GAME + "\\vrk.exe")
        self.set_path(GAME + "\\")
        self.assertRegistered(self.run_tool(), GAME + "\\")

    def test_empty_path_without_root_executable(self):
        self.install_file(GAME + "\\vrk.exe")
        self.set_path(b"\0")
        self.assertNotInstalled(self.run_tool())

    def test_missing_path_value_without_root_executable(self):
        self.install_file(GAME + "\\vrk.exe")
        self.script.reg_set("HKLM", APP_PATHS, "", REG_SZ, GAME.encode() + b"\\vrk.exe\0")
        self.assertNotInstalled(self.run_tool())

    def test_empty_path_with_root_executable(self):
        # "\vrk.exe" names the file at the root of the current drive.
        self.install_file("C:\\vrk.exe")
        self.set_path(b"\0")
        self.assertRegistered(self.run_tool(), "")

    def test_missing_path_value_with_root_executable(self):
        self.install_file("C:\\vrk.exe")
        self.script.reg_key("HKLM", APP_PATHS)
        self.assertRegistered(self.run_tool(), "")

    def test_expandable_folder_used_literally(self):
        # The folder holds a percent reference that would lead elsewhere if
        # it were expanded; only the literal folder has the executable.
        literal = "C:\\Games\\%DUNMARSH_HOME%"
        self.install_file(literal + "\\vrk.exe")
        os.makedirs(self.prefix.drive_c("Games", "Elsewhere"))
        self.script.env("DUNMARSH_HOME", "Elsewhere")
        self.set_path(literal, REG_EXPAND_SZ)
        self.assertRegistered(self.run_tool(), literal)

    def test_cyrillic_folder(self):
        folder = "C:\\Игры\\Дюнмарш"
        self.install_game(folder)
        self.assertRegistered(self.run_tool(), folder)

    def test_second_run_leaves_the_same_registry(self):
        self.install_game()
        report = self.run_tool(["ok", "ok"], ["ok", "ok"])
        self.assertEqual([0, 0], report.exit_codes)
        self.assertEqual(registration(GAME), report.dumps[0])
        self.assertEqual(report.dumps[0], report.dumps[1])

    def test_existing_registration_is_overwritten_and_other_values_survive(self):
        self.install_game()
        self.script.reg_set("HKLM", LOBBY, "Path", REG_EXPAND_SZ, b"D:\\Old\0")
        self.script.reg_set("HKLM", LOBBY, "guid", REG_BINARY, b"\x01\x02")
        self.script.reg_set("HKLM", LOBBY, "Launcher", REG_SZ, b"lobby.exe\0")
        self.script.reg_set("HKLM", LOBBY, "Flags", REG_DWORD, b"\x07\0\0\0")
        report = self.run_tool()
        expected = registration(GAME)
        # Value names are case-insensitive: the old "guid" is replaced and
        # keeps its stored spelling.
        expected["guid"] = expected.pop("Guid")
        expected["Launcher"] = Value(REG_SZ, 10, b"lobby.exe\0")
        expected["Flags"] = Value(REG_DWORD, 4, b"\x07\0\0\0")
        self.assertEqual(0, report.exit_code)
        self.assertEqual(expected, report.dumps[-1])

    # ---- a registry failure ----------------------------------------------

    def test_path_of_wrong_type(self):
        self.install_file(GAME + "\\vrk.exe")
        self.set_path(b"\x01\0\0\0", REG_DWORD)
        report = self.run_tool()
        self.assertEqual(2, len(report.boxes), report.boxes)
        self.assertQuestion(report.boxes[0])
        self.assertBox(report.boxes[1], ERROR_CAPTION, "Invalid data type for 'Path'", OK_ONLY, True)
        self.assertEqual(2, report.exit_code)
        self.assertIsNone(report.dumps[-1])

    # ---- start-up hardening ------------------------------------------------

    def test_dll_search_limited_before_the_first_box(self):
        # Wine's relay trace of the tool's process, limited to two calls, over
        # a run without the game (question, error) and one with it (question,
        # success): each run limits the DLL search to System32
        # (LOAD_LIBRARY_SEARCH_SYSTEM32, 0x800) once, before its first box,
        # and every box has no owner and exactly its style: OK and Cancel
        # without an icon (1), or OK with the error icon (0x10). A box that
        # stayed above every other window (MB_TOPMOST, MB_SYSTEMMODAL) would
        # show here.
        self.addCleanup(self.prefix.drive, winedriver.Script().reg_delete("HKCU", WINE_DEBUG), "relay-cleanup")
        self.install_file(GAME + "\\vrk.exe")
        self.script.reg_set("HKCU", WINE_DEBUG, "RelayInclude", REG_SZ, b"SetDefaultDllDirectories;MessageBoxW\0")
        self.script.env("WINEDEBUG", "+relay")
        self.queue_run()
        self.set_path(GAME)
        report = self.run_tool()
        calls = re.findall(r"Call [\w.]+\.(SetDefaultDllDirectories|MessageBoxW)\((.*)\) ret=", report.log)
        # A box's four arguments as Wine shows them: the owner, the text and
        # the caption (each a pointer and its text, a long one cut short with
        # "..."), the style. The texts themselves are read from the boxes.
        box = re.compile(r'(\w+),\w+ L".*?"(?:\.\.\.)?,\w+ L".*?",(\w+)')
        seen = [(name, match.groups() if name == "MessageBoxW" and (match := box.fullmatch(args)) else args)
                for name, args in calls]
        search = ("SetDefaultDllDirectories", "00000800")
        ok_cancel, error = ("MessageBoxW", ("00000000", "00000001")), ("MessageBoxW", ("00000000", "00000010"))
        self.assertEqual([search, ok_cancel, error, search, ok_cancel, ok_cancel], seen)

    # ---- another system language ------------------------------------------

    def test_boxes_read_in_russian_under_an_english_locale(self):
        # First without the game's App Paths entry (the error box), then with it.
        self.install_file(GAME + "\\vrk.exe")
        self.queue_run()
        self.set_path(GAME)
        report = self.run_tool(locale="en_US.UTF-8")
        self.assertEqual(4, len(report.boxes))
        # Through the ANSI calls of an English system the Cyrillic letters
        # cannot be read; the Unicode texts must still be exact.
        self.assertQuestion(report.boxes[0], ansi=False)
        self.assertError(report.boxes[1], ansi=False)
        self.assertQuestion(report.boxes[2], ansi=False)
        self.assertSuccess(report.boxes[3], ansi=False)
        self.assertEqual([1, 0], report.exit_codes)
        self.assertEqual(registration(GAME), report.dumps[-1])

    # ---- resources ---------------------------------------------------------

    def test_resources_through_the_loader(self):
        self.script.resources(self.tool)
        report = self.prefix.drive(self.script, "resources")
        self.assertTrue(report.done, report.lines)
        templates = {
            65507: "Invalid data type for '%s'",
            65508: "Failed to set data for '%s'",
            65509: "Failed to get data for '%s'",
        }
        for number, text in templates.items():
            self.assertEqual((text, text.encode("ascii")), report.strings.get(number), number)
        self.assertEqual(["MAINICON", "1"], report.resources["icon_group"])
        manifest = bytes.fromhex(report.resources["manifest"][1]).decode("utf-8")
        self.assertEqual("1", report.resources["manifest"][0])
        self.assertIn("<assembly", manifest)
        self.assertEqual("lobbyfix", report.version.get("ProductName"))


def scenario_names():
    loader = unittest.TestLoader()
    return [name[len("test_"):] for name in loader.getTestCaseNames(Scenarios)]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("command", choices=["list", "setup", "run", "cleanup"])
    parser.add_argument("name", nargs="?")
    parser.add_argument("--prefix")
    parser.add_argument("--driver")
    parser.add_argument("--tool")
    parser.add_argument("--game", help="the stand-in game executable")
    args = parser.parse_args()

    if args.command == "list":
        print("\n".join(scenario_names()))
        return 0
    CONFIG.update(prefix=args.prefix, driver=args.driver, tool=args.tool, game=args.game)
    prefix = winedriver.Prefix(args.prefix, args.driver)
    if args.command == "setup":
        os.makedirs(os.path.dirname(os.path.abspath(args.prefix)), exist_ok=True)
        try:
            prefix.create(os.path.abspath(args.prefix) + ".setup.log")
        except winedriver.WineError as failure:
            print(failure, file=sys.stderr)
            return 1
        print("prefix ready: " + prefix.path)
        return 0
    if args.command == "cleanup":
        prefix.shutdown()
        if os.environ.get("LOBBYFIX_KEEP_PREFIX") != "1":
            shutil.rmtree(prefix.path, ignore_errors=True)
        return 0
    if args.name not in scenario_names():
        parser.error("unknown scenario: %s" % args.name)
    if not os.path.isdir(prefix.drive_c()):
        print("no prefix at %s: run the setup first" % prefix.path, file=sys.stderr)
        return 1
    suite = unittest.TestSuite([Scenarios("test_" + args.name)])
    result = unittest.TextTestRunner(verbosity=2, stream=sys.stdout).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
