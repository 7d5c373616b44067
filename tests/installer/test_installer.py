"""The MSI as IT staff use it, under Wine in a prefix made for the run: silent install with
properties, a first install without a recorder, an upgrade that keeps every value, a refused
downgrade, the password kept out of the log, uninstall; and the signing of scripts/package.

The runner (run_installer_tests.py) fills in CONFIG. The cases of Installs build on each
other (one prefix, in name order), as one seat goes through its life."""
import base64
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
sys.path.insert(0, os.path.join(ROOT, "installer"))
import harness  # noqa: E402
import package  # noqa: E402

CONFIG = {"bin": None, "version": None, "work": None}

KEY = r"HKLM\SOFTWARE\Corvanta\KZBDKA"
RUN_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run"
HOST_KEYS = [r"HKLM\SOFTWARE\Google\Chrome\NativeMessagingHosts\com.kzbdka.pagehost",
             r"HKLM\SOFTWARE\Microsoft\Edge\NativeMessagingHosts\com.kzbdka.pagehost"]
POLICY_KEYS = [r"HKLM\SOFTWARE\Policies\Google\Chrome\ExtensionInstallForcelist",
               r"HKLM\SOFTWARE\Policies\Microsoft\Edge\ExtensionInstallForcelist"]
INSTALL_DIR = r"C:\Program Files\Corvanta\KZBDKA"
INSTALLED_FILES = ["KZBDKA.exe", "KZBLogging.dll", "kzbdka-pagehost.exe", "com.kzbdka.pagehost-chrome.json",
                   "com.kzbdka.pagehost-edge.json", "extension/manifest.json", "extension/background.js",
                   "extension/content.js"]
# Addresses of their own, away from the GUI suite's 127.0.0.20 and up.
RECORDERS = "127.0.0.231 127.0.0.232"
PASSWORD = "Pw-7c1e9a-not-in-logs"
UPDATE_URL = "https://updates.example.com/kzbdka/updates.xml"
# The first install; the TLS values come with an upgrade (below), since the program of the
# first one must connect to the simulator without certificates.
PROPERTIES = {
    "RECORDERADDRESS": RECORDERS,
    "TERMINALNAMING": "1",
    "LOGPATH": r"C:\kzb-msi-logs",
    "EXTENSIONUPDATEURL": UPDATE_URL,
}
TLS_PROPERTIES = {
    "CLIENTCERTIFICATEPATH": r"C:\certs\agent.p12",
    "CLIENTCERTIFICATEPASSWORD": PASSWORD,
    "SERVERCERTIFICATEAUTHORITYPATH": r"C:\certs\ca.pem",
}
# What those properties leave in the registry (UPDATEMODE is never given: no value).
VALUES = {
    "RecorderAddress": ("REG_SZ", RECORDERS),
    "TerminalNaming": ("REG_DWORD", "0x1"),
    "LogPath": ("REG_SZ", PROPERTIES["LOGPATH"]),
}
ALL_VALUES = dict(VALUES, **{
    "ClientCertificatePath": ("REG_SZ", TLS_PROPERTIES["CLIENTCERTIFICATEPATH"]),
    "ClientCertificatePassword": ("REG_SZ", PASSWORD),
    "ServerCertificateAuthorityPath": ("REG_SZ", TLS_PROPERTIES["SERVERCERTIFICATEAUTHORITYPATH"]),
})
MSI_FAILED = 1603
TIMES = {}


def wine(*command, check=False, timeout=120):
    return subprocess.run(["wine", *command], capture_output=True, text=True, errors="replace",
                          timeout=timeout, check=check)


def unix_path(windows_path):
    return os.path.join(os.environ["WINEPREFIX"], "drive_c", *windows_path[3:].split("\\"))


def query(key):
    """The values of a key as {name: (type, data)}; None when the key is not there. reg.exe
    here is the 64-bit one, so this is the 64-bit view the program reads."""
    result = wine("reg", "query", key)
    if result.returncode != 0:
        return None
    values = {}
    for line in result.stdout.splitlines():
        match = re.match(r"^ {4}(.*?) {4}(REG_\w+) {4}(.*)$", line)
        if match:
            values[match.group(1)] = (match.group(2), match.group(3))
    return values


def previous_version(version):
    """A version below the given one: the last non-zero part lowered, the rest raised to 99."""
    parts = [int(p) for p in version.split(".")]
    for i in reversed(range(len(parts))):
        if parts[i]:
            parts[i] -= 1
            parts[i + 1:] = [99] * (len(parts) - i - 1)
            return ".".join(map(str, parts))
    raise ValueError(f"no version below {version}")


