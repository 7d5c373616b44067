#!/usr/bin/env python3
"""Recorder simulator: stands in for a call recorder's DKA CTI Server so that an agent can
be tried without one. Standard library only.

    recorder_sim.py [--host 127.0.0.1] [--port 6471] [--scenario FILE]
                    [--tls-cert PEM --tls-key PEM [--client-ca PEM]] [--no-handshake]
                    [--control-port N] [--no-stdin]

Every event (listening, connections, each message received or sent, decoded) is printed as
one JSON object per line on stdout. Commands are read as JSON objects, one per line, from
stdin, and from the control port when one is given (there each request gets one JSON reply).
See README.md beside this file.
"""
import argparse
import json
import os
import random
import socket
import ssl
import struct
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wire  # noqa: E402

DEFAULT_SCENARIO = {
    "tasks": 15,
    "features": {
        "pci": {
            "id_config": {"id_type": 4, "methods": []},
            "config": {"methods": [
                {"type": 1, "trigger": 1, "match_pattern": 4, "window_text": "Card Payment"},
                {"type": 2, "trigger": 2, "match_pattern": 2, "window_text": "Checkout", "minimum_suppression_time": 10},
                {"type": 3, "trigger": 1, "match_pattern": 4, "window_text": "Billing", "minimum_suppression_time": 5,
                 "sub_match_pattern": 1, "sub_window_text": "Card number"},
                {"type": 4, "minimum_suppression_time": 15, "criteria": [
                    {"trigger_object": 4, "match_pattern": 4, "text": "pay.example"},
                    {"trigger_object": 1, "match_pattern": 2, "text": "Payment"}]},
            ]},
        },
        "annotation": {
            "id_config": {"id_type": 2, "methods": []},
            "config": {"fields": [
                {"field_id": 1001, "field_name": "Notes", "input": {"type": 1, "max_length": 40}},
                {"field_id": 1002, "field_name": "Outcome", "input": {"type": 2, "buttons": [
                    {"label": "Sale", "text": "Sale made"}, {"label": "No sale", "text": "No sale"}]}},
            ]},
        },
        "manual_suppression": {"id_config": {"id_type": 3, "methods": []}, "config": {"enabled": True}},
        "record_on_demand": {
            "id_config": {"id_type": 1, "methods": [
                {"type": 1, "match_pattern": 4, "window_text": "agent", "user_starts_after": "agent ",
                 "user_ends_before": " -"}]},
            "config": {"type": 1, "mode": 2},
            "state": 1,
            "default_state": 1,
        },
    },
    "timeline": [
        {"at": 1, "op": "send", "message": {"name": "DKA_STATE_TIMEOUT", "timeout": 300}},
        {"at": 2, "op": "send", "message": {"name": "DKA_CALL_STATE", "state": 1}},
    ],
}


class Output:
    """Numbered events, printed on stdout and kept for the control port's waits."""

    def __init__(self, quiet=False):
        self.lock = threading.Condition()
        self.events = []
        self.quiet = quiet

    def emit(self, recorder, event, **fields):
        with self.lock:
            record = {"seq": len(self.events) + 1, "time": round(time.time(), 3), "recorder": recorder,
                      "event": event}
            record.update(fields)
            self.events.append(record)
            if not self.quiet:
                sys.stdout.write(json.dumps(record) + "\n")
                sys.stdout.flush()
            self.lock.notify_all()
            return record

    def wait(self, match, since, timeout):
        deadline = time.monotonic() + timeout
        with self.lock:
            while True:
                for record in self.events[since:]:
                    if match(record):
                        return record
                left = deadline - time.monotonic()
                if left <= 0:
                    return None
                self.lock.wait(left)


