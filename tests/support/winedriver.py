"""A throwaway Wine prefix and the Windows-side driver that works in it.

Shared by the end-to-end scenarios, the contract runner, the demo and the
benchmark. The driver (driver.exe, built from tests/e2e/driver) reads a
script of tab-separated commands and writes a report file in the same form;
this module writes the scripts, runs the driver with a timeout and parses
the report.
"""

import os
import shutil
import subprocess
import time
import uuid

REG_SZ = 1
REG_EXPAND_SZ = 2
REG_BINARY = 3
REG_DWORD = 4

WINE_FONTS = "/usr/share/wine/fonts"
WINE_TIMEOUT = 90  # seconds for one driver run, far above a normal one


class WineError(RuntimeError):
    """Wine itself could not start. The message is one line that names the log."""


def windows_path(linux_path):
    """The path under Wine's Z: drive, which maps the whole Linux tree."""
    return "Z:" + os.path.abspath(linux_path).replace("/", "\\")


class Box:
    """One message box as the driver saw it."""

    def __init__(self):
        self.caption = ""  # Unicode caption
        self.caption_ansi = b""  # the same read in the process's ANSI code page
        self.text = ""
        self.text_ansi = b""
        self.buttons = []  # control ids: 1 is OK, 2 is Cancel
        self.icon = False
        self.rect = None  # left, top, width, height on the screen
        self.action = ""

    def __repr__(self):
        return "Box(caption=%r, text=%r, buttons=%r, icon=%r)" % (
            self.caption, self.text, self.buttons, self.icon)


class Value:
    def __init__(self, reg_type, size, data):
        self.type = reg_type
        self.size = size
        self.data = data

    def __eq__(self, other):
        return (self.type, self.size, self.data) == (other.type, other.size, other.data)

    def __repr__(self):
        return "Value(type=%d, size=%d, data=%r)" % (self.type, self.size, self.data)


class Lobby:
    """What the DirectPlay lobby answered: the HRESULT of its enumeration
    (0 is DP_OK) and the applications it listed, as (name, GUID text)."""

    def __init__(self, result, apps):
        self.result = result
        self.apps = apps

    def guid(self, name):
        """The GUID listed for the application, as a uuid.UUID, or None."""
        guids = [uuid.UUID(guid) for app, guid in self.apps if app.lower() == name.lower()]
        return guids[0] if guids else None

    def __repr__(self):
        return "Lobby(result=%08X, apps=%r)" % (self.result, self.apps)


class Launch:
    """What the lobby's start of an application gave: the HRESULT (0 is
    DP_OK), the application id, and what the started stand-in game said of
    itself ({"module": ..., "folder": ..., "command": ...}, empty when
    nothing reported)."""

    def __init__(self, result, application_id):
        self.result = result
        self.application_id = application_id
        self.started = {}

    def __repr__(self):
        return "Launch(result=%08X, id=%d, started=%r)" % (self.result, self.application_id, self.started)


def _name(hex_text):
    return bytes.fromhex(hex_text).decode("latin-1")


def _value(fields):
    """None for a missing value, else its Value."""
    if fields[0] == "missing":
        return None
    return Value(int(fields[0]), int(fields[1]), bytes.fromhex(fields[2]))


