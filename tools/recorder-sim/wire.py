"""Byte layouts of the recorder protocol: the 8-byte header {command ID, payload length},
little-endian unsigned integers, NUL-padded fixed-size strings, counted lists.

Encoders build what a recorder sends from plain dicts (the scenario format); decoders
turn what an agent sends into dicts for printing.
"""
import struct

HEADER_SIZE = 8
MAX_MESSAGE_SIZE = 16384

NAMES = {
    0x00000001: "DKA_ID",
    0x00000002: "DKA_HEARTBEAT",
    0x00000003: "DKA_CLIENT_SHUTDOWN",
    0x00001000: "DKA_GET_PCI_ID_CONFIG",
    0x00001001: "DKA_GET_PCI_SUPPRESSION_CONFIG",
    0x00001002: "DKA_PCI_SUPPRESS",
    0x00002000: "DKA_GET_ANNOTATION_ID_CONFIG",
    0x00002001: "DKA_GET_ANNOTATION_CONFIG",
    0x00002002: "DKA_ANNOTATE_CALL",
    0x00004000: "DKA_GET_MANUAL_SUPPRESSION_ID_CONFIG",
    0x00004001: "DKA_GET_MANUAL_SUPPRESSION_CONFIG",
    0x00004002: "DKA_MANUAL_SUPPRESS",
    0x00008000: "DKA_GET_RECORD_ON_DEMAND_ID_CONFIG",
    0x00008001: "DKA_GET_RECORD_ON_DEMAND_CONFIG",
    0x00008002: "DKA_RECORD_ON_DEMAND",
    0x10000000: "DKA_SERVER_SHUTDOWN",
    0x10000001: "DKA_TASKS",
    0x10000002: "DKA_TASKS_UPDATED",
    0x10000003: "DKA_CALL_STATE",
    0x10000004: "DKA_STATE_TIMEOUT",
    0x10001000: "DKA_PCI_ID_CONFIG",
    0x10001001: "DKA_PCI_SUPPRESSION_CONFIG",
    0x10001002: "DKA_PCI_ID_CONFIG_UPDATED",
    0x10001003: "DKA_PCI_SUPPRESSION_CONFIG_UPDATED",
    0x10002000: "DKA_ANNOTATION_ID_CONFIG",
    0x10002001: "DKA_ANNOTATION_CONFIG",
    0x10002002: "DKA_ANNOTATION_ID_CONFIG_UPDATED",
    0x10002003: "DKA_ANNOTATION_CONFIG_UPDATED",
    0x10004000: "DKA_MANUAL_SUPPRESSION_ID_CONFIG",
    0x10004001: "DKA_MANUAL_SUPPRESSION_CONFIG",
    0x10004002: "DKA_MANUAL_SUPPRESSION_ID_CONFIG_UPDATED",
    0x10004003: "DKA_MANUAL_SUPPRESSION_CONFIG_UPDATED",
    0x10008000: "DKA_RECORD_ON_DEMAND_ID_CONFIG",
    0x10008001: "DKA_RECORD_ON_DEMAND_CONFIG",
    0x10008002: "DKA_RECORD_ON_DEMAND_ID_CONFIG_UPDATED",
    0x10008003: "DKA_RECORD_ON_DEMAND_CONFIG_UPDATED",
    0x10008004: "DKA_RECORD_ON_DEMAND_STATE",
    0x10008005: "DKA_RECORD_ON_DEMAND_DEFAULT_STATE",
}
IDS = {name: number for number, name in NAMES.items()}

# Feature name in scenarios -> the feature's bits in command IDs, and its task mask bit.
FEATURES = {
    "pci": (0x1000, 0x1),
    "annotation": (0x2000, 0x2),
    "manual_suppression": (0x4000, 0x4),
    "record_on_demand": (0x8000, 0x8),
}
FEATURE_OF_BITS = {bits: name for name, (bits, _) in FEATURES.items()}

