"""kzbdka-pagehost driven over its standard streams by a test that plays the browser (4-byte length and
JSON, as Chrome and Edge frame them), with kzbdka-cli and the recorder simulator: natively on the
agent's socket, under Wine (the .exe files) on the agent's named pipe."""
import json
import os
import queue
import struct
import subprocess
import threading
import unittest

from harness import CONFIG, END, START, WAIT, under_wine, wait_for_file_line
from test_agent import AgentCase, scenario

ORIGIN = "chrome-extension://nlhaklcldndbgnflkecpcdjikpgojplp/"


def frame(message):
    data = (message if isinstance(message, str) else json.dumps(message)).encode("utf-8")
    return struct.pack("<I", len(data)) + data


class PlayedBrowser:
    """The host as a browser starts it: the extension's origin as its argument, frames both ways."""

    def __init__(self, folder, runtime):
        command = ([ "wine", CONFIG["page_host"]] if under_wine() else [CONFIG["page_host"]]) + [ORIGIN]
        env = dict(os.environ)
        if not under_wine():
            env["XDG_RUNTIME_DIR"] = runtime
        self.stderr = open(os.path.join(folder, "pagehost-stderr.txt"), "wb")
        self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.stderr,
                                        env=env)
        self.messages = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        stream = self.process.stdout
        while True:
            head = stream.read(4)
            if len(head) < 4:
                self.messages.put(None)
                return
            (length,) = struct.unpack("<I", head)
            self.messages.put(json.loads(stream.read(length)))

    def receive(self, timeout=WAIT):
        try:
            return self.messages.get(timeout=timeout)
        except queue.Empty:
            raise AssertionError(f"nothing from the host within {timeout} s")

    def send(self, message):
        self.process.stdin.write(frame(message))
        self.process.stdin.flush()

    def close(self):
        """As the browser lets go: the host's input closes and it ends by itself."""
        if self.process.poll() is None:
            try:
                self.process.stdin.close()
            except OSError:
                pass
            try:
                return self.process.wait(timeout=WAIT)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
                return None
            finally:
                self.stderr.close()
        return self.process.returncode


def pay_page(window=1, domain="pay.example"):
    return {"type": "page", "window": window, "tab": 10, "title": "Card payment", "url": f"https://{domain}/",
            "domain": domain}


class PageHost(AgentCase):
    def setUp(self):
        if not CONFIG.get("page_host"):
            self.skipTest("needs --page-host")

    def start_with_host(self):
        rule = {"type": 4, "minimum_suppression_time": 0,
                "criteria": [{"trigger_object": 4, "match_pattern": 4, "text": "pay.example"}]}
        agent, sim = self.start(scenario(triggers=[rule]), desktop=True)
        self.wait_ready()
        browser = PlayedBrowser(self.folder, self.runtime)
        self.addCleanup(browser.close)
        # The agent asks for every window as soon as the host reaches it.
        self.assertEqual(browser.receive(), {"type": "bodies", "wanted": False})
        return agent, sim, browser

    def test_a_reported_page_matching_a_rule_starts_and_its_window_closing_ends(self):
        agent, sim, browser = self.start_with_host()
        since = sim.mark()
        browser.send({"type": "snapshot", "windows": [pay_page(domain="shop.example")]})
        browser.send(pay_page())
        start = sim.wait_action("DKA_PCI_SUPPRESS", START, since=since)
        browser.send({"type": "closed", "window": 1})
        sim.wait_action("DKA_PCI_SUPPRESS", END, since=start["seq"])
        wait_for_file_line(os.path.join(agent.log_dir, "KZBDKA.txt"), f"Browser extension connected: {ORIGIN}")
        self.assertEqual(browser.close(), 0, "the host ends when the browser lets go")

    def test_bad_messages_are_dropped_with_a_line_and_the_host_carries_on(self):
        agent, sim, browser = self.start_with_host()
        since = sim.mark()
        browser.send('{"type":"page","window":1,"title":"Secret')
        browser.send({"type": "page", "window": 1, "cookie": "Secret"})
        browser.send({"type": "bodies", "wanted": True})
        browser.send(pay_page())
        sim.wait_action("DKA_PCI_SUPPRESS", START, since=since)
        self.assertEqual(browser.close(), 0)
        with open(os.path.join(self.folder, "pagehost-stderr.txt"), encoding="utf-8", errors="replace") as f:
            lines = f.read()
        self.assertIn("dropped: not valid JSON", lines)
        self.assertIn("dropped: unknown field 'cookie'", lines)
        self.assertIn("dropped: not one the browser sends", lines)
        self.assertNotIn("Secret", lines)
