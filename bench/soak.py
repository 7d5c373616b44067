#!/usr/bin/env python3
"""A working day compressed: one agent program against two simulated recorders for a given
time, with the day's activity every few seconds, then checks of what the recorders got and
of what the program kept.

    bench/soak.py native   [--bin build/native/bin]  [--minutes 30] [--short]
    bench/soak.py cli-wine [--bin build/windows/bin] [--minutes 30] [--short]
    bench/soak.py gui-wine [--bin build/windows/bin] [--minutes 30] [--short]

native runs kzbdka-cli with a desktop file; cli-wine runs kzbdka-cli.exe and gui-wine
KZBDKA.exe under Wine (each in a Wine prefix of its own under build/windows, made when
missing; an X display is needed: an Xvfb of its own when DISPLAY is not set), with real
trigger windows from desktop_actor.exe.

Each minute: one connection dropped (the recorders take turns), in the second minute a
recorder killed and started again 5 s later; call states every second to both recorders; a
payment window shown 3 s and away 4 s; then the person's inputs: annotation (the
headless agent only), manual suppression start and stop, keep and discard, an annotation
configuration update and the same task list again.

Checks: every payment window got one Start while open and one End after it went, at both
recorders, and no automatic Start or End came without one; every annotation and action the
program accepted reached the recorders it named; log files within their rotation; resident
memory, threads and handles (under Wine also GDI and USER objects, read by soak_probe.exe)
sampled through the run, with their slope per hour after the warm-up (not with --short,
whose 2 minutes are no basis for a slope). Exit code 0 when every check passed.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, ".."))
sys.path.insert(0, HERE)
from agent_figures import SCENARIO, Simulator  # noqa: E402

PAYMENT_TITLE = "Card Payment - soak"
AUTOMATIC_ID, MANUAL_ID = 4, 3  # the id types of SCENARIO's automatic and manual suppression
START, END, KEEP, DISCARD = 1, 2, 1, 2
# Slack for a window's Start or End to reach the recorder: 500 ms inspections, a loaded machine.
REACH = 5.0
WINDOW_SHOWN, WINDOW_AWAY = 3.0, 4.0  # seconds a payment window is shown, then away
LOG_LIMIT = (15 << 20) + (64 << 10)  # the default rotation size and one block of lines
GUI_HOSTS = ("127.25.0.1", "127.25.0.2")  # KZBDKA.exe always uses port 6471


def wine(env, *arguments):
    return subprocess.run(["wine", *arguments], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def prepare_prefix(prefix, env, desktop):
    if os.path.isfile(os.path.join(prefix, "system.reg")):
        return
    print(f"== making the Wine prefix {prefix}", flush=True)
    subprocess.run(["wineboot", "-i"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if desktop:
        wine(env, "reg", "add", r"HKCU\Software\Wine\Explorer", "/v", "Desktop", "/d", "shell", "/f")
        wine(env, "reg", "add", r"HKCU\Software\Wine\Explorer\Desktops", "/v", "shell", "/d", "1024x768", "/f")
    subprocess.run(["wineserver", "-w"], env=env)


def slope_per_hour(samples):
    """Least-squares slope of (seconds, value) pairs, per hour."""
    if len(samples) < 3:
        return 0.0
    n = len(samples)
    mean_t = sum(t for t, _ in samples) / n
    mean_v = sum(v for _, v in samples) / n
    spread = sum((t - mean_t) ** 2 for t, _ in samples)
    return 0.0 if spread == 0 else sum((t - mean_t) * (v - mean_v) for t, v in samples) / spread * 3600


class Desk:
    """The windows on the agent's desktop: its desktop file natively, real windows under Wine."""

    def __init__(self, folder, bin_folder, env, real):
        self.real = real
        self.path = os.path.join(folder, "desktop.json")
        if real:
            self.process = subprocess.Popen(["wine", os.path.join(bin_folder, "desktop_actor.exe"), "20", "3"],
                                            env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
            if self.process.stdout.readline().strip() != "ready":
                raise RuntimeError("desktop_actor.exe did not start")
        else:
            self.write(None)

    def write(self, extra):
        windows = [{"title": f"Customer record {i} - CRM", "children": [{"text": "Field"}]} for i in range(20)]
        if extra:
            windows.append({"title": extra})
        with open(self.path + ".tmp", "w") as out:
            json.dump({"windows": windows}, out)
        os.replace(self.path + ".tmp", self.path)

    def _say(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        return int(self.process.stdout.readline().split()[1]) / 1000

    def open(self):
        """The moment the window was there (the simulator's clock)."""
        if self.real:
            return self._say("open " + PAYMENT_TITLE)
        at = time.time()
        self.write(PAYMENT_TITLE)
        return at

    def close(self):
        if self.real:
            return self._say("close")
        at = time.time()
        self.write(None)
        return at

    def stop(self):
        if self.real:
            self.process.stdin.close()
            self.process.wait(60)


class Probe:
    """soak_probe.exe: clicks KZBDKA.exe's buttons and counts a process's GUI objects and handles."""

    def __init__(self, bin_folder, env):
        self.process = subprocess.Popen(["wine", os.path.join(bin_folder, "soak_probe.exe")], env=env,
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.lock = threading.Lock()

    def say(self, line):
        with self.lock:
            self.process.stdin.write(line + "\n")
            self.process.stdin.flush()
            return self.process.stdout.readline().strip()

    def counts(self, exe):
        words = self.say("count " + exe).split()
        return dict(zip(words[0::2], map(int, words[1::2]))) if len(words) == 8 else {}

    def stop(self):
        self.process.stdin.close()
        self.process.wait(30)


class Program:
    """The agent program under soak, with its console (headless agent) read by a thread."""

    def __init__(self, kind, bin_folder, folder, hosts, port, env, desk):
        self.kind = kind
        self.lines = []
        self.changed = threading.Condition()
        self.log_dir = os.path.join(folder, "logs")
        if kind == "gui-wine":
            self.exe = "KZBDKA.exe"
            command = ["wine", os.path.join(bin_folder, self.exe)]
            # Its log folder comes from the registry (LogPath), set by the soak.
        else:
            self.exe = "kzbdka-cli.exe" if kind == "cli-wine" else "kzbdka-cli"
            command = (["wine"] if kind == "cli-wine" else []) + [os.path.join(bin_folder, self.exe)]
            for host in hosts:
                command += ["--recorder", host]
            command += ["--port", str(port), "--log-dir", self.agent_path(self.log_dir)]
            if kind == "native":
                settings = os.path.join(folder, "settings.json")
                with open(settings, "w") as out:
                    json.dump({}, out)
                command += ["--settings", settings, "--desktop", desk.path]
        self.stderr = open(os.path.join(folder, "stderr.txt"), "wb")
        self.process = subprocess.Popen(command, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=self.stderr)
        threading.Thread(target=self._read, daemon=True).start()

    def agent_path(self, path):
        return "Z:" + path.replace("/", "\\") if self.kind == "cli-wine" else path

    def _read(self):
        for raw in self.process.stdout:
            with self.changed:
                self.lines.append(raw.decode("utf-8", "replace").rstrip("\r\n"))
                self.changed.notify_all()

    def command(self, line, timeout=20):
        with self.changed:
            start = len(self.lines)
        self.process.stdin.write((line + "\n").encode())
        self.process.stdin.flush()
        deadline = time.monotonic() + timeout
        with self.changed:
            while True:
                for text in self.lines[start:]:
                    if text.startswith(("ok: ", "error: ")):
                        return text
                start = len(self.lines)
                left = deadline - time.monotonic()
                if left <= 0:
                    return "error: no answer"
                self.changed.wait(left)

    def sample(self, probe):
        """Resident memory (kB), threads, handles; GDI and USER objects under Wine."""
        pid = self.process.pid
        values = {}
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith("VmRSS"):
                    values["rss_kb"] = int(line.split()[1])
        values["threads"] = len(os.listdir(f"/proc/{pid}/task"))
        # Kernel handles: the descriptors the process holds (under Wine, those of the handles
        # it uses, since Wine 8 answers 0 to GetProcessHandleCount).
        values["handles"] = len(os.listdir(f"/proc/{pid}/fd"))
        if probe:
            counts = probe.counts(self.exe)
            values.update({"gdi": counts.get("gdi", -1), "user": counts.get("user", -1),
                           "windows": counts.get("windows", -1)})
        return values

    def stop(self):
        if self.process.poll() is None:
            if self.kind == "gui-wine":
                self.process.kill()
            else:
                try:
                    self.process.stdin.write(b"quit\n")
                    self.process.stdin.flush()
                except OSError:
                    pass
            try:
                self.process.wait(30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.stderr.close()
        return self.process.returncode


class Soak:
    def __init__(self, args):
        self.args = args
        self.kind = args.program
        self.wine = self.kind != "native"
        self.folder = os.path.abspath(args.out)
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(self.folder)
        self.env = dict(os.environ)
        self.failures = []
        self.windows = []  # (opened, closed) on the simulator's clock
        self.accepted = {"annotate": [], "suppress start": 0, "suppress stop": 0, "keep": 0, "discard": 0}
        self.samples = []  # (seconds since start, values)
        self.cleanups = []

    def fail(self, text):
        self.failures.append(text)
        print(f"   FAILED: {text}", flush=True)

    # ------------------------------------------------------------------ set-up

    def start(self):
        if self.wine:
            prefix = os.path.join(ROOT, "build", "windows", f"wineprefix-soak-{self.kind.split('-')[0]}")
            self.env.update(WINEPREFIX=prefix, WINEDEBUG="-all")
            if not self.env.get("DISPLAY"):
                self.start_xvfb()
            prepare_prefix(prefix, self.env, desktop=self.kind == "gui-wine")
            self.cleanups.append(lambda: subprocess.run(["wineserver", "-k"], env=self.env))
        else:
            self.env["KZB_ROOT"] = os.path.join(self.folder, "root")
            runtime = tempfile.mkdtemp(prefix="kzbsoak-")
            self.env["XDG_RUNTIME_DIR"] = runtime
            self.cleanups.append(lambda: shutil.rmtree(runtime, ignore_errors=True))
        self.sim = Simulator()
        self.cleanups.append(self.sim.close)
        hosts = GUI_HOSTS if self.kind == "gui-wine" else ("127.0.0.1", "127.0.0.2")
        port = 6471 if self.kind == "gui-wine" else 0
        for host in hosts:
            reply = self.sim.request({"op": "add_recorder", "host": host, "port": port, "scenario": SCENARIO})
            port = reply["port"]
        if self.kind == "gui-wine":
            key, user = r"HKLM\SOFTWARE\Corvanta\KZBDKA", r"HKCU\SOFTWARE\Corvanta\KZBDKA"
            wine(self.env, "reg", "add", key, "/v", "RecorderAddress", "/d", " ".join(hosts), "/f")
            wine(self.env, "reg", "add", user, "/v", "ShowWindow", "/t", "REG_DWORD", "/d", "1", "/f")
            logs = "Z:" + os.path.join(self.folder, "logs").replace("/", "\\")
            wine(self.env, "reg", "add", user, "/v", "LogPath", "/d", logs, "/f")
        self.desk = Desk(self.folder, self.args.bin, self.env, real=self.wine)
        self.cleanups.append(self.desk.stop)
        self.probe = Probe(self.args.bin, self.env) if self.wine else None
        if self.probe:
            self.cleanups.append(self.probe.stop)
        since = self.sim.request({"op": "last_seq"})["seq"]
        self.program = Program(self.kind, self.args.bin, self.folder, hosts, port, self.env, self.desk)
        self.cleanups.append(self.program.stop)
        self.wait_configured(since, 90)

    def start_xvfb(self):
        for number in range(120, 190):
            if os.path.exists(f"/tmp/.X{number}-lock") or os.path.exists(f"/tmp/.X11-unix/X{number}"):
                continue
            read_end, write_end = os.pipe()
            xvfb = subprocess.Popen(["Xvfb", f":{number}", "-displayfd", str(write_end), "-screen", "0",
                                     "1280x1024x24", "-nolisten", "tcp"], pass_fds=(write_end,),
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            os.close(write_end)
            with os.fdopen(read_end) as ready:
                if ready.readline().strip():
                    self.env["DISPLAY"] = f":{number}"
                    self.cleanups.append(lambda: (xvfb.kill(), xvfb.wait()))
                    return
            xvfb.wait()
        raise RuntimeError("no X display could be started")

    def wait_configured(self, since, timeout):
        """Until both recorders have sent the last answer of the configuration conversation."""
        for recorder in (1, 2):
            found = self.sim.request({"op": "wait", "recorder": recorder, "event": "sent",
                                      "name": "DKA_RECORD_ON_DEMAND_STATE", "since": since, "timeout": timeout},
                                     check=False)
            if not found.get("event"):
                raise RuntimeError(f"recorder {recorder} did not finish its conversation with the agent")

    # ------------------------------------------------------------------ the day

    def run(self):
        seconds = 120 if self.args.short else self.args.minutes * 60
        began = time.monotonic()
        sample_every = 5 if self.args.short else 15
        next_sample = 0.0
        cycle = 0
        while time.monotonic() - began < seconds:
            cycle_start = time.monotonic()
            self.disrupt(cycle)
            window_open = False
            next_toggle = 0.0
            # Payment windows until 40 s into the minute, then the person's inputs. Each is
            # shown 3 s and then away 4 s, by a plan the 1 s ticks cannot make drift: the
            # next window never comes back just as the End of the one before is due (it
            # came 5 s after its Start in the runs seen), which would rightly make one
            # suppression of the two.
            while time.monotonic() - cycle_start < 40 and time.monotonic() - began < seconds:
                tick = time.monotonic()
                self.call_states()
                if tick - cycle_start >= next_toggle:
                    if window_open:
                        self.windows[-1] = (self.windows[-1][0], self.desk.close())
                        next_toggle += WINDOW_AWAY
                    else:
                        self.windows.append((self.desk.open(), None))
                        next_toggle += WINDOW_SHOWN
                    window_open = not window_open
                if tick - began >= next_sample:
                    self.samples.append((tick - began, self.program.sample(self.probe)))
                    next_sample += sample_every
                time.sleep(max(0.0, 1.0 - (time.monotonic() - tick)))
            if window_open:
                self.windows[-1] = (self.windows[-1][0], self.desk.close())
            self.inputs(cycle)
            while time.monotonic() - cycle_start < 60 and time.monotonic() - began < seconds:
                tick = time.monotonic()
                self.call_states()
                time.sleep(max(0.0, 1.0 - (time.monotonic() - tick)))
            cycle += 1
        self.samples.append((time.monotonic() - began, self.program.sample(self.probe)))
        time.sleep(REACH)  # the last End on its way

    def call_states(self):
        for recorder in (1, 2):
            self.sim.request({"recorder": recorder, "op": "send", "message": {"name": "DKA_CALL_STATE", "state": 1}})

    def disrupt(self, cycle):
        """A dropped connection each minute; in the second minute a recorder killed and restarted."""
        since = self.sim.request({"op": "last_seq"})["seq"]
        recorder = 1 + cycle % 2
        if cycle == 1:
            self.sim.request({"recorder": recorder, "op": "refuse"})
            self.sim.request({"recorder": recorder, "op": "reset"})
            time.sleep(5)
            self.sim.request({"recorder": recorder, "op": "listen"})
        else:
            self.sim.request({"recorder": recorder, "op": "close"})
        found = self.sim.request({"op": "wait", "recorder": recorder, "event": "sent",
                                  "name": "DKA_RECORD_ON_DEMAND_STATE", "since": since, "timeout": 40}, check=False)
        if not found.get("event"):
            self.fail(f"minute {cycle + 1}: recorder {recorder} was not connected again within 40 s")
        time.sleep(1)  # the rest of the conversation

    def inputs(self, cycle):
        if self.kind == "gui-wine":
            for button, name in ((1011, "suppress start"), (1012, "suppress stop"), (1015, "keep"),
                                 (1016, "discard")):
                if self.probe.say(f"click {button}").startswith("clicked"):
                    self.accepted[name] += 1
                time.sleep(1)
        else:
            reply = self.program.command(f"annotate 1001=soak{cycle}")
            if reply.startswith("ok: annotate (sent to recorder "):
                self.accepted["annotate"] += [int(r) for r in reply.rstrip(")").split("recorder ")[1].split(", ")]
            for name in ("suppress start", "suppress stop", "keep", "discard"):
                if self.program.command(name).startswith("ok"):
                    self.accepted[name] += 1
                time.sleep(1)
        self.sim.request({"recorder": 1 + cycle % 2, "op": "send", "message": {"name": "DKA_ANNOTATION_CONFIG_UPDATED"}})
        self.sim.request({"recorder": 2 - cycle % 2, "op": "tasks", "mask": SCENARIO["tasks"]})

    # ------------------------------------------------------------------ checks

    def check(self):
        events = self.sim.request({"op": "events", "since": 0})["events"]
        with open(os.path.join(self.folder, "events.jsonl"), "w") as out:
            out.writelines(json.dumps(e) + "\n" for e in events)
        received = [e for e in events if e["event"] == "received"]
        for recorder in (1, 2):
            mine = [e for e in received if e["recorder"] == recorder]
            self.check_windows(recorder, [e for e in mine if e["message"]["name"] == "DKA_PCI_SUPPRESS"
                                          and e["message"].get("id_type") == AUTOMATIC_ID])
            manual = [e["message"]["action"] for e in mine if e["message"]["name"] == "DKA_PCI_SUPPRESS"
                      and e["message"].get("id_type") == MANUAL_ID]
            demand = [e["message"]["action"] for e in mine if e["message"]["name"] == "DKA_RECORD_ON_DEMAND"]
            annotations = sum(1 for e in mine if e["message"]["name"] == "DKA_ANNOTATE_CALL")
            expected = {
                "manual Start": (manual.count(START), self.accepted["suppress start"]),
                "manual End": (manual.count(END), self.accepted["suppress stop"]),
                "keep": (demand.count(KEEP), self.accepted["keep"]),
                "discard": (demand.count(DISCARD), self.accepted["discard"]),
            }
            if self.kind != "gui-wine":
                expected["annotation"] = (annotations, self.accepted["annotate"].count(recorder))
            for what, (got, wanted) in expected.items():
                print(f"   recorder {recorder}: {what}: {got} received, {wanted} sent")
                if got != wanted:
                    self.fail(f"recorder {recorder} received {got} {what}, the program took {wanted}")
        self.check_logs()
        self.report_samples()

    def check_windows(self, recorder, actions):
        """One Start while each window was open, one End after it went; nothing else."""
        unexplained = list(actions)
        missing = []
        for opened, closed in self.windows:
            for action, begin, end in ((START, opened, closed + REACH), (END, closed, closed + REACH)):
                match = next((e for e in unexplained if e["message"]["action"] == action
                              and begin - 0.05 <= e["time"] <= end), None)
                if match:
                    unexplained.remove(match)
                else:
                    missing.append(("Start" if action == START else "End", opened))
        print(f"   recorder {recorder}: {len(self.windows)} payment windows, {len(actions)} automatic Start/End, "
              f"{len(missing)} missing, {len(unexplained)} without a cause")
        for name, opened in missing[:5]:
            self.fail(f"recorder {recorder}: no {name} for the window opened at {opened:.3f}")
        for e in unexplained[:5]:
            self.fail(f"recorder {recorder}: action {e['message']['action']} at {e['time']:.3f} without a window")

    def log_files(self):
        found = []
        for base, _, names in os.walk(self.program.log_dir):
            found += [os.path.join(base, n) for n in names]
        return found

    def check_logs(self):
        files = self.log_files()
        total = sum(os.path.getsize(f) for f in files)
        print(f"   logs: {len(files)} files, {total / 1024:.0f} kB in all, largest "
              f"{max((os.path.getsize(f) for f in files), default=0) / 1024:.0f} kB")
        for f in files:
            if os.path.getsize(f) > LOG_LIMIT:
                self.fail(f"{f} is {os.path.getsize(f)} bytes, beyond its rotation")

    def report_samples(self):
        names = [k for k in ("rss_kb", "threads", "handles", "gdi", "user", "windows") if k in self.samples[0][1]]
        warm = 0 if self.args.short else min(300.0, self.samples[-1][0] / 5)
        settled = [(t, v) for t, v in self.samples if t >= warm]
        for name in names:
            values = [v[name] for _, v in self.samples]
            line = f"   {name}: first {values[0]}, last {values[-1]}, min {min(values)}, max {max(values)}"
            if not self.args.short:
                slope = slope_per_hour([(t, v[name]) for t, v in settled])
                line += f"; after {warm:.0f} s warm-up {slope:+.1f} per hour"
            print(line)
        with open(os.path.join(self.folder, "samples.json"), "w") as out:
            json.dump(self.samples, out)

    def close(self):
        for cleanup in reversed(self.cleanups):
            try:
                cleanup()
            except Exception as error:  # one failed clean-up must not leave the rest
                print(f"   clean-up: {error}", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("program", choices=("native", "cli-wine", "gui-wine"))
    parser.add_argument("--bin", help="the build's bin folder")
    parser.add_argument("--minutes", type=float, default=30)
    parser.add_argument("--short", action="store_true", help="2 minutes, no slopes")
    parser.add_argument("--out", help="where the logs and samples go (default build/<build>/soak-<program>)")
    args = parser.parse_args()
    build = "native" if args.program == "native" else "windows"
    args.bin = os.path.abspath(args.bin or os.path.join(ROOT, "build", build, "bin"))
    args.out = args.out or os.path.join(ROOT, "build", build, f"soak-{args.program}")
    soak = Soak(args)
    length = "2 minutes" if args.short else f"{args.minutes:g} minutes"
    print(f"== soak {args.program}: {length}", flush=True)
    try:
        soak.start()
        soak.run()
        soak.check()
        code = soak.program.stop()
        if code != 0 and args.program != "gui-wine":
            soak.fail(f"the program ended with {code}")
    except Exception as error:
        soak.fail(f"{type(error).__name__}: {error}")
    finally:
        soak.close()
    print(f"== soak {args.program}: {'passed' if not soak.failures else f'{len(soak.failures)} checks failed'}",
          flush=True)
    return 0 if not soak.failures else 1


if __name__ == "__main__":
    sys.exit(main())
