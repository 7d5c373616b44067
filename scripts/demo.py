#!/usr/bin/env python3
"""The agent at work: kzbdka-cli against the bundled recorder simulator, step by step.

    demo.py --agent build/native/bin/kzbdka-cli [--scenario tools/recorder-sim/scenarios/demo.json]

Starts the simulator on a free port with the scenario and the agent with a desktop file in a
temporary folder, then plays a short working day: a payment window opens and closes, an
annotation, manual suppression, record on demand, quit. Shows what the agent prints
("agent> ") and what the recorder receives ("recorder< ") and sends ("recorder> ").
Every step waits for what it expects, with a time-out; exit code 0 when all of them came.
scripts/demo builds the agent and runs this.
"""
import argparse
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
SIMULATOR = os.path.join(ROOT, "tools", "recorder-sim", "recorder_sim.py")
DEFAULT_SCENARIO = os.path.join(ROOT, "tools", "recorder-sim", "scenarios", "demo.json")

# Each step is over in about a second; this leaves room for a busy machine and the sanitizers.
WAIT = 20.0

ACTIONS = {"DKA_PCI_SUPPRESS": {1: "Start", 2: "End"}, "DKA_RECORD_ON_DEMAND": {1: "Keep", 2: "Discard"}}
CALL_STATE_BITS = ((0x01, "recording"), (0x02, "suppressed"), (0x10, "on hold"))
ROD_STATES = {0: "not available", 1: "keep", 2: "discard"}


class StepFailed(Exception):
    pass


class Console:
    """Both processes' lines, printed as they come and kept for the steps to wait on."""

    def __init__(self):
        self.changed = threading.Condition()
        self.agent_lines = []
        self.events = []
        self.ended = set()

    def say(self, text):
        with self.changed:
            print(text, flush=True)

    def add_agent_line(self, line):
        with self.changed:
            print(f"agent> {line}", flush=True)
            self.agent_lines.append(line)
            self.changed.notify_all()

    def add_event(self, event):
        with self.changed:
            shown = short_form(event)
            if shown:
                print(shown, flush=True)
            self.events.append(event)
            self.changed.notify_all()

    def end(self, who):
        with self.changed:
            self.ended.add(who)
            self.changed.notify_all()

    def marks(self):
        with self.changed:
            return len(self.agent_lines), len(self.events)

    def wait(self, find, what, timeout, needs):
        """Waits until find() (called with the lock held) returns something; returns it. Gives up
        early when one of the processes it needs has ended."""
        deadline = time.monotonic() + timeout
        with self.changed:
            while True:
                found = find()
                if found is not None:
                    return found
                left = deadline - time.monotonic()
                if left <= 0:
                    raise StepFailed(f"{what} did not come within {timeout:.0f} s")
                gone = sorted(self.ended & set(needs))
                if gone:
                    raise StepFailed(f"{what} did not come: the {' and the '.join(gone)} ended")
                self.changed.wait(left)

    def agent_line(self, pattern, after, timeout=WAIT):
        regex = re.compile(pattern)

        def find():
            return next((line for line in self.agent_lines[after:] if regex.fullmatch(line)), None)
        return self.wait(find, f"the agent's line '{pattern}'", timeout, ("agent",))

    def received(self, name, after, action=None, timeout=WAIT):
        def find():
            return next((e for e in self.events[after:] if e.get("event") == "received"
                         and e["message"].get("name") == name
                         and (action is None or e["message"].get("action") == action)), None)
        shown = f"{name} {ACTIONS.get(name, {}).get(action, '')}".rstrip()
        return self.wait(find, f"the recorder's {shown}", timeout, ("agent", "simulator"))

    def event(self, kind, after, timeout=WAIT):
        def find():
            return next((e for e in self.events[after:] if e.get("event") == kind), None)
        return self.wait(find, f"the simulator's '{kind}' event", timeout, ("simulator",))


