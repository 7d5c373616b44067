#!/usr/bin/env python3
"""Figures of KZBDKA.exe under Wine, beside the headless agent kzbdka-cli.exe in the same
run, both against two simulated recorders (127.0.0.201 and 127.0.0.202, port 6471) with
all four features on, every dialog of the program shown:

  1. idle wake-ups per second of all the program's threads over a measuring time (default
     30 s), while another application (a window of trigger_window_app.exe) is the one in
     use, as at a desk: the waits of its threads that blocked (wineserver select requests
     answered PENDING, from the trace of a wineserver of our own), not the server calls
     that answer at once, nor preemptions;
  2. resident memory (VmRSS, VmHWM);
  3. time from a click on the manual suppression Start button (click_probe.exe) to the
     DKA_PCI_SUPPRESS at the recorder's socket, p50 / p90 / p99 over 50 clicks.

    bench/program_figures.py build/windows/bin [--seconds 30] [--clicks 50] [--prefix DIR]

Needs Wine and an X display (an Xvfb of its own when DISPLAY is not set). The programs
run in a Wine prefix with a desktop and a taskbar (default: build/windows/wineprefix-desktop,
made when missing).
"""
import argparse
import json
import os
import shutil
import socket
import statistics
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from agent_figures import SCENARIO, Simulator, WineWaits, memory  # noqa: E402

HOSTS = ("127.0.0.201", "127.0.0.202")


def wine(env, *arguments, **options):
    return subprocess.run(["wine", *arguments], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                          **options)


