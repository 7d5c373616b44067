"""Adds up the results of every suite that scripts/test ran.

For each preset whose tests ran, RESULTS holds PRESET-tests.json (what ctest was meant to
run, from --show-only=json-v1) and PRESET-ctest.xml (ctest's JUnit report). A test
labelled "report" writes test-results/NAME.xml in GoogleTest's shape and counts its cases;
if that report is missing, or the process failed although every case passed (a sanitizer
report at exit, a crash after the last case), that is one more failure. Any other ctest
test counts as one; so does every step recorded in steps.txt ("NAME passed|failed [WHY]":
fuzz runs, failed builds, suites that could not run). A test that was meant to run
and left no result is a failure.

Prints each failure, then each skipped case with its reason, and last
"N passed, N failed, N skipped". Exits non-zero on any failure or when nothing ran.
"""
import json
import pathlib
import sys
import xml.etree.ElementTree as ElementTree


class Tally:
    def __init__(self):
        self.passed = self.failed = 0
        self.skips = []

    def fail(self, what, why=None):
        print(f"{what} failed" + (f": {why}" if why else ""))
        self.failed += 1

    def skip(self, what, why):
        self.skips.append(f"{what}: {why}")


def one_line(text):
    return " ".join((text or "").split()) or "no reason given"


def gtest_report(tally, preset, name, report, process_failed):
    root = ElementTree.parse(report).getroot()
    bad = 0
    for case in root.iter("testcase"):
        full = f"{case.get('classname')}.{case.get('name')}"
        skipped = case.find("skipped")
        if case.find("failure") is not None or case.find("error") is not None:
            tally.fail(f"{preset}: {name} {full}")
            bad += 1
        elif skipped is not None or case.get("result") == "skipped":
            tally.skip(f"{preset}: {name} {full}", one_line(skipped.get("message") if skipped is not None else ""))
        elif case.get("status") == "notrun" or case.get("result") == "suppressed":
            continue  # DISABLED_ cases: not meant to run
        else:
            tally.passed += 1
    if process_failed and bad == 0:
        tally.fail(f"{preset}: {name}", "outside its test cases")


def ctest_results(tally, results, listing):
    preset = listing.name[: -len("-tests.json")]
    meant = {test["name"]: test for test in json.loads(listing.read_text()).get("tests", [])}
    junit = results / f"{preset}-ctest.xml"
    if not meant:
        tally.fail(preset, "no tests to run")
        return
    if not junit.exists():
        tally.fail(preset, "ctest wrote no results")
        return
    reports = results.parent / preset / "test-results"
    ran = set()
    for case in ElementTree.parse(junit).getroot().iter("testcase"):
        name = case.get("name")
        ran.add(name)
        status = case.get("status")
        if status in ("notrun", "disabled"):
            skipped = case.find("skipped")
            tally.skip(f"{preset}: {name}", one_line(skipped.get("message") if skipped is not None else status))
            continue
        process_failed = case.find("failure") is not None or status not in ("run", None)
        labels = next((p["value"] for p in meant.get(name, {}).get("properties", []) if p["name"] == "LABELS"), [])
        report = reports / f"{name}.xml"
        if report.exists():
            gtest_report(tally, preset, name, report, process_failed)
        elif "report" in labels:
            tally.fail(f"{preset}: {name}", "wrote no report")
        elif process_failed:
            tally.fail(f"{preset}: {name}")
        else:
            tally.passed += 1
    for name in sorted(set(meant) - ran):
        tally.fail(f"{preset}: {name}", "left no result")


def main(results):
    tally = Tally()
    for listing in sorted(results.glob("*-tests.json")):
        ctest_results(tally, results, listing)

    steps = results / "steps.txt"
    if steps.exists():
        for line in steps.read_text().splitlines():
            if not line.strip():
                continue
            name, outcome, *why = line.split(maxsplit=2)
            if outcome == "passed":
                tally.passed += 1
            else:
                tally.fail(name, why[0] if why else None)

    if tally.passed + tally.failed + len(tally.skips) == 0:
        tally.fail("the run", "nothing ran")
    for skip in tally.skips:
        print(f"skipped: {skip}")
    print(f"{tally.passed} passed, {tally.failed} failed, {len(tally.skips)} skipped")
    return 1 if tally.failed else 0


if __name__ == "__main__":
    sys.exit(main(pathlib.Path(sys.argv[1])))
