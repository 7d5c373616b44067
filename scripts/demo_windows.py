#!/usr/bin/env python3
"""The Windows program as an agent meets it: the real KZBDKA.exe under Wine, in a Wine desktop
with a taskbar, against the bundled recorder simulator.

    demo_windows.py --program build/windows/bin/KZBDKA.exe [--screens build/results/demo-screens]

Uses DISPLAY when set (the desktop then shows on that screen), else an Xvfb of its own.
Starts the simulator with tools/recorder-sim/scenarios/demo.json on 127.0.0.199:6471, points
the program at it, waits until the recorder hears from the program and its tray icon is
there, then takes a picture of the desktop (connected, then suppressing) into --screens and
ends everything. scripts/demo --windows builds the program and runs this.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
import time

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "comms"))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from run_with_simulator import prepare_desktop_prefix  # noqa: E402
import harness  # noqa: E402

ADDRESS = "127.0.0.199"
WAIT = 30.0


def start_xvfb():
    """An Xvfb on a free display from :120 up; returns (process, display)."""
    for number in range(120, 220):
        if os.path.exists(f"/tmp/.X{number}-lock") or os.path.exists(f"/tmp/.X11-unix/X{number}"):
            continue
        read, write = os.pipe()
        process = subprocess.Popen(["Xvfb", f":{number}", "-displayfd", str(write), "-screen", "0", "1280x1024x24",
                                    "-nolisten", "tcp"], pass_fds=(write,), stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        os.close(write)
        # Xvfb writes the display's number once it takes clients, or ends.
        with os.fdopen(read) as ready:
            if ready.readline().strip():
                return process, f":{number}"
        process.wait()
    raise SystemExit("demo: no free X display for Xvfb")


def wine_reg(env, *arguments):
    subprocess.run(["wine", "reg", *arguments, "/f"], env=env, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def screenshot(env, folder, name):
    target = os.path.join(folder, name + ".png")
    # The Wine desktop is 1024x768 at the top left of the screen.
    subprocess.run(["import", "-display", env["DISPLAY"], "-window", "root", "-crop", "1024x768+0+0", "+repage",
                    target], check=True)
    print(f"demo: picture {target}")


def wait_for_text(path, text, timeout=WAIT):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if os.path.exists(path):
            with open(path, errors="replace") as f:
                if text in f.read():
                    return True
        time.sleep(0.2)
    return False


def settle(log_file, quiet=1.0, timeout=WAIT):
    """Waits until the program's log has been still for a moment: it has drawn what it was told."""
    deadline = time.monotonic() + timeout
    last = (-1, time.monotonic())
    while time.monotonic() < deadline:
        size = os.path.getsize(log_file) if os.path.exists(log_file) else 0
        if size != last[0]:
            last = (size, time.monotonic())
        elif time.monotonic() - last[1] >= quiet:
            return
        time.sleep(0.1)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True)
    parser.add_argument("--screens", default=os.path.join(ROOT, "build", "results", "demo-screens"))
    args = parser.parse_args()
    os.makedirs(args.screens, exist_ok=True)

    env = dict(os.environ, WINEDEBUG="-all")
    xvfb = None
    if not env.get("DISPLAY"):
        xvfb, env["DISPLAY"] = start_xvfb()
        print(f"demo: no DISPLAY, using an Xvfb of its own on {env['DISPLAY']}")
    prefix = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(args.program))), "wineprefix-demo")
    print(f"demo: Wine desktop prefix {prefix} (made on first use, about half a minute)")
    prepare_desktop_prefix(prefix, env)
    os.environ.update(env)

    logs = tempfile.mkdtemp(prefix="kzbdka-demo-")
    windows_logs = "Z:" + logs.replace("/", "\\")
    wine_reg(env, "add", r"HKLM\SOFTWARE\Corvanta\KZBDKA", "/v", "RecorderAddress", "/d", ADDRESS)
    wine_reg(env, "add", r"HKCU\SOFTWARE\Corvanta\KZBDKA", "/v", "LogPath", "/d", windows_logs)
    wine_reg(env, "add", r"HKCU\SOFTWARE\Corvanta\KZBDKA", "/v", "LogLevel", "/t", "REG_DWORD", "/d", "4")
    wine_reg(env, "add", r"HKCU\SOFTWARE\Corvanta\KZBDKA", "/v", "ShowWindow", "/t", "REG_DWORD", "/d", "1")

    simulator = harness.Simulator(os.path.join(logs, "simulator.log"))
    program = None
    try:
        with open(os.path.join(ROOT, "tools", "recorder-sim", "scenarios", "demo.json")) as f:
            scenario = json.load(f)
        simulator.port = 6471
        recorder = simulator.add_recorder(ADDRESS, scenario)
        print(f"demo: recorder simulator on {ADDRESS}:6471; starting {args.program}")
        program = subprocess.Popen(["wine", os.path.abspath(args.program)], env=env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        simulator.wait(event="received", recorder=recorder, timeout=WAIT)
        if not wait_for_text(os.path.join(logs, "KZBDKA.txt"), "Successfully created tray icon"):
            raise SystemExit(f"demo: the program showed no tray icon (log in {logs})")
        log_file = os.path.join(logs, "KZBDKA.txt")
        settle(log_file)
        screenshot(env, args.screens, "windows-connected")
        simulator.command(recorder, op="send", message={"name": "DKA_CALL_STATE", "state": 3})
        settle(log_file)
        screenshot(env, args.screens, "windows-suppressing")
        print(f"demo: done; the program's log and the simulator's are in {logs}")
        return 0
    finally:
        simulator.stop()
        subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if program:
            program.wait(timeout=60)
        if xvfb:
            xvfb.terminate()
            xvfb.wait()


if __name__ == "__main__":
    sys.exit(main())
