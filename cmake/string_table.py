#!/usr/bin/env python3
"""Writes the string table of the Windows resources from agent/ui/StringTable.inc, so that
the texts exist in one place: string_table.py StringTable.inc strings.rc"""
import re
import sys

ENTRY = re.compile(r'^KZB_STRING\(\s*(\d+)\s*,\s*(\w+)\s*,\s*"((?:[^"\\]|\\.)*)"\s*\)\s*$')
C_ESCAPES = {"n": "\n", "t": "\t", '"': '"', "\\": "\\", "'": "'"}


def c_text(literal):
    return re.sub(r"\\(.)", lambda m: C_ESCAPES[m.group(1)], literal)


def rc_literal(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '""').replace("\n", "\\n").replace("\t", "\\t") + '"'


def main(source, target):
    lines = ["// Made by cmake/string_table.py from StringTable.inc; do not edit.", "STRINGTABLE", "BEGIN"]
    with open(source, encoding="ascii") as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line or line.startswith("//"):
                continue
            match = ENTRY.match(line)
            if not match:
                sys.exit(f"{source}:{number}: not a KZB_STRING entry: {line}")
            lines.append(f"  {match.group(1)}, {rc_literal(c_text(match.group(3)))}")
    lines.append("END")
    with open(target, "w", encoding="ascii", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
