"""Page rules in a real Chromium: the unpacked extension reports its pages through the native page host
to kzbdka-cli, which suppresses at the recorder simulator. Natively only (Debian's chromium)."""
import os
import re
import subprocess
import time
import unittest

from harness import (CONFIG, END, START, WAIT, Agent, Failure, action_image, private_folder, scenario,
                     under_wine, wait_for_file_line, SUPPRESS)
from chromium import Chromium, Sites, find_chromium, page, wait_until
from test_agent import HOST, HOSTS, AgentCase

CARD_FORM = '<form><input name="cardnumber"><input name="cvv"></form>'


def page_rule(*criteria, minimum=0):
    """A browser page suppression method; criteria as (trigger object, match pattern, text)."""
    return {"type": 4, "minimum_suppression_time": minimum,
            "criteria": [{"trigger_object": o, "match_pattern": p, "text": t} for o, p, t in criteria]}


DOMAIN, URL, TITLE, BODY = 4, 2, 1, 3
CONTAINS, STARTS = 4, 2


def reason(name, pattern, text):
    return (f"auto suppression 1: on \\nMatched BrowserHTML:\\nTrigger Params-> Object: '{name}', "
            f"Type: '{pattern}', Text: '{text}'\\n")


def sites():
    # The form's text is put together only when shown, so that the page's own script does not
    # already hold what the rule looks for.
    spa_script = ("window.showCardForm = () => { document.getElementById('app').innerHTML = "
                  "'<h1>Pay</h1><form><input name=card' + 'number><input name=c' + 'vv></form>'; };")
    pages = {
        ("shop.example", "/"): page("KZB Shop", "<p>Welcome</p>"),
        ("shop.example", "/basket"): page("Basket", "<p>Two items</p>"),
        ("pay.example", "/"): page("Checkout", "<p>Pay here</p>"),
        ("shop.example", "/card-entry"): page("Your details", "<p>Details</p>"),
        ("shop.example", "/titled"): page("Card payment - KZB Shop", "<p>Pay</p>"),
        ("psp.example", "/card"): page("Card", CARD_FORM),
        ("shop.example", "/spa"): page("KZB App", "<div id='app'><p>Browse</p></div>", spa_script),
    }
    return Sites(pages)


class ChromiumCase(AgentCase):
    def setUp(self):
        if under_wine():
            self.skipTest("Chromium runs natively")
        if not find_chromium() or not CONFIG.get("page_host"):
            self.skipTest("needs chromium and --page-host")
        self.sites = sites()
        self.addCleanup(self.sites.close)

    def start_with_browser(self, *triggers):
        agent, sim = self.start(scenario(triggers=list(triggers)), desktop=False)
        self.wait_ready()
        browser = self.start_browser()
        return agent, sim, browser

    def start_browser(self):
        browser = Chromium(self.folder, CONFIG["page_host"], self.runtime)
        self.addCleanup(browser.close)
        wait_for_file_line(self.agent_log(), "Browser extension connected: chrome-extension://")
        return browser

    def agent_log(self):
        return os.path.join(self.agent.log_dir, "KZBDKA.txt")

    def count_log(self, text):
        try:
            with open(self.agent_log(), encoding="utf-8", errors="replace") as f:
                return f.read().count(text)
        except OSError:
            return 0


