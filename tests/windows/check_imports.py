#!/usr/bin/env python3
"""Fails when a Windows binary imports a DLL that a workstation would not have.

    check_imports.py <objdump> <binary>... [--allow NAME.dll]...

A DLL is the system's when Wine has it in the prefix's system32 folder ($WINEPREFIX), apart
from the Visual C++ runtimes that Wine also ships. Each --allow DLL is ours and ships beside
the program (KZBLogging.dll). Prints each binary's imports; exit code 1 on any other DLL.
"""
import argparse
import os
import re
import subprocess
import sys

NOT_SYSTEM = re.compile(r"^(msvcp|vcruntime|concrt|vcomp)\d*", re.IGNORECASE)


def imports(objdump, binary):
    output = subprocess.run([objdump, "-p", binary], check=True, capture_output=True, text=True).stdout
    return re.findall(r"^\s*DLL Name: (\S+)", output, re.MULTILINE)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("objdump")
    parser.add_argument("binaries", nargs="+")
    parser.add_argument("--allow", action="append", default=[])
    args = parser.parse_args()

    system32 = os.path.join(os.environ["WINEPREFIX"], "drive_c", "windows", "system32")
    if not os.path.isdir(system32):  # the prefix is made on first use
        subprocess.run(["wineboot", "-i"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
        subprocess.run(["wineserver", "-w"], timeout=300)
    system = {name.lower() for name in os.listdir(system32) if name.lower().endswith(".dll")}
    allowed = {name.lower() for name in args.allow}
    failed = False
    for binary in args.binaries:
        names = imports(args.objdump, binary)
        strangers = [n for n in names if n.lower() not in allowed
                     and (n.lower() not in system or NOT_SYSTEM.match(n))]
        print(f"{os.path.basename(binary)}: {' '.join(names)}")
        if strangers:
            print(f"  not the system's: {' '.join(strangers)}")
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
