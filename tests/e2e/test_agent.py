"""The headless agent kzbdka-cli against the recorder simulator, end to end: what it sends, byte
for byte, and what it shows, for what a recorder and the person at the desk do."""
import os
import shutil
import time
import unittest

from harness import (ANNOTATION, CONFIG, DISCARD, END, FIELDS_SHOWN, KEEP, MANUAL, NOTES, OUTCOME, PCI,
                     RECORD, RECORD_ON_DEMAND, START, SUPPRESS, WAIT, Agent, Browser, Simulator, TriggerWindow,
                     action_image, annotate_image, get_id_config_image, get_task_config_image, id_image, identity,
                     agent_path, new_case_folder, page_trigger, private_folder, scenario, set_wine_machine_values,
                     set_wine_user_text, tls_certificates, trigger, under_wine, wait_for_file_line, count_file_lines)

HOSTS = ("127.0.0.1", "127.0.0.2")
HOST, LOGIN = identity()
# The client identifier of each ID type: the login name or the host name (type 1 is read from a window title).
CLIENT_OF = {2: LOGIN, 3: HOST, 4: HOST, 5: HOST, 6: LOGIN, 7: HOST, 8: LOGIN, 9: HOST}
FEATURE_REQUESTS = ("DKA_GET_PCI_SUPPRESSION_CONFIG", "DKA_GET_ANNOTATION_CONFIG",
                    "DKA_GET_MANUAL_SUPPRESSION_CONFIG", "DKA_GET_RECORD_ON_DEMAND_CONFIG")
ACTION_MESSAGES = ("DKA_PCI_SUPPRESS", "DKA_ANNOTATE_CALL", "DKA_RECORD_ON_DEMAND")
# What each recorder sends last of each feature's conversation (record on demand: its state
# after the configuration and the default state).
LAST_ANSWERS = ("DKA_PCI_SUPPRESSION_CONFIG", "DKA_ANNOTATION_CONFIG", "DKA_MANUAL_SUPPRESSION_CONFIG",
                "DKA_RECORD_ON_DEMAND_STATE")


class AgentCase(unittest.TestCase):
    """Starts a simulator with the given recorders and the agent against them; at the end the agent
    must quit cleanly (exit code 0, so also no sanitizer report)."""

    def start(self, *scenarios, settings=None, desktop=True, windows=(), tls=None, log_dir=True):
        self.folder = new_case_folder(self.id().split(".", 1)[-1])
        self.sim = Simulator(os.path.join(self.folder, "simulator.jsonl"))
        self.addCleanup(self.sim.stop)
        for host, each in zip(HOSTS, scenarios):
            self.sim.add_recorder(host, each, tls)
        if under_wine() and settings:
            set_wine_machine_values(settings)
            self.addCleanup(set_wine_machine_values, {name: None for name in settings})
        # The user's runtime folder, where a browser's page host finds the agent.
        self.runtime = private_folder()
        self.addCleanup(shutil.rmtree, self.runtime, True)
        self.agent = Agent(self.folder, HOSTS[:len(scenarios)], self.sim.port, desktop=desktop, settings=settings,
                           log_dir=log_dir, runtime_dir=self.runtime)
        self.agent.set_windows(windows)
        self.addCleanup(self.finish_agent, self.agent)
        return self.agent, self.sim

    def finish_agent(self, agent):
        code = agent.stop()
        if code != 0:
            self.fail(f"the agent ended with {code}:\n{agent.stderr_text()[-3000:]}")

    def wait_ready(self, recorders=1):
        """Until every feature of every recorder has its configuration and shows it: the
        recorders have sent the last answer of each feature's conversation, and the agent
        shows what they configured (the scenario's record on demand state included), so
        nothing of the start-up is still on its way when a test begins."""
        for recorder in range(1, recorders + 1):
            self.agent.expect_line(f"connection {recorder}: connected")
            for name in FEATURE_REQUESTS:
                self.sim.wait(name=name, recorder=recorder)
            for name in LAST_ANSWERS:
                self.sim.wait(event="sent", name=name, recorder=recorder)
        self.agent.expect_line(f"annotation: {FIELDS_SHOWN}")
        self.agent.expect_line("manual suppression: available")
        self.agent.expect_line("record on demand: available")
        self.agent.expect_line("record on demand state: Discarding All Calls")

    def assert_image(self, event, expected):
        self.assertEqual(event["hex"], expected.hex(), f"{event['message']['name']} bytes")

    def assert_nothing_sent(self, since, names=ACTION_MESSAGES):
        sent = [e["message"]["name"] for e in self.sim.received(since=since) if e["message"]["name"] in names]
        self.assertEqual(sent, [])


