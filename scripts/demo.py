#!/usr/bin/env python3
"""Runs lobbyfix.exe on a demo machine: a fresh Wine prefix with Dunmarsh
"installed" (its App Paths entry and a stub vrk.exe in C:\\Games\\Dunmarsh).

With a display ($DISPLAY set) the boxes appear on it and you answer them.
Without one, the run happens on a virtual screen (Xvfb) and both boxes are
answered with OK. Either way it prints the DirectPlay lobby's list of
applications before and after the run, what each box said and the lobby
registration that was written; then the lobby starts the game as the lobby
service does when a match begins (the game is a stand-in that reports how
it was started), and it prints what was started, and where. It saves a
screenshot of each box under the output folder.

Usage: demo.py --tool lobbyfix.exe --driver driver.exe --game standin.exe --out build/demo
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
import winedriver  # noqa: E402
from winedriver import REG_SZ  # noqa: E402

APP_PATHS = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vrk.exe"
LOBBY = "Software\\Microsoft\\DirectPlay\\Applications\\RZN"
GAME = "C:\\Games\\Dunmarsh"
GAME_KEY = "RZN"
GAME_GUID = "{5E7D19A2-3C84-4f0b-9A61-2B0F47C8E3D5}"
TYPE_NAMES = {1: "REG_SZ", 2: "REG_EXPAND_SZ", 3: "REG_BINARY", 4: "REG_DWORD", 7: "REG_MULTI_SZ"}
BUTTON_NAMES = {1: "OK", 2: "Cancel"}


class VirtualScreen:
    """An Xvfb server of our own, on the first free display number."""

    def __init__(self, log):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=log, stderr=subprocess.STDOUT)
        os.close(write_end)
        with os.fdopen(read_end) as numbers:
            number = numbers.readline().strip()
        if not number:
            self.process.kill()
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number

    def close(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def screenshot(display, box, path):
    """Saves the box's part of the screen (with a small margin) as a PNG."""
    command = ["import", "-display", display, "-window", "root"]
    if box.rect is not None:
        left, top, width, height = box.rect
        margin = 8
        left, top = max(0, left - margin), max(0, top - margin)
        command += ["-crop", "%dx%d+%d+%d" % (width + 2 * margin, height + 2 * margin, left, top), "+repage"]
    subprocess.run(command + [path], check=True, timeout=60, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def show_lobby(report, when):
    """Prints the lobby's list of applications; True when it lists the game."""
    if not report.lobbies:
        print("The DirectPlay lobby could not be asked %s the run." % when)
        return False
    lobby = report.lobbies[-1]
    print("The DirectPlay lobby's applications %s the run (EnumLocalApplications: %s):"
          % (when, "DP_OK" if lobby.result == 0 else "0x%08X" % lobby.result))
    for name, guid in lobby.apps:
        print("    %-16s %s" % (name, guid))
    if not lobby.apps:
        print("    (none)")
    listed = lobby.guid(GAME_KEY) is not None
    print("Dunmarsh (%s) is %samong them." % (GAME_KEY, "" if listed else "not "))
    return listed


def show_text(text):
    return "\n".join("    | " + line for line in text.split("\n"))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--game", required=True, help="the stand-in game, installed as vrk.exe")
    parser.add_argument("--out", required=True)
    args = parser.parse_args()

    # Stopped from outside: clean up as for Ctrl-C.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))

    out = os.path.abspath(args.out)
    os.makedirs(out, exist_ok=True)
    for old in os.listdir(out):
        if old.startswith("box-") and old.endswith(".png"):
            os.remove(os.path.join(out, old))
    log_path = os.path.join(out, "demo.log")
    # Appended to by this script, the virtual screen and Wine alike.
    open(log_path, "wb").close()
    log = open(log_path, "ab")

    user_display = os.environ.get("DISPLAY")
    screen = None
    if user_display:
        display = user_display
        actions = ["wait", "wait"]
        print("Answer the boxes on your screen (%s)." % display)
    else:
        screen = VirtualScreen(log)
        display = screen.display
        actions = ["ok", "ok"]
        print("No display: running on a virtual screen (%s) and answering OK to each box." % display)

    prefix = winedriver.Prefix(os.path.join(out, "prefix"), args.driver, null_display=False)
    env_display = display
    try:
        print("Making a fresh Wine prefix under %s ..." % prefix.path)
        prefix.create(log_path, display=env_display)

        # The game, as its installer would leave it.
        game = prefix.drive_c("Games", "Dunmarsh")
        os.makedirs(game, exist_ok=True)
        shutil.copy(args.game, os.path.join(game, "vrk.exe"))
        print("Installed the game: %s\\vrk.exe, App Paths entry HKLM\\%s" % (GAME, APP_PATHS))

        script = winedriver.Script()
        if screen is not None:
            # A virtual screen has no window manager: let Wine draw the
            # boxes' frames and title bars itself.
            script.reg_set("HKCU", "Software\\Wine\\X11 Driver", "Managed", REG_SZ, b"N\0")
        script.reg_delete("HKLM", LOBBY)
        script.reg_set("HKLM", APP_PATHS, "", REG_SZ, (GAME + "\\vrk.exe").encode() + b"\0")
        script.reg_set("HKLM", APP_PATHS, "Path", REG_SZ, GAME.encode() + b"\0")
        script.lobby()
        before = prefix.drive(script, "before", display=env_display, log=log_path)
        print()
        show_lobby(before, "before")
        print()

        script = winedriver.Script()
        script.run(winedriver.windows_path(args.tool), GAME, actions, sync=True)
        script.reg_dump("HKLM", LOBBY)
        script.lobby()

        shots = []

        def on_line(line, report_path):
            # Once a box is up and read, photograph it, then let the driver go on.
            if line.startswith("shown\t"):
                number = int(line.split("\t")[1])
                with open(report_path, encoding="ascii", errors="replace") as report:
                    box = winedriver.Report([item.rstrip("\n") for item in report], "").boxes[number - 1]
                path = os.path.join(out, "box-%d.png" % number)
                try:
                    screenshot(display, box, path)
                    shots.append(path)
                except (subprocess.SubprocessError, OSError) as failure:
                    print("  (no screenshot of box %d: %s)" % (number, failure))
                open(report_path + ".ack%d" % number, "w").close()

        print("Running lobbyfix.exe ...")
        timeout = 900 if user_display else winedriver.WINE_TIMEOUT
        report = prefix.drive(script, "demo", display=env_display, log=log_path, timeout=timeout, on_line=on_line)

        # The lobby service's next step, once a match begins.
        launch = None
        if report.exit_code == 0:
            script = winedriver.Script()
            script.reg_set("HKLM", LOBBY, "CommandLine", REG_SZ, b"\0")
            script.launch(GAME_GUID)
            launch = prefix.drive(script, "launch", display=env_display, log=log_path)
    finally:
        prefix.shutdown()
        if screen is not None:
            screen.close()
        log.close()

    print()
    for number, box in enumerate(report.boxes, start=1):
        buttons = " ".join(BUTTON_NAMES.get(b, str(b)) for b in sorted(box.buttons))
        print("Box %d: \"%s\"   [%s]%s" % (number, box.caption, buttons, "  (error icon)" if box.icon else ""))
        print(show_text(box.text))
        print("    answered: %s" % ("by you" if box.action == "wait" else box.action.upper()))
    if report.timeouts:
        print("Timed out waiting for: %s" % ", ".join(report.timeouts))
    print("Exit status of lobbyfix.exe: %s" % report.exit_code)
    print()
    dump = report.dumps[-1] if report.dumps else None
    if dump is None:
        print("No lobby registration was written (HKLM\\%s is missing)." % LOBBY)
    else:
        print("Lobby registration written under HKLM\\%s:" % LOBBY)
        for name, value in dump.items():
            shown = value.data
            if value.type in (1, 2):
                shown = '"%s"' % value.data.rstrip(b"\0").decode("cp1251")
            print("    %-16s %-13s %3d bytes  %s" % (name, TYPE_NAMES.get(value.type, value.type), value.size, shown))
    print()
    listed = show_lobby(report, "after")
    started = {}
    if launch is not None:
        print()
        print("Adding an empty CommandLine value: Wine's DirectPlay needs it to start a game; Windows does not.")
        result = launch.launches[-1] if launch.launches else None
        if result is None:
            print("The lobby could not be asked to start the game.")
        else:
            print("The lobby was asked to start Dunmarsh (RunApplication: %s)."
                  % ("DP_OK" if result.result == 0 else "0x%08X" % result.result))
            started = result.started
        if started:
            # DirectPlay starts <Path>\<File> with CommandLine after it.
            print("It started %s in the folder %s." % (started.get("command", "").strip(), started.get("folder")))
            print("    (the game's own module path: %s)" % started.get("module"))
        else:
            print("No game was started.")
    print()
    for path in shots:
        print("Screenshot: %s" % os.path.relpath(path))
    ok = report.done and not report.timeouts and report.exit_code is not None
    # Answered with OK twice, the run must have ended with the game listed
    # and started.
    if report.exit_code == 0 and not (listed and started):
        ok = False
    return 0 if ok else 1


if __name__ == "__main__":
    try:
        sys.exit(main())
    except winedriver.WineError as failure:
        sys.exit("demo: %s" % failure)
