"""scripts/test's suites and summary against small fixture projects: a run must not end
"N passed, 0 failed" about work it never did, and must show what it skipped.

Each case writes a CMake project without a compiler (its tests are shell and Python
commands), runs suite functions from scripts/suites.sh in it and then scripts/summarize.py,
as scripts/test does, and reads the exit status and the last line.
"""
import json
import os
import pathlib
import subprocess
import tempfile
import textwrap
import unittest

SCRIPTS = pathlib.Path(__file__).resolve().parents[2] / "scripts"

# Plays a GoogleTest executable: writes its report (GTEST_OUTPUT) with the cases given as
# name=passed|failed|skipped, then exits with the status given.
FAKE_GTEST = textwrap.dedent('''
    import os, sys
    status, cases = int(sys.argv[1]), sys.argv[2:]
    body = ""
    for case in cases:
        name, outcome = case.split("=")
        inner = {"passed": "", "failed": '<failure message="it broke"/>',
                 "skipped": '<skipped message="Fake.cpp:3&#x0A;needs a recorder with TLS"/>'}[outcome]
        result = "skipped" if outcome == "skipped" else "completed"
        body += f'<testcase name="{name}" status="run" result="{result}" classname="Fake">{inner}</testcase>'
    if cases:
        path = os.environ["GTEST_OUTPUT"][len("xml:"):]
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as report:
            report.write(f'<testsuites tests="{len(cases)}"><testsuite name="Fake">{body}</testsuite></testsuites>')
    sys.exit(status)
''')


def gtest(name, status, *cases, labels="gtest;report"):
    """A fake GoogleTest executable registered as kzb_add_gtest does."""
    return textwrap.dedent(f'''
        add_custom_target({name})
        add_test(NAME {name} COMMAND python3 ${{CMAKE_SOURCE_DIR}}/fake_gtest.py {status} {" ".join(cases)}
                 WORKING_DIRECTORY ${{CMAKE_BINARY_DIR}})
        set_tests_properties({name} PROPERTIES LABELS "{labels}"
                             ENVIRONMENT "GTEST_OUTPUT=xml:test-results/{name}.xml")
    ''')


class Run:
    def __init__(self, status, output):
        self.status, self.output = status, output
        self.last = output.rstrip("\n").splitlines()[-1]


class SuiteTest(unittest.TestCase):
    def project(self, tests, test_presets=("native", "native-tsan")):
        """A fixture project with presets native and native-tsan and the given tests."""
        folder = pathlib.Path(self.enterContext(tempfile.TemporaryDirectory()))
        (folder / "CMakeLists.txt").write_text(
            "cmake_minimum_required(VERSION 3.25)\nproject(fixture NONE)\nenable_testing()\n" + tests)
        (folder / "fake_gtest.py").write_text(FAKE_GTEST)
        names = ("native", "native-tsan")
        presets = {
            "version": 6,
            "configurePresets": [{"name": n, "binaryDir": "${sourceDir}/build/${presetName}"} for n in names],
            "buildPresets": [{"name": n, "configurePreset": n} for n in names],
            "testPresets": [{"name": n, "configurePreset": n} for n in test_presets],
        }
        (folder / "CMakePresets.json").write_text(json.dumps(presets))
        return folder

    def run_suites(self, folder, *suites):
        script = textwrap.dedent(f'''
            root=$PWD results=$PWD/build/results
            mkdir -p "$results"
            source "{SCRIPTS}/suites.sh"
            run_suites "$@"
            python3 "{SCRIPTS}/summarize.py" "$results"
        ''')
        done = subprocess.run(["bash", "-c", script, "fixture", *suites], cwd=folder, text=True,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300,
                              env=dict(os.environ, WINEDEBUG="-all"))
        return Run(done.returncode, done.stdout)

    def assertFailedRun(self, run, why):
        self.assertNotEqual(run.status, 0, run.output)
        self.assertRegex(run.last, r"^\d+ passed, [1-9]\d* failed, \d+ skipped$", run.output)
        self.assertIn(why, run.output)

    def test_work_that_was_never_done_fails_the_run(self):
        killed_ctest = 'add_test(NAME ends_ctest COMMAND sh -c "kill -KILL $PPID")\n'
        cases = [
            # (what, tests, test presets, suites, what the output says)
            ("ctest killed before it wrote its results", killed_ctest, ("native", "native-tsan"),
             ["native"], "native-ctest failed: ctest wrote no results (exit status 137)"),
            ("no test preset", gtest("fine", 0, "One=passed"), ("native-tsan",),
             ["native"], "native-tests failed: ctest could not list the tests"),
            ("an empty list of threaded tests", gtest("fine", 0, "One=passed"), ("native", "native-tsan"),
             ["native-tsan"], "native-tsan-tests failed: no test is labelled threaded"),
            ("a test executable that exits 0 without its report", gtest("silent", 0), ("native", "native-tsan"),
             ["native"], "native: silent failed: wrote no report"),
            ("a process that fails after every case passed", gtest("crashes", 1, "One=passed"),
             ("native", "native-tsan"), ["native"], "native: crashes failed: outside its test cases"),
            ("a misspelled suite", "", ("native", "native-tsan"), ["nativ"], "nativ failed: no such suite"),
        ]
        for what, tests, test_presets, suites, why in cases:
            with self.subTest(what):
                self.assertFailedRun(self.run_suites(self.project(tests, test_presets), *suites), why)

    def test_skipped_cases_are_counted_and_listed_with_their_reasons(self):
        tests = gtest("mixed", 0, "Runs=passed", "NeedsTls=skipped") + textwrap.dedent('''
            add_test(NAME not_here COMMAND sh -c "exit 77")
            set_tests_properties(not_here PROPERTIES SKIP_RETURN_CODE 77 LABELS plain)
        ''')
        run = self.run_suites(self.project(tests), "native")
        self.assertEqual(run.status, 0, run.output)
        self.assertEqual(run.last, "1 passed, 0 failed, 2 skipped")
        self.assertIn("skipped: native: mixed Fake.NeedsTls: Fake.cpp:3 needs a recorder with TLS", run.output)
        self.assertIn("skipped: native: not_here: SKIP_RETURN_CODE=77", run.output)

    def test_a_run_that_did_its_work_passes(self):
        tests = gtest("mixed", 0, "One=passed", "Two=passed") + gtest("threads", 0, "Three=passed",
                                                                       labels="gtest;report;threaded")
        run = self.run_suites(self.project(tests), "native", "native-tsan")
        self.assertEqual(run.status, 0, run.output)
        self.assertEqual(run.last, "4 passed, 0 failed, 0 skipped")

    def test_a_failing_case_is_named(self):
        run = self.run_suites(self.project(gtest("mixed", 1, "One=passed", "Two=failed")), "native")
        self.assertFailedRun(run, "native: mixed Fake.Two failed")
        self.assertEqual(run.last, "1 passed, 1 failed, 0 skipped")


if __name__ == "__main__":
    unittest.main()
