#!/usr/bin/env python3
"""Figures of page rules in a real Chromium: the extension, kzbdka-pagehost and kzbdka-cli against
the recorder simulator (natively; Debian's headless chromium).

  1. navigation to Start: from the DevTools Page.navigate to a page whose domain matches a rule
     until the DKA_PCI_SUPPRESS Start reaches the recorder, p50 / p99 over the trials (default 50);
  2. the same for a single-page app whose DOM change shows a card form that a body rule finds;
  3. the agent's CPU (user + system, share of one core) over a measuring time (default 30 s)
     with 10 tabs in 3 windows idle in the browser, beside no browser at all, in one run.

    bench/browser_figures.py AGENT PAGE_HOST [--trials 50] [--seconds 30]

Build both in Release: cmake --preset bench && cmake --build build/bench --target kzbdka-cli
kzbdka-pagehost. The simulator's times have a resolution of 1 ms.
"""
import argparse
import os
import re
import shutil
import statistics
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
import harness  # noqa: E402
from chromium import Chromium, DevToolsSocket, Sites, page, wait_until  # noqa: E402

DOMAIN_RULE = {"type": 4, "minimum_suppression_time": 0,
               "criteria": [{"trigger_object": 4, "match_pattern": 4, "text": "pay.example"}]}
BODY_RULE = {"type": 4, "minimum_suppression_time": 0,
             "criteria": [{"trigger_object": 3, "match_pattern": 4, "text": "name=\"cvv\""}]}
SPA = ("window.showCardForm = () => { document.getElementById('app').innerHTML = "
       "'<form><input name=c' + 'vv></form>'; };"
       "window.hideCardForm = () => { document.getElementById('app').innerHTML = '<p>Browse</p>'; };")


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(share * (len(ordered) - 1))))]


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def cpu_share(pid, seconds):
    before, started = cpu_seconds(pid), time.monotonic()
    time.sleep(seconds)
    return (cpu_seconds(pid) - before) / (time.monotonic() - started)


class Run:
    def __init__(self, folder, rules, page_host):
        self.folder = folder
        self.sim = harness.Simulator(os.path.join(folder, "simulator.jsonl"))
        self.sim.add_recorder("127.0.0.1", harness.scenario(triggers=rules))
        self.runtime = harness.private_folder()
        self.agent = harness.Agent(folder, ["127.0.0.1"], self.sim.port, desktop=True, runtime_dir=self.runtime)
        self.agent.expect_line("connection 1: connected")
        self.sim.wait(name="DKA_PCI_SUPPRESSION_CONFIG", event="sent")
        self.page_host = page_host
        self.browser = None

    def start_browser(self):
        self.browser = Chromium(self.folder, self.page_host, self.runtime)
        harness.wait_for_file_line(os.path.join(self.agent.log_dir, "KZBDKA.txt"), "Browser extension connected")
        return self.browser

    def close(self):
        if self.browser:
            self.browser.close()
        self.agent.stop()
        self.sim.stop()
        shutil.rmtree(self.runtime, ignore_errors=True)


def host_times(folder):
    """When the host got each message from the browser (KZB_PAGEHOST_TIMES), in order."""
    try:
        with open(os.path.join(folder, "chromium-stderr.txt"), errors="replace") as f:
            return [float(m.group(1)) for m in re.finditer(r"browser message of \d+ bytes at ([0-9.]+)", f.read())]
    except OSError:
        return []


def timed(sim, tab_socket, do, since, folder, browser_times):
    before = len(host_times(folder))
    sent = time.time()
    do(tab_socket)
    start = sim.wait_action("DKA_PCI_SUPPRESS", harness.START, since=since)
    arrived = [t for t in host_times(folder)[before:] if t >= sent]
    if arrived:
        browser_times.append((arrived[0] - sent) * 1000.0)
    return (start["time"] - sent) * 1000.0, start


def navigation_figures(folder, host, sites, trials):
    run = Run(folder, [DOMAIN_RULE], host)
    try:
        browser = run.start_browser()
        tab = browser.first_tab()
        target = browser.target(tab)
        target.call("Page.navigate", url=sites.url("shop.example", "/"))
        times, browser_times = [], []
        for _ in range(trials):
            since = run.sim.mark()
            took, start = timed(run.sim, target, lambda t: t.call("Page.navigate", url=sites.url("pay.example", "/")),
                                since, run.folder, browser_times)
            times.append(took)
            target.call("Page.navigate", url=sites.url("shop.example", "/"))
            run.sim.wait_action("DKA_PCI_SUPPRESS", harness.END, since=start["seq"])
            # The shop page's own later events (its load) are over before the next trial.
            time.sleep(0.4)
        target.close()
        return times, browser_times
    finally:
        run.close()


