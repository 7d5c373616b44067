#!/usr/bin/env python3
"""Figures of the whole headless agent (kzbdka-cli) against two simulated recorders
(127.0.0.1 and 127.0.0.2), all four features on:

  1. idle wake-ups per second of all its threads (voluntary + involuntary context
     switches from /proc), over a measuring time (default 30 s);
  2. time from a trigger window appearing in the desktop file to the DKA_PCI_SUPPRESS
     Start arriving at the recorder's socket, p50 / p90 / p99 over 50 trials;
  3. resident memory (VmRSS, VmHWM) with both recorders connected.

    bench/agent_figures.py path/to/kzbdka-cli [--seconds 30] [--trials 50]

Linux only (reads /proc). Build the agent in Release: cmake --preset bench &&
cmake --build build/bench --target kzbdka-cli.
"""
import argparse
import json
import os
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
SCENARIO = {
    "tasks": 15,
    "features": {
        "pci": {"id_config": HOST_NAME_ID, "config": {"methods": [
            {"type": 2, "trigger": 1, "match_pattern": 4, "window_text": "Card Payment", "minimum_suppression_time": 0},
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


def thread_switches(pid):
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/status") as status:
                for line in status:
                    if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                        total += int(line.split()[1])
        except FileNotFoundError:
            pass
    return total


def memory(pid):
    values = {}
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith(("VmRSS", "VmHWM")):
                key, value = line.split(":")
                values[key] = value.strip()
    return values


def write_desktop(path, titles):
    with open(path + ".tmp", "w") as out:
        json.dump({"windows": [{"title": t} for t in titles]}, out)
    os.replace(path + ".tmp", path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("agent")
    parser.add_argument("--seconds", type=float, default=30)
    parser.add_argument("--trials", type=int, default=50)
    args = parser.parse_args()

    folder = tempfile.mkdtemp(prefix="kzb-figures-")
    desktop = os.path.join(folder, "desktop.json")
    write_desktop(desktop, ["CRM - desk"])
    sim = Simulator()
    agent = None
    try:
        first = sim.request({"op": "add_recorder", "host": "127.0.0.1", "port": 0, "scenario": SCENARIO})
        port = first["port"]
        sim.request({"op": "add_recorder", "host": "127.0.0.2", "port": port, "scenario": SCENARIO})
        agent = subprocess.Popen(
            [args.agent, "--recorder", "127.0.0.1", "--recorder", "127.0.0.2", "--port", str(port),
             "--desktop", desktop, "--settings", os.path.join(folder, "settings.json"),
             "--log-dir", os.path.join(folder, "logs")],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        lines = []
        ready = threading.Event()

        def read():
            for line in agent.stdout:
                lines.append(line.rstrip("\n"))
                if sum(1 for l in lines if l.endswith(": connected")) >= 2 and "record on demand: available" in lines:
                    ready.set()
        threading.Thread(target=read, daemon=True).start()
        if not ready.wait(30):
            raise RuntimeError("the agent did not connect to both recorders: " + "; ".join(lines[-10:]))
        time.sleep(3)  # let the configuration conversation settle

        print(f"== idle: two recorders connected, all four features on, {args.seconds:.0f} s")
        before = thread_switches(agent.pid)
        time.sleep(args.seconds)
        after = thread_switches(agent.pid)
        threads = len(os.listdir(f"/proc/{agent.pid}/task"))
        print(f"   {threads} threads; {after - before} context switches = "
              f"{(after - before) / args.seconds:.2f} wake-ups per second")
        rss = memory(agent.pid)
        print(f"== resident memory: VmRSS {rss.get('VmRSS')}, peak VmHWM {rss.get('VmHWM')}")

        print(f"== trigger window -> DKA_PCI_SUPPRESS Start at recorder 1, {args.trials} trials")
        latencies = []
        for trial in range(args.trials):
            since = sim.request({"op": "last_seq"})["seq"]
            appeared = time.time()
            write_desktop(desktop, ["CRM - desk", f"Card Payment {trial}"])
            start = sim.request({"op": "wait", "recorder": 1, "event": "received", "name": "DKA_PCI_SUPPRESS",
                                 "since": since, "timeout": 5}, check=False)
            if not start.get("event"):
                raise RuntimeError(f"trial {trial}: no Start")
            latencies.append((start["event"]["time"] - appeared) * 1000)
            since = start["event"]["seq"]
            write_desktop(desktop, ["CRM - desk"])
            end = sim.request({"op": "wait", "recorder": 1, "event": "received", "name": "DKA_PCI_SUPPRESS",
                               "since": since, "timeout": 5}, check=False)
            if not end.get("event"):
                raise RuntimeError(f"trial {trial}: no End")
            time.sleep(0.137 * (trial % 4))  # spread the trials over the inspection period
        latencies.sort()
        def pct(p):
            return latencies[min(len(latencies) - 1, int(round(p / 100 * (len(latencies) - 1))))]
        print(f"   p50 {pct(50):.1f} ms, p90 {pct(90):.1f} ms, p99 {pct(99):.1f} ms, "
              f"max {latencies[-1]:.1f} ms, mean {statistics.mean(latencies):.1f} ms (inspection period 500 ms)")
        agent.stdin.write("quit\n")
        agent.stdin.flush()
        agent.wait(10)
        return 0
    finally:
        if agent and agent.poll() is None:
            agent.kill()
        sim.close()


if __name__ == "__main__":
    sys.exit(main())
