#!/usr/bin/env python3
"""Builds KZBDKA-<version>-x64.msi from installer/KZBDKA.wxs with wixl.

    package.py --bin DIR --version X.Y.Z --out PKG.msi [--strip SYMBOLS_DIR]
               [--cert CRT --key KEY [--key-password-file FILE]]
               [--extension-key PEM --extension-out DIR]

--bin names the folder holding KZBDKA.exe, KZBLogging.dll and kzbdka-pagehost.exe. With
--strip the packaged copies are stripped and their debug information is written to
SYMBOLS_DIR (each file's .debug, linked from the stripped file). With --cert and --key the
three programs and then the package are signed with osslsigncode and each signature is
verified. With --extension-key the extension is packed as a CRX with its update manifest.

wixl leaves out what its WiX subset lacks (component conditions, Secure and hidden
properties): they are added here with msibuild, and the finished tables are checked, so a
package that would install wrongly fails here and not on a thousand seats."""
import argparse
import base64
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BINARIES = ["KZBDKA.exe", "KZBLogging.dll", "kzbdka-pagehost.exe"]
OBJCOPY = "x86_64-w64-mingw32-objcopy"

# Public properties an administrator gives on the command line. Each writes its value only
# when given (or read back from the installed version).
SETTINGS = {
    "RECORDERADDRESS": "RecorderAddressValue",
    "UPDATEMODE": "UpdateModeValue",
    "TERMINALNAMING": "TerminalNamingValue",
    "CLIENTCERTIFICATEPATH": "ClientCertificatePathValue",
    "CLIENTCERTIFICATEPASSWORD": "ClientCertificatePasswordValue",
    "SERVERCERTIFICATEAUTHORITYPATH": "ServerCertificateAuthorityPathValue",
    "LOGPATH": "LogPathValue",
}
CONDITIONS = dict(
    {component: prop for prop, component in SETTINGS.items()},
    RunValue='STARTATLOGON <> "0"',
    ExtensionPolicy="EXTENSIONUPDATEURL",
)
PUBLIC = list(SETTINGS) + ["STARTATLOGON", "EXTENSIONUPDATEURL"]
HIDDEN = ["CLIENTCERTIFICATEPASSWORD", "OLD_CLIENTCERTIFICATEPASSWORD"]
# Type 19 actions: end the install with this text, after the values are read back (51-60)
# and before anything is written.
ERRORS = [
    ("DowngradeRefused", 61, "WIX_DOWNGRADE_DETECTED",
     "A newer version of KZBDKA is already installed: remove it first to install this one."),
    ("RecorderAddressRequired", 62, "NOT Installed AND NOT RECORDERADDRESS",
     'RECORDERADDRESS is required on a first install: msiexec /i KZBDKA.msi RECORDERADDRESS="recorder1 recorder2"'),
]


class PackageError(Exception):
    pass


def run(*command, cwd=None):
    result = subprocess.run(command, cwd=cwd, capture_output=True, text=True)
    if result.returncode != 0:
        raise PackageError(f"{' '.join(command)} failed ({result.returncode}):\n{result.stdout}{result.stderr}")
    return result.stdout


EXTENSION = os.path.join(ROOT, "browser", "extension")


def extension_manifest(folder=EXTENSION):
    with open(os.path.join(folder, "manifest.json")) as f:
        return json.load(f)


def extension_id(folder=EXTENSION):
    """The ID browsers give the extension: from the public key in its manifest."""
    key = base64.b64decode(extension_manifest(folder)["key"])
    return "".join(chr(ord("a") + int(c, 16)) for c in hashlib.sha256(key).hexdigest()[:32])


