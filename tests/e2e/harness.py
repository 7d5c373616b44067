"""What the end-to-end tests drive: the recorder simulator (through its control port) and the
headless agent kzbdka-cli (natively, or kzbdka-cli.exe under Wine), plus the byte images the
agent must send, built here from the documented layouts.

The runner (run_e2e.py) fills in CONFIG before the tests load.
"""
import json
import os
import pwd
import queue
import re
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
SIMULATOR = os.path.join(SOURCE_ROOT, "tools", "recorder-sim", "recorder_sim.py")
sys.path.insert(0, os.path.join(SOURCE_ROOT, "tests", "comms"))
from run_with_simulator import make_certificates  # noqa: E402

# Filled in by run_e2e.py: the agent executable, the trigger window and browser programs (Wine
# only), the folder for logs kept after the run.
CONFIG = {"agent": None, "trigger_app": None, "browser_app": None, "keep_dir": None}

# A wait that should be over in well under a second; generous for a loaded 2-core machine
# running the agent under ASan or Wine.
WAIT = 20.0


def under_wine():
    return CONFIG["agent"].lower().endswith(".exe")


def agent_path(path):
    """A path as the agent sees it: Wine maps the Linux root to drive Z:."""
    return "Z:" + path.replace("/", "\\") if under_wine() else path


def identity():
    """Host name and login name as the workstation reports them (Wine passes the Linux ones through)."""
    return socket.gethostname(), pwd.getpwuid(os.geteuid()).pw_name


# ---------------------------------------------------------------- byte images

# Width of the identity text of each ID type.
def id_text_width(id_type):
    if id_type == 1:
        return 50
    return 257 if id_type in (2, 6, 8) else 256


def padded(text, width):
    data = text.encode("cp1252")
    assert len(data) < width, f"{text!r} does not fit {width} bytes"
    return data + bytes(width - len(data))


def image(command_id, payload):
    return struct.pack("<II", command_id, len(payload)) + payload


def id_image(host, login):
    return image(0x00000001, padded(host, 256) + struct.pack("<I", 3) + padded(login, 257))


def get_id_config_image(feature_bits, host):
    return image(feature_bits, padded(host, 256))


def get_task_config_image(feature_bits, id_type, client_id):
    return image(feature_bits | 1, struct.pack("<I", id_type) + padded(client_id, id_text_width(id_type)))


def action_image(command_id, action, id_type, client_id):
    """DKA_PCI_SUPPRESS (0x1002, automatic and manual suppression) and DKA_RECORD_ON_DEMAND (0x8002)."""
    return image(command_id, struct.pack("<II", action, id_type) + padded(client_id, id_text_width(id_type)))


def annotate_image(id_type, client_id, values):
    payload = struct.pack("<II", id_type, len(values)) + padded(client_id, id_text_width(id_type))
    for field_id, value in values:
        payload += struct.pack("<I", field_id) + padded(value, 261)
    return image(0x00002002, payload)


PCI, ANNOTATION, MANUAL, RECORD_ON_DEMAND = 0x1000, 0x2000, 0x4000, 0x8000
SUPPRESS, ANNOTATE, RECORD = 0x1002, 0x2002, 0x8002
START, END = 1, 2
KEEP, DISCARD = 1, 2


# ---------------------------------------------------------------- scenarios

def trigger(window_text, minimum=0, match_pattern=4):
    """A window-title suppression method: fires while a window whose title contains the text exists."""
    return {"type": 2, "trigger": 1, "match_pattern": match_pattern, "window_text": window_text,
            "minimum_suppression_time": minimum}


def page_trigger(domain, minimum=0):
    """A browser page suppression method: fires while a page whose domain contains the text is open."""
    return {"type": 4, "minimum_suppression_time": minimum,
            "criteria": [{"trigger_object": 4, "match_pattern": 4, "text": domain}]}