def spa_figures(folder, host, sites, trials):
    run = Run(folder, [BODY_RULE], host)
    try:
        browser = run.start_browser()
        tab = browser.first_tab()
        target = browser.target(tab)
        target.call("Page.navigate", url=sites.url("shop.example", "/spa"))
        wait_until(lambda: target.call("Runtime.evaluate", expression="typeof window.showCardForm")["result"]
                   .get("value") == "function", 20, "the app")
        # Once, so that bodies are asked for before the first timed change.
        since = run.sim.mark()
        target.call("Runtime.evaluate", expression="window.showCardForm()")
        start = run.sim.wait_action("DKA_PCI_SUPPRESS", harness.START, since=since)
        target.call("Runtime.evaluate", expression="window.hideCardForm()")
        run.sim.wait_action("DKA_PCI_SUPPRESS", harness.END, since=start["seq"])
        times, browser_times = [], []
        for _ in range(trials):
            since = run.sim.mark()
            took, start = timed(run.sim, target,
                                lambda t: t.call("Runtime.evaluate", expression="window.showCardForm()"), since,
                                run.folder, browser_times)
            times.append(took)
            target.call("Runtime.evaluate", expression="window.hideCardForm()")
            run.sim.wait_action("DKA_PCI_SUPPRESS", harness.END, since=start["seq"])
            # A change is reported at once unless the page changed within the spacing
            # (250 ms) before: each trial is a first change.
            time.sleep(0.4)
        target.close()
        return times, browser_times
    finally:
        run.close()


def cpu_figures(folder, host, sites, seconds):
    run = Run(folder, [DOMAIN_RULE, BODY_RULE], host)
    try:
        time.sleep(2)  # settled after the start-up
        without = cpu_share(run.agent.process.pid, seconds)
        browser = run.start_browser()
        version = browser._http("/json/version")
        root = DevToolsSocket(version["webSocketDebuggerUrl"])
        urls = [sites.url("shop.example", "/"), sites.url("shop.example", "/basket"), sites.url("shop.example", "/spa")]
        count = 1  # the first window's first tab
        for window in range(3):
            for index in range(4 if window == 0 else 3):
                if window == 0 and index == 0:
                    continue
                root.call("Target.createTarget", url=urls[count % len(urls)], newWindow=(index == 0))
                count += 1
        wait_until(lambda: len(browser.tabs()) >= 10, 30, "10 tabs")
        root.close()
        time.sleep(2)
        with_browser = cpu_share(run.agent.process.pid, seconds)
        return without, with_browser, len(browser.tabs())
    finally:
        run.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("agent")
    parser.add_argument("page_host")
    parser.add_argument("--trials", type=int, default=50)
    parser.add_argument("--seconds", type=float, default=30)
    args = parser.parse_args()
    harness.CONFIG["agent"] = os.path.abspath(args.agent)
    os.environ["KZB_PAGEHOST_TIMES"] = "1"  # the host notes when the browser's messages came
    host = os.path.abspath(args.page_host)
    folder = tempfile.mkdtemp(prefix="kzb-browser-figures-")
    sites = Sites({
        ("shop.example", "/"): page("KZB Shop", "<p>Welcome</p>"),
        ("shop.example", "/basket"): page("Basket", "<p>Two items</p>"),
        ("pay.example", "/"): page("Checkout", "<p>Pay here</p>"),
        ("shop.example", "/spa"): page("KZB App", "<div id='app'><p>Browse</p></div>", SPA),
    })
    try:
        for name, figures in (("navigation to Start", navigation_figures), ("DOM change to Start", spa_figures)):
            os.makedirs(os.path.join(folder, name.split()[0]), exist_ok=True)
            times, browser_times = figures(os.path.join(folder, name.split()[0]), host, sites, args.trials)
            print(f"{name}: p50 {statistics.median(times):.0f} ms, p99 {percentile(times, 0.99):.0f} ms, "
                  f"max {max(times):.0f} ms over {len(times)}", flush=True)
            if browser_times:
                print(f"  of which the browser, to its first message at the host: p50 "
                      f"{statistics.median(browser_times):.0f} ms, p99 {percentile(browser_times, 0.99):.0f} ms",
                      flush=True)
        os.makedirs(os.path.join(folder, "cpu"), exist_ok=True)
        without, with_browser, tabs = cpu_figures(os.path.join(folder, "cpu"), host, sites, args.seconds)
        print(f"agent CPU idle over {args.seconds:.0f} s: no browser {100 * without:.2f} %, "
              f"{tabs} tabs in 3 windows {100 * with_browser:.2f} % of one core", flush=True)
    finally:
        sites.close()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