def short_form(event):
    """One short line for what matters in a simulator event; None for heartbeats and the like."""
    kind = event.get("event")
    if kind == "listening":
        return f"recorder: listening on {event['host']}:{event['port']}"
    if kind in ("connected", "disconnected", "closed"):
        return f"recorder: agent {kind}" + (f" from {event['peer']}" if kind == "connected" else "")
    if kind not in ("received", "sent"):
        return None if kind in ("control",) else f"recorder: {kind}"
    message = event["message"]
    name = message.get("name", hex(message.get("id", 0)))
    if name == "DKA_HEARTBEAT":
        return None
    if kind == "sent":
        # The configurations themselves show up in the agent's lines.
        if name.endswith("_CONFIG"):
            return None
        detail = ""
        if name == "DKA_TASKS":
            detail = f" mask {message.get('mask')}"
        elif name == "DKA_CALL_STATE":
            state = message.get("state", 0)
            detail = f" {state} ({', '.join(t for bit, t in CALL_STATE_BITS if state & bit) or 'idle'})"
        elif name.startswith("DKA_RECORD_ON_DEMAND") and "state" in message:
            detail = f" {ROD_STATES.get(message['state'], message['state'])}"
        return f"recorder> {name}{detail}"
    details = []
    if "action" in message:
        details.append(ACTIONS.get(name, {}).get(message["action"], str(message["action"])))
    if "id_type_name" in message:
        details.append(f"as {message['id_type_name']} '{message.get('client_id', '')}'")
    if name == "DKA_ID":
        details.append(f"host '{message.get('hostname', '')}' login '{message.get('login', '')}'")
    for field in message.get("fields", []):
        details.append(f"{field['field_id']}='{field['value']}'")
    return f"recorder< {name} {' '.join(details)}".rstrip()


def read_lines(stream, handle, on_end):
    for raw in stream:
        handle(raw.decode("utf-8", errors="replace").rstrip("\r\n"))
    on_end()


def write_desktop(path, titles):
    """Replaces the desktop file in one step, so the agent never reads half of it."""
    temporary = path + ".tmp"
    with open(temporary, "w") as f:
        json.dump({"windows": [{"title": t, "class": "CrmFrame"} for t in titles]}, f)
    os.replace(temporary, path)