class Connection:
    """One agent connected to one recorder."""

    def __init__(self, recorder, sock, peer):
        self.recorder = recorder
        self.sock = sock
        self.peer = peer
        self.send_lock = threading.Lock()
        self.open = True
        self.identified = False
        self.stalled = threading.Event()
        self.stalled.set()  # set: reading; clear: stalled
        self.call_state = 0
        self.rod_state = recorder.scenario.get("features", {}).get("record_on_demand", {}).get("state", 0)

    # --- sending

    def send_bytes(self, data, what, chunks=None, delay=0.05):
        with self.send_lock:
            if not self.open:
                return False
            try:
                if chunks:
                    start = 0
                    for size in list(chunks) + [len(data)]:
                        piece = data[start:start + size] if size else b""
                        if piece:
                            self.sock.sendall(piece)
                            time.sleep(delay)
                        start += len(piece)
                        if start >= len(data):
                            break
                else:
                    self.sock.sendall(data)
            except OSError as error:
                self.recorder.out.emit(self.recorder.number, "send_failed", what=what, error=str(error))
                return False
        return True

    def send(self, request, chunks=None):
        data = wire.encode(request)
        if self.send_bytes(data, request.get("name", ""), chunks):
            self.recorder.out.emit(self.recorder.number, "sent", message=wire.decode(data) | {"request": request},
                                   hex=data.hex())

    def close(self, reset=False):
        """Orderly close (FIN) or reset (RST). The reading thread does the final close, so that
        no blocked recv keeps the socket alive."""
        with self.send_lock:
            if not self.open:
                return
            self.open = False
            try:
                if reset:
                    self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                    self.sock.shutdown(socket.SHUT_RD)
                else:
                    self.sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        self.stalled.set()
        self.recorder.out.emit(self.recorder.number, "closed", peer=self.peer, how="reset" if reset else "close")

    # --- receiving

    def run(self):
        out = self.recorder.out
        buffer = b""
        skip = 0
        try:
            while self.open:
                self.stalled.wait()
                if not self.open:
                    break
                try:
                    data = self.sock.recv(65536)
                except (OSError, ValueError):
                    data = b""
                if not data:
                    break
                if skip:
                    taken = min(skip, len(data))
                    skip -= taken
                    data = data[taken:]
                buffer += data
                while len(buffer) >= wire.HEADER_SIZE:
                    command_id, length = struct.unpack("<II", buffer[:8])
                    total = length + 8
                    if total > wire.MAX_MESSAGE_SIZE:
                        out.emit(self.recorder.number, "oversized", id=command_id, name=wire.name_of(command_id),
                                 length=total)
                        skip = max(0, total - len(buffer))
                        buffer = buffer[total:]
                        continue
                    if len(buffer) < total:
                        break
                    self.handle(buffer[:total])
                    buffer = buffer[total:]
        finally:
            if self.open:
                self.open = False
                out.emit(self.recorder.number, "disconnected", peer=self.peer)
            try:
                self.sock.close()
            except OSError:
                pass
            self.recorder.forget(self)

    def handle(self, data):
        out = self.recorder.out
        try:
            fields = wire.decode(data)
        except (wire.Short, ValueError) as error:
            out.emit(self.recorder.number, "bad_message", hex=data.hex(), error=str(error))
            return
        out.emit(self.recorder.number, "received", message=fields, hex=data.hex())
        if self.recorder.answering and not self.recorder.hold(self, fields):
            self.answer(fields)

    def answer(self, m):
        scenario = self.recorder.scenario
        features = scenario.get("features", {})
        command_id = m["id"]
        if command_id == 0x00000001:
            self.send({"name": "DKA_TASKS", "mask": scenario.get("tasks", 0)})
            if not self.identified:
                self.identified = True
                self.recorder.play_timeline(self)
            return
        feature = m.get("feature")
        if feature:
            bits = wire.FEATURES[feature][0]
            setup = features.get(feature, {})
            if command_id & 0xF == 0 and "id_config" in setup:
                self.send({"id": 0x10000000 | bits, **setup["id_config"]})
            elif command_id & 0xF == 1 and "config" in setup:
                self.send({"id": 0x10000001 | bits, **setup["config"]})
                if feature == "record_on_demand":
                    self.send({"name": "DKA_RECORD_ON_DEMAND_DEFAULT_STATE", "state": setup.get("default_state", 0)})
                    self.send({"name": "DKA_RECORD_ON_DEMAND_STATE", "state": self.rod_state})
            return
        if not scenario.get("react", True):
            return
        if command_id in (0x00001002, 0x00004002):
            if m.get("action") == 1:
                self.call_state |= 0x02
            elif m.get("action") == 2:
                self.call_state &= ~0x02
            self.send({"name": "DKA_CALL_STATE", "state": self.call_state})
        elif command_id == 0x00008002:
            self.rod_state = m.get("action", 0)
            self.send({"name": "DKA_RECORD_ON_DEMAND_STATE", "state": self.rod_state})