ID_TYPE_NAMES = {
    1: "Agent_Name_To_Agent_ID",
    2: "Windows_Login_Name_To_Extension",
    3: "Host_Name_To_Logical_Channel",
    4: "Host_Name_To_Extension",
    5: "Host_Name_To_Rostrvm_ID",
    6: "Windows_Login_Name_To_Annotation_Field",
    7: "Host_Name_To_Annotation_Field",
    8: "Windows_Login_Name_To_Channel_Name",
    9: "Host_Name_To_Channel_Name",
}


def id_text_size(id_type):
    """Width of the identity text that goes with an ID type."""
    if id_type == 1:
        return 50
    if id_type in (2, 6, 8):
        return 257
    if id_type in (3, 4, 5, 7, 9):
        return 256
    raise ValueError(f"ID Type {id_type} is not valid")


def name_of(command_id):
    return NAMES.get(command_id, f"Unknown ({command_id})")


# ---------------------------------------------------------------- writing

def u32(value):
    return struct.pack("<I", int(value) & 0xFFFFFFFF)


def u16(value):
    return struct.pack("<H", int(value) & 0xFFFF)


def text_bytes(text):
    return str(text).encode("cp1252", errors="replace")


def fixed(text, size):
    data = text_bytes(text)
    if len(data) + 1 > size:
        raise ValueError(f"text {text!r} does not fit a field of {size} bytes")
    return data + b"\0" * (size - len(data))


def terminated(text):
    return text_bytes(text) + b"\0"


def message(command_id, payload=b""):
    return u32(command_id) + u32(len(payload)) + payload


def window_title_method(m):
    kind = int(m.get("type", 2))
    data = u32(kind) + u32(m.get("trigger", 1)) + u32(m.get("match_pattern", 1)) + fixed(m.get("window_text", ""), 100)
    if kind != 1:
        data += u32(m.get("minimum_suppression_time", 0))
    if kind == 3:
        data += u32(m.get("sub_match_pattern", 1)) + fixed(m.get("sub_window_text", ""), 100)
    return data


def browser_html_method(m):
    criteria = m.get("criteria", [])
    data = u32(4) + u32(m.get("minimum_suppression_time", 0)) + u32(len(criteria))
    for c in criteria:
        data += u32(c.get("trigger_object", 1)) + u32(c.get("match_pattern", 1)) + terminated(c.get("text", ""))
    return data


def suppression_method(m):
    kind = int(m.get("type", 2))
    if kind in (1, 2, 3):
        return window_title_method(m)
    if kind == 4:
        return browser_html_method(m)
    # Any other type is sent as its bare type code, to try the agent's rejection.
    return u32(kind) + bytes.fromhex(m.get("payload_hex", ""))


def id_detection_method(m):
    kind = int(m.get("type", 1))
    if kind != 1:
        return u32(kind) + bytes.fromhex(m.get("payload_hex", ""))
    return (u32(1) + u32(m.get("match_pattern", 1)) + fixed(m.get("window_text", ""), 100)
            + fixed(m.get("user_starts_after", ""), 100) + fixed(m.get("user_ends_before", ""), 100))


def annotation_input(i):
    kind = int(i.get("type", 1))
    if kind == 1:
        return u32(1) + u32(i.get("max_length", 0))
    if kind == 2:
        buttons = i.get("buttons", [])
        data = u32(2) + u32(len(buttons))
        for b in buttons:
            data += fixed(b.get("label", ""), 9) + fixed(b.get("text", ""), 261)
        return data
    return u32(kind) + bytes.fromhex(i.get("payload_hex", ""))


def field_details(f):
    return u32(f.get("field_id", 1)) + fixed(f.get("field_name", ""), 21) + annotation_input(f.get("input", {}))


def id_config_payload(c):
    methods = c.get("methods", [])
    return u32(c.get("id_type", 1)) + u32(len(methods)) + b"".join(id_detection_method(m) for m in methods)