class Conversation(AgentCase):
    """Each feature's messages, byte for byte, as the recorder receives them."""

    def test_identification_and_each_features_configuration_requests(self):
        # Every feature on its own ID type, so that each request shows the one it was given.
        cases = [
            ("pci", PCI, "DKA_GET_PCI_ID_CONFIG", "DKA_GET_PCI_SUPPRESSION_CONFIG", 4),
            ("annotation", ANNOTATION, "DKA_GET_ANNOTATION_ID_CONFIG", "DKA_GET_ANNOTATION_CONFIG", 2),
            ("manual suppression", MANUAL, "DKA_GET_MANUAL_SUPPRESSION_ID_CONFIG",
             "DKA_GET_MANUAL_SUPPRESSION_CONFIG", 8),
            ("record on demand", RECORD_ON_DEMAND, "DKA_GET_RECORD_ON_DEMAND_ID_CONFIG",
             "DKA_GET_RECORD_ON_DEMAND_CONFIG", 9),
        ]
        agent, sim = self.start(scenario(pci_id_type=4, annotation_id_type=2, manual_id_type=8, rod_id_type=9))
        self.wait_ready()
        self.assert_image(sim.wait(name="DKA_ID"), id_image(HOST, LOGIN))
        self.assertEqual(len(sim.received("DKA_ID")), 1)
        for feature, bits, get_id, get_config, id_type in cases:
            with self.subTest(feature):
                self.assert_image(sim.wait(name=get_id), get_id_config_image(bits, HOST))
                self.assert_image(sim.wait(name=get_config), get_task_config_image(bits, id_type, CLIENT_OF[id_type]))

    def test_the_agent_name_from_a_window_title_identifies_automatic_suppression(self):
        # ID type 1: the ID detection method finds the agent's name in a window title.
        name_method = {"type": 1, "match_pattern": 4, "window_text": "Softphone", "user_starts_after": "agent ",
                       "user_ends_before": " -"}
        agent, sim = self.start(scenario(pci_id_type=1, pci_id_methods=[name_method]),
                                windows=["Softphone agent jsmith - ready"])
        request = sim.wait(name="DKA_GET_PCI_SUPPRESSION_CONFIG")
        self.assert_image(request, get_task_config_image(PCI, 1, "jsmith"))
        # Suppression then names the agent the same way.
        since = sim.mark()
        agent.set_windows(["Softphone agent jsmith - ready", "Card Payment - CRM"])
        self.assert_image(sim.wait_action("DKA_PCI_SUPPRESS", START, since=since),
                          action_image(SUPPRESS, START, 1, "jsmith"))

    def test_automatic_suppression_start_and_end(self):
        agent, sim = self.start(scenario(pci_id_type=4, triggers=[trigger("Card Payment")]))
        self.wait_ready()
        since, shown = sim.mark(), agent.mark()
        agent.set_windows([{"title": "Card Payment - CRM", "class": "CrmFrame"}])
        self.assert_image(sim.wait_action("DKA_PCI_SUPPRESS", START, since=since),
                          action_image(SUPPRESS, START, 4, HOST))
        agent.wait_for_line(r'auto suppression 1: on .*Found title:"Card Payment - CRM".*', after=shown)
        # The recorder answers with the suppressed call state.
        agent.expect_line("title: KZB Voralis - Suppressing", after=shown)

        since, shown = sim.mark(), agent.mark()
        agent.set_windows([{"title": "CRM - Customer"}])
        self.assert_image(sim.wait_action("DKA_PCI_SUPPRESS", END, since=since), action_image(SUPPRESS, END, 4, HOST))
        agent.expect_line("auto suppression 1: off", after=shown)
        agent.expect_line("title: KZB Voralis", after=shown)
        self.assertEqual([e["message"]["action"] for e in sim.received("DKA_PCI_SUPPRESS")], [START, END])

    def test_annotation_sends_free_text_and_the_buttons_annotation_text(self):
        cases = [
            ("annotate 1001=Callback 1002=Sale", [(1001, "Callback"), (1002, "Sale made")]),
            # Only the fields filled this time: the values of the last annotation are gone.
            ("annotate 1002=NoSale", [(1002, "No sale made")]),
            ("annotate 1001=x", [(1001, "x")]),
        ]
        agent, sim = self.start(scenario(annotation_id_type=3))
        self.wait_ready()
        for command, values in cases:
            with self.subTest(command):
                since = sim.mark()
                self.assertEqual(agent.command(command), "ok: annotate (sent to recorder 1)")
                self.assert_image(sim.wait(name="DKA_ANNOTATE_CALL", since=since),
                                  annotate_image(3, HOST, values))

    def test_manual_suppression_uses_the_suppress_message_with_its_own_id_type(self):
        # Automatic suppression uses the host name (4), manual suppression the login name (8).
        agent, sim = self.start(scenario(pci_id_type=4, manual_id_type=8))
        self.wait_ready()
        for command, action, title in [("suppress start", START, "KZB Voralis - Suppressing"),
                                       ("suppress stop", END, "KZB Voralis")]:
            with self.subTest(command):
                since, shown = sim.mark(), agent.mark()
                self.assertEqual(agent.command(command), f"ok: {command}")
                self.assert_image(sim.wait(name="DKA_PCI_SUPPRESS", since=since),
                                  action_image(SUPPRESS, action, 8, LOGIN))
                agent.expect_line(f"title: {title}", after=shown)
        self.assertEqual(sim.received("DKA_MANUAL_SUPPRESS"), [])

    def test_record_on_demand_keep_and_discard(self):
        # Temporary mode, the recorder discarding by default: keep is for the next call only.
        agent, sim = self.start(scenario(rod_id_type=9, rod_mode=2, rod_state=2, rod_default=2))
        self.wait_ready()
        agent.expect_line("record on demand state: Discarding All Calls")
        for command, action, state in [("keep", KEEP, "Keeping Next Call"), ("discard", DISCARD, "Discarding All Calls")]:
            with self.subTest(command):
                since, shown = sim.mark(), agent.mark()
                self.assertEqual(agent.command(command), f"ok: {command}")
                self.assert_image(sim.wait(name="DKA_RECORD_ON_DEMAND", since=since),
                                  action_image(RECORD, action, 9, HOST))
                agent.expect_line(f"record on demand state: {state}", after=shown)