NOTES = {"field_id": 1001, "field_name": "Notes", "input": {"type": 1, "max_length": 40}}
OUTCOME = {"field_id": 1002, "field_name": "Outcome", "input": {"type": 2, "buttons": [
    {"label": "Sale", "text": "Sale made"}, {"label": "NoSale", "text": "No sale made"}]}}
FIELDS_SHOWN = "1001 Notes (text 40); 1002 Outcome (buttons Sale|NoSale)"


def scenario(tasks=15, pci_id_type=4, triggers=None, pci_id_methods=None, fields=None, annotation_id_type=2,
             manual_id_type=8, rod_id_type=9, rod_mode=2, rod_state=2, rod_default=2):
    """Every feature on, each with its own ID type, so that every request shows which one it used.
    No timeline: the recorder speaks only when asked or told."""
    return {
        "tasks": tasks,
        "features": {
            "pci": {"id_config": {"id_type": pci_id_type, "methods": pci_id_methods or []},
                    "config": {"methods": triggers if triggers is not None else [trigger("Card Payment")]}},
            "annotation": {"id_config": {"id_type": annotation_id_type, "methods": []},
                           "config": {"fields": fields if fields is not None else [NOTES, OUTCOME]}},
            "manual_suppression": {"id_config": {"id_type": manual_id_type, "methods": []},
                                   "config": {"enabled": True}},
            "record_on_demand": {"id_config": {"id_type": rod_id_type, "methods": []},
                                 "config": {"type": 1, "mode": rod_mode},
                                 "state": rod_state, "default_state": rod_default},
        },
        "timeline": [],
    }


# ---------------------------------------------------------------- processes

class Failure(AssertionError):
    pass