def build(version):
    out = os.path.join(CONFIG["work"], f"KZBDKA-{version}-x64.msi")
    if not os.path.exists(out):
        result = subprocess.run([sys.executable, os.path.join(ROOT, "installer", "package.py"), "--bin", CONFIG["bin"],
                                 "--version", version, "--out", out], capture_output=True, text=True)
        if result.returncode != 0:
            raise AssertionError(f"package.py failed:\n{result.stdout}{result.stderr}")
    return out


def msiexec(action, msi, properties=None, log_name=None):
    """Runs msiexec silently; returns the Windows exit code and the log's text. Linux gets only
    the code modulo 256 from Wine, so a run whose values need no quotes goes through cmd's
    start /wait, which hands on the whole code (cmd would mangle quoted values)."""
    log = os.path.join(CONFIG["work"], (log_name or os.path.basename(msi) + action) + ".log")
    if os.path.exists(log):
        os.remove(log)
    windows = lambda path: "Z:" + path.replace("/", "\\")
    arguments = [action, windows(msi), "/qn", *(f"{k}={v}" for k, v in (properties or {}).items()),
                 "/l*v", windows(log)]
    started = time.monotonic()
    if any(" " in a for a in arguments):
        result = wine("msiexec", *arguments, timeout=300)
        code = result.returncode
    else:
        result = wine("cmd", "/c", f"start /wait msiexec {' '.join(arguments)} & call echo msiexec-exit=%^ERRORLEVEL%",
                      timeout=300)
        match = re.search(r"msiexec-exit=(\d+)", result.stdout)
        if not match:
            raise AssertionError(f"no exit code from msiexec: {result.stdout}{result.stderr}")
        code = int(match.group(1))
    TIMES.setdefault(action + " " + os.path.basename(msi), []).append(time.monotonic() - started)
    return code, read_log(log)


def read_log(path):
    if not os.path.exists(path):
        return ""
    with open(path, "rb") as f:
        data = f.read()
    return data.decode("utf-16" if data[:2] in (b"\xff\xfe", b"\xfe\xff") else "utf-8", errors="replace")


