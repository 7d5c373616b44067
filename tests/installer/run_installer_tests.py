#!/usr/bin/env python3
"""Runs the installer tests (test_installer.py) under Wine in a Wine prefix made for the run.

    run_installer_tests.py --bin build/windows/bin --version 0.1.0 [--report test-results/installer_tests.xml] [-k PATTERN]

--bin holds the windows build's KZBDKA.exe, KZBLogging.dll and kzbdka-pagehost.exe, packaged
as they are (scripts/package makes the stripped Release package). The prefix is
<build>/msi-prefix, made again at each run; the packages and msiexec logs stay in
<report>-cases/. Needs DISPLAY for the program's icon. Writes a report in GoogleTest's shape.
"""
import argparse
import os
import shutil
import sys
import time
import traceback
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
from run_e2e import RecordingResult, write_report  # noqa: E402
import test_installer  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bin", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--report", default="test-results/installer_tests.xml")
    parser.add_argument("-k", dest="patterns", action="append")
    args = parser.parse_args()

    bin_dir = os.path.abspath(args.bin)
    work = os.path.abspath(os.path.splitext(args.report)[0] + "-cases")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    test_installer.CONFIG.update(bin=bin_dir, version=args.version, work=work)
    os.environ["WINEPREFIX"] = os.path.join(os.path.dirname(bin_dir), "msi-prefix")
    os.environ["WINEDEBUG"] = "-all"

    loader = unittest.TestLoader()
    if args.patterns:
        loader.testNamePatterns = [p if "*" in p else f"*{p}*" for p in args.patterns]
    started = time.monotonic()
    try:
        result = unittest.TextTestRunner(stream=sys.stdout, verbosity=2, resultclass=RecordingResult).run(
            loader.loadTestsFromModule(test_installer))
        cases, success = result.cases, result.wasSuccessful()
    except Exception:  # a broken module is one failed case, not a missing report
        traceback.print_exc()
        cases = {"test_installer.Loading.test_module": {"outcome": "error", "message": traceback.format_exc(),
                                                         "time": 0.0}}
        success = False
    for what, seconds in test_installer.TIMES.items():
        print(f"time: {what}: {', '.join(f'{s:.1f} s' for s in seconds)}")
    write_report(args.report, cases, time.monotonic() - started)
    return 0 if success and cases else 1


if __name__ == "__main__":
    sys.exit(main())
