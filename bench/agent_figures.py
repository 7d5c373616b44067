#!/usr/bin/env python3
"""Figures of the whole headless agent (kzbdka-cli) against two simulated recorders
(127.0.0.1 and 127.0.0.2), all four features on:

  1. idle wake-ups per second of all its threads over a measuring time (default 30 s): the
     times a thread of ours finished a wait. Natively its voluntary context switches from
     /proc (preemptions are not wake-ups); under Wine the waits that blocked in the
     wineserver (select requests answered PENDING, from the server's request trace), not
     the server calls that answer at once, each of which is also a voluntary switch;
  2. time from a trigger window appearing to the DKA_PCI_SUPPRESS Start arriving at the
     recorder's socket, p50 / p90 / p99 over the trials (default 100);
  3. resident memory (VmRSS, VmHWM) with both recorders connected;
  4. with --seats: the agent's CPU per seat while idle (its own user + system time over a
     measured minute, as a share of one core) for desktops of TRIGGERSxWINDOWS, the
     windows with three children each, e.g. --seats 3x30 50x300 200x1000.

    bench/agent_figures.py AGENT [--baseline OLD_AGENT] [--seconds 30] [--trials 100] [--seats ...]

Natively the desktop is the desktop file; with kzbdka-cli.exe (run under Wine, needs a
display and a WINEPREFIX) it is the real Wine desktop, played by desktop_actor.exe from
the same folder. With --baseline every figure is taken for both agents in the same run.
Build the native agents in Release: cmake --preset bench && cmake --build build/bench
--target kzbdka-cli.
"""
import argparse
import collections
import json
import os
import re
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SIMULATOR = os.path.join(HERE, "..", "tools", "recorder-sim", "recorder_sim.py")

HOST_NAME_ID = {"id_type": 4, "methods": []}
PAYMENT = {"type": 2, "trigger": 1, "match_pattern": 4, "window_text": "Card Payment", "minimum_suppression_time": 0}
SCENARIO = {
    "tasks": 15,
    "features": {
        "pci": {"id_config": HOST_NAME_ID, "config": {"methods": [
            PAYMENT,
            {"type": 2, "trigger": 1, "match_pattern": 4, "window_text": "Billing", "minimum_suppression_time": 5},
            {"type": 3, "trigger": 1, "match_pattern": 4, "window_text": "Shop", "minimum_suppression_time": 5,
             "sub_match_pattern": 1, "sub_window_text": "Card number"}]}},
        "annotation": {"id_config": {"id_type": 2, "methods": []}, "config": {"fields": [
            {"field_id": 1001, "field_name": "Notes", "input": {"type": 1, "max_length": 40}}]}},
        "manual_suppression": {"id_config": {"id_type": 3, "methods": []}, "config": {"enabled": True}},
        "record_on_demand": {"id_config": {"id_type": 4, "methods": []}, "config": {"type": 1, "mode": 2},
                             "state": 1, "default_state": 1},
    },
    "timeline": [],
    "react": False,
}


class Simulator:
    def __init__(self):
        self.process = subprocess.Popen(
            [sys.executable, SIMULATOR, "--no-recorder", "--control-port", "0", "--no-stdin"],
            stdout=subprocess.PIPE, text=True)
        for line in self.process.stdout:
            event = json.loads(line)
            if event.get("event") == "control":
                self.control = socket.create_connection(("127.0.0.1", event["port"]))
                break
        threading.Thread(target=lambda: [None for _ in self.process.stdout], daemon=True).start()
        self.reader = self.control.makefile("r")

    def request(self, command, check=True):
        self.control.sendall((json.dumps(command) + "\n").encode())
        reply = json.loads(self.reader.readline())
        if check and not reply.get("ok", True):
            raise RuntimeError(f"simulator: {reply}")
        return reply

    def close(self):
        try:
            self.request({"op": "quit"})
        except Exception:
            pass
        self.process.kill()
        self.process.wait()