class Installs(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.current = build(CONFIG["version"])
        cls.previous = build(previous_version(CONFIG["version"]))
        cls.older = build(previous_version(previous_version(CONFIG["version"])))
        prefix = os.environ["WINEPREFIX"]
        shutil.rmtree(prefix, ignore_errors=True)
        started = time.monotonic()
        subprocess.run(["wineboot", "-i"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
        subprocess.run(["wineserver", "-w"], timeout=300)
        TIMES["fresh prefix"] = [time.monotonic() - started]

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["wineserver", "-k"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)

    def assert_installed(self, values):
        for name in INSTALLED_FILES:
            self.assertTrue(os.path.isfile(unix_path(INSTALL_DIR + "\\" + name.replace("/", "\\"))), name)
        self.assertEqual(query(KEY), values)
        self.assertIsNone(query(r"HKLM\SOFTWARE\Wow6432Node\Corvanta\KZBDKA"), "values in the 32-bit view")
        self.assertEqual(query(RUN_KEY).get("KZBDKA"), ("REG_SZ", f'"{INSTALL_DIR}\\KZBDKA.exe"'))
        for key, browser in zip(HOST_KEYS, ("chrome", "edge")):
            self.assertEqual(query(key), {"(Default)": ("REG_SZ", f"{INSTALL_DIR}\\com.kzbdka.pagehost-{browser}.json")})
        for key in POLICY_KEYS:
            self.assertEqual(query(key), {"6471": ("REG_SZ", f"{package.extension_id()};{UPDATE_URL}")})

    def test_1_first_install_without_recorder_address_fails_and_says_why(self):
        code, log = msiexec("/i", self.current, {"LOGPATH": r"C:\logs"}, log_name="no-recorder")
        self.assertEqual(code, MSI_FAILED)
        # Windows logs the action's text too; Wine only its name.
        self.assertRegex(log, r"Action start [\d:]+: RecorderAddressRequired\.")
        self.assertIsNone(query(KEY))
        self.assertFalse(os.path.exists(unix_path(INSTALL_DIR)))

    def test_2_install_with_properties_writes_files_values_run_value_and_host_registration(self):
        code, log = msiexec("/i", self.older, PROPERTIES, log_name="install")
        self.assertEqual(code, 0, log[-3000:])
        self.assert_installed(VALUES)

    def test_3_installed_program_connects_to_the_recorder_address_and_shows_its_icon(self):
        # The program's own user value, which an uninstall must leave; Info level for the icon line.
        wine("reg", "add", r"HKCU\Software\Corvanta\KZBDKA", "/v", "LogLevel", "/t", "REG_DWORD", "/d", "4", "/f",
             check=True)
        simulator = harness.Simulator(os.path.join(CONFIG["work"], "simulator.log"))
        try:
            simulator.port = 6471  # the program's port; the addresses are the test's own
            numbers = [simulator.add_recorder(host, harness.scenario()) for host in RECORDERS.split()]
            program = subprocess.Popen(["wine", INSTALL_DIR + "\\KZBDKA.exe"], stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
            try:
                for number in numbers:
                    simulator.wait(event="received", recorder=number)
                log_file = unix_path(PROPERTIES["LOGPATH"] + "\\KZBDKA.txt")
                self.assertTrue(wait_for_text(log_file, "Successfully created tray icon", harness.WAIT),
                                f"no tray icon line in {log_file}")
            finally:
                subprocess.run(["wineserver", "-k"], timeout=60)
                program.wait(timeout=60)
        finally:
            simulator.stop()

    def test_4_upgrade_with_properties_writes_them_and_keeps_the_rest(self):
        code, log = msiexec("/i", self.previous, TLS_PROPERTIES, log_name="upgrade-with-tls")
        self.assertEqual(code, 0, log[-3000:])
        self.assert_installed(ALL_VALUES)

    def test_5_upgrade_without_properties_keeps_every_value(self):
        code, log = msiexec("/i", self.current, log_name="upgrade")
        self.assertEqual(code, 0, log[-3000:])
        self.assert_installed(ALL_VALUES)
        registered = wine("reg", "query", r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall", "/s").stdout
        self.assertEqual(len(re.findall(r"DisplayName +REG_SZ +KZBDKA\s*$", registered, re.M)), 1,
                         "an old version is still registered beside the new one")
        self.assertRegex(registered, rf"(?m)DisplayVersion +REG_SZ +{re.escape(CONFIG['version'])}\s*$")

    def test_6_downgrade_is_refused(self):
        code, log = msiexec("/i", self.previous, log_name="downgrade")
        self.assertEqual(code, MSI_FAILED)
        self.assertRegex(log, r"Action start [\d:]+: DowngradeRefused\.")
        self.assert_installed(ALL_VALUES)

    def test_7_password_is_not_in_the_install_log(self):
        for name in ("upgrade-with-tls", "upgrade"):
            text = read_log(os.path.join(CONFIG["work"], name + ".log"))
            self.assertTrue(text, f"{name}: no log")
            lines = [line for line in text.splitlines() if PASSWORD in line]
            # Wine's msi ignores MsiHiddenProperties in WriteRegistryValues' action data (Windows
            # masks it there); nothing else may show the password.
            wine_only = [line for line in lines
                         if line.startswith("Key: ") and "Name: ClientCertificatePassword," in line]
            self.assertEqual([line for line in lines if line not in wine_only], [], name)
        if wine_only:
            self.skipTest("Wine's msiexec ignores MsiHiddenProperties (it writes the password into "
                          "WriteRegistryValues' action data, and a refused install's property list); "
                          "Windows Installer honours it")

    def test_8_uninstall_removes_what_it_put_there_and_keeps_the_users_values(self):
        user_before = query(r"HKCU\Software\Corvanta\KZBDKA")
        self.assertIn("LogLevel", user_before)
        code, log = msiexec("/x", self.current, log_name="uninstall")
        self.assertEqual(code, 0, log[-3000:])
        for name in INSTALLED_FILES:
            self.assertFalse(os.path.exists(unix_path(INSTALL_DIR + "\\" + name.replace("/", "\\"))), name)
        self.assertFalse(query(KEY), "machine values left")
        self.assertNotIn("KZBDKA", query(RUN_KEY) or {})
        for key in HOST_KEYS + POLICY_KEYS:
            self.assertFalse(query(key), f"{key} left")
        self.assertEqual(query(r"HKCU\Software\Corvanta\KZBDKA"), user_before)

    def test_9_start_at_logon_can_be_left_out_and_stays_out_on_upgrade(self):
        code, log = msiexec("/i", self.previous, {"RECORDERADDRESS": "127.0.0.231", "STARTATLOGON": "0"},
                            log_name="no-run")
        self.assertEqual(code, 0, log[-3000:])
        self.assertNotIn("KZBDKA", query(RUN_KEY) or {})
        code, log = msiexec("/i", self.current, log_name="no-run-upgrade")
        self.assertEqual(code, 0, log[-3000:])
        self.assertNotIn("KZBDKA", query(RUN_KEY) or {})
        self.assertEqual(query(KEY), {"RecorderAddress": ("REG_SZ", "127.0.0.231")})
        code, log = msiexec("/x", self.current, log_name="no-run-uninstall")
        self.assertEqual(code, 0, log[-3000:])


def wait_for_text(path, text, timeout):
    """Waits for a line to reach a file another process writes."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            with open(path, errors="replace") as f:
                if text in f.read():
                    return True
        except FileNotFoundError:
            pass
        time.sleep(0.2)
    return False


class Signing(unittest.TestCase):
    """scripts/package's signing, with a code-signing certificate made here."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="kzb-signing-")
        cls.cert = os.path.join(cls.folder, "signer.crt")
        cls.key = os.path.join(cls.folder, "signer.key")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=KZBDKA test signer", "-addext", "extendedKeyUsage=codeSigning",
                        "-keyout", cls.key, "-out", cls.cert], check=True, capture_output=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, ignore_errors=True)

    def verify(self, path):
        return subprocess.run(["osslsigncode", "verify", "-in", path, "-CAfile", self.cert],
                              capture_output=True, text=True)

    def assert_tamper_breaks(self, path):
        copy = path + ".changed"
        shutil.copy(path, copy)
        with open(copy, "r+b") as f:
            f.seek(os.path.getsize(copy) // 2)
            byte = f.read(1)
            f.seek(-1, os.SEEK_CUR)
            f.write(bytes([byte[0] ^ 0xFF]))
        self.assertNotEqual(self.verify(copy).returncode, 0, f"{path} with a changed byte still verifies")

    def test_every_program_and_the_package_are_signed_and_a_changed_byte_fails(self):
        msi = os.path.join(self.folder, "signed.msi")
        result = subprocess.run([sys.executable, os.path.join(ROOT, "installer", "package.py"), "--bin", CONFIG["bin"],
                                 "--version", CONFIG["version"], "--out", msi, "--cert", self.cert, "--key", self.key],
                                capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.verify(msi).returncode, 0)
        self.assert_tamper_breaks(msi)
        # The programs as they went into the package: taken out of its cabinet.
        unpacked = os.path.join(self.folder, "unpacked")
        os.makedirs(unpacked)
        subprocess.run(["msiextract", "-C", unpacked, msi], check=True, capture_output=True)
        for name in package.BINARIES:
            found = [os.path.join(d, name) for d, _, files in os.walk(unpacked) if name in files]
            self.assertEqual(len(found), 1, name)
            with self.subTest(name):
                checked = self.verify(found[0])
                self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
                self.assert_tamper_breaks(found[0])

    def test_unsigned_package_fails_verification(self):
        self.assertNotEqual(self.verify(build(CONFIG["version"])).returncode, 0)


class ExtensionPacking(unittest.TestCase):
    """The CRX for the policy route, with a key made here (the real one is never in the repository)."""

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="kzb-crx-")
        self.key = os.path.join(self.folder, "extension.pem")
        subprocess.run(["openssl", "genrsa", "-out", self.key, "2048"], check=True, capture_output=True)

    def tearDown(self):
        shutil.rmtree(self.folder, ignore_errors=True)

    def test_a_key_that_is_not_the_extensions_is_refused(self):
        with self.assertRaisesRegex(package.PackageError, "not the extension's key"):
            package.pack_extension(self.key, os.path.join(self.folder, "out"), "https://intranet.example/kzbdka/")

    def test_the_extensions_key_packs_a_crx_and_an_update_manifest_naming_its_id(self):
        # The extension as it would be with this key's public half in its manifest.
        extension = os.path.join(self.folder, "extension")
        shutil.copytree(package.EXTENSION, extension)
        public = subprocess.run(["openssl", "pkey", "-in", self.key, "-pubout", "-outform", "DER"],
                                check=True, capture_output=True).stdout
        manifest = package.extension_manifest(extension)
        manifest["key"] = base64.b64encode(public).decode()
        with open(os.path.join(extension, "manifest.json"), "w") as f:
            json.dump(manifest, f)
        out = os.path.join(self.folder, "out")
        package.pack_extension(self.key, out, "https://intranet.example/kzbdka/", folder=extension)
        with open(os.path.join(out, "kzbdka-pages.crx"), "rb") as f:
            self.assertEqual(f.read(4), b"Cr24")
        with open(os.path.join(out, "updates.xml")) as f:
            updates = f.read()
        self.assertIn(f'appid="{package.extension_id(extension)}"', updates)
        self.assertIn('codebase="https://intranet.example/kzbdka/kzbdka-pages.crx"', updates)
        self.assertNotEqual(package.extension_id(extension), package.extension_id())
