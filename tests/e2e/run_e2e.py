#!/usr/bin/env python3
"""Runs the end-to-end tests of the headless agent against the recorder simulator.

    run_e2e.py --agent build/native/bin/kzbdka-cli [--report test-results/cli_e2e_tests.xml] [-k PATTERN]...
    run_e2e.py --agent build/windows/bin/kzbdka-cli.exe --trigger-app build/windows/bin/trigger_window_app.exe \
               --browser-app build/windows/bin/ie_browser_app.exe

A .exe runs under Wine, in a Wine prefix of its own next to the build's bin folder
(wineprefix-e2e, made on first use): the tests write registry values there, and other tests
running at the same time write the shared prefix's. The real-window tests need DISPLAY.

Writes one XML report in GoogleTest's shape (so that scripts/summarize.py counts each case)
and keeps each case's simulator output, agent log and desktop file in <report>-cases/.
Exit code 0 when every case passed.
"""
import argparse
import os
import subprocess
import sys
import time
import traceback
import unittest
import xml.etree.ElementTree as ElementTree

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import harness  # noqa: E402


class RecordingResult(unittest.TextTestResult):
    """Keeps each test's outcome and time; a test with a failed subtest is one failed case."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.cases = {}
        self.started = {}

    def case(self, test):
        return self.cases.setdefault(test.id(), {"outcome": "passed", "message": "", "time": 0.0})

    def startTest(self, test):
        self.started[test.id()] = time.monotonic()
        self.case(test)
        super().startTest(test)

    def stopTest(self, test):
        self.case(test)["time"] = time.monotonic() - self.started.get(test.id(), time.monotonic())
        super().stopTest(test)

    def note(self, test, outcome, err):
        case = self.case(test)
        if case["outcome"] in ("passed", "skipped"):
            case["outcome"] = outcome
        case["message"] += self._exc_info_to_string(err, test) if isinstance(err, tuple) else str(err)

    def addFailure(self, test, err):
        self.note(test, "failure", err)
        super().addFailure(test, err)

    def addError(self, test, err):
        self.note(test, "error", err)
        super().addError(test, err)

    def addSubTest(self, test, subtest, err):
        if err is not None:
            failed = issubclass(err[0], test.failureException)
            self.note(test, "failure" if failed else "error", err)
            self.case(test)["message"] = f"{subtest.id()}:\n" + self.case(test)["message"]
        super().addSubTest(test, subtest, err)

    def addSkip(self, test, reason):
        self.case(test).update(outcome="skipped", message=reason)
        super().addSkip(test, reason)


def write_report(path, cases, total_time):
    """GoogleTest's XML: <testsuites> of <testsuite> (one per class) of <testcase>."""
    suites = {}
    for test_id, case in cases.items():
        suite, _, name = test_id.rpartition(".")
        suites.setdefault(suite.rpartition(".")[2], []).append((name, case))

    def count(items, outcome):
        return str(sum(1 for _, c in items if c["outcome"] == outcome))

    everything = [item for items in suites.values() for item in items]
    root = ElementTree.Element("testsuites", tests=str(len(everything)), failures=count(everything, "failure"),
                               disabled="0", errors=count(everything, "error"), time=f"{total_time:.3f}",
                               name="AllTests")
    for suite_name, items in suites.items():
        suite = ElementTree.SubElement(root, "testsuite", name=suite_name, tests=str(len(items)),
                                       failures=count(items, "failure"), disabled="0",
                                       skipped=count(items, "skipped"), errors=count(items, "error"),
                                       time=f"{sum(c['time'] for _, c in items):.3f}")
        for name, case in items:
            element = ElementTree.SubElement(suite, "testcase", name=name, status="run",
                                             result="skipped" if case["outcome"] == "skipped" else "completed",
                                             time=f"{case['time']:.3f}", classname=suite_name)
            if case["outcome"] in ("failure", "error"):
                failure = ElementTree.SubElement(element, "failure", message=case["message"].splitlines()[-1][:500]
                                                 if case["message"] else case["outcome"], type="")
                failure.text = case["message"]
            elif case["outcome"] == "skipped":
                ElementTree.SubElement(element, "skipped", message=case["message"])
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    ElementTree.ElementTree(root).write(path, encoding="UTF-8", xml_declaration=True)


def prepare_wine(agent):
    """A Wine prefix for these tests alone, next to the build's bin folder."""
    prefix = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(agent))), "wineprefix-e2e")
    os.environ["WINEPREFIX"] = prefix
    os.environ["WINEDEBUG"] = "-all"
    if not os.path.exists(os.path.join(prefix, "system.reg")):
        print(f"run_e2e: creating the Wine prefix {prefix}", flush=True)
        subprocess.run(["wineboot", "-i"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
        subprocess.run(["wineserver", "-w"], timeout=300)
    return prefix


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--agent", required=True, help="kzbdka-cli, or kzbdka-cli.exe (run under Wine)")
    parser.add_argument("--trigger-app", help="trigger_window_app.exe (real-window tests under Wine)")
    parser.add_argument("--browser-app", help="ie_browser_app.exe (browser page tests under Wine)")
    parser.add_argument("--page-host", help="kzbdka-pagehost (the Chromium tests)")
    parser.add_argument("--module", default="test_agent", help="the test module: test_agent or test_chromium")
    parser.add_argument("--report", default="test-results/cli_e2e_tests.xml")
    parser.add_argument("-k", dest="patterns", action="append", help="only tests matching this pattern")
    args = parser.parse_args()

    harness.CONFIG["agent"] = os.path.abspath(args.agent)
    harness.CONFIG["trigger_app"] = os.path.abspath(args.trigger_app) if args.trigger_app else None
    harness.CONFIG["browser_app"] = os.path.abspath(args.browser_app) if args.browser_app else None
    harness.CONFIG["page_host"] = os.path.abspath(args.page_host) if args.page_host else None
    harness.CONFIG["keep_dir"] = os.path.abspath(os.path.splitext(args.report)[0] + "-cases")
    os.makedirs(harness.CONFIG["keep_dir"], exist_ok=True)
    wine = harness.under_wine()
    if wine:
        prepare_wine(args.agent)

    loader = unittest.TestLoader()
    if args.patterns:
        loader.testNamePatterns = [p if "*" in p else f"*{p}*" for p in args.patterns]
    started = time.monotonic()
    try:
        suite = loader.loadTestsFromName(args.module)
        runner = unittest.TextTestRunner(stream=sys.stdout, verbosity=2, resultclass=RecordingResult)
        result = runner.run(suite)
        cases = result.cases
        success = result.wasSuccessful()
    except Exception:  # a broken test module is one failed case, not a missing report
        traceback.print_exc()
        cases = {f"{args.module}.Loading.test_module": {"outcome": "error", "message": traceback.format_exc(),
                                                    "time": 0.0}}
        success = False
    finally:
        if wine:
            subprocess.run(["wineserver", "-k"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    write_report(args.report, cases, time.monotonic() - started)
    return 0 if success and cases else 1


if __name__ == "__main__":
    sys.exit(main())
