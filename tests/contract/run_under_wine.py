#!/usr/bin/env python3
"""Runs one GoogleTest executable under Wine, in the test prefix.

  run_under_wine.py --prefix PREFIX --log LOG program.exe [gtest arguments]
  run_under_wine.py --prefix PREFIX --log LOG --nonzero-after LINE program.exe

The program runs with the Russian ANSI code page and the machine clock at
UTC. Its output goes to LOG (a file, as Wine helper processes may outlive
it) and is then printed. It passes only when the program's status is 0 and
GoogleTest's closing summary says that every test it set out to run ran and
passed: Wine may return 0 for a program that died inside it. With
--nonzero-after, the program is not a GoogleTest one: it passes when it
printed LINE and then ended by itself with a non-zero status.
"""

import argparse
import os
import re
import subprocess
import sys

# Nothing is written into the source tree, not even compiled bytecode.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import winedriver  # noqa: E402

TIMEOUT = 150


def whole_suite_passed(output):
    """None when the output holds GoogleTest's full report of a passing run,
    else what is missing or wrong."""
    running = re.search(r"^\[==========\] Running (\d+) tests? from \d+ test suites?\.$", output, re.M)
    ran = re.search(r"^\[==========\] (\d+) tests? from \d+ test suites? ran\.", output, re.M)
    passed = re.search(r"^\[  PASSED  \] (\d+) tests?\.$", output, re.M)
    if running is None:
        return "no test ran"
    if ran is None or passed is None:
        return "the program ended without the closing summary (it died or quit early)"
    if re.search(r"^\[  FAILED  \]", output, re.M):
        return "a test failed"
    if not running.group(1) == ran.group(1) == passed.group(1):
        return "ran %s and passed %s of %s tests" % (ran.group(1), passed.group(1), running.group(1))
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--nonzero-after", metavar="LINE")
    parser.add_argument("program")
    parser.add_argument("arguments", nargs=argparse.REMAINDER)
    args = parser.parse_args()

    prefix = winedriver.Prefix(args.prefix, driver="")
    if not os.path.isdir(prefix.drive_c()):
        print("no prefix at %s: run the setup first" % prefix.path)
        return 1
    env = prefix.env()  # Russian code page, clock at UTC
    gtest = [] if args.nonzero_after is not None else ["--gtest_color=no"]
    command = ["wine", winedriver.windows_path(args.program)] + gtest + args.arguments
    status = None
    with open(args.log, "wb") as log:
        try:
            status = subprocess.run(command, env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                    timeout=TIMEOUT, check=False).returncode
        except subprocess.TimeoutExpired:
            log.write(b"\n*** timed out after %d s\n" % TIMEOUT)
            prefix.restart_server()
    with open(args.log, encoding="utf-8", errors="replace") as log:
        output = log.read()
    sys.stdout.write(output)
    if args.nonzero_after is not None:
        if args.nonzero_after not in output.splitlines() or status in (None, 0):
            print("\n*** expected %r, then a non-zero status (exit status %s)" % (args.nonzero_after, status))
            return 1
        return 0
    problem = whole_suite_passed(output)
    if problem is not None:
        print("\n*** %s (exit status %s)" % (problem, status))
        return status or 1
    return status


if __name__ == "__main__":
    sys.exit(main())