class TaskLists(AgentCase):
    """DKA_TASKS creates, reinitialises and destroys the feature handlers."""

    def test_the_same_task_list_again_makes_every_feature_ask_again(self):
        agent, sim = self.start(scenario(tasks=15))
        self.wait_ready()
        since = sim.mark()
        sim.command(op="tasks", mask=15)
        for bits, get_id, get_config, id_type in [
                (PCI, "DKA_GET_PCI_ID_CONFIG", "DKA_GET_PCI_SUPPRESSION_CONFIG", 4),
                (ANNOTATION, "DKA_GET_ANNOTATION_ID_CONFIG", "DKA_GET_ANNOTATION_CONFIG", 2),
                (MANUAL, "DKA_GET_MANUAL_SUPPRESSION_ID_CONFIG", "DKA_GET_MANUAL_SUPPRESSION_CONFIG", 8),
                (RECORD_ON_DEMAND, "DKA_GET_RECORD_ON_DEMAND_ID_CONFIG", "DKA_GET_RECORD_ON_DEMAND_CONFIG", 9)]:
            with self.subTest(get_id):
                self.assert_image(sim.wait(name=get_id, since=since), get_id_config_image(bits, HOST))
                self.assert_image(sim.wait(name=get_config, since=since),
                                  get_task_config_image(bits, id_type, CLIENT_OF[id_type]))
        self.assertEqual(sim.received("DKA_ID", since=since), [])
        # Still usable afterwards.
        self.assertEqual(agent.command("annotate 1001=again"), "ok: annotate (sent to recorder 1)")

    def test_a_new_task_creates_its_handler(self):
        agent, sim = self.start(scenario(tasks=0))
        agent.expect_line("connection 1: connected")
        since, shown = sim.mark(), agent.mark()
        self.assertEqual({e["message"]["name"] for e in sim.received()} - {"DKA_HEARTBEAT"}, {"DKA_ID"})
        sim.command(op="tasks", mask=4)
        self.assert_image(sim.wait(name="DKA_GET_MANUAL_SUPPRESSION_ID_CONFIG", since=since),
                          get_id_config_image(MANUAL, HOST))
        self.assert_image(sim.wait(name="DKA_GET_MANUAL_SUPPRESSION_CONFIG", since=since),
                          get_task_config_image(MANUAL, 8, LOGIN))
        agent.expect_line("manual suppression: available", after=shown)
        self.assertEqual(agent.command("suppress start"), "ok: suppress start")
        asked = [e["message"]["name"] for e in sim.received(since=since) if e["message"]["name"] != "DKA_HEARTBEAT"]
        self.assertEqual(asked[:2], ["DKA_GET_MANUAL_SUPPRESSION_ID_CONFIG", "DKA_GET_MANUAL_SUPPRESSION_CONFIG"])
        sim.wait(name="DKA_PCI_SUPPRESS", since=since)
        # The features not in the list stay off.
        self.assertEqual([l for l in agent.lines_since(shown) if l.startswith(("annotation:", "record on demand"))], [])

    def test_a_dropped_task_destroys_only_its_handler(self):
        agent, sim = self.start(scenario(tasks=15))
        self.wait_ready()
        shown, dropped = agent.mark(), sim.mark()
        sim.command(op="tasks", mask=15 & ~4)
        agent.expect_line("manual suppression: unavailable", after=shown)
        # The others are reinitialised and stay available.
        for name in ("DKA_GET_PCI_SUPPRESSION_CONFIG", "DKA_GET_ANNOTATION_CONFIG", "DKA_GET_RECORD_ON_DEMAND_CONFIG"):
            sim.wait(name=name, since=dropped)
        self.assertEqual(sim.received("DKA_GET_MANUAL_SUPPRESSION_ID_CONFIG", since=dropped), [])
        since = sim.mark()
        self.assertEqual(agent.command("suppress start"), "ok: suppress start")
        self.assertEqual(agent.command("annotate 1001=still"), "ok: annotate (sent to recorder 1)")
        self.assertEqual(agent.command("keep"), "ok: keep")
        sim.wait(name="DKA_RECORD_ON_DEMAND", since=since)
        self.assertEqual([e["message"]["name"] for e in sim.received(since=since)
                          if e["message"]["name"] != "DKA_HEARTBEAT"], ["DKA_ANNOTATE_CALL", "DKA_RECORD_ON_DEMAND"])