def voluntary_switches(pid):
    """The times the process's threads gave up the processor to wait (natively, a wake-up
    each); the involuntary switches are preemptions, not wake-ups."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/status") as status:
                for line in status:
                    if line.startswith("voluntary_ctxt_switches"):
                        total += int(line.split()[1])
        except FileNotFoundError:
            pass
    return total


class WineWaits:
    """The waits of a Wine process's threads that blocked, from the request trace of a
    wineserver of our own for the prefix (wineserver -f -d1). Every wait (WaitFor...,
    GetMessage, Sleep) is a select request; answered PENDING, the thread sleeps until it is
    woken, so each is one wake-up. Other server calls (window messages, handles, the
    registry) answer at once and are not counted, though each is a voluntary switch."""

    REQUEST = re.compile(r"^([0-9a-f]+): (init_first_thread|init_thread)\( (?:unix_pid=-?\d+, )?unix_tid=(\d+)")
    PENDING = re.compile(r"^([0-9a-f]+): select\(\) = PENDING")

    def __init__(self, env):
        subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=env, stderr=subprocess.DEVNULL)
        self.env = env
        self.server = subprocess.Popen(["wineserver", "-f", "-d1"], env=env, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.PIPE, text=True, errors="replace")
        self.lock = threading.Lock()
        self.unix_tid = {}  # the server's thread id -> Linux thread id
        self.pending = collections.Counter()  # the server's thread id -> blocked waits
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.server.stderr:
            if ": select() = PENDING" in line:
                match = self.PENDING.match(line)
                if match:
                    with self.lock:
                        self.pending[match.group(1)] += 1
            elif "init_" in line:
                match = self.REQUEST.match(line)
                if match:
                    with self.lock:
                        self.unix_tid[match.group(1)] = int(match.group(3))

    def __call__(self, pid):
        tasks = {int(task) for task in os.listdir(f"/proc/{pid}/task")}
        with self.lock:
            return sum(count for thread, count in self.pending.items() if self.unix_tid.get(thread) in tasks)

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stderr=subprocess.DEVNULL)
        try:
            self.server.wait(30)
        except subprocess.TimeoutExpired:
            self.server.kill()


def cpu_seconds(pid):
    """CPU time of all the process's threads, from the scheduler's nanosecond counts (the
    clock-tick counts of /proc/PID/stat are too coarse for a fraction of a per cent)."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as stat:
                total += int(stat.read().split()[0])
        except (FileNotFoundError, ProcessLookupError):
            pass  # a thread that ended; the agent's threads live as long as it does
    return total / 1e9


def memory(pid):
    values = {}
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith(("VmRSS", "VmHWM")):
                key, value = line.split(":")
                values[key] = value.strip()
    return values


def percentiles(values):
    values = sorted(values)

    def pct(p):
        return values[min(len(values) - 1, int(round(p / 100 * (len(values) - 1))))]
    return {"p50": pct(50), "p90": pct(90), "p99": pct(99), "max": values[-1], "mean": statistics.mean(values)}


class NativeDesktop:
    """The desktop file of a native agent."""

    def __init__(self, folder, windows=0, children=3):
        self.path = os.path.join(folder, "desktop.json")
        self.crowd = [{"title": f"Customer record {i} - CRM", "children": [{"text": f"Field {j}"} for j in range(children)]}
                      for i in range(windows)] or [{"title": "CRM - desk"}]
        self.write()

    def write(self, extra=None):
        windows = self.crowd + ([{"title": extra}] if extra else [])
        with open(self.path + ".tmp", "w") as out:
            json.dump({"windows": windows}, out)
        os.replace(self.path + ".tmp", self.path)

    def arguments(self):
        return ["--desktop", self.path]

    def open(self, title):
        appeared = time.time()
        self.write(title)
        return appeared

    def close_window(self):
        self.write()

    def stop(self):
        pass


