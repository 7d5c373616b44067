"""Adds up the results of every suite that scripts/test ran.

A GoogleTest executable counts its test cases (from its XML report); if the process
failed although every case passed (a sanitizer report at exit, a crash after the last
case), that is one more failure. Any other ctest test, and every step recorded in
steps.txt (fuzz runs, failed builds), counts as one.
"""
import pathlib
import sys
import xml.etree.ElementTree as ElementTree

results = pathlib.Path(sys.argv[1])
passed = failed = 0

for junit in sorted(results.glob("*-ctest.xml")):
    preset = junit.name[: -len("-ctest.xml")]
    reports = results.parent / preset / "test-results"
    for case in ElementTree.parse(junit).getroot().iter("testcase"):
        name = case.get("name")
        process_failed = case.find("failure") is not None or case.get("status") not in ("run", None)
        report = reports / f"{name}.xml"
        if report.exists():
            root = ElementTree.parse(report).getroot()
            cases = int(root.get("tests", 0)) - int(root.get("disabled", 0))
            bad = int(root.get("failures", 0)) + int(root.get("errors", 0))
            skipped = sum(1 for c in root.iter("testcase") if c.find("skipped") is not None)
            passed += cases - bad - skipped
            failed += bad
            if process_failed and bad == 0:
                print(f"{preset}: {name} failed outside its test cases")
                failed += 1
        elif process_failed:
            print(f"{preset}: {name} failed")
            failed += 1
        else:
            passed += 1

steps = results / "steps.txt"
if steps.exists():
    for line in steps.read_text().splitlines():
        name, outcome = line.split()
        if outcome == "passed":
            passed += 1
        else:
            print(f"{name} failed")
            failed += 1

print(f"{passed} passed, {failed} failed")
sys.exit(1 if failed else 0)