def stage(bin_dir, stage_dir, symbols_dir):
    for name in BINARIES:
        source = os.path.join(bin_dir, name)
        if not os.path.isfile(source):
            raise PackageError(f"{source} is missing: build the windows build first")
        target = os.path.join(stage_dir, name)
        if symbols_dir:
            debug = os.path.join(symbols_dir, name + ".debug")
            run(OBJCOPY, "--only-keep-debug", source, debug)
            run(OBJCOPY, "--strip-all", source, target)
            # The link lets a debugger given the symbols folder find them for this file.
            run(OBJCOPY, f"--add-gnu-debuglink={os.path.basename(debug)}", target, cwd=symbols_dir)
        else:
            shutil.copyfile(source, target)
    for browser in ("chrome", "edge"):
        os.makedirs(os.path.join(stage_dir, browser))
        shutil.copy(os.path.join(ROOT, "browser", "registration", browser, "com.kzbdka.pagehost.json"),
                    os.path.join(stage_dir, browser))
    shutil.copytree(os.path.join(ROOT, "browser", "extension"), os.path.join(stage_dir, "extension"))


def sign(path, cert, key, password_file):
    signed = path + ".signed"
    command = ["osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256",
               "-n", "KZBDKA", "-in", path, "-out", signed]
    if password_file:
        command[2:2] = ["-readpass", password_file]
    run(*command)
    os.replace(signed, path)
    verify(path, cert)


def verify(path, cert):
    output = run("osslsigncode", "verify", "-in", path, "-CAfile", cert)
    if "Signature verification: ok" not in output:
        raise PackageError(f"{path}: signature not verified:\n{output}")


def query(msi, sql):
    run("msibuild", msi, "-q", sql)


def table(msi, name):
    """The rows of one table as dicts (msiinfo export: header, types, key line, rows)."""
    lines = run("msiinfo", "export", msi, name).replace("\r\n", "\n").split("\n")
    header = lines[0].split("\t")
    return [dict(zip(header, line.split("\t"))) for line in lines[3:] if line]


def mend(msi):
    for component, condition in CONDITIONS.items():
        query(msi, f"UPDATE Component SET Condition = '{condition}' WHERE Component = '{component}'")
    secure = {row["Property"]: row["Value"] for row in table(msi, "Property")}.get("SecureCustomProperties", "")
    secure = ";".join([p for p in secure.split(";") if p] + PUBLIC)
    query(msi, f"UPDATE Property SET Value = '{secure}' WHERE Property = 'SecureCustomProperties'")
    query(msi, f"INSERT INTO Property (Property, Value) VALUES ('MsiHiddenProperties', '{';'.join(HIDDEN)}')")
    for action, sequence, condition, text in ERRORS:
        query(msi, f"INSERT INTO CustomAction (Action, Type, Target) VALUES ('{action}', 19, '{text}')")
        query(msi, f"INSERT INTO InstallExecuteSequence (Action, Condition, Sequence) "
                   f"VALUES ('{action}', '{condition}', {sequence})")


def check(msi, version):
    """Every fact the installs depend on, read back from the finished tables."""
    problems = []
    properties = {row["Property"]: row["Value"] for row in table(msi, "Property")}
    if properties.get("ProductVersion") != version:
        problems.append(f"ProductVersion is {properties.get('ProductVersion')!r}, not {version}")
    secure = set(properties.get("SecureCustomProperties", "").split(";"))
    for needed in PUBLIC + ["WIX_UPGRADE_DETECTED", "WIX_DOWNGRADE_DETECTED"]:
        if needed not in secure:
            problems.append(f"{needed} is not in SecureCustomProperties")
    if set(properties.get("MsiHiddenProperties", "").split(";")) != set(HIDDEN):
        problems.append(f"MsiHiddenProperties is {properties.get('MsiHiddenProperties')!r}")

    summary = run("msiinfo", "suminfo", msi)
    if "Template: x64;" not in summary:
        problems.append("the package is not 64-bit (Template is not x64): build with wixl -a x64")

    for row in table(msi, "Component"):
        if not int(row["Attributes"]) & 256:
            problems.append(f"component {row['Component']} is 32-bit: its registry values would land in Wow6432Node")
        wanted = CONDITIONS.get(row["Component"], "")
        if row["Condition"] != wanted:
            problems.append(f"component {row['Component']} has condition {row['Condition']!r}, not {wanted!r}")

    sequence = {row["Action"]: int(row["Sequence"]) for row in table(msi, "InstallExecuteSequence")}
    order = ["FindRelatedProducts", "AppSearch", "KeepRecorderAddress", "DowngradeRefused", "RecorderAddressRequired",
             "LaunchConditions", "RemoveExistingProducts", "InstallInitialize"]
    missing = [action for action in order if action not in sequence]
    if missing:
        problems.append(f"actions missing from InstallExecuteSequence: {missing}")
    elif [sequence[a] for a in order] != sorted(sequence[a] for a in order):
        problems.append(f"InstallExecuteSequence runs {order} out of order: {[sequence[a] for a in order]}")

    actions = {row["Action"]: row for row in table(msi, "CustomAction")}
    for action, _, _, text in ERRORS:
        if actions.get(action, {}).get("Type") != "19" or actions[action]["Target"] != text:
            problems.append(f"error action {action} is missing or wrong")
    if problems:
        raise PackageError("the package is wrong:\n  " + "\n  ".join(problems))