class Report:
    """The parsed report of one driver run."""

    def __init__(self, lines, log):
        self.lines = lines
        self.log = log
        self.boxes = []
        self.exit_codes = []  # one per run command that ended
        self.timeouts = []
        self.errors = []
        self.dumps = []  # one dict {name: Value} (or None for a missing key) per regdump
        self.strings = {}
        self.resources = {}
        self.version = {}
        self.lobbies = []  # one Lobby per lobby command that got an answer
        self.launches = []  # one Launch per launch command that got an answer
        apps = []
        self.done = False
        for line in lines:
            f = line.split("\t")
            kind = f[0]
            if kind == "box":
                self.boxes.append(Box())
            elif kind in ("caption_w", "text_w"):
                setattr(self.boxes[-1], kind[:-2], bytes.fromhex(f[1]).decode("utf-8"))
            elif kind in ("caption_a", "text_a"):
                setattr(self.boxes[-1], kind[:-2] + "_ansi", bytes.fromhex(f[1]))
            elif kind == "buttons":
                self.boxes[-1].buttons = [int(b) for b in f[1].split(",") if b]
            elif kind == "icon":
                self.boxes[-1].icon = f[1] == "1"
            elif kind == "rect":
                self.boxes[-1].rect = tuple(int(n) for n in f[1:5])
            elif kind == "action":
                self.boxes[-1].action = f[1]
            elif kind == "exit":
                self.exit_codes.append(int(f[1]))
            elif kind == "timeout":
                self.timeouts.append(f[1])
            elif kind == "error":
                self.errors.append(line)
            elif kind == "key":
                self.dumps.append({} if f[1] == "present" else None)
            elif kind == "value":
                self.dumps[-1][_name(f[1])] = _value(f[2:])
            elif kind == "string":
                self.strings[int(f[1])] = (bytes.fromhex(f[2]).decode("utf-8"), bytes.fromhex(f[3]))
            elif kind in ("icon_group", "manifest"):
                self.resources[kind] = f[1:]
            elif kind == "version" and len(f) == 3:
                self.version[f[1]] = bytes.fromhex(f[2]).decode("utf-8")
            elif kind == "app":
                apps.append((_name(f[1]), f[2]))
            elif kind == "lobby":
                self.lobbies.append(Lobby(int(f[1], 16), apps))
                apps = []
            elif kind == "launch":
                self.launches.append(Launch(int(f[1], 16), int(f[2])))
            elif kind == "launched":
                self.launches[-1].started[f[1]] = bytes.fromhex(f[2]).decode("utf-8")
            elif kind == "done":
                self.done = True

    @property
    def exit_code(self):
        return self.exit_codes[-1] if self.exit_codes else None


def _hex(data):
    return data.hex()


class Script:
    """Builds a driver script."""

    def __init__(self):
        self.lines = []

    def _add(self, *fields):
        for field in fields:
            if "\t" in field or "\n" in field:
                raise ValueError("field holds a tab or a line feed: %r" % field)
        self.lines.append("\t".join(fields))
        return self

    def reg_delete(self, root, path):
        return self._add("regdel", root, path)

    def reg_key(self, root, path, volatile=False):
        return self._add("regkey", root, path, *(["volatile"] if volatile else []))

    def reg_set(self, root, path, name, reg_type, data):
        """Sets a value with the exact type and bytes (text data in the ANSI code page)."""
        return self._add("regset", root, path, name, str(reg_type), _hex(data))

    def reg_dump(self, root, path, view64=False):
        """Dumps the key as a 32-bit program sees it, or a 64-bit one with view64."""
        return self._add("regdump", root, path, *(["64"] if view64 else []))

    def reg_deny(self, root, path):
        return self._add("regdeny", root, path)

    def env(self, name, value):
        return self._add("env", name, value)

    def run(self, exe, cwd, actions, sync=False):
        return self._add("run", exe, cwd, ",".join(actions), *(["sync"] if sync else []))

    def lobby(self):
        """Asks the DirectPlay lobby for the applications it knows."""
        return self._add("lobby")

    def launch(self, guid):
        """Asks the lobby to start the application with that GUID, as for a match."""
        return self._add("launch", guid)

    def resources(self, exe):
        return self._add("res", exe)

    def text(self):
        return "".join(line + "\n" for line in self.lines)


