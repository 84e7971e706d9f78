#!/usr/bin/env python3
"""Times the reports of the real tallydesk.exe under Wine on a generated network: a user's print
history and the statistics by user and by printer, each from the operator's click to the report
file complete (Wine's own start-up left out). scripts/bench-reports.sh runs it.

    TALLY_BUILD_DIR=build/.../win wine_timing.py NETWORK CONTEXT USER
"""
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests",
                                "e2e", "harness"))
import tallye2e  # noqa: E402
from tallye2e import wait_for  # noqa: E402


def wait_complete(path, complete, timeout=600):
    """Polls until complete(last bytes of the file at PATH); returns the moment it was."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            with open(path, "rb") as f:
                f.seek(max(0, os.path.getsize(path) - 300))
                if complete(f.read()):
                    return time.monotonic()
        except OSError:
            pass
        time.sleep(0.005)
    raise tallye2e.ScenarioFailure(f"{path} was not completed")


def history_done(tail):
    return b"Total cost: " in tail and tail.endswith(b"\r\n")


def statistics_done(tail):
    return b"\r\nTotals " in tail and tail.endswith(b"\r\n")


def run(s, network, context, user):
    s.start(network_folder=network)
    s.launch(cmdline=context)
    d = s.driver
    main = s.main_window(timeout=120)
    d.select(main, 101, user)
    wait_for("the user's lines", lambda: d.text(main, 304) != "", timeout=60)
    results = {}

    started = time.monotonic()
    d.click(main, 314)
    done = wait_complete(os.path.join(s.workdir, f"{user}.txt"), history_done)
    results["history"] = done - started

    d.click(main, 319)
    stats = d.find(title="Printing Statistics", cls="#32770", visible=True, timeout=60)
    for totals, report in ((700, "User.txt"), (702, "Printer.txt")):
        d.click(stats, totals)
        started = time.monotonic()
        d.click(stats, 1)
        done = wait_complete(os.path.join(s.workdir, report), statistics_done)
        results[report] = done - started
        d.find(title=f"{report} - Notepad", visible=True, timeout=60)
    for name, seconds in results.items():
        print(f"wine {name}: {seconds:.3f} s", flush=True)


if __name__ == "__main__":
    network, context, user = sys.argv[1:4]
    tallye2e.main(lambda s: run(s, network, context, user), name="wine_timing")