class Recorder:
    """One listening recorder with its scenario and its connected agents."""

    def __init__(self, number, out, host, port, scenario, tls=None):
        self.number = number
        self.out = out
        self.host = host
        self.scenario = scenario
        self.tls = tls or {}
        self.answering = True
        self.lock = threading.Lock()
        self.held_names = set()  # requests of these names wait for "release"
        self.held = []           # (connection, request) in arrival order
        self.connections = []
        self.listener = None
        self.context = self.make_context() if self.tls.get("cert") else None
        self.port = self.listen(port)

    def make_context(self):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.minimum_version = ssl.TLSVersion.TLSv1_2
        if self.tls.get("max_version") == "1.2":
            context.maximum_version = ssl.TLSVersion.TLSv1_2
        context.load_cert_chain(self.tls["cert"], self.tls.get("key"))
        if self.tls.get("client_ca"):
            context.verify_mode = ssl.CERT_REQUIRED
            context.load_verify_locations(self.tls["client_ca"])
        return context

    def listen(self, port):
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind((self.host, port))
        listener.listen(8)
        self.listener = listener
        port = listener.getsockname()[1]
        threading.Thread(target=self.accept_loop, args=(listener,), daemon=True).start()
        self.out.emit(self.number, "listening", host=self.host, port=port,
                      tls=bool(self.context), client_certificate_required=bool(self.tls.get("client_ca")))
        return port

    def refuse(self):
        if self.listener:
            try:
                # Wakes the accepting thread; a plain close would leave the port listening.
                self.listener.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            self.listener.close()
            self.listener = None
            self.out.emit(self.number, "refusing", port=self.port)

    def unresponsive(self):
        """Listens without accepting, its queue full: new connection attempts get no answer at all."""
        self.refuse()
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind((self.host, self.port))
        listener.listen(0)
        self.listener = listener
        self.fillers = []
        for _ in range(3):
            filler = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            filler.setblocking(False)
            try:
                filler.connect((self.host, self.port))
            except BlockingIOError:
                pass
            self.fillers.append(filler)
        time.sleep(0.2)
        self.out.emit(self.number, "unresponsive", port=self.port)

    def accept_loop(self, listener):
        while True:
            try:
                sock, address = listener.accept()
            except OSError:
                return
            threading.Thread(target=self.serve, args=(sock, f"{address[0]}:{address[1]}"), daemon=True).start()

    def serve(self, sock, peer):
        if self.tls.get("no_handshake"):
            # Accepts TCP, never answers TLS: swallow what comes until the agent gives up.
            self.out.emit(self.number, "connected", peer=peer, tls=False)
            try:
                while sock.recv(4096):
                    pass
            except OSError:
                pass
            sock.close()
            self.out.emit(self.number, "disconnected", peer=peer)
            return
        details = {}
        if self.context:
            try:
                sock.settimeout(10)
                sock = self.context.wrap_socket(sock, server_side=True)
                sock.settimeout(None)
                cert = sock.getpeercert()
                details = {"version": sock.version(),
                           "client_certificate": dict(x[0] for x in cert.get("subject", ())) if cert else None}
                self.out.emit(self.number, "tls_established", peer=peer, **details)
            except (OSError, ssl.SSLError) as error:
                self.out.emit(self.number, "tls_failed", peer=peer, error=str(error))
                sock.close()
                return
        connection = Connection(self, sock, peer)
        with self.lock:
            self.connections.append(connection)
        # Announced once commands can reach the connection.
        self.out.emit(self.number, "connected", peer=peer, tls=bool(self.context), **details)
        connection.run()

    def hold(self, connection, request):
        """Keeps a request of a held name for "release"; true when it was kept."""
        with self.lock:
            if request.get("name") not in self.held_names:
                return False
            self.held.append((connection, request))
        self.out.emit(self.number, "held", message={"name": request.get("name")})
        return True

    def release(self, names=None):
        """Stops holding the names (default: all) and answers what was kept for them, in order."""
        with self.lock:
            released = set(self.held_names if names is None else names)
            self.held_names -= released
            answer = [(c, r) for c, r in self.held if r.get("name") in released]
            self.held = [(c, r) for c, r in self.held if r.get("name") not in released]
        self.out.emit(self.number, "released", names=sorted(released), answered=len(answer))
        for connection, request in answer:
            if connection.open:
                connection.answer(request)

    def forget(self, connection):
        with self.lock:
            if connection in self.connections:
                self.connections.remove(connection)

    def current(self):
        with self.lock:
            return list(self.connections)

    def play_timeline(self, connection):
        def play():
            start = time.monotonic()
            for step in sorted(self.scenario.get("timeline", []), key=lambda s: s.get("at", 0)):
                delay = start + float(step.get("at", 0)) - time.monotonic()
                if delay > 0:
                    time.sleep(delay)
                if not connection.open:
                    return
                self.apply(step, [connection])
        threading.Thread(target=play, daemon=True).start()

    def apply(self, command, targets=None):
        """Runs one command on the given connections (default: all current ones)."""
        op = command.get("op")
        targets = self.current() if targets is None else targets
        if op == "send":
            for c in targets:
                c.send(command["message"], command.get("split"))
        elif op == "tasks":
            for c in targets:
                c.send({"name": "DKA_TASKS", "mask": command.get("mask", 0)})
        elif op == "shutdown":
            for c in targets:
                c.send({"name": "DKA_SERVER_SHUTDOWN", "state": command.get("reason", 2)})
                if command.get("close", True):
                    c.close()
        elif op == "raw":
            data = bytes.fromhex(command["hex"])
            for c in targets:
                if c.send_bytes(data, "raw", command.get("split")):
                    self.out.emit(self.number, "sent_raw", hex=data.hex())
        elif op == "garbage":
            rng = random.Random(command.get("seed", 1))
            data = bytes(rng.randrange(256) for _ in range(int(command.get("count", 64))))
            for c in targets:
                if c.send_bytes(data, "garbage"):
                    self.out.emit(self.number, "sent_raw", hex=data.hex())
        elif op == "oversized":
            command_id = wire.IDS.get(command.get("name", "DKA_CALL_STATE"), 0x10000003)
            length = int(command.get("payload_length", wire.MAX_MESSAGE_SIZE))
            data = wire.u32(command_id) + wire.u32(length)
            if command.get("send_payload", True):
                data += b"\0" * length
            for c in targets:
                if c.send_bytes(data, "oversized"):
                    self.out.emit(self.number, "sent_raw", header=data[:8].hex(), length=len(data))
        elif op == "close":
            for c in targets:
                c.close()
        elif op == "reset":
            for c in targets:
                c.close(reset=True)
        elif op == "stall":
            for c in targets:
                c.stalled.clear()
            self.answering = False
            self.out.emit(self.number, "stalled")
            if command.get("seconds"):
                threading.Timer(float(command["seconds"]), self.apply, args=({"op": "resume"},)).start()
        elif op == "resume":
            for c in self.current():
                c.stalled.set()
            self.answering = True
            self.out.emit(self.number, "resumed")
        elif op == "hold":
            with self.lock:
                self.held_names.update(command.get("names", []))
            self.out.emit(self.number, "holding", names=sorted(command.get("names", [])))
        elif op == "release":
            self.release(command.get("names"))
        elif op == "refuse":
            self.refuse()
        elif op == "listen":
            if not self.listener:
                self.listen(self.port)
        elif op == "unresponsive":
            self.unresponsive()
        elif op == "scenario":
            self.scenario = command["scenario"]
        else:
            raise ValueError(f"unknown op {op!r}")