def encode(request):
    """A whole message from {"name" or "id", fields...}. "payload_hex" overrides the payload."""
    command_id = request["id"] if "id" in request else IDS[request["name"]]
    command_id = int(command_id, 0) if isinstance(command_id, str) else int(command_id)
    if "payload_hex" in request:
        return message(command_id, bytes.fromhex(request["payload_hex"]))
    name = NAMES.get(command_id, "")
    low = command_id & 0xFFFF
    if command_id in (0x10000000, 0x10000003, 0x10008004, 0x10008005):
        payload = u32(request.get("state", 0))
    elif command_id == 0x10000001:
        payload = u32(request.get("mask", 0))
    elif command_id == 0x10000004:
        payload = u16(request.get("timeout", 0))
    elif command_id >> 16 == 0x1000 and low in FEATURE_OF_BITS.keys():
        payload = id_config_payload(request)
    elif command_id == 0x10001001:
        methods = request.get("methods", [])
        payload = u32(len(methods)) + b"".join(suppression_method(m) for m in methods)
    elif command_id == 0x10002001:
        fields = request.get("fields", [])
        payload = u32(len(fields)) + b"".join(field_details(f) for f in fields)
    elif command_id == 0x10004001:
        payload = bytes([1 if request.get("enabled", True) else 0])
    elif command_id == 0x10008001:
        payload = u32(request.get("type", 1)) + u32(request.get("mode", 1))
    elif command_id == 0x00000001:
        payload = fixed(request.get("hostname", ""), 256) + u32(request.get("version", 3))
        if request.get("version", 3) > 2:
            payload += fixed(request.get("login", ""), 257)
    else:
        if not name:
            raise ValueError(f"no layout for command {command_id:#x}; give payload_hex")
        payload = b""
    return message(command_id, payload)


# ---------------------------------------------------------------- reading

class Short(Exception):
    pass


class Reader:
    def __init__(self, data):
        self.data = data
        self.pos = 0

    def take(self, n):
        if self.pos + n > len(self.data):
            raise Short(f"needs {n} bytes at offset {self.pos}, has {len(self.data) - self.pos}")
        chunk = self.data[self.pos:self.pos + n]
        self.pos += n
        return chunk

    def u32(self):
        return struct.unpack("<I", self.take(4))[0]

    def u16(self):
        return struct.unpack("<H", self.take(2))[0]

    def fixed(self, size):
        raw = self.take(size)
        return raw.split(b"\0", 1)[0].decode("cp1252", errors="replace")

    def remaining(self):
        return len(self.data) - self.pos


def read_client_id(r):
    id_type = r.u32()
    fields = {"id_type": id_type, "id_type_name": ID_TYPE_NAMES.get(id_type, "Unknown DKA::IDType")}
    fields["client_id"] = r.fixed(id_text_size(id_type))
    return fields


def decode(data):
    """Fields of one whole message (header included) as a dict; raises on a short image."""
    r = Reader(data)
    command_id = r.u32()
    length = r.u32()
    fields = {"id": command_id, "name": name_of(command_id), "payload_length": length}
    low = command_id & 0xFFF
    high = command_id >> 16
    if command_id == 0x00000001:
        fields["hostname"] = r.fixed(256)
        fields["version"] = r.u32()
        if fields["version"] > 2:
            fields["login"] = r.fixed(257)
    elif high == 0 and command_id & 0xFFFF in FEATURE_OF_BITS:
        fields["feature"] = FEATURE_OF_BITS[command_id & 0xFFFF]
        fields["hostname"] = r.fixed(256)
    elif high == 0 and low == 1 and (command_id & 0xF000) in FEATURE_OF_BITS:
        fields["feature"] = FEATURE_OF_BITS[command_id & 0xF000]
        if r.remaining():
            fields.update(read_client_id(r))
    elif command_id in (0x00001002, 0x00004002, 0x00008002):
        fields["action"] = r.u32()
        if r.remaining():
            fields.update(read_client_id(r))
    elif command_id == 0x00002002:
        id_type = r.u32()
        count = r.u32()
        fields.update({"id_type": id_type, "id_type_name": ID_TYPE_NAMES.get(id_type, "Unknown DKA::IDType")})
        fields["client_id"] = r.fixed(id_text_size(id_type))
        fields["fields"] = [{"field_id": r.u32(), "value": r.fixed(261)} for _ in range(count)]
    elif command_id in (0x10000000, 0x10000003, 0x10008004, 0x10008005):
        fields["state"] = r.u32()
    elif command_id == 0x10000001:
        fields["mask"] = r.u32()
    elif command_id == 0x10000004:
        fields["timeout"] = r.u16()
    return fields