class TwoRecorders(AgentCase):
    def test_annotations_go_to_every_recorder_or_only_the_latest_active_one(self):
        # Each recorder in turn sends a call state; it is then the one that spoke last.
        cases = [
            ({}, [(2, "KZB Voralis - Recording", "1, 2"), (1, "KZB Voralis - Suppressing", "1, 2")]),
            ({"UpdateMode": "ActiveOnly"}, [(2, "KZB Voralis - Recording", "2"),
                                            (1, "KZB Voralis - Suppressing", "1")]),
        ]
        for settings, steps in cases:
            with self.subTest(settings=settings):
                agent, sim = self.start(scenario(), scenario(), settings=settings)
                self.wait_ready(recorders=2)
                # The start-up answers of recorder 1 may still be in hand when recorder 2's
                # first message comes, and would make recorder 1 the one that spoke last:
                # a call that recorder 1 starts and ends, seen in the title, comes after them.
                for state, title in ((1, "KZB Voralis - Recording"), (0, "KZB Voralis")):
                    shown = agent.mark()
                    sim.command(1, op="send", message={"name": "DKA_CALL_STATE", "state": state})
                    agent.expect_line(f"title: {title}", after=shown)
                for recorder, title, sent_to in steps:
                    shown, since = agent.mark(), sim.mark()
                    sim.command(recorder, op="send", message={"name": "DKA_CALL_STATE", "state": 1 if recorder == 2 else 2})
                    agent.expect_line(f"title: {title}", after=shown)
                    self.assertEqual(agent.command("annotate 1001=hi"), f"ok: annotate (sent to recorder {sent_to})")
                    for number in (int(n) for n in sent_to.split(", ")):
                        self.assert_image(sim.wait(name="DKA_ANNOTATE_CALL", recorder=number, since=since),
                                          annotate_image(2, LOGIN, [(1001, "hi")]))
                    self.assertEqual(sorted(e["recorder"] for e in sim.received("DKA_ANNOTATE_CALL", since=since)),
                                     [int(n) for n in sent_to.split(", ")])
                self.doCleanups()

    def test_differing_annotation_configurations_show_no_fields(self):
        other_notes = dict(NOTES, input={"type": 1, "max_length": 80})
        agent, sim = self.start(scenario(fields=[NOTES, OUTCOME]), scenario(fields=[other_notes, OUTCOME]))
        for recorder in (1, 2):
            agent.expect_line(f"connection {recorder}: connected")
            sim.wait(name="DKA_GET_ANNOTATION_CONFIG", recorder=recorder)
        agent.wait_for_line(r"status: (.*\\n)?There are differences in the annotation configuration from the "
                            r"recorder at '127\.0\.0\.1' and '127\.0\.0\.2'(\\n.*)?")
        # The first recorder's fields may show until the second one's arrive; then none.
        self.assertEqual([l for l in agent.lines_since(0) if l.startswith("annotation:")][-1], "annotation: none")
        since = sim.mark()
        self.assertEqual(agent.command("annotate 1001=x"), "error: no annotation configuration in force")
        self.assert_nothing_sent(since)


