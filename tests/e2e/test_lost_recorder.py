"""A recorder whose host goes silent without closing the connection (cable pulled, host frozen):
the agent must find the loss on its own, show it, reconnect and start suppression again.

The recorder lives in a network namespace this test makes, reached over a veth pair; its
address is taken away inside the namespace, so that every packet to it is dropped without an
answer, as on a dead link. Needs root (or the right to make namespaces): skipped otherwise.
"""
import os
import shutil
import subprocess
import time
import unittest

from harness import (START, SUPPRESS, WAIT, Agent, Failure, Simulator, action_image, identity,
                     new_case_folder, private_folder, scenario, trigger)

HOST, _ = identity()
# A dead connection must be found within this many seconds of the last packet getting through.
LOSS_SEEN_WITHIN = 20.0


def ip(*arguments, namespace=None):
    command = ["ip", *arguments] if namespace is None else ["ip", "netns", "exec", namespace, "ip", *arguments]
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=30)


class DeadLink:
    """A namespace with a control address (.2) and a recorder address (.3), reached from here
    over a veth pair (.1). cut() drops every packet to the recorder, restore() lets them through."""

    def __init__(self):
        tag = os.getpid() % 100000
        self.namespace = f"kzb-lost-{tag}"
        outside, inside = f"kzbl{tag}h", f"kzbl{tag}n"
        made = ip("netns", "add", self.namespace)
        if made.returncode != 0:
            raise unittest.SkipTest(f"cannot make a network namespace here: {made.stdout.strip()}")
        try:
            subnet = self._free_subnet()
            self.control, self.recorder = f"{subnet}.2", f"{subnet}.3"
            steps = [
                (["link", "add", outside, "type", "veth", "peer", "name", inside, "netns", self.namespace], None),
                (["addr", "add", f"{subnet}.1/24", "dev", outside], None),
                (["link", "set", outside, "up"], None),
                (["link", "set", "lo", "up"], self.namespace),
                (["addr", "add", f"{self.control}/24", "dev", inside], self.namespace),
                (["addr", "add", f"{self.recorder}/24", "dev", inside], self.namespace),
                (["link", "set", inside, "up"], self.namespace),
            ]
            for arguments, namespace in steps:
                done = ip(*arguments, namespace=namespace)
                if done.returncode != 0:
                    raise Failure(f"ip {' '.join(arguments)}: {done.stdout.strip()}")
            self.inside = inside
        except BaseException:
            self.remove()
            raise

    @staticmethod
    def _free_subnet():
        routes = ip("-4", "route", "show").stdout
        for third in range(20 + os.getpid() % 200, 256):
            subnet = f"10.213.{third}"
            if f"{subnet}.0/24" not in routes:
                return subnet
        raise Failure("no free test subnet")

    def launcher(self):
        return ["ip", "netns", "exec", self.namespace]

    def cut(self):
        done = ip("addr", "del", f"{self.recorder}/24", "dev", self.inside, namespace=self.namespace)
        if done.returncode != 0:
            raise Failure(f"could not cut the link: {done.stdout.strip()}")

    def restore(self):
        ip("addr", "add", f"{self.recorder}/24", "dev", self.inside, namespace=self.namespace)

    def remove(self):
        # Takes the veth pair with it.
        ip("netns", "del", self.namespace)


class LostRecorder(unittest.TestCase):
    def start(self, windows):
        if shutil.which("ip") is None:
            raise unittest.SkipTest("no ip command (iproute2)")
        link = DeadLink()
        self.addCleanup(link.remove)
        folder = new_case_folder(self.id().split(".", 1)[-1])
        sim = Simulator(os.path.join(folder, "simulator.jsonl"), launcher=link.launcher(), control_host=link.control)
        self.addCleanup(sim.stop)
        sim.add_recorder(link.recorder, scenario(triggers=[trigger("Card Payment")]))
        runtime = private_folder()
        self.addCleanup(shutil.rmtree, runtime, True)
        agent = Agent(folder, [link.recorder], sim.port, runtime_dir=runtime)
        agent.set_windows(windows)
        self.addCleanup(agent.stop)
        agent.expect_line("connection 1: connected")
        sim.wait(event="sent", name="DKA_PCI_SUPPRESSION_CONFIG")
        return link, agent, sim

    def test_a_recorder_gone_silent_is_lost_in_time_and_suppression_starts_again_on_reconnection(self):
        # idle: the payment window is open before the link dies, so nothing but heartbeats and
        # probes would go out; sending: the window opens after, and its Start goes into the dead link.
        for case in ("idle", "sending"):
            with self.subTest(case):
                try:
                    self.lose_and_reconnect(case)
                finally:
                    self.doCleanups()

    def lose_and_reconnect(self, case):
        windows = ["Card Payment - CRM"] if case == "idle" else []
        link, agent, sim = self.start(windows)
        if case == "idle":
            sim.wait_action("DKA_PCI_SUPPRESS", START)
        shown = agent.mark()
        link.cut()
        cut_at = time.monotonic()
        if case == "sending":
            agent.set_windows(["Card Payment - CRM"])
        agent.expect_line("connection 1: not-connected", timeout=LOSS_SEEN_WITHIN, after=shown)
        seen_after = time.monotonic() - cut_at
        agent.expect_line(f"status: Not connected to the recorder at '{link.recorder}'", after=shown)
        print(f"{case}: loss seen {seen_after:.1f} s after the link was cut", flush=True)
        since = sim.mark()
        link.restore()
        sim.wait(name="DKA_ID", since=since, timeout=WAIT + 5)
        self.assertEqual(sim.wait_action("DKA_PCI_SUPPRESS", START, since=since)["hex"],
                         action_image(SUPPRESS, START, 4, HOST).hex())