def pack_extension(key, out_dir, update_url, folder=EXTENSION):
    """The CRX and the update manifest that ExtensionInstallForcelist points at. The key must
    be the one whose public half is in the manifest: another would give the CRX another ID,
    which the browsers would refuse for the ID in the policy."""
    public = subprocess.run(["openssl", "pkey", "-in", key, "-pubout", "-outform", "DER"], capture_output=True)
    if public.returncode != 0:
        raise PackageError(f"{key} is not a private key: {public.stderr.decode(errors='replace').strip()}")
    if base64.b64encode(public.stdout).decode() != extension_manifest(folder)["key"]:
        raise PackageError(f"{key} is not the extension's key (its public key is not the one in manifest.json)")
    os.makedirs(out_dir, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        source = os.path.join(work, "kzbdka-pages")
        shutil.copytree(folder, source)
        run("chromium", "--no-sandbox", "--headless=new", f"--user-data-dir={work}/profile",
            f"--pack-extension={source}", f"--pack-extension-key={key}")
        crx = source + ".crx"
        if not os.path.isfile(crx):
            raise PackageError("chromium did not pack the extension")
        shutil.copy(crx, os.path.join(out_dir, "kzbdka-pages.crx"))
    with open(os.path.join(out_dir, "updates.xml"), "w") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n'
                '<gupdate xmlns="http://www.google.com/update2/response" protocol="2.0">\n'
                f'  <app appid="{extension_id(folder)}">\n'
                f'    <updatecheck codebase="{update_url}kzbdka-pages.crx" '
                f'version="{extension_manifest(folder)["version"]}" />\n'
                '  </app>\n</gupdate>\n')


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--bin", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--strip", metavar="SYMBOLS_DIR")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--key-password-file")
    parser.add_argument("--extension-key")
    parser.add_argument("--extension-out")
    parser.add_argument("--extension-url", default="https://updates.example.com/kzbdka/",
                        help="where the CRX will be served (ends with /)")
    args = parser.parse_args()
    if bool(args.cert) != bool(args.key):
        parser.error("--cert and --key go together")

    try:
        with tempfile.TemporaryDirectory() as stage_dir:
            if args.strip:
                os.makedirs(args.strip, exist_ok=True)
            stage(args.bin, stage_dir, args.strip)
            if args.cert:
                for name in BINARIES:
                    sign(os.path.join(stage_dir, name), args.cert, args.key, args.key_password_file)
            # wixl deletes its output before writing: build beside the target and move.
            built = os.path.join(stage_dir, "package.msi")
            run("wixl", "-a", "x64", "-D", f"Version={args.version}", "-D", f"ExtensionId={extension_id()}",
                "-o", built, os.path.join(ROOT, "installer", "KZBDKA.wxs"), cwd=stage_dir)
            mend(built)
            check(built, args.version)
            # Signed last: any change to the tables afterwards would break the signature.
            if args.cert:
                sign(built, args.cert, args.key, args.key_password_file)
            os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
            shutil.move(built, args.out)
        if args.extension_key:
            pack_extension(args.extension_key, args.extension_out or os.path.dirname(os.path.abspath(args.out)),
                           args.extension_url)
    except PackageError as error:
        print(f"package: {error}", file=sys.stderr)
        return 1
    print(f"package: {args.out} ({os.path.getsize(args.out)} bytes)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