class Recovery(AgentCase):
    """A lost connection: the features go, the agent reconnects after its 5 s retry, they come back."""

    def test_reconnects_after_the_recorder_closes_or_resets(self):
        for how in ("close", "reset"):
            with self.subTest(how):
                agent, sim = self.start(scenario())
                self.wait_ready()
                shown, since = agent.mark(), sim.mark()
                sim.command(op=how)
                agent.expect_line("connection 1: not-connected", after=shown)
                agent.expect_line("status: Not connected to the recorder at '127.0.0.1'", after=shown)
                agent.expect_line("manual suppression: unavailable", after=shown)
                agent.expect_line("annotation: none", after=shown)
                lost = agent.mark()
                self.assert_image(sim.wait(name="DKA_ID", since=since, timeout=WAIT + 5), id_image(HOST, LOGIN))
                agent.expect_line("connection 1: connected", after=lost)
                agent.expect_line(f"annotation: {FIELDS_SHOWN}", after=lost)
                agent.expect_line("manual suppression: available", after=lost)
                agent.expect_line("record on demand: available", after=lost)
                self.assertEqual(agent.command("annotate 1001=back"), "ok: annotate (sent to recorder 1)")
                self.doCleanups()

    def test_a_trigger_window_still_open_after_reconnection_starts_suppression_again(self):
        agent, sim = self.start(scenario(triggers=[trigger("Card Payment")]), windows=["Card Payment - CRM"])
        sim.wait_action("DKA_PCI_SUPPRESS", START)
        shown, since = agent.mark(), sim.mark()
        sim.command(op="reset")
        agent.expect_line("connection 1: not-connected", after=shown)
        sim.wait(name="DKA_ID", since=since, timeout=WAIT + 5)
        self.assert_image(sim.wait_action("DKA_PCI_SUPPRESS", START, since=since), action_image(SUPPRESS, START, 4, HOST))
        self.assertEqual([e["message"]["action"] for e in sim.received("DKA_PCI_SUPPRESS", since=since)], [START])


class SuppressionTimes(AgentCase):
    """The minimum suppression time of the triggers that fired holds the End back."""

    def test_end_waits_for_the_minimum_time_when_the_window_goes_at_once(self):
        agent, sim = self.start(scenario(triggers=[trigger("Card Payment", minimum=3)]))
        self.wait_ready()
        since = sim.mark()
        agent.set_windows(["Card Payment - CRM"])
        start = sim.wait_action("DKA_PCI_SUPPRESS", START, since=since)
        agent.set_windows([])
        end = sim.wait_action("DKA_PCI_SUPPRESS", END, since=start["seq"], timeout=WAIT + 3)
        # Both as the recorder received them; a little slack for the way there.
        self.assertGreaterEqual(end["time"] - start["time"], 2.9)

    def test_a_trigger_that_fires_again_within_its_minimum_time_starts_again(self):
        # minimum time -> the suppress actions the recorder sees for: open, close, open, close.
        cases = [(0, [START, END, START, END]), (10, [START, START, END])]
        for minimum, actions in cases:
            with self.subTest(minimum=minimum):
                agent, sim = self.start(scenario(triggers=[trigger("Card Payment", minimum=minimum)]))
                self.wait_ready()
                since = sim.mark()
                agent.set_windows(["Card Payment - CRM"])
                first = sim.wait_action("DKA_PCI_SUPPRESS", START, since=since)
                agent.set_windows([])
                if minimum == 0:
                    # No minimum: the next inspection without the window ends it.
                    sim.wait_action("DKA_PCI_SUPPRESS", END, since=first["seq"])
                else:
                    # Nothing to see while the End is held back, once the agent has looked
                    # at the desktop without the window.
                    agent.wait_inspections()
                    self.assertEqual(sim.received("DKA_PCI_SUPPRESS", since=first["seq"]), [])
                agent.set_windows(["Card Payment - CRM"])
                again = sim.wait_action("DKA_PCI_SUPPRESS", START, since=first["seq"])
                agent.set_windows([])
                sim.wait_action("DKA_PCI_SUPPRESS", END, since=again["seq"], timeout=WAIT + minimum)
                self.assertEqual([e["message"]["action"] for e in sim.received("DKA_PCI_SUPPRESS", since=since)],
                                 actions)
                self.doCleanups()


