"""The simulator's byte layouts against the documented images, and one conversation with it."""
import json
import os
import socket
import struct
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SIM = os.path.join(HERE, "..", "recorder_sim.py")
sys.path.insert(0, os.path.join(HERE, ".."))
import wire  # noqa: E402


def h(text):
    return bytes.fromhex(text.replace(" ", ""))


class Layouts(unittest.TestCase):
    def test_recorder_messages(self):
        cases = [
            ({"name": "DKA_STATE_TIMEOUT", "timeout": 300}, h("04 00 00 10 02 00 00 00 2C 01")),
            ({"name": "DKA_PCI_ID_CONFIG", "id_type": 1}, h("00 10 00 10 08 00 00 00 01 00 00 00 00 00 00 00")),
            ({"name": "DKA_TASKS", "mask": 5}, h("01 00 00 10 04 00 00 00 05 00 00 00")),
            ({"name": "DKA_TASKS_UPDATED"}, h("02 00 00 10 00 00 00 00")),
            ({"name": "DKA_MANUAL_SUPPRESSION_CONFIG", "enabled": True}, h("01 40 00 10 01 00 00 00 01")),
            ({"name": "DKA_RECORD_ON_DEMAND_CONFIG", "type": 1, "mode": 2},
             h("01 80 00 10 08 00 00 00 01 00 00 00 02 00 00 00")),
        ]
        for request, image in cases:
            with self.subTest(request=request["name"]):
                self.assertEqual(wire.encode(request).hex(), image.hex())

    def test_configuration_object_sizes(self):
        self.assertEqual(len(wire.window_title_method({"type": 1})), 112)
        self.assertEqual(len(wire.window_title_method({"type": 2})), 116)
        self.assertEqual(len(wire.window_title_method({"type": 3})), 220)
        self.assertEqual(len(wire.id_detection_method({"type": 1})), 308)
        buttons = [{"label": "a", "text": "b"}] * 3
        self.assertEqual(len(wire.field_details({"input": {"type": 2, "buttons": buttons}})), 843)
        self.assertEqual(len(wire.browser_html_method({"criteria": [{"text": "abc"}]})), 12 + 3 + 9)

    def test_agent_messages(self):
        id_image = (h("01 00 00 00 05 02 00 00") + b"PC1" + bytes(253) + h("03 00 00 00") + b"u1" + bytes(255))
        self.assertEqual(len(id_image), 525)
        self.assertEqual(wire.decode(id_image) | {}, {"id": 1, "name": "DKA_ID", "payload_length": 517,
                                                      "hostname": "PC1", "version": 3, "login": "u1"})
        suppress = h("02 10 00 00 08 01 00 00 02 00 00 00 04 00 00 00") + b"H1" + bytes(254)
        decoded = wire.decode(suppress)
        self.assertEqual((decoded["action"], decoded["id_type"], decoded["client_id"]), (2, 4, "H1"))
        annotate = (h("02 20 00 00 4c 02 00 00 01 00 00 00 02 00 00 00") + wire.fixed("A1", 50)
                    + (wire.u32(1001) + wire.fixed("x", 261)) * 2)
        self.assertEqual(len(annotate), 596)
        self.assertEqual([f["field_id"] for f in wire.decode(annotate)["fields"]], [1001, 1001])
        with self.assertRaises(wire.Short):
            wire.decode(h("01 00 00 00 05 02 00 00") + b"PC1")


class Conversation(unittest.TestCase):
    def test_identification_and_configuration_requests_are_answered(self):
        sim = subprocess.Popen([sys.executable, SIM, "--port", "0", "--no-stdin"], stdout=subprocess.PIPE, text=True)
        try:
            port = json.loads(sim.stdout.readline())["port"]
            with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
                s.sendall(wire.encode({"name": "DKA_ID", "hostname": "PC1", "login": "u1"}))
                s.sendall(wire.message(0x1000, wire.fixed("PC1", 256)))
                stream = s.makefile("rb")

                def read_message():
                    header = stream.read(8)
                    return wire.decode(header + stream.read(struct.unpack("<I", header[4:])[0]))
                self.assertEqual(read_message()["mask"], 15)
                self.assertEqual(read_message()["name"], "DKA_PCI_ID_CONFIG")
        finally:
            sim.kill()
            sim.wait()


if __name__ == "__main__":
    unittest.main()
