"""Debian's chromium, headless, with the unpacked page extension and the native page host, driven
over its DevTools port; and the local web sites it shows. Python standard library only.

Every *.example name resolves to 127.0.0.1 inside the browser, so that pages have the domains a
rule names (pay.example, shop.example) and a frame from psp.example is cross-origin."""
import base64
import http.server
import json
import os
import shutil
import signal
import socket
import struct
import subprocess
import threading
import time
import urllib.parse
import urllib.request

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
EXTENSION = os.path.join(ROOT, "browser", "extension")
HOST_NAME = "com.kzbdka.pagehost"


def extension_id(extension=EXTENSION):
    """The ID the manifest's public key gives: SHA-256 of the key, first 32 hex digits as a-p."""
    import hashlib
    with open(os.path.join(extension, "manifest.json")) as f:
        key = base64.b64decode(json.load(f)["key"])
    return "".join(chr(ord("a") + int(c, 16)) for c in hashlib.sha256(key).hexdigest()[:32])


def find_chromium():
    return shutil.which("chromium")


def wait_until(condition, timeout, what):
    """Until condition() gives something true; fails with what after the time-out."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"{what}: not within {timeout:.0f} s")
        time.sleep(0.02)


class Sites:
    """One HTTP server for every *.example site; pages by host name and path."""

    def __init__(self, pages):
        self.pages = pages  # {(host, path): (title, body html)} or {(host, path): full html}
        sites = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                host = (self.headers.get("Host") or "").split(":")[0]
                page = sites.pages.get((host, self.path.split("?")[0]))
                if page is None:
                    self.send_error(404)
                    return
                data = page.encode("utf-8")
                self.send_response(200)
                self.send_header("Content-Type", "text/html; charset=utf-8")
                self.send_header("Content-Length", str(len(data)))
                self.send_header("Cache-Control", "no-store")
                self.end_headers()
                self.wfile.write(data)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.port = self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def url(self, host, path):
        return f"http://{host}:{self.port}{path}"

    def close(self):
        self.server.shutdown()
        self.server.server_close()


def page(title, body, script=""):
    return (f"<!DOCTYPE html><html><head><meta charset='utf-8'><title>{title}</title></head>"
            f"<body>{body}{f'<script>{script}</script>' if script else ''}</body></html>")


class DevToolsSocket:
    """A minimal WebSocket client for one DevTools target (text frames only)."""

    def __init__(self, url, timeout=30):
        parsed = urllib.parse.urlparse(url)
        self.sock = socket.create_connection((parsed.hostname, parsed.port), timeout=timeout)
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall((f"GET {parsed.path} HTTP/1.1\r\nHost: {parsed.hostname}:{parsed.port}\r\n"
                           f"Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: {key}\r\n"
                           f"Sec-WebSocket-Version: 13\r\n\r\n").encode())
        reply = b""
        while b"\r\n\r\n" not in reply:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise AssertionError("DevTools closed the WebSocket handshake")
            reply += chunk
        head, _, self.pending = reply.partition(b"\r\n\r\n")
        if b" 101 " not in head.split(b"\r\n")[0]:
            raise AssertionError(f"DevTools refused the WebSocket: {head[:200]!r}")
        self.next_id = 1

    def _read(self, count):
        while len(self.pending) < count:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise AssertionError("DevTools closed the WebSocket")
            self.pending += chunk
        data, self.pending = self.pending[:count], self.pending[count:]
        return data

    def _send_frame(self, opcode, payload):
        mask = os.urandom(4)
        length = len(payload)
        if length < 126:
            header = struct.pack("!BB", 0x80 | opcode, 0x80 | length)
        elif length < 65536:
            header = struct.pack("!BBH", 0x80 | opcode, 0x80 | 126, length)
        else:
            header = struct.pack("!BBQ", 0x80 | opcode, 0x80 | 127, length)
        masked = bytes(b ^ mask[i % 4] for i, b in enumerate(payload))
        self.sock.sendall(header + mask + masked)

    def _receive(self):
        message = b""
        while True:
            first, second = self._read(2)
            length = second & 0x7F
            if length == 126:
                length = struct.unpack("!H", self._read(2))[0]
            elif length == 127:
                length = struct.unpack("!Q", self._read(8))[0]
            payload = self._read(length)
            opcode = first & 0x0F
            if opcode == 9:
                self._send_frame(10, payload)
                continue
            if opcode == 8:
                raise AssertionError("DevTools closed the WebSocket")
            message += payload
            if first & 0x80:
                return json.loads(message)

    def call(self, method, **params):
        call_id = self.next_id
        self.next_id += 1
        self._send_frame(1, json.dumps({"id": call_id, "method": method, "params": params}).encode())
        while True:
            reply = self._receive()
            if reply.get("id") == call_id:
                if "error" in reply:
                    raise AssertionError(f"{method}: {reply['error']}")
                return reply.get("result", {})

    def close(self):
        try:
            self.sock.close()
        except OSError:
            pass


class Chromium:
    """Headless chromium with its own profile in folder, the extension loaded, and the native page
    host registered in that profile; runtime_dir is the $XDG_RUNTIME_DIR it and its host share with
    the agent."""

    def __init__(self, folder, host, runtime_dir, start_url="about:blank"):
        self.profile = os.path.join(folder, "chromium-profile")
        os.makedirs(os.path.join(self.profile, "NativeMessagingHosts"), exist_ok=True)
        with open(os.path.join(self.profile, "NativeMessagingHosts", HOST_NAME + ".json"), "w") as f:
            json.dump({"name": HOST_NAME, "description": "KZBDKA page host", "path": os.path.abspath(host),
                       "type": "stdio", "allowed_origins": [f"chrome-extension://{extension_id()}/"]}, f)
        port_file = os.path.join(self.profile, "DevToolsActivePort")
        if os.path.exists(port_file):
            os.remove(port_file)
        env = dict(os.environ, XDG_RUNTIME_DIR=runtime_dir)
        self.log = open(os.path.join(folder, "chromium-stderr.txt"), "wb")
        command = [find_chromium(), "--headless=new", "--no-sandbox", f"--user-data-dir={self.profile}",
                   "--remote-debugging-port=0", f"--load-extension={EXTENSION}",
                   f"--disable-extensions-except={EXTENSION}", "--disable-background-networking",
                   "--disable-component-update", "--disable-default-apps", "--disable-sync", "--no-first-run",
                   "--no-default-browser-check", "--disable-gpu", "--mute-audio", "--metrics-recording-only",
                   "--password-store=basic", "--host-resolver-rules=MAP *.example 127.0.0.1", start_url]
        self.process = subprocess.Popen(command, stdout=self.log, stderr=subprocess.STDOUT, env=env,
                                        start_new_session=True)
        text = wait_until(lambda: self._read(port_file), 60, "chromium's DevTools port")
        self.port = int(text.splitlines()[0])

    @staticmethod
    def _read(path):
        try:
            with open(path) as f:
                text = f.read()
            return text if "\n" in text else None
        except OSError:
            return None

    def _http(self, path, method="GET"):
        request = urllib.request.Request(f"http://127.0.0.1:{self.port}{path}", method=method)
        with urllib.request.urlopen(request, timeout=30) as reply:
            body = reply.read().decode()
        try:
            return json.loads(body)
        except ValueError:
            return body

    def tabs(self):
        return [t for t in self._http("/json/list") if t.get("type") == "page"]

    def new_tab(self, url):
        return self._http("/json/new?" + urllib.parse.quote(url, safe=":/?=&"), method="PUT")["id"]

    def activate(self, tab):
        self._http(f"/json/activate/{tab}")

    def close_tab(self, tab):
        self._http(f"/json/close/{tab}")

    def target(self, tab):
        for each in self.tabs():
            if each["id"] == tab:
                return DevToolsSocket(each["webSocketDebuggerUrl"])
        raise AssertionError(f"no tab {tab}")

    def first_tab(self):
        return wait_until(lambda: self.tabs(), 30, "a tab")[0]["id"]

    def navigate(self, tab, url):
        socket_ = self.target(tab)
        try:
            socket_.call("Page.navigate", url=url)
        finally:
            socket_.close()

    def evaluate(self, tab, expression):
        socket_ = self.target(tab)
        try:
            return socket_.call("Runtime.evaluate", expression=expression)
        finally:
            socket_.close()

    def hosts(self):
        """Process ids of the page hosts this browser started."""
        host_pids = []
        for pid in os.listdir("/proc"):
            if not pid.isdigit():
                continue
            try:
                with open(f"/proc/{pid}/stat") as f:
                    fields = f.read().rsplit(")", 1)[1].split()
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    command = f.read().split(b"\0")[0].decode(errors="replace")
            except OSError:
                continue
            # fields[3] is the session id: the browser's session holds its hosts.
            if os.path.basename(command) == "kzbdka-pagehost" and int(fields[3]) == self.process.pid:
                host_pids.append(int(pid))
        return host_pids

    def kill(self):
        """The whole browser at once, as a crash or a kill would end it."""
        if self.process.poll() is None:
            try:
                os.killpg(self.process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.process.wait(timeout=30)

    def close(self):
        self.kill()
        self.log.close()