class Shutdown(AgentCase):
    def test_another_connection_of_the_same_client_stops_the_agent(self):
        agent, sim = self.start(scenario())
        self.wait_ready()
        shown = agent.mark()
        sim.command(op="shutdown", reason=3)
        agent.expect_line("connection 1: stopped", after=shown)
        agent.expect_line("status: No longer attempting to communicate with the recorder at '127.0.0.1'",
                          after=shown)
        self.assertEqual(agent.wait_exit(), 0)

    def test_invalid_configuration_is_shown_and_the_agent_stays(self):
        # As a recorder does: DKA_SERVER_SHUTDOWN with reason 9, then it closes the connection.
        agent, sim = self.start(scenario())
        self.wait_ready()
        shown = agent.mark()
        sim.command(op="shutdown", reason=9)
        index, _ = agent.expect_line("connection 1: invalid-configuration", after=shown)
        agent.expect_line("status: Not connected to the recorder at '127.0.0.1'. The recorders configuration for "
                          "this client is invalid.", after=shown)
        agent.expect_line("annotation: none", after=shown)
        # The closed connection does not turn it into an ordinary lost one (the next attempt is 30 s away).
        sim.wait(event="closed")
        agent.assert_no_line(r"connection 1: .*", within=3.0, after=index + 1)
        self.assertIsNone(agent.process.poll())


class Commands(AgentCase):
    def test_refused_commands_change_nothing_and_send_nothing(self):
        cases = [
            ("dance", "error: unknown command 'dance'"),
            ("annotate 9999=x", "error: no annotation field 9999"),
            ("annotate 1002=Nope", "error: field 1002 has no button 'Nope'"),
            ("annotate 1002=sale", "error: field 1002 has no button 'sale'"),
            # A refused command fills no field, not even the ones before the fault.
            ("annotate 1001=filled 1002=Nope", "error: field 1002 has no button 'Nope'"),
            ("annotate 1001=" + "x" * 41, "error: field 1001 takes at most 40 characters"),
            ("annotate 1001", "error: '1001' is not <fieldID>=<value>"),
            ("annotate", "error: annotate needs at least one <fieldID>=<value>"),
            ("suppress sideways", "error: use 'suppress start' or 'suppress stop'"),
            ("keep now", "error: 'keep' takes no argument"),
        ]
        agent, sim = self.start(scenario())
        self.wait_ready()
        since, shown = sim.mark(), agent.mark()
        for command, reply in cases:
            with self.subTest(command):
                self.assertEqual(agent.command(command), reply)
        self.assert_nothing_sent(since)
        self.assertEqual([l for l in agent.lines_since(shown) if not l.startswith("error: ")], [])
        # The next annotation carries only what it fills itself.
        self.assertEqual(agent.command("annotate 1002=Sale"), "ok: annotate (sent to recorder 1)")
        self.assert_image(sim.wait(name="DKA_ANNOTATE_CALL", since=since), annotate_image(2, LOGIN, [(1002, "Sale made")]))

    def test_quit_and_the_end_of_input_exit_with_0(self):
        for how in ("quit", "end of input"):
            with self.subTest(how):
                agent, sim = self.start(scenario())
                agent.expect_line("connection 1: connected")
                since = sim.mark()
                if how == "quit":
                    agent.send("quit")
                else:
                    agent.close_input()
                self.assertEqual(agent.wait_exit(), 0)
                # It closed its connection on the way out.
                sim.wait(event="disconnected", since=since)
                self.doCleanups()


