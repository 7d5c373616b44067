#!/usr/bin/env python3
"""Runs a test executable against the recorder simulator.

    run_with_simulator.py [--desktop PREFIX] [--screens DIR] <test exe> [test arguments...]

Makes throw-away test certificates with the openssl command line, starts the simulator
with only its control port (the tests add the recorders they need), and runs the
executable (under Wine when it is a .exe) with
    KZB_SIM_CONTROL     host:port of the simulator's control port
    KZB_TEST_CERTS      the certificate folder as the executable sees it
    KZB_TEST_CERTS_SIM  the certificate folder as the simulator sees it
The executable's exit code is this script's. The simulator's output goes to
test-results/<exe name>-simulator.jsonl in the working folder.

--desktop PREFIX  runs the .exe in a Wine prefix of its own (made when missing) whose
                  processes share one Wine desktop with a taskbar and a notification
                  area, as a workstation's; every process of the prefix is ended
                  afterwards.
--screens DIR     lets the executable take screenshots of the X display: it connects to
                  KZB_SCREENSHOT (host:port) and sends a name per line; the picture goes to
                  DIR/<name>.png and the answer is "ok" or "error ...".
"""
import json
import os
import re
import shutil
import socket
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


def prepare_desktop_prefix(prefix, env):
    """A Wine prefix whose programs share one desktop with a taskbar; made once."""
    if not os.path.isfile(os.path.join(prefix, "system.reg")):
        partial = prefix + ".partial"
        shutil.rmtree(partial, ignore_errors=True)
        wine = dict(env, WINEPREFIX=partial)
        subprocess.run(["wineboot", "-i"], env=wine, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for key, name, data in ((r"HKCU\Software\Wine\Explorer", "Desktop", "shell"),
                                (r"HKCU\Software\Wine\Explorer\Desktops", "shell", "1024x768")):
            subprocess.run(["wine", "reg", "add", key, "/v", name, "/d", data, "/f"], env=wine,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=wine)
        os.replace(partial, prefix)
    env["WINEPREFIX"] = prefix


def serve_screenshots(folder, env):
    """A local port that takes a picture of the X display for each name sent to it."""
    os.makedirs(folder, exist_ok=True)
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)

    def client(connection):
        with connection, connection.makefile("rw") as stream:
            for line in stream:
                name = re.sub(r"[^A-Za-z0-9_.-]", "_", line.strip())
                target = os.path.join(folder, name + ".png")
                try:
                    done = subprocess.run(["import", "-display", os.environ.get("DISPLAY", ""), "-window", "root",
                                           target], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
                    answer = "ok" if done.returncode == 0 else f"error {done.stderr.strip()}"
                except OSError as e:
                    answer = f"error {e}"  # ImageMagick's import missing
                stream.write(answer.replace("\n", " ") + "\n")
                stream.flush()

    def accept():
        while True:
            connection, _ = listener.accept()
            threading.Thread(target=client, args=(connection,), daemon=True).start()
    threading.Thread(target=accept, daemon=True).start()
    env["KZB_SCREENSHOT"] = "127.0.0.1:%d" % listener.getsockname()[1]


def main():
    options = sys.argv[1:]
    desktop = screens = None
    while options and options[0] in ("--desktop", "--screens"):
        if options[0] == "--desktop":
            desktop = options[1]
        else:
            screens = options[1]
        options = options[2:]
    exe, arguments = options[0], options[1:]
    windows = exe.lower().endswith(".exe")
    env = dict(os.environ)
    if desktop and windows:
        prepare_desktop_prefix(os.path.abspath(desktop), env)
    if screens:
        serve_screenshots(os.path.abspath(screens), env)
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
            # The agent's TLS is what its settings say, whatever OpenSSL configuration the
            # machine has: the tests run with one that would break every connection.
            conf = os.path.join(os.path.dirname(os.path.abspath(__file__)), "workstation-openssl.cnf")
            env["OPENSSL_CONF"] = "Z:" + conf.replace("/", "\\") if windows else conf
            command = (["wine", exe] if windows else [exe]) + arguments
            return subprocess.run(command, env=env).returncode
        finally:
            simulator.kill()
            simulator.wait()
            if desktop and windows:
                subprocess.run(["wineserver", "-k"], env=env)


if __name__ == "__main__":
    sys.exit(main())