class WineDesktop:
    """The real Wine desktop with a crowd of windows from desktop_actor.exe."""

    def __init__(self, bin_folder, windows=1, children=3):
        self.process = subprocess.Popen(["wine", os.path.join(bin_folder, "desktop_actor.exe"), str(windows),
                                         str(children)], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        if self.process.stdout.readline().strip() != "ready":
            raise RuntimeError("desktop_actor.exe did not start")

    def arguments(self):
        return []

    def _say(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        return int(self.process.stdout.readline().split()[1]) / 1000

    def open(self, title):
        return self._say("open " + title)

    def close_window(self):
        self._say("close")

    def stop(self):
        self.process.stdin.close()
        self.process.wait(60)


class Agent:
    def __init__(self, binary, port, desktop, folder):
        wine = binary.lower().endswith(".exe")
        command = (["wine"] if wine else []) + [binary, "--recorder", "127.0.0.1", "--recorder", "127.0.0.2",
                                                 "--port", str(port), "--log-dir", os.path.join(folder, "logs")]
        if not wine:
            command += ["--settings", os.path.join(folder, "settings.json")]
        self.process = subprocess.Popen(command + desktop.arguments(), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True)
        self.lines = []
        ready = threading.Event()

        def read():
            for line in self.process.stdout:
                self.lines.append(line.rstrip("\n"))
                if sum(1 for l in self.lines if l.endswith(": connected")) >= 2 and \
                        "record on demand: available" in self.lines:
                    ready.set()
        threading.Thread(target=read, daemon=True).start()
        if not ready.wait(60):
            self.stop()
            raise RuntimeError("the agent did not connect to both recorders: " + "; ".join(self.lines[-10:]))
        time.sleep(3)  # let the configuration conversation settle
        self.pid = self.process.pid

    def stop(self):
        try:
            self.process.stdin.write("quit\n")
            self.process.stdin.flush()
            self.process.wait(20)
        except Exception:
            self.process.kill()


def start_recorders(sim, scenario):
    first = sim.request({"op": "add_recorder", "host": "127.0.0.1", "port": 0, "scenario": scenario})
    sim.request({"op": "add_recorder", "host": "127.0.0.2", "port": first["port"], "scenario": scenario})
    return first["port"]


def idle_and_latency(binary, args, label):
    folder = tempfile.mkdtemp(prefix="kzb-figures-")
    wine = binary.lower().endswith(".exe")
    waits = WineWaits(dict(os.environ)) if wine else None
    desktop = WineDesktop(os.path.dirname(binary)) if wine else NativeDesktop(folder)
    count = waits or voluntary_switches
    sim = Simulator()
    agent = None
    try:
        port = start_recorders(sim, SCENARIO)
        agent = Agent(binary, port, desktop, folder)
        before = count(agent.pid)
        time.sleep(args.seconds)
        after = count(agent.pid)
        threads = len(os.listdir(f"/proc/{agent.pid}/task"))
        rss = memory(agent.pid)
        wakeups = (after - before) / args.seconds
        what = "blocked waits (wineserver select = PENDING)" if wine else "voluntary context switches"
        print(f"   {label}: idle {threads} threads, {wakeups:.2f} wake-ups per second ({what}); "
              f"VmRSS {rss.get('VmRSS')}, VmHWM {rss.get('VmHWM')}")
        latencies = []
        for trial in range(args.trials):
            since = sim.request({"op": "last_seq"})["seq"]
            appeared = desktop.open(f"Card Payment {trial}")
            start = sim.request({"op": "wait", "recorder": 1, "event": "received", "name": "DKA_PCI_SUPPRESS",
                                 "since": since, "timeout": 5}, check=False)
            if not start.get("event"):
                raise RuntimeError(f"trial {trial}: no Start")
            latencies.append((start["event"]["time"] - appeared) * 1000)
            desktop.close_window()
            end = sim.request({"op": "wait", "recorder": 1, "event": "received", "name": "DKA_PCI_SUPPRESS",
                               "since": start["event"]["seq"], "timeout": 5}, check=False)
            if not end.get("event"):
                raise RuntimeError(f"trial {trial}: no End")
            time.sleep(0.137 * (trial % 4))  # spread the trials over the inspection period
        figures = percentiles(latencies)
        print(f"   {label}: window -> Start p50 {figures['p50']:.1f} ms, p90 {figures['p90']:.1f} ms, "
              f"p99 {figures['p99']:.1f} ms, max {figures['max']:.1f} ms, mean {figures['mean']:.1f} ms")
        return wakeups, figures
    finally:
        if agent:
            agent.stop()
        desktop.stop()
        sim.close()
        if waits:
            waits.stop()


def seat_cpu(binary, triggers, windows, args, label):
    folder = tempfile.mkdtemp(prefix="kzb-seat-")
    wine = binary.lower().endswith(".exe")
    desktop = WineDesktop(os.path.dirname(binary), windows) if wine else NativeDesktop(folder, windows)
    scenario = json.loads(json.dumps(SCENARIO))
    scenario["features"]["pci"]["config"]["methods"] = [
        {"type": 2, "trigger": 1, "match_pattern": 4, "window_text": f"Payment screen {i}",
         "minimum_suppression_time": 0} for i in range(triggers)]
    sim = Simulator()
    agent = None
    try:
        agent = Agent(binary, start_recorders(sim, scenario), desktop, folder)
        before, started = cpu_seconds(agent.pid), time.monotonic()
        time.sleep(args.seat_seconds)
        used = (cpu_seconds(agent.pid) - before) / (time.monotonic() - started) * 100
        print(f"   {label}: {triggers} triggers x {windows} windows: {used:.3f} % of one core")
        return used
    finally:
        if agent:
            agent.stop()
        desktop.stop()
        sim.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("agent")
    parser.add_argument("--baseline", help="an earlier agent measured in the same run")
    parser.add_argument("--seconds", type=float, default=30)
    parser.add_argument("--trials", type=int, default=100)
    parser.add_argument("--seats", nargs="*", default=[], help="TRIGGERSxWINDOWS desktops for the CPU per seat")
    parser.add_argument("--seat-seconds", type=float, default=60)
    parser.add_argument("--no-latency", action="store_true", help="only the CPU per seat")
    args = parser.parse_args()

    agents = [("after", args.agent)] + ([("before", args.baseline)] if args.baseline else [])
    results = {}
    if not args.no_latency:
        print(f"== two recorders, all features: idle {args.seconds:.0f} s, then {args.trials} trigger windows")
        for label, binary in agents:
            results[label] = idle_and_latency(binary, args, label)
        if "before" in results:
            (wa, la), (wb, lb) = results["after"], results["before"]
            print(f"== after / before: wake-ups {wa / wb:.2f}, p50 {la['p50'] / lb['p50']:.3f}, "
                  f"p99 {la['p99'] / lb['p99']:.3f}")
    for scene in args.seats:
        triggers, windows = (int(n) for n in scene.split("x"))
        print(f"== CPU per seat, idle, {triggers} triggers over {windows} windows, {args.seat_seconds:.0f} s")
        used = {label: seat_cpu(binary, triggers, windows, args, label) for label, binary in agents}
        if "before" in used and used["before"]:
            print(f"   after / before: {used['after'] / used['before']:.3f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