class OverTLS(AgentCase):
    """A recorder that takes only TLS with a client certificate it trusts."""

    def test_a_payment_window_starts_suppression_over_tls(self):
        certificates = tls_certificates()
        if not certificates:
            self.skipTest("no openssl command line to make test certificates")
        mine = lambda name: os.path.join(certificates, name)  # noqa: E731
        client = agent_path(mine("client_encrypted.pem"))
        settings = {"ClientCertificatePath": client, "ClientCertificatePassword": "secret",
                    "ServerCertificateAuthorityPath": agent_path(mine("ca.pem"))}
        tls = {"cert": mine("server.crt"), "key": mine("server.key"), "client_ca": mine("ca.pem")}
        agent, sim = self.start(scenario(triggers=[trigger("Card Payment")]), settings=settings, tls=tls)
        self.wait_ready()
        established = sim.wait(event="tls_established")
        self.assertEqual(established["client_certificate"]["commonName"], "client")

        since, shown = sim.mark(), agent.mark()
        agent.set_windows([{"title": "Card Payment - CRM", "class": "CrmFrame"}])
        self.assert_image(sim.wait_action("DKA_PCI_SUPPRESS", START, since=since),
                          action_image(SUPPRESS, START, 4, HOST))
        agent.expect_line("title: KZB Voralis - Suppressing", after=shown)
        self.assertEqual([e["tls"] for e in sim.events() if e["event"] == "connected"], [True])

        # The log names the certificate file it loaded, and verifies the recorder (no warning).
        self.assertEqual(agent.stop(), 0)
        with open(os.path.join(agent.log_dir, "KZBDKA.txt"), encoding="utf-8", errors="replace") as f:
            logged = f.read()
        self.assertIn(f"Using certificate chain: {client}", logged)
        self.assertIn(f"Using private key: {client}", logged)
        self.assertNotIn("is not verified", logged)


@unittest.skipUnless(CONFIG["trigger_app"], "real windows only under Wine")
class LogFolder(AgentCase):
    @unittest.skipUnless(under_wine(), "the registry and its ANSI code page are Windows'")
    def test_a_log_path_beyond_ascii_is_created_and_used(self):
        target = os.path.join(new_case_folder("log-path-beyond-ascii"), "Journal-Café")
        set_wine_user_text("LogPath", agent_path(target))
        self.addCleanup(set_wine_user_text, "LogPath", None)
        agent, _ = self.start(scenario(), log_dir=False)
        agent.expect_line("connection 1: connected")
        log_file = os.path.join(target, "KZBDKA.txt")
        deadline = time.monotonic() + WAIT
        while not os.path.isfile(log_file) and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertTrue(os.path.isfile(log_file), f"no {log_file}: {os.listdir(os.path.dirname(target))}")


@unittest.skipUnless(CONFIG["trigger_app"], "real windows only under Wine")
class RealDesktop(AgentCase):
    """kzbdka-cli.exe inspecting the real (Wine) desktop."""

    def test_a_real_trigger_window_starts_and_ends_suppression(self):
        if not os.environ.get("DISPLAY"):
            self.skipTest("no X display for real windows")
        agent, sim = self.start(scenario(triggers=[trigger("Card Payment")]), desktop=False)
        self.wait_ready()
        since, shown = sim.mark(), agent.mark()
        window = TriggerWindow("Card Payment - Wine CRM")
        self.addCleanup(window.close)
        self.assert_image(sim.wait_action("DKA_PCI_SUPPRESS", START, since=since), action_image(SUPPRESS, START, 4, HOST))
        agent.wait_for_line(r'auto suppression 1: on .*Found title:"Card Payment - Wine CRM".*', after=shown)
        window.close()
        self.assert_image(sim.wait_action("DKA_PCI_SUPPRESS", END, since=since), action_image(SUPPRESS, END, 4, HOST))
        agent.expect_line("auto suppression 1: off", after=shown)


    def test_a_window_appearing_on_the_real_desktop_is_seen_at_once(self):
        """Start within a tenth of a second of the window's appearance, not at the next half-second
        look. (Wine 8 reports windows being created; title and focus changes it does not report
        at all, so under Wine those are seen at the next look; the native tests cover them.)"""
        if not CONFIG["trigger_app"] or not os.environ.get("DISPLAY"):
            self.skipTest("no X display for real windows")
        agent, sim = self.start(scenario(triggers=[trigger("Card Payment")]), desktop=False)
        self.wait_ready()
        # Five trials, of which three must be seen within 100 ms: a slow trial or two on a
        # loaded machine pass, and with only the half-second look this would hold one time in
        # twenty. Each trial ends with its End, so the next starts from nothing.
        delays = []
        for _ in range(5):
            since = sim.mark()
            window = TriggerWindow("Card Payment - CRM")
            try:
                shown = time.time()
                start = sim.wait_action("DKA_PCI_SUPPRESS", START, since=since)
                delays.append(start["time"] - shown)
            finally:
                window.close()
            sim.wait_action("DKA_PCI_SUPPRESS", END, since=start["seq"])
        self.assertGreaterEqual(sum(delay < 0.1 for delay in delays), 3, f"seen after {delays} s")


