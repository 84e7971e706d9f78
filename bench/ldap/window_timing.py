#!/usr/bin/env python3
"""Times the real tallydesk.exe under Wine from its start to a painted MainList of a large
context: over the embedded store of a gendir network and over the slapd that
scripts/bench-ldap.sh loaded with the same tree (the network's tallynet-ldap.ini, which
ldap_bench wrote). Each is started three times; the best is printed. The list is whole when it
holds every user and the all-users entry; the program answers the driver's count only once it
has filled the list and gone back to its message loop, that is when the list is painted.

Over the server it also counts, in the server's log (scratch_slapd.py --stats), the entries of
the context that one start had sent: each user once is one listing.

    TALLY_BUILD_DIR=build/.../win window_timing.py NETWORK CONTEXT USERS
"""
import os
import re
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests",
                                "e2e", "harness"))
import tallye2e  # noqa: E402
from tallye2e import DriverError, windows_path  # noqa: E402

ROUNDS = 3
MAIN_LIST = 101
EXIT = 317


def wine_ini(network):
    """tallynet-ldap.ini with its password file named as Wine sees it."""
    source = os.path.join(network, "tallynet-ldap.ini")
    target = os.path.join(network, "tallynet-wine-ldap.ini")
    with open(source) as f:
        lines = f.read().splitlines()
    with open(target, "w") as out:
        for line in lines:
            if line.startswith("PasswordFile="):
                line = "PasswordFile=" + windows_path(line[len("PasswordFile="):])
            out.write(line + "\n")
    return target


def entries_sent(log, since, base):
    """The entries one-level searches below BASE sent, from byte SINCE of the server's log."""
    searches, sent = {}, 0
    with open(log, errors="replace") as f:
        f.seek(since)
        for line in f:
            operation = re.search(r"conn=\d+ op=\d+", line)
            if not operation:
                continue
            key = operation.group(0)
            search = re.search(r' SRCH base="([^"]*)" scope=(\d)', line)
            if search:
                searches[key] = search.group(1).lower() == base.lower() and search.group(2) == "1"
            elif " SEARCH RESULT " in line and searches.get(key):
                sent += int(re.search(r"nentries=(\d+)", line).group(1))
    return sent


def one_start(s, entries, shot):
    """Seconds from the program's start to a MainList of ENTRIES entries; takes the screenshot
    SHOT of the window then and ends the program."""
    started = time.monotonic()
    app = s.launch()
    main = s.main_window(timeout=300)
    while True:
        try:
            if s.driver.count(main, MAIN_LIST) >= entries:
                break
        except DriverError:
            pass  # still filling: the query timed out
        if time.monotonic() - started > 300:
            raise tallye2e.ScenarioFailure("MainList was not filled within 300 s")
        time.sleep(0.01)
    seconds = time.monotonic() - started
    s.screenshot(shot)
    s.driver.command(main, EXIT)
    s.wait_exit(app, timeout=60)
    return seconds


def run(s, network, context, users):
    s.start(network_folder=network)
    entries = users + 1  # and the all-users entry
    inis = {"embedded": os.path.join(network, "tallynet.ini"), "ldap": wine_ini(network)}
    log = os.environ.get("TALLY_LDAP_LOG", "")
    suffix = os.environ.get("TALLY_LDAP_SUFFIX", "")
    parts = context.split(".")
    base = ",".join([f"ou={p}" for p in parts[:-1]] + [f"o={parts[-1]}", suffix])
    for kind, ini in inis.items():
        s.network.ini = ini
        best = None
        for _ in range(ROUNDS):
            since = os.path.getsize(log) if log else 0
            seconds = one_start(s, entries, kind)
            best = seconds if best is None else min(best, seconds)
            if kind == "ldap" and log:
                time.sleep(0.5)  # the server writes its log behind
                print(f"window listings: {entries_sent(log, since, base) / users:.2f}",
                      flush=True)
        print(f"window {kind}: {best:.3f}", flush=True)


if __name__ == "__main__":
    network, context, users = sys.argv[1], sys.argv[2], int(sys.argv[3])
    tallye2e.main(lambda s: run(s, network, context, users), name="ldap_window_timing")