class Simulator:
    """The recorder simulator with only its control port; recorders are added per test."""

    def __init__(self, log_path, launcher=(), control_host="127.0.0.1"):
        """launcher: what the simulator's command line is run with (a network namespace's
        `ip netns exec NAME`); control_host: where its control port is then reached."""
        self.log_path = log_path
        self.process = subprocess.Popen(
            [*launcher, sys.executable, SIMULATOR, "--no-recorder", "--control-port", "0",
             "--control-host", control_host, "--no-stdin"],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        first = self.process.stdout.readline()
        try:
            port = json.loads(first)["port"]
        except (ValueError, KeyError):
            self.stop()
            raise Failure(f"the simulator did not start: {first!r}")
        threading.Thread(target=self._keep_output, args=(first,), daemon=True).start()
        self.control = socket.create_connection((control_host, port), timeout=WAIT + 10)
        self.stream = self.control.makefile("rw", encoding="utf-8", newline="\n")
        self.port = None

    def _keep_output(self, first):
        with open(self.log_path, "w") as log:
            log.write(first)
            for line in self.process.stdout:
                log.write(line)
                log.flush()

    def request(self, command):
        self.stream.write(json.dumps(command) + "\n")
        self.stream.flush()
        reply = json.loads(self.stream.readline())
        if not reply.get("ok") and command.get("op") != "wait":
            raise Failure(f"simulator refused {command}: {reply}")
        return reply

    def add_recorder(self, host, scenario, tls=None):
        """Recorders share one port, as the agent has one --port for all of them. tls as the
        simulator takes it (cert, key, client_ca)."""
        command = {"op": "add_recorder", "host": host, "port": self.port or 0, "scenario": scenario}
        if tls:
            command["tls"] = tls
        reply = self.request(command)
        self.port = reply["port"]
        return reply["recorder"]

    def command(self, recorder=1, **command):
        return self.request({"recorder": recorder, **command})

    def mark(self):
        return self.request({"op": "last_seq"})["seq"]

    def events(self, since=0):
        return self.request({"op": "events", "since": since})["events"]

    def received(self, name=None, recorder=None, since=0):
        return [e for e in self.events(since) if e["event"] == "received"
                and (name is None or e["message"]["name"] == name)
                and (recorder is None or e["recorder"] == recorder)]

    def wait(self, event="received", name=None, recorder=None, since=0, timeout=WAIT, where=None):
        """The first event after `since` that matches, waiting up to timeout seconds for it."""
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                break
            command = {"op": "wait", "event": event, "since": since, "timeout": left}
            if name:
                command["name"] = name
            if recorder:
                command["recorder"] = recorder
            found = self.request(command)["event"]
            if found is None:
                break
            if where is None or where(found):
                return found
            since = found["seq"]
        raise Failure(f"no {event} {name or ''} (recorder {recorder or 'any'}) within {timeout:.0f} s")

    def wait_action(self, command_name, action, recorder=None, since=0, timeout=WAIT):
        return self.wait(name=command_name, recorder=recorder, since=since, timeout=timeout,
                         where=lambda e: e["message"].get("action") == action)

    def stop(self):
        try:
            if getattr(self, "stream", None):
                self.stream.write(json.dumps({"op": "quit"}) + "\n")
                self.stream.flush()
                self.control.close()
        except (OSError, ValueError):
            pass
        finally:
            wait_or_kill(self.process, timeout=5)


def private_folder():
    """A new folder only this user may enter, as $XDG_RUNTIME_DIR is; short, as a socket's path
    must be (a case folder is too deep)."""
    return tempfile.mkdtemp(prefix="kzbrt-")


class Agent:
    """kzbdka-cli with its own desktop file, settings file and log folder; its stdout read by a thread."""

    def __init__(self, folder, recorders, port, desktop=True, settings=None, log_dir=True, runtime_dir=None):
        self.folder = folder
        self.desktop_file = os.path.join(folder, "desktop.json")
        self.log_dir = os.path.join(folder, "logs")
        self.set_windows([])
        arguments = []
        for address in recorders:
            arguments += ["--recorder", address]
        arguments += ["--port", str(port)]
        if log_dir:
            arguments += ["--log-dir", agent_path(self.log_dir)]
        if desktop:
            arguments += ["--desktop", agent_path(self.desktop_file)]
        env = dict(os.environ)
        self.own_runtime = None
        if under_wine():
            command = ["wine", CONFIG["agent"]]
        else:
            command = [CONFIG["agent"]]
            settings_file = os.path.join(folder, "settings.json")
            with open(settings_file, "w") as f:
                json.dump(settings_store(settings or {}), f)
            arguments += ["--settings", settings_file]
            # The fixed Windows folders (logging configuration) of this run only.
            env["KZB_ROOT"] = os.path.join(folder, "root")
            # The user's private folder, where the agent waits for the browser's page host: one
            # per case, so that agents of cases running at once never meet.
            self.own_runtime = None if runtime_dir else private_folder()
            env["XDG_RUNTIME_DIR"] = runtime_dir or self.own_runtime
        self.stderr = open(os.path.join(folder, "agent-stderr.txt"), "wb")
        self.process = subprocess.Popen(command + arguments, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=self.stderr, env=env)
        self.lines = []
        self.changed = threading.Condition()
        self.ended = False
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.process.stdout:
            line = raw.decode("utf-8", errors="replace").rstrip("\r\n")
            with self.changed:
                self.lines.append(line)
                self.changed.notify_all()
        with self.changed:
            self.ended = True
            self.changed.notify_all()

    # --- the desktop file

    def set_windows(self, titles):
        """Replaces the desktop file at once (the agent never sees half a file)."""
        windows = [{"title": t} if isinstance(t, str) else t for t in titles]
        temporary = self.desktop_file + ".tmp"
        with open(temporary, "w") as f:
            json.dump({"windows": windows}, f)
        os.replace(temporary, self.desktop_file)

    # --- standard output and input

    def mark(self):
        with self.changed:
            return len(self.lines)

    def wait_for_line(self, pattern, timeout=WAIT, after=0):
        """The first line from index `after` on that matches the regular expression (whole line);
        returns (index, match)."""
        regex = re.compile(pattern)
        deadline = time.monotonic() + timeout
        with self.changed:
            while True:
                for index in range(after, len(self.lines)):
                    match = regex.fullmatch(self.lines[index])
                    if match:
                        return index, match
                after = max(after, len(self.lines))
                left = deadline - time.monotonic()
                if left <= 0 or self.ended:
                    raise Failure(f"no line matching {pattern!r} within {timeout:.0f} s"
                                  f"{' (the agent ended)' if self.ended else ''}; lines:\n  "
                                  + "\n  ".join(self.lines[-30:]))
                self.changed.wait(left)

    def expect_line(self, text, timeout=WAIT, after=0):
        """wait_for_line for a line of exactly this text."""
        return self.wait_for_line(re.escape(text), timeout, after)

    def assert_no_line(self, pattern, within, after=0):
        """Fails if a line matching the pattern comes (from index `after` on) within the given seconds."""
        try:
            index, _ = self.wait_for_line(pattern, within, after)
        except Failure:
            return
        raise Failure(f"unexpected line {self.lines[index]!r}")

    def lines_since(self, index):
        with self.changed:
            return list(self.lines[index:])

    def send(self, line):
        self.process.stdin.write((line + "\n").encode())
        self.process.stdin.flush()

    def command(self, line, reply=r"(ok|error): .*"):
        """Sends one command and returns its reply line."""
        start = self.mark()
        self.send(line)
        index, _ = self.wait_for_line(reply, after=start)
        return self.lines[index]

    def inspections(self):
        """How many desktop inspections the agent has made so far."""
        return int(self.command("inspections", reply=r"ok: inspections \d+").split()[-1])

    def wait_inspections(self, count=2, timeout=WAIT):
        """Waits until the agent has made count more inspections, so that it has looked at the
        desktop as it is now."""
        target = self.inspections() + count
        deadline = time.monotonic() + timeout
        while self.inspections() < target:
            if time.monotonic() > deadline:
                raise Failure(f"the agent made no {count} inspections within {timeout:.0f} s")
            time.sleep(0.1)

    def close_input(self):
        try:
            self.process.stdin.close()
        except OSError:
            pass

    def wait_exit(self, timeout=WAIT):
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"the agent did not exit within {timeout:.0f} s")

    def stop(self):
        """Quits the agent if it still runs; returns its exit code (None: it had to be killed)."""
        if self.process.poll() is None:
            try:
                self.send("quit")
            except OSError:
                pass
            if not wait_or_kill(self.process):
                self.stderr.close()
                self._remove_runtime()
                return None
        self.stderr.close()
        self._remove_runtime()
        return self.process.returncode

    def _remove_runtime(self):
        if self.own_runtime:
            shutil.rmtree(self.own_runtime, ignore_errors=True)

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.stderr.close()
        self._remove_runtime()

    def stderr_text(self):
        with open(self.stderr.name, "rb") as f:
            return f.read().decode("utf-8", errors="replace")