class PageRules(ChromiumCase):
    def test_each_page_property_starts_on_navigating_to_it_and_navigating_away_ends_after_the_minimum(self):
        rules = [page_rule((DOMAIN, CONTAINS, "pay.example"), minimum=2),
                 page_rule((URL, CONTAINS, "/card-entry")), page_rule((TITLE, STARTS, "Card payment"))]
        agent, sim, browser = self.start_with_browser(*rules)
        tab = browser.first_tab()
        browser.navigate(tab, self.sites.url("shop.example", "/"))
        cases = [("pay.example", "/", reason("Domain", "contains", "pay.example"), 2),
                 ("shop.example", "/card-entry", reason("URL", "contains", "/card-entry"), 0),
                 ("shop.example", "/titled", reason("Page title", "starts with", "Card payment"), 0)]
        for host, path, why, minimum in cases:
            with self.subTest(page=host + path):
                since, shown = sim.mark(), agent.mark()
                browser.navigate(tab, self.sites.url(host, path))
                start = sim.wait_action("DKA_PCI_SUPPRESS", START, since=since)
                self.assert_image(start, action_image(SUPPRESS, START, 4, HOST))
                agent.expect_line(why, after=shown)
                browser.navigate(tab, self.sites.url("shop.example", "/basket"))
                end = sim.wait_action("DKA_PCI_SUPPRESS", END, since=start["seq"], timeout=WAIT + minimum)
                self.assertGreaterEqual(end["time"] - start["time"], minimum - 0.1)

    def test_switching_tabs_starts_and_ends(self):
        agent, sim, browser = self.start_with_browser(page_rule((DOMAIN, CONTAINS, "pay.example")))
        shop = browser.first_tab()
        browser.navigate(shop, self.sites.url("shop.example", "/"))
        since = sim.mark()
        pay = browser.new_tab(self.sites.url("pay.example", "/"))
        start = sim.wait_action("DKA_PCI_SUPPRESS", START, since=since)
        browser.activate(shop)
        end = sim.wait_action("DKA_PCI_SUPPRESS", END, since=start["seq"])
        browser.activate(pay)
        sim.wait_action("DKA_PCI_SUPPRESS", START, since=end["seq"])

    def test_a_card_form_only_in_a_cross_origin_frame_matches_a_body_rule(self):
        self.sites.pages[("shop.example", "/checkout")] = page(
            "Checkout", f"<p>Order</p><iframe src='{self.sites.url('psp.example', '/card')}'></iframe>")
        # The frame's block comes inside the page's own, after its "Embedded Documents" line.
        mark = "#" * 64
        nested = f"{mark} - Embedded Documents\r\n\r\n{mark} - Body\r\n<form>"
        agent, sim, browser = self.start_with_browser(
            page_rule((BODY, CONTAINS, 'name="cardnumber"'), (BODY, CONTAINS, nested)))
        tab = browser.first_tab()
        since, shown = sim.mark(), agent.mark()
        browser.navigate(tab, self.sites.url("shop.example", "/checkout"))
        sim.wait_action("DKA_PCI_SUPPRESS", START, since=since)
        agent.wait_for_line(re.escape(reason("HTML Body", "contains", 'name="cardnumber"')) + ".*", after=shown)
        browser.navigate(tab, self.sites.url("shop.example", "/basket"))
        sim.wait_action("DKA_PCI_SUPPRESS", END, since=since)

    def test_a_single_page_app_showing_its_card_form_without_navigating_starts(self):
        agent, sim, browser = self.start_with_browser(page_rule((BODY, CONTAINS, 'name="cvv"')))
        tab = browser.first_tab()
        browser.navigate(tab, self.sites.url("shop.example", "/spa"))
        # The page is there and read (with its body) before it changes.
        wait_until(lambda: browser.evaluate(tab, "typeof window.showCardForm")["result"].get("value") == "function",
                   WAIT, "the app")
        since = sim.mark()
        agent.assert_no_line("auto suppression 1: on.*", 1)
        browser.evaluate(tab, "window.showCardForm()")
        sim.wait_action("DKA_PCI_SUPPRESS", START, since=since)
        with open(self.agent_log(), encoding="utf-8", errors="replace") as f:
            self.assertNotIn("cardnumber\"><input", f.read())


class Restarts(ChromiumCase):
    RULE = page_rule((DOMAIN, CONTAINS, "pay.example"))

    def test_a_killed_browser_takes_its_pages_with_it(self):
        agent, sim, browser = self.start_with_browser(self.RULE)
        since = sim.mark()
        browser.navigate(browser.first_tab(), self.sites.url("pay.example", "/"))
        start = sim.wait_action("DKA_PCI_SUPPRESS", START, since=since)
        browser.kill()
        sim.wait_action("DKA_PCI_SUPPRESS", END, since=start["seq"])
        wait_for_file_line(self.agent_log(), "Browser extension gone")

    def test_a_killed_host_is_started_again_and_the_pages_come_back(self):
        agent, sim, browser = self.start_with_browser(self.RULE)
        since = sim.mark()
        browser.navigate(browser.first_tab(), self.sites.url("pay.example", "/"))
        start = sim.wait_action("DKA_PCI_SUPPRESS", START, since=since)
        hosts = wait_until(browser.hosts, WAIT, "the page host")
        for pid in hosts:
            os.kill(pid, 9)
        end = sim.wait_action("DKA_PCI_SUPPRESS", END, since=start["seq"])
        sim.wait_action("DKA_PCI_SUPPRESS", START, since=end["seq"])
        self.assertNotEqual(wait_until(browser.hosts, WAIT, "a new page host"), hosts)

    def test_a_restarted_agent_gets_the_pages_back_without_a_navigation(self):
        agent, sim, browser = self.start_with_browser(self.RULE)
        since = sim.mark()
        browser.navigate(browser.first_tab(), self.sites.url("pay.example", "/"))
        sim.wait_action("DKA_PCI_SUPPRESS", START, since=since)
        code = agent.stop()
        self.assertEqual(code, 0)
        # The same user's next agent, in the same runtime folder.
        since = sim.mark()
        self.agent = Agent(self.folder, HOSTS[:1], sim.port, desktop=False, runtime_dir=self.runtime)
        self.addCleanup(self.finish_agent, self.agent)
        self.wait_ready()
        sim.wait_action("DKA_PCI_SUPPRESS", START, since=since)


class Isolation(ChromiumCase):
    def test_another_user_cannot_connect_to_the_agents_socket(self):
        if os.getuid() != 0:
            self.skipTest("needs root to act as another user")
        agent, sim = self.start(scenario(triggers=[page_rule((DOMAIN, CONTAINS, "pay.example"))]), desktop=False)
        self.wait_ready()
        socket_path = os.path.join(self.runtime, "kzbdka", "pages.sock")
        wait_until(lambda: os.path.exists(socket_path), WAIT, "the agent's socket")
        probe = ("import socket,sys\ns=socket.socket(socket.AF_UNIX)\n"
                 "try:\n s.connect(sys.argv[1])\nexcept OSError as e:\n print('refused', e.errno); sys.exit(0)\n"
                 "print('connected'); sys.exit(1)\n")
        result = subprocess.run(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "python3", "-c",
                                 probe, socket_path], capture_output=True, text=True, timeout=30)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("refused", result.stdout)
