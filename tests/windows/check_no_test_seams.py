#!/usr/bin/env python3
"""Fails when the shipped program carries a test-only environment variable.

    check_no_test_seams.py <shipped KZBDKA.exe> <test-build KZBDKA.exe>

A user who set KZBDKA_TEST_TRAY_REFUSED on a shipped program would get one that cannot
start; only the test build may read these. The names are looked for as 8-bit and as
UTF-16 text; the test build must contain them, which shows that the search would see them.
"""
import sys

NAMES = ("KZBDKA_TEST_TRAY_REFUSED", "KZBDKA_TEST_TRAY_RETRY_MS")


def found(binary):
    data = open(binary, "rb").read()
    return [name for name in NAMES if name.encode() in data or name.encode("utf-16-le") in data]


def main(shipped, test_build):
    failed = False
    for name in found(shipped):
        print(f"{shipped} contains the test-only name {name}")
        failed = True
    for name in sorted(set(NAMES) - set(found(test_build))):
        print(f"{test_build} lacks {name}: the search cannot be trusted")
        failed = True
    if not failed:
        print(f"{shipped}: none of {', '.join(NAMES)}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:3]))
