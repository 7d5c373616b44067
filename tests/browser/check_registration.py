#!/usr/bin/env python3
"""The extension's ID, fixed by the public key in its manifest, is the one every host manifest
allows and every policy example installs; and every host manifest names the host the extension
connects to. A key changed without the rest would leave the extension unable to reach its host."""
import base64
import glob
import hashlib
import json
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BROWSER = os.path.join(ROOT, "browser")


def main():
    with open(os.path.join(BROWSER, "extension", "manifest.json")) as f:
        manifest = json.load(f)
    key = base64.b64decode(manifest["key"])
    expected = "".join(chr(ord("a") + int(c, 16)) for c in hashlib.sha256(key).hexdigest()[:32])
    with open(os.path.join(BROWSER, "extension", "background.js")) as f:
        host_name = re.search(r'const HOST = "([^"]+)"', f.read()).group(1)

    problems = []
    host_manifests = glob.glob(os.path.join(BROWSER, "registration", "*", "*.json"))
    if len(host_manifests) < 3:
        problems.append(f"expected host manifests for chrome, edge and linux, found {host_manifests}")
    for path in host_manifests:
        with open(path) as f:
            host = json.load(f)
        if host.get("name") != host_name or os.path.basename(path) != host_name + ".json":
            problems.append(f"{path}: names {host.get('name')!r}, the extension connects to {host_name!r}")
        if host.get("allowed_origins") != [f"chrome-extension://{expected}/"]:
            problems.append(f"{path}: allows {host.get('allowed_origins')}, the extension is {expected}")
    for path in glob.glob(os.path.join(BROWSER, "registration", "*.reg")):
        with open(path) as f:
            if f"NativeMessagingHosts\\{host_name}]" not in f.read():
                problems.append(f"{path}: does not register {host_name}")
    for path in glob.glob(os.path.join(BROWSER, "policy", "*")):
        with open(path) as f:
            ids = set(re.findall(r"\b[a-p]{32}\b", f.read()))
        if ids != {expected}:
            problems.append(f"{path}: names {sorted(ids)}, the extension is {expected}")
    for problem in problems:
        print(problem)
    print(f"extension {expected}: {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
