#!/usr/bin/env python3
"""Runs a test executable against the recorder simulator.

    run_with_simulator.py <test exe> [test arguments...]

Makes throw-away test certificates with the openssl command line, starts the simulator
with only its control port (the tests add the recorders they need), and runs the
executable (under Wine when it is a .exe) with
    KZB_SIM_CONTROL     host:port of the simulator's control port
    KZB_TEST_CERTS      the certificate folder as the executable sees it
    KZB_TEST_CERTS_SIM  the certificate folder as the simulator sees it
The executable's exit code is this script's. The simulator's output goes to
test-results/<exe name>-simulator.jsonl in the working folder.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading

HERE = os.path.dirname(os.path.abspath(__file__))
SIMULATOR = os.path.join(HERE, "..", "..", "tools", "recorder-sim", "recorder_sim.py")


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_authority(folder, name):
    key, cert = os.path.join(folder, f"{name}.key"), os.path.join(folder, f"{name}.pem")
    openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
            "-keyout", key, "-out", cert, "-days", "2", "-subj", f"/CN=Test {name}")
    return key, cert


def make_signed(folder, name, authority, extensions):
    key, csr, cert = (os.path.join(folder, f"{name}.{ext}") for ext in ("key", "csr", "crt"))
    ext_file = os.path.join(folder, f"{name}.ext")
    with open(ext_file, "w") as f:
        f.write(extensions + "\n")
    openssl("req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
            "-keyout", key, "-out", csr, "-subj", f"/CN={name}")
    openssl("x509", "-req", "-in", csr, "-CA", authority[1], "-CAkey", authority[0], "-CAcreateserial",
            "-out", cert, "-days", "2", "-extfile", ext_file)
    return key, cert


def concatenate(target, *parts):
    with open(target, "w") as out:
        for part in parts:
            with open(part) as f:
                out.write(f.read())


def make_certificates(folder):
    """ca.pem, other_ca.pem; server.crt/.key (127.0.0.1, 127.0.0.2); client.pem (chain and key),
    client_encrypted.pem (key under the password 'secret'), stranger.pem (signed by other_ca)."""
    ca = make_authority(folder, "ca")
    other = make_authority(folder, "other_ca")
    make_signed(folder, "server", ca, "subjectAltName=IP:127.0.0.1,IP:127.0.0.2\nextendedKeyUsage=serverAuth")
    client_key, client_cert = make_signed(folder, "client", ca, "extendedKeyUsage=clientAuth")
    concatenate(os.path.join(folder, "client.pem"), client_cert, client_key)
    encrypted = os.path.join(folder, "client_encrypted.key")
    openssl("pkey", "-in", client_key, "-aes256", "-passout", "pass:secret", "-out", encrypted)
    concatenate(os.path.join(folder, "client_encrypted.pem"), client_cert, encrypted)
    stranger_key, stranger_cert = make_signed(folder, "stranger", other, "extendedKeyUsage=clientAuth")
    concatenate(os.path.join(folder, "stranger.pem"), stranger_cert, stranger_key)


def main():
    exe, arguments = sys.argv[1], sys.argv[2:]
    windows = exe.lower().endswith(".exe")
    env = dict(os.environ)
    os.makedirs("test-results", exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="kzb-sim-") as folder:
        if shutil.which("openssl"):
            make_certificates(folder)
            env["KZB_TEST_CERTS_SIM"] = folder
            env["KZB_TEST_CERTS"] = "Z:" + folder.replace("/", "\\") if windows else folder
        simulator = subprocess.Popen(
            [sys.executable, SIMULATOR, "--no-recorder", "--control-port", "0", "--no-stdin"],
            stdout=subprocess.PIPE, text=True)
        try:
            first = json.loads(simulator.stdout.readline())
            env["KZB_SIM_CONTROL"] = f"127.0.0.1:{first['port']}"
            log_path = os.path.join("test-results", os.path.basename(exe) + "-simulator.jsonl")

            def keep_output():
                with open(log_path, "w") as log:
                    log.write(json.dumps(first) + "\n")
                    for line in simulator.stdout:
                        log.write(line)
            threading.Thread(target=keep_output, daemon=True).start()
            command = (["wine", exe] if windows else [exe]) + arguments
            return subprocess.run(command, env=env).returncode
        finally:
            simulator.kill()
            simulator.wait()


if __name__ == "__main__":
    sys.exit(main())