class Simulator:
    def __init__(self, out):
        self.out = out
        self.recorders = {}
        self.lock = threading.Lock()
        self.stopping = threading.Event()

    def add(self, host, port, scenario, tls=None):
        with self.lock:
            number = len(self.recorders) + 1
        recorder = Recorder(number, self.out, host, port, scenario, tls)
        with self.lock:
            self.recorders[number] = recorder
        return recorder

    def run(self, command):
        """One command; returns the reply object."""
        op = command.get("op")
        if op == "add_recorder":
            scenario = command.get("scenario", DEFAULT_SCENARIO)
            if isinstance(scenario, str):
                with open(scenario) as f:
                    scenario = json.load(f)
            r = self.add(command.get("host", "127.0.0.1"), int(command.get("port", 0)), scenario,
                         command.get("tls"))
            return {"ok": True, "recorder": r.number, "port": r.port}
        if op == "wait":
            wanted = command.get("event", "received")
            name = command.get("name")
            number = command.get("recorder")

            def match(e):
                if e["event"] != wanted or (number and e["recorder"] != number):
                    return False
                return not name or e.get("message", {}).get("name") == name
            found = self.out.wait(match, int(command.get("since", 0)), float(command.get("timeout", 5)))
            return {"ok": found is not None, "event": found}
        if op == "events":
            with self.out.lock:
                return {"ok": True, "events": self.out.events[int(command.get("since", 0)):]}
        if op == "last_seq":
            with self.out.lock:
                return {"ok": True, "seq": len(self.out.events)}
        if op == "quit":
            self.stopping.set()
            return {"ok": True}
        with self.lock:
            recorder = self.recorders.get(int(command.get("recorder", 1)))
        if recorder is None:
            return {"ok": False, "error": "no such recorder"}
        recorder.apply(command)
        return {"ok": True}

    def run_logged(self, line):
        try:
            reply = self.run(json.loads(line))
        except Exception as error:  # a bad command must not end the simulator
            reply = {"ok": False, "error": f"{type(error).__name__}: {error}"}
        if not reply.get("ok"):
            self.out.emit(0, "command_failed", command=line.strip(), reply=reply)
        return reply

    def serve_control(self, host, port):
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind((host, port))
        listener.listen(8)
        self.out.emit(0, "control", host=host, port=listener.getsockname()[1])

        def client(sock):
            with sock, sock.makefile("rw", encoding="utf-8", newline="\n") as stream:
                for line in stream:
                    if line.strip():
                        stream.write(json.dumps(self.run_logged(line)) + "\n")
                        stream.flush()

        def loop():
            while True:
                sock, _ = listener.accept()
                threading.Thread(target=client, args=(sock,), daemon=True).start()
        threading.Thread(target=loop, daemon=True).start()