class Prefix:
    """A Wine prefix of its own, with a persistent wineserver.

    The prefix is 64-bit (WoW64), as on the players' 64-bit Windows, and the
    programs run in it are 32-bit: they see the 32-bit view of
    HKLM\\Software, kept under Software\\Wow6432Node.
    """

    def __init__(self, path, driver, null_display=True):
        self.path = os.path.abspath(path)
        self.driver = os.path.abspath(driver)
        self.null_display = null_display
        self.work = os.path.join(self.path, "drive_c", "driver-work")

    def env(self, locale="ru_RU.UTF-8", display=None, zone="UTC"):
        env = dict(os.environ)
        env.update({
            "WINEPREFIX": self.path,
            "WINEARCH": "win64",
            "TZ": zone,
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
            "WINEDEBUG": "-all",
            "LC_ALL": locale,
            "LANG": locale,
        })
        for name in ("LANGUAGE", "WAYLAND_DISPLAY"):
            env.pop(name, None)
        if display is None:
            env.pop("DISPLAY", None)
        else:
            env["DISPLAY"] = display
        return env

    def drive_c(self, *parts):
        return os.path.join(self.path, "drive_c", *parts)

    def create(self, log, display=None):
        """Makes a fresh prefix and starts its wineserver, which stays up until shutdown()."""
        self.shutdown()
        shutil.rmtree(self.path, ignore_errors=True)
        os.makedirs(self.path)
        env = self.env(display=display)
        for command, timeout in ((["wineserver", "-p"], 60), (["wineboot", "-i"], 300)):
            with open(log, "ab") as out:
                start = out.tell()
                try:
                    status = subprocess.run(command, env=env, stdin=subprocess.DEVNULL, stdout=out,
                                            stderr=subprocess.STDOUT, timeout=timeout).returncode
                except subprocess.TimeoutExpired:
                    status = "none within %d s" % timeout
            if status != 0:
                with open(log, "rb") as out:
                    out.seek(start)
                    said = [line for line in out.read().decode("utf-8", "replace").splitlines() if line.strip()]
                raise WineError("Wine did not start: %s ended with status %s%s; its output is in %s" % (
                    " ".join(command), status, " (%s)" % said[-1].strip() if said else "", log))
        self.install_wine_fonts()
        if self.null_display:
            # Wine's display driver that needs no screen: boxes exist as
            # windows that the driver can find, read and answer.
            script = Script().reg_set("HKCU", "Software\\Wine\\Drivers", "Graphics", REG_SZ, b"null\0")
            report = self.drive(script, "setup", log=log)
            if report.errors or not report.done:
                raise RuntimeError("could not select the null display driver: %r" % report.lines)
            # The desktop process started by wineboot still runs with the
            # driver it found then: restart everything so that it picks up
            # the new one (otherwise every box fails at once).
            self.restart_server()

    def install_wine_fonts(self):
        """Copies Wine's own fonts into the prefix: this Wine does not look for
        them where Debian installs them, and without Marlett a box's close
        button shows a letter instead of its cross."""
        fonts = self.drive_c("windows", "Fonts")
        os.makedirs(fonts, exist_ok=True)
        for name in ("marlett.ttf", "tahoma.ttf", "tahomabd.ttf"):
            source = os.path.join(WINE_FONTS, name)
            if os.path.isfile(source):
                shutil.copy(source, fonts)

    def restart_server(self):
        """After a run was cut off: kill what is left in the prefix and start afresh."""
        self.shutdown()
        subprocess.run(["wineserver", "-p"], env=self.env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       check=False, timeout=60)

    def shutdown(self):
        if not os.path.isdir(self.path):
            return
        env = self.env()
        subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       check=False, timeout=60)
        subprocess.run(["wineserver", "-w"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       check=False, timeout=60)

    def drive(self, script, name, locale="ru_RU.UTF-8", display=None, log=None, timeout=WINE_TIMEOUT,
              on_line=None, zone="UTC"):
        """Runs one driver script and returns its Report.

        zone is the clock's time zone (a TZ name) for the driver and the
        programs it starts; Wine takes it from the starting process.

        on_line, if given, is called with each report line as it appears
        (while the driver still runs) and with the path of the report.
        """
        folder = os.path.join(self.work, name)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        script_path = os.path.join(folder, "script.txt")
        report_path = os.path.join(folder, "report.txt")
        log = log or os.path.join(folder, "wine.log")
        with open(script_path, "w", encoding="utf-8", newline="\n") as out:
            out.write(script.text())
        args = [self.driver, "C:\\driver-work\\%s\\script.txt" % name, "C:\\driver-work\\%s\\report.txt" % name]
        env = self.env(locale, display, zone)
        with open(log, "ab") as out:
            process = subprocess.Popen(["wine"] + args, env=env, stdin=subprocess.DEVNULL, stdout=out,
                                       stderr=subprocess.STDOUT)
        seen = 0
        deadline = time.monotonic() + timeout
        try:
            while process.poll() is None:
                if time.monotonic() > deadline:
                    raise subprocess.TimeoutExpired(args, timeout)
                if on_line is not None:
                    seen = self._follow(report_path, seen, on_line)
                time.sleep(0.05)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            self.restart_server()
            raise
        except BaseException:
            # Interrupted: leave no driver or tool behind in the prefix.
            process.kill()
            process.wait()
            self.shutdown()
            raise
        if on_line is not None:
            self._follow(report_path, seen, on_line)
        lines = []
        if os.path.exists(report_path):
            with open(report_path, encoding="ascii", errors="replace") as report:
                lines = [line.rstrip("\n") for line in report]
        with open(log, encoding="utf-8", errors="replace") as wine_log:
            log_text = wine_log.read()
        return Report(lines, log_text)

    @staticmethod
    def _follow(report_path, seen, on_line):
        if not os.path.exists(report_path):
            return seen
        with open(report_path, encoding="ascii", errors="replace") as report:
            lines = report.read().split("\n")
        complete = lines[:-1]  # the last piece has no line feed yet
        for line in complete[seen:]:
            on_line(line, report_path)
        return len(complete)
