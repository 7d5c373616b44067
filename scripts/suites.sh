# The suites of scripts/test, as functions, so that tests/scripts can run them against
# small fixture projects. Sourced with the working folder at the project's root and
# $results naming the folder the results go to (scripts/summarize.py reads it).
#
# Every suite leaves something for the summary: ctest's results with the list of tests it
# was meant to run, or a line in steps.txt. A suite that leaves neither has failed.

step() { echo "== $(date +%H:%M:%S) $*"; }
# A step that is not a test but can fail the run: record NAME passed|failed [WHY].
record() { echo "$*" >>"$results/steps.txt"; }

configure_and_build() { # preset [targets...]
  local preset=$1; shift
  step "$preset: configure and build"
  if ! cmake --preset "$preset" >"$results/$preset-configure.log" 2>&1; then
    tail -20 "$results/$preset-configure.log"; record "$preset-configure" failed; return 1
  fi
  local targets=()
  (($#)) && targets=(--target "$@")
  if ! cmake --build --preset "$preset" "${targets[@]}" >"$results/$preset-build.log" 2>&1; then
    grep -E 'error|FAILED' "$results/$preset-build.log" | head -40; record "$preset-build" failed; return 1
  fi
  if grep -q 'warning:' "$results/$preset-build.log"; then
    grep 'warning:' "$results/$preset-build.log" | head -20; record "$preset-warnings" failed
  fi
  return 0
}

run_ctest() { # preset [ctest args...]
  local preset=$1; shift
  rm -rf "build/$preset/test-results" "$results/$preset-ctest.xml"
  # The tests meant to run: one that leaves no result counts as failed.
  if ! ctest --preset "$preset" --show-only=json-v1 "$@" >"$results/$preset-tests.json" 2>"$results/$preset-list.log"; then
    tail -20 "$results/$preset-list.log"; record "$preset-tests" failed "ctest could not list the tests"
    rm -f "$results/$preset-tests.json"; return 1
  fi
  step "$preset: run tests"
  ctest --preset "$preset" --output-junit "$results/$preset-ctest.xml" "$@" >"$results/$preset-ctest.log" 2>&1
  local status=$?
  tail -25 "$results/$preset-ctest.log"
  if [ ! -s "$results/$preset-ctest.xml" ]; then
    # Counted here, with ctest's status, rather than once more for the listing.
    rm -f "$results/$preset-tests.json"
    record "$preset-ctest" failed "ctest wrote no results (exit status $status)"; return 1
  fi
  return "$status"
}

suite_native() {
  configure_and_build native && run_ctest native
}

suite_native_tsan() {
  cmake --preset native-tsan >"$results/native-tsan-configure.log" 2>&1 \
    || { tail -20 "$results/native-tsan-configure.log"; record native-tsan-configure failed; return 1; }
  # Only the tests labelled "threaded" run under TSan; build just those.
  local listing
  if ! listing=$(ctest --preset native-tsan -N -L threaded 2>&1); then
    echo "$listing" | tail -20; record native-tsan-tests failed "ctest could not list the threaded tests"; return 1
  fi
  local threaded
  mapfile -t threaded < <(sed -n 's/^ *Test *#[0-9]*: //p' <<<"$listing")
  if ((${#threaded[@]} == 0)); then
    record native-tsan-tests failed "no test is labelled threaded"; return 1
  fi
  configure_and_build native-tsan "${threaded[@]}" && run_ctest native-tsan -L threaded
}

# Starts Xvfb on a free display (from :90 up, away from the ones people pick by hand) and
# waits until it accepts clients; sets xvfb_pid and xvfb_display.
start_xvfb() {
  local ready=$results/xvfb-display number tries
  for ((number = 90; number < 190; ++number)); do
    [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ] && continue
    : >"$ready"
    # With -displayfd, Xvfb writes the display's number once it listens; it ends at once if
    # another server took the display meanwhile.
    Xvfb ":$number" -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$ready" >"$results/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for ((tries = 0; tries < 200; ++tries)); do
      [ -s "$ready" ] && { xvfb_display=:$number; return 0; }
      kill -0 "$xvfb_pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null
  done
  tail -5 "$results/xvfb.log"
  return 1
}

suite_windows() {
  configure_and_build windows || return
  export WINEPREFIX=$root/build/windows/wineprefix WINEDEBUG=-all
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    step "windows: creating the Wine prefix"
    wineboot -i >"$results/wineboot.log" 2>&1
    local status=$?
    wineserver -w
    if ((status != 0)) || [ ! -f "$WINEPREFIX/system.reg" ]; then
      tail -20 "$results/wineboot.log"; record windows-wineprefix failed "wineboot did not make the prefix"; return 1
    fi
  fi
  # Tests that make windows need an X display.
  if ! start_xvfb; then
    record windows-xvfb failed "Xvfb did not start"; return 1
  fi
  step "windows: Xvfb on $xvfb_display"
  DISPLAY=$xvfb_display run_ctest windows
  local status=$?
  kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null
  wineserver -k 2>/dev/null || true
  return "$status"
}

suite_fuzz() {
  configure_and_build fuzz || return
  local fuzzers=(build/fuzz/bin/*_fuzzer) fuzzer
  [ -x "${fuzzers[0]}" ] || { record fuzz-targets failed "no fuzz target was built"; return 1; }
  # One budget for the whole suite, shared out among the targets, so that a new target does
  # not lengthen the run; FUZZ_SECONDS still fixes the time of each target.
  local seconds=${FUZZ_SECONDS:-$(( ${FUZZ_BUDGET:-210} / ${#fuzzers[@]} ))}
  (( seconds > 0 )) || seconds=1
  for fuzzer in "${fuzzers[@]}"; do
    local name=${fuzzer##*/} corpus=build/fuzz/corpus/${fuzzer##*/}
    local target=${name%_fuzzer} dirs=()
    mkdir -p "$corpus"
    for dir in "fuzz/corpus/$target" "fuzz/seeds/$target"; do [ -d "$dir" ] && dirs+=("$dir"); done
    step "fuzz: $name for ${seconds}s"
    # -timeout: an input that takes seconds is a hang, and a hang is a failure.
    if "$fuzzer" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 "$corpus" "${dirs[@]}" \
        >"$results/$name.log" 2>&1; then
      grep -E 'stat::number_of_executed_units|stat::average_exec_per_sec|cov:' "$results/$name.log" | tail -3
      record "$name" passed
    else
      tail -40 "$results/$name.log"; record "$name" failed
    fi
  done
}

# The tests of this script and of the summary, against fixture projects.
suite_scripts() {
  step "scripts: tests of the test script"
  if python3 -m unittest discover -s tests/scripts -p 'test_*.py' >"$results/scripts.log" 2>&1; then
    record script-tests passed
  else
    tail -40 "$results/scripts.log"; record script-tests failed
  fi
}

run_suites() { # suite...
  local suite
  for suite in "$@"; do
    if declare -F "suite_${suite//-/_}" >/dev/null; then
      "suite_${suite//-/_}"
    else
      echo "no suite named '$suite'"; record "$suite" failed "no such suite"
    fi
  done
}