def settings_store(machine_values):
    """The native settings file with the given local-machine text values."""
    values = {name: {"type": "REG_SZ", "data": data} for name, data in machine_values.items()}
    return {"HKEY_LOCAL_MACHINE": {"SOFTWARE\\Corvanta\\KZBDKA": values}} if values else {}


def set_wine_machine_values(values):
    """Local-machine values in the (test-only) Wine prefix's registry; None deletes a value."""
    key = r"HKLM\SOFTWARE\Corvanta\KZBDKA"
    for name, data in values.items():
        if data is None:
            command = ["wine", "reg", "delete", key, "/v", name, "/f"]
        else:
            command = ["wine", "reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", data, "/f"]
        subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)


def set_wine_user_text(name, data):
    """A current-user text value of the program's key in the Wine prefix, written through a
    Unicode .reg file so that characters beyond ASCII arrive as they are; None deletes it."""
    key = r"HKEY_CURRENT_USER\SOFTWARE\Corvanta\KZBDKA"
    if data is None:
        subprocess.run(["wine", "reg", "delete", key.replace("HKEY_CURRENT_USER", "HKCU"), "/v", name, "/f"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        return
    escaped = data.replace("\\", "\\\\").replace('"', '\\"')
    text = f'Windows Registry Editor Version 5.00\r\n\r\n[{key}]\r\n"{name}"="{escaped}"\r\n'
    with tempfile.NamedTemporaryFile("wb", suffix=".reg", delete=False) as f:
        f.write(b"\xff\xfe" + text.encode("utf-16-le"))
        path = f.name
    try:
        subprocess.run(["wine", "reg", "import", "Z:" + path.replace("/", "\\")],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60, check=True)
    finally:
        os.unlink(path)


class WineProgram:
    """A test program under Wine that runs until its standard input closes; its output lines are
    read by a thread."""

    def __init__(self, *arguments):
        self.process = subprocess.Popen(["wine", *arguments], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.process.stdout:
            self.lines.put(raw.decode("utf-8", errors="replace").rstrip("\r\n"))
        self.lines.put(None)

    def next_line(self, timeout=WAIT):
        """Its next output line; None when it ended or said nothing within the time-out."""
        try:
            return self.lines.get(timeout=timeout)
        except queue.Empty:
            return None

    def close(self):
        """Closes its input; it exits (and its windows go) at once."""
        try:
            self.process.stdin.close()
        except OSError:
            pass
        wait_or_kill(self.process)


class TriggerWindow(WineProgram):
    """trigger_window_app.exe: a real top-level window with the given title, until its input closes."""

    def __init__(self, title, seconds=120):
        super().__init__(CONFIG["trigger_app"], str(seconds), title)
        line = self.next_line(WAIT + 20)
        if line != "shown":
            self.close()
            raise Failure(f"trigger_window_app did not show its window: {line!r}")


class Browser(WineProgram):
    """ie_browser_app.exe: Internet Explorer frames and their pages, driven through its standard input;
    each command returns once the program has carried it out."""

    def __init__(self):
        super().__init__(CONFIG["browser_app"])
        line = self.next_line(WAIT + 20)
        if line != "ready":
            self.close()
            raise Failure(f"ie_browser_app did not start: {line!r}")

    def do(self, *fields):
        """One command (frame, navigate, close, stall, resume) with its fields."""
        self.process.stdin.write(("\t".join(fields) + "\n").encode("utf-8"))
        self.process.stdin.flush()
        reply = self.next_line()
        if reply is None or not reply.startswith("ok "):
            raise Failure(f"ie_browser_app: {fields[0]} answered {reply!r}")


def count_file_lines(path, text):
    """Lines of the file that contain the text."""
    with open(path, encoding="utf-8", errors="replace") as f:
        return sum(text in line for line in f)


def wait_for_file_line(path, text, timeout=WAIT, count=1):
    """Until count lines of the file contain the text (the agent's log is written by its own
    thread); the last of them."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            with open(path, encoding="utf-8", errors="replace") as f:
                found = [line for line in f if text in line]
            if len(found) >= count:
                return found[count - 1]
        except FileNotFoundError:
            pass
        if time.monotonic() >= deadline:
            raise Failure(f"no {count} lines with {text!r} in {path} within {timeout:.0f} s")
        time.sleep(0.2)


def wait_or_kill(process, timeout=None):
    """Waits for the process to end; kills it after the time-out. True when it ended by itself."""
    try:
        process.wait(timeout=WAIT if timeout is None else timeout)
        return True
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        return False


_certificates = []


def tls_certificates():
    """The folder of this run's throw-away TLS certificates (as the connection tests make them:
    ca.pem, server.crt/.key, client.pem, client_encrypted.pem under 'secret'); None without
    the openssl command line."""
    if not _certificates:
        folder = None
        if shutil.which("openssl"):
            folder = new_case_folder("certificates")
            make_certificates(folder)
        _certificates.append(folder)
    return _certificates[0]


def new_case_folder(name):
    base = CONFIG["keep_dir"] or tempfile.gettempdir()
    folder = os.path.join(base, name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    return folder