def stop_process(process, polite, timeout=10):
    if process is None or process.poll() is not None:
        return
    try:
        polite()
        process.wait(timeout=timeout)
    except (OSError, ValueError, subprocess.TimeoutExpired):
        pass
    if process.poll() is None:
        process.kill()
        process.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--agent", required=True, help="the native kzbdka-cli")
    parser.add_argument("--scenario", default=DEFAULT_SCENARIO)
    args = parser.parse_args()

    with open(args.scenario) as f:
        scenario = json.load(f)
    pci_method = scenario["features"]["pci"]["config"]["methods"][0]
    trigger_text = pci_method["window_text"]
    minimum = pci_method.get("minimum_suppression_time", 0)

    # A signal ends the demo the same way as a failed step: through the clean-up below.
    def interrupted(number, _frame):
        raise StepFailed(f"interrupted by signal {number}")
    for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, interrupted)

    folder = tempfile.mkdtemp(prefix="kzbdka-demo-")
    desktop = os.path.join(folder, "desktop.json")
    console = Console()
    simulator = agent = None
    agent_stderr = open(os.path.join(folder, "agent-stderr.txt"), "wb")
    step = "starting"
    ok = False
    try:
        console.say(f"demo: agent {args.agent}")
        console.say(f"demo: scenario {os.path.relpath(args.scenario, ROOT)}, files in {folder}")
        console.say("demo: 'agent>' the agent's output, 'recorder<' what the recorder receives, "
                    "'recorder>' what it sends")
        simulator = subprocess.Popen(
            [sys.executable, SIMULATOR, "--host", "127.0.0.1", "--port", "0", "--scenario", args.scenario],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        threading.Thread(target=read_lines, daemon=True, args=(
            simulator.stdout, lambda line: console.add_event(json.loads(line)) if line.startswith("{")
            else console.say(f"recorder: {line}"), lambda: console.end("simulator"))).start()
        listening = console.event("listening", 0)

        step = "1. The agent connects"
        console.say(f"== {step}")
        write_desktop(desktop, ["CRM - Customer 4711"])
        with open(os.path.join(folder, "settings.json"), "w") as f:
            json.dump({}, f)
        env = dict(os.environ, KZB_ROOT=os.path.join(folder, "root"))
        agent = subprocess.Popen(
            [args.agent, "--recorder", "127.0.0.1", "--port", str(listening["port"]), "--desktop", desktop,
             "--settings", os.path.join(folder, "settings.json"), "--log-dir", os.path.join(folder, "logs")],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=agent_stderr, env=env)
        threading.Thread(target=read_lines, daemon=True,
                         args=(agent.stdout, console.add_agent_line, lambda: console.end("agent"))).start()
        console.agent_line(r"connection 1: connected", 0)
        for name in ("DKA_GET_PCI_SUPPRESSION_CONFIG", "DKA_GET_ANNOTATION_CONFIG",
                     "DKA_GET_MANUAL_SUPPRESSION_CONFIG", "DKA_GET_RECORD_ON_DEMAND_CONFIG"):
            console.received(name, 0)
        console.agent_line(r"annotation: 1001 .*", 0)
        console.agent_line(r"manual suppression: available", 0)
        console.agent_line(r"record on demand: available", 0)
        console.agent_line(r"record on demand state: (?!Not Available).*", 0)

        step = "2. A payment window opens: suppression starts"
        console.say(f"== {step}")
        lines, events = console.marks()
        write_desktop(desktop, ["CRM - Customer 4711", f"{trigger_text} - CRM"])
        started = console.received("DKA_PCI_SUPPRESS", events, action=1)
        console.agent_line(r"title: KZB Voralis - Suppressing", lines)

        step = f"3. The payment window closes: suppression ends after its {minimum} s minimum"
        console.say(f"== {step}")
        lines, events = console.marks()
        write_desktop(desktop, ["CRM - Customer 4711"])
        ended = console.received("DKA_PCI_SUPPRESS", events, action=2, timeout=WAIT + minimum)
        console.agent_line(r"title: KZB Voralis", lines)
        console.say(f"   (suppressed for {ended['time'] - started['time']:.1f} s)")

        step = "4. The call is annotated"
        console.say(f"== {step}")
        lines, events = console.marks()
        send(agent, "annotate 1001=Callback-Friday 1002=Sale")
        console.agent_line(r"ok: annotate \(sent to recorder 1\)", lines)
        console.received("DKA_ANNOTATE_CALL", events)

        step = "5. Manual suppression: start and stop"
        console.say(f"== {step}")
        for command, action, title in (("suppress start", 1, "KZB Voralis - Suppressing"),
                                       ("suppress stop", 2, "KZB Voralis")):
            lines, events = console.marks()
            send(agent, command)
            console.agent_line(re.escape(f"ok: {command}"), lines)
            console.received("DKA_PCI_SUPPRESS", events, action=action)
            console.agent_line(re.escape(f"title: {title}"), lines)

        step = "6. Record on demand: discard the next call, then keep it after all"
        console.say(f"== {step}")
        for command, action, state in (("discard", 2, "Discarding Next Call"), ("keep", 1, "Keeping All Calls")):
            lines, events = console.marks()
            send(agent, command)
            console.agent_line(re.escape(f"ok: {command}"), lines)
            console.received("DKA_RECORD_ON_DEMAND", events, action=action)
            console.agent_line(re.escape(f"record on demand state: {state}"), lines)

        step = "7. The agent quits, the simulator stops"
        console.say(f"== {step}")
        lines, events = console.marks()
        send(agent, "quit")
        try:
            code = agent.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            raise StepFailed(f"the agent did not exit within {WAIT:.0f} s")
        if code != 0:
            raise StepFailed(f"the agent exited with {code}")
        console.event("disconnected", events)
        stop_process(simulator, lambda: send(simulator, json.dumps({"op": "quit"})))
        console.say("demo: the agent exited with 0, the simulator stopped")
        ok = True
    except StepFailed as failure:
        console.say(f"demo: FAILED at step '{step}': {failure}")
    finally:
        for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            signal.signal(number, signal.SIG_IGN)
        stop_process(agent, lambda: send(agent, "quit"))
        stop_process(simulator, lambda: send(simulator, json.dumps({"op": "quit"})))
        agent_stderr.close()
        if ok:
            shutil.rmtree(folder, ignore_errors=True)
        else:
            with open(agent_stderr.name, "rb") as f:
                errors = f.read().decode("utf-8", errors="replace").strip()
            if errors:
                print("demo: the agent's error output:\n" + errors[-3000:], flush=True)
            print(f"demo: the agent's log, desktop file and error output are kept in {folder}", flush=True)
    if ok:
        print("demo: done", flush=True)
    return 0 if ok else 1


def send(process, line):
    process.stdin.write((line + "\n").encode())
    process.stdin.flush()


if __name__ == "__main__":
    sys.exit(main())