def prepare_prefix(prefix, env):
    if not os.path.isfile(os.path.join(prefix, "system.reg")):
        print(f"== making the Wine prefix {prefix}")
        subprocess.run(["wineboot", "-i"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wine(env, "reg", "add", r"HKCU\Software\Wine\Explorer", "/v", "Desktop", "/d", "shell", "/f")
        wine(env, "reg", "add", r"HKCU\Software\Wine\Explorer\Desktops", "/v", "shell", "/d", "1024x768", "/f")
        subprocess.run(["wineserver", "-w"], env=env)


def set_settings(env):
    key = r"HKLM\SOFTWARE\Corvanta\KZBDKA"
    wine(env, "reg", "add", key, "/v", "RecorderAddress", "/d", " ".join(HOSTS), "/f")
    user = r"HKCU\SOFTWARE\Corvanta\KZBDKA"
    for name, value in (("ShowWindow", "1"), ("LogLevel", "2")):
        wine(env, "reg", "add", user, "/v", name, "/t", "REG_DWORD", "/d", value, "/f")


def wait_configured(sim, since):
    for recorder in (1, 2):
        for name in ("DKA_GET_PCI_SUPPRESSION_CONFIG", "DKA_GET_ANNOTATION_CONFIG",
                     "DKA_GET_MANUAL_SUPPRESSION_CONFIG", "DKA_GET_RECORD_ON_DEMAND_CONFIG"):
            found = sim.request({"op": "wait", "recorder": recorder, "event": "received", "name": name,
                                 "since": since, "timeout": 60}, check=False)
            if not found.get("event"):
                raise RuntimeError(f"recorder {recorder} got no {name}")


def idle(process, waits, seconds, label):
    time.sleep(3)  # the configuration conversation settles
    before = waits(process.pid)
    time.sleep(seconds)
    after = waits(process.pid)
    threads = len(os.listdir(f"/proc/{process.pid}/task"))
    rate = (after - before) / seconds
    rss = memory(process.pid)
    print(f"   {label}: {threads} threads, {after - before} blocked waits in {seconds:.0f} s = "
          f"{rate:.2f} wake-ups per second; VmRSS {rss.get('VmRSS')}, VmHWM {rss.get('VmHWM')}")
    return rate


def clicks(sim, probe, count, env):
    since = sim.request({"op": "last_seq"})["seq"]
    done = subprocess.run(["wine", probe, str(count), "200"], env=env, capture_output=True, text=True, timeout=600)
    pressed = [int(line.split()[1]) for line in done.stdout.splitlines() if line.startswith("click ")]
    if len(pressed) != count:
        raise RuntimeError(f"click_probe: {done.stdout[-300:]}")
    events = sim.request({"op": "events", "since": since})["events"]
    arrived = [e["time"] * 1000 for e in events
               if e["event"] == "received" and e["recorder"] == 1 and e["message"]["name"] == "DKA_PCI_SUPPRESS"]
    if len(arrived) < count:
        raise RuntimeError(f"{len(arrived)} of {count} clicks reached the recorder")
    latencies = sorted(a - p for a, p in zip(arrived, pressed))

    def pct(p):
        return latencies[min(len(latencies) - 1, int(round(p / 100 * (len(latencies) - 1))))]
    print(f"   p50 {pct(50):.1f} ms, p90 {pct(90):.1f} ms, p99 {pct(99):.1f} ms, max {latencies[-1]:.1f} ms, "
          f"mean {statistics.mean(latencies):.1f} ms")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("bin", help="the windows build's bin folder")
    parser.add_argument("--seconds", type=float, default=30)
    parser.add_argument("--clicks", type=int, default=50)
    parser.add_argument("--prefix", default=os.path.join(HERE, "..", "build", "windows", "wineprefix-desktop"))
    args = parser.parse_args()

    env = dict(os.environ, WINEPREFIX=os.path.abspath(args.prefix), WINEDEBUG="-all")
    xvfb = None
    if not env.get("DISPLAY"):
        env["DISPLAY"] = ":211"
        xvfb = subprocess.Popen(["Xvfb", ":211", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(1)
    prepare_prefix(env["WINEPREFIX"], env)
    set_settings(env)
    waits = WineWaits(env)
    sim = Simulator()
    program = None
    desks = []

    def desk():
        """The application the agent works in takes the foreground, as at a desk."""
        if not desks:
            desks.append(subprocess.Popen(
                ["wine", os.path.join(args.bin, "trigger_window_app.exe"), "900", "CRM - Customer desk"], env=env,
                stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL))
            desks[0].stdout.readline()  # "shown"
    try:
        scenario = dict(SCENARIO)
        for host in HOSTS:
            sim.request({"op": "add_recorder", "host": host, "port": 6471, "scenario": scenario})

        print(f"== KZBDKA.exe, every dialog shown, idle for {args.seconds:.0f} s")
        since = sim.request({"op": "last_seq"})["seq"]
        program = subprocess.Popen(["wine", os.path.join(args.bin, "KZBDKA.exe")], env=env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_configured(sim, since)
        desk()
        gui = idle(program, waits, args.seconds, "KZBDKA.exe")
        print(f"== click on Start -> DKA_PCI_SUPPRESS at recorder 1, {args.clicks} clicks")
        clicks(sim, os.path.join(args.bin, "click_probe.exe"), args.clicks, env)
        program.kill()
        program.wait(30)
        program = None

        print(f"== kzbdka-cli.exe against the same recorders, idle for {args.seconds:.0f} s")
        since = sim.request({"op": "last_seq"})["seq"]
        program = subprocess.Popen(["wine", os.path.join(args.bin, "kzbdka-cli.exe"), "--recorder", HOSTS[0],
                                    "--recorder", HOSTS[1]], env=env, stdin=subprocess.PIPE,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_configured(sim, since)
        desk()
        cli = idle(program, waits, args.seconds, "kzbdka-cli.exe")
        print(f"== ratio KZBDKA.exe / kzbdka-cli.exe wake-ups: {gui / cli:.2f}" if cli else "")
        return 0
    finally:
        waits.stop()
        if program and program.poll() is None:
            program.kill()
        sim.close()
        if xvfb:
            xvfb.kill()


if __name__ == "__main__":
    sys.exit(main())
