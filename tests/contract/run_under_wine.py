#!/usr/bin/env python3
"""Runs one GoogleTest executable under Wine, in the test prefix.

  run_under_wine.py --prefix PREFIX --log LOG program.exe [gtest arguments]

The program runs with the Russian ANSI code page and the machine clock at
UTC. Its output goes to LOG (a file, as Wine helper processes may outlive
it) and is then printed; the exit status is the program's.
"""

import argparse
import os
import subprocess
import sys

# Nothing is written into the source tree, not even compiled bytecode.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import winedriver  # noqa: E402

TIMEOUT = 150


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("program")
    parser.add_argument("arguments", nargs=argparse.REMAINDER)
    args = parser.parse_args()

    prefix = winedriver.Prefix(args.prefix, driver="")
    if not os.path.isdir(prefix.drive_c()):
        print("no prefix at %s: run the setup first" % prefix.path)
        return 1
    env = prefix.env()
    env["TZ"] = "UTC"
    command = ["wine", winedriver.windows_path(args.program), "--gtest_color=no"] + args.arguments
    status = 1
    with open(args.log, "wb") as log:
        try:
            status = subprocess.run(command, env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                    timeout=TIMEOUT, check=False).returncode
        except subprocess.TimeoutExpired:
            log.write(b"\n*** timed out after %d s\n" % TIMEOUT)
            prefix.restart_server()
    with open(args.log, encoding="utf-8", errors="replace") as log:
        sys.stdout.write(log.read())
    return status


if __name__ == "__main__":
    sys.exit(main())