def main():
    parser = argparse.ArgumentParser(description="Recorder simulator for trying a desktop agent.")
    parser.add_argument("--host", default="127.0.0.1", help="address to listen on (default 127.0.0.1)")
    parser.add_argument("--port", type=int, default=6471, help="port to listen on; 0 picks a free one")
    parser.add_argument("--scenario", help="scenario JSON file (default: every feature on)")
    parser.add_argument("--tls-cert", help="server certificate chain (PEM); turns TLS on")
    parser.add_argument("--tls-key", help="server private key (PEM), if not in the chain file")
    parser.add_argument("--client-ca", help="require a client certificate signed by this CA (PEM)")
    parser.add_argument("--no-handshake", action="store_true", help="accept TCP but never answer TLS")
    parser.add_argument("--no-recorder", action="store_true", help="start without a recorder (control port adds them)")
    parser.add_argument("--control-port", type=int, help="also take commands on this TCP port of --control-host")
    parser.add_argument("--control-host", default="127.0.0.1")
    parser.add_argument("--no-stdin", action="store_true", help="do not read commands from stdin")
    args = parser.parse_args()

    out = Output()
    simulator = Simulator(out)
    if args.control_port is not None:
        simulator.serve_control(args.control_host, args.control_port)
    if not args.no_recorder:
        scenario = DEFAULT_SCENARIO
        if args.scenario:
            with open(args.scenario) as f:
                scenario = json.load(f)
        tls = {"cert": args.tls_cert, "key": args.tls_key, "client_ca": args.client_ca,
               "no_handshake": args.no_handshake}
        simulator.add(args.host, args.port, scenario, tls)

    if not args.no_stdin:
        def read_stdin():
            # The end of input does not end the simulator (it may run detached); quit or Ctrl-C does.
            for line in sys.stdin:
                if line.strip():
                    simulator.run_logged(line)
        threading.Thread(target=read_stdin, daemon=True).start()
    try:
        simulator.stopping.wait()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