@unittest.skipUnless(CONFIG["browser_app"], "browser pages only under Wine")
class RealBrowser(AgentCase):
    """kzbdka-cli.exe reading the pages of ie_browser_app.exe, which plays Internet Explorer."""

    PAGE_REASON = ("auto suppression 1: on \\nMatched BrowserHTML:\\nTrigger Params-> Object: 'Domain', "
                   "Type: 'contains', Text: 'pay.example'\\n")

    def setUp(self):
        if not os.environ.get("DISPLAY"):
            self.skipTest("no X display for real windows")

    def browser(self):
        browser = Browser()
        self.addCleanup(browser.close)
        return browser

    def test_a_page_of_the_trigger_domain_starts_suppression_and_navigating_away_ends_it(self):
        agent, sim = self.start(scenario(triggers=[page_trigger("pay.example")]), desktop=False)
        self.wait_ready()
        browser = self.browser()
        browser.do("frame", "KZB Shop", "chrome")
        since, shown = sim.mark(), agent.mark()
        browser.do("navigate", "KZB Shop", "Card payment", "https://www.pay.example/card", "www.pay.example",
                   "<form>card</form>")
        self.assert_image(sim.wait_action("DKA_PCI_SUPPRESS", START, since=since), action_image(SUPPRESS, START, 4, HOST))
        agent.expect_line(self.PAGE_REASON, after=shown)
        browser.do("navigate", "KZB Shop", "Thank you", "https://shop.example/done", "shop.example", "<p>done</p>")
        self.assert_image(sim.wait_action("DKA_PCI_SUPPRESS", END, since=since), action_image(SUPPRESS, END, 4, HOST))
        agent.expect_line("auto suppression 1: off", after=shown)
        self.assertEqual([e["message"]["action"] for e in sim.received("DKA_PCI_SUPPRESS", since=since)], [START, END])

    def test_a_browser_hung_in_a_document_getter_holds_up_no_recorder(self):
        self.check_a_hung_browser("hang")

    def test_a_browser_hung_in_its_window_message_holds_up_no_recorder(self):
        self.check_a_hung_browser("stall")

    def check_a_hung_browser(self, how):
        """The browser hangs (how: "hang" inside its document's getters, "stall" inside
        WM_HTML_GETOBJECT) while two recorders are connected: a title window still starts and
        ends suppression at both at once, the hang is said once, the agent quits at once while
        the browser still hangs, and once it answers again its page trigger works again."""
        both = scenario(triggers=[page_trigger("pay.example"), trigger("Card Payment")])
        agent, sim = self.start(both, both, desktop=False)
        self.wait_ready(recorders=2)
        log = os.path.join(agent.log_dir, "KZBDKA.txt")
        browser = self.browser()
        browser.do("frame", "KZB Bank", "ie")
        browser.do("navigate", "KZB Bank", "Bank", "https://bank.example/", "bank.example", "<p>bank</p>")
        hung = "did not answer within 1000 ms: its page is not read until it answers"
        browser.do(how)
        wait_for_file_line(log, hung)
        # A page read that a loaded machine slowed down may have been said just before the hang:
        # count from a few inspections later, when the hang itself has certainly been said.
        agent.wait_inspections(6)
        said = count_file_lines(log, hung)

        since = sim.mark()
        window = TriggerWindow("Card Payment - Wine CRM")
        self.addCleanup(window.close)
        shown = time.time()
        for recorder in (1, 2):
            start = sim.wait_action("DKA_PCI_SUPPRESS", START, recorder=recorder, since=since)
            self.assertLess(start["time"] - shown, 1.5, f"Start at recorder {recorder}")
        window.close()
        for recorder in (1, 2):
            sim.wait_action("DKA_PCI_SUPPRESS", END, recorder=recorder, since=since)
        self.assertEqual(count_file_lines(log, hung), said, "the hang is said once, not at every inspection")

        # Answering again, it shows a page of the trigger domain: both recorders suppress.
        since = sim.mark()
        browser.do("resume")
        browser.do("navigate", "KZB Bank", "Card payment", "https://pay.example/", "pay.example", "<form>")
        for recorder in (1, 2):
            sim.wait_action("DKA_PCI_SUPPRESS", START, recorder=recorder, since=since)
        wait_for_file_line(log, "is answering again")

        # Hung again, the agent still quits at once.
        said = count_file_lines(log, hung)
        browser.do(how)
        wait_for_file_line(log, hung, count=said + 1)
        asked = time.time()
        agent.send("quit")
        self.assertEqual(agent.wait_exit(), 0)
        self.assertLess(time.time() - asked, 2.0, "quitting waited for the hung browser")
