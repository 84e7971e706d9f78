#!/usr/bin/env python3
"""Account operations on more than one account, through the real window: a multiple selection of
three users and a group (the group skipped, one record per user, the prompt counting all four
entries), a deposit to every member of a group after "Are you sure?", a group charge cancelled at
that question (nothing stored, nothing logged), and Set Balance for all users of SALES.CORP (every
user of the context and no one else changed and recorded). Checked in the store, its journal and
ACCT1's JOBTALLY.LOG record by record."""
import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import tallye2e  # noqa: E402
from tallye2e import ScenarioFailure, expect_equal, wait_for  # noqa: E402
from accounts import Log, delimited, expect_balance, journal_bytes  # noqa: E402

LIST, FULL_NAME, PROMPT, AMOUNT = 101, 304, 450, 452
ALL_USERS = "* (All users in this context)"
SALES_USERS = ["ADAVIS", "BWILSON", "CBROWN", "CHRISTOPHERS", "DMILLER", "HBIG", "IROSS", "JSMITH",
               "KLEE", "MARKETING", "MJONES", "NOACCOUNT", "RPATEL", "TGARCIA", "ZEVANS"]


def enter(s, d, dialog, amount):
    s.display.type_text(amount)
    wait_for("the typed amount in 452", lambda: d.text(dialog, AMOUNT) == amount)
    s.display.keys("Return")


def question(d, text):
    box = d.find(title="Are you sure?", cls="#32770", visible=True)
    expect_equal("question", d.msgbox_text(box), text)
    expect_equal("question's buttons", d.buttons(box), {1: "OK", 2: "Cancel"})
    return box


class Journal:
    """The store's change journal: how many balance additions an operation appended."""

    def __init__(self, s):
        self.s = s
        self.mark()

    def mark(self):
        self.before = journal_bytes(self.s)

    def added(self):
        now = journal_bytes(self.s)
        if not now.startswith(self.before):
            raise ScenarioFailure("the journal was rewritten")
        return now[len(self.before):].decode("latin-1")

    def expect_balance_changes(self, what, count):
        """A held counter is incremented, one not yet held is added."""
        added = self.added().splitlines()
        changes = [line for line in added
                   if line in ("increment: accountBalance", "add: accountBalance")]
        expect_equal(f"{what}: balance changes in the journal", len(changes), count)
        self.mark()


def multiple_selection(s, d, main, log, journal):
    d.select(main, LIST, "JSMITH")
    for entry in ["MJONES", "SALESTEAM (Group)", "ZEVANS"]:
        d.call("select", main, LIST, "=" + entry, "--add")
    wait_for("four selected", lambda: d.text(main, FULL_NAME) == "4 users selelcted")
    dialog = s.open_by_key(main, "alt+d", "Deposit")
    expect_equal("prompt counts every entry", d.text(dialog, PROMPT), "Deposit for 4 users")
    enter(s, d, dialog, "1")
    d.wait_gone(dialog)
    expect_balance(s, "JSMITH.SALES.CORP", 1600)
    expect_balance(s, "MJONES.SALES.CORP", -150)
    expect_balance(s, "ZEVANS.SALES.CORP", 100099)
    # SALESTEAM's own members stay as they were.
    expect_balance(s, "CHRISTOPHERS.SALES.CORP", 4200)
    expect_balance(s, "PNGUYEN.EAST.SALES.CORP", 640)
    journal.expect_balance_changes("multiple selection", 3)
    log.expect_records("multiple selection", [
        delimited("JSMITH.SALES.CORP", "Deposit", "1.00", "16.00"),
        delimited("MJONES.SALES.CORP", "Deposit", "1.00", "-1.50"),
        delimited("ZEVANS.SALES.CORP", "Deposit", "1.00", "1000.99"),
    ])
    expect_equal("selection kept", d.selection(main, LIST), [
        d.items(main, LIST).index(e) for e in ["JSMITH", "MJONES", "SALESTEAM (Group)", "ZEVANS"]])


def group_deposit(s, d, main, log, journal):
    d.select(main, LIST, "COLOURPRINT (Group)")
    wait_for("the group shown", lambda: d.text(main, FULL_NAME) != "4 users selelcted")
    dialog = s.open_by_key(main, "alt+d", "Deposit: COLOURPRINT")
    expect_equal("group prompt", d.text(dialog, PROMPT), "Deposit for group COLOURPRINT")
    enter(s, d, dialog, "2")
    box = question(d, "Deposit for all members of group COLOURPRINT?")
    s.screenshot("group-question")
    d.click(box, 1)
    d.wait_gone(dialog)
    # Every member, the one in another tree included; RPATEL had no balance at all.
    expect_balance(s, "CBROWN.SALES.CORP", 250200)
    expect_balance(s, "TGARCIA.SALES.CORP", 1190)
    expect_balance(s, "RPATEL.SALES.CORP", 200)
    expect_balance(s, "VGREEN.OFFICE.BRANCH", 1950)
    journal.expect_balance_changes("group deposit", 4)
    log.expect_records("group deposit", [
        delimited("CBROWN.SALES.CORP", "Deposit", "2.00", "2502.00"),
        delimited("TGARCIA.SALES.CORP", "Deposit", "2.00", "11.90"),
        delimited("RPATEL.SALES.CORP", "Deposit", "2.00", "2.00"),
        delimited("VGREEN.OFFICE.BRANCH", "Deposit", "2.00", "19.50"),
    ])


def group_charge_cancelled(s, d, main, log, journal):
    d.select(main, LIST, "SALESTEAM (Group)")
    dialog = s.open_by_key(main, "alt+c", "Charge: SALESTEAM")
    expect_equal("group prompt", d.text(dialog, PROMPT), "Charge for group SALESTEAM")
    enter(s, d, dialog, "1")
    box = question(d, "Charge for all members of group SALESTEAM?")
    d.click(box, 2)
    d.wait_gone(dialog)
    journal.expect_balance_changes("cancelled group charge", 0)
    log.expect_unchanged("cancelled group charge")
    expect_balance(s, "JSMITH.SALES.CORP", 1600)


def all_users_set_balance(s, d, main, log, journal):
    d.select(main, LIST, ALL_USERS)
    dialog = s.open_by_key(main, "alt+b", f"Set Balance: {ALL_USERS}")
    expect_equal("all-users prompt", d.text(dialog, PROMPT), f"Set Balance for group {ALL_USERS}")
    enter(s, d, dialog, "10")
    box = question(d, f"Set Balance for all members of group {ALL_USERS}?")
    d.click(box, 1)
    d.wait_gone(dialog)
    for user in SALES_USERS:
        expect_balance(s, f"{user}.SALES.CORP", 1000)
    # Users below the context and elsewhere are not part of it.
    expect_balance(s, "PNGUYEN.EAST.SALES.CORP", 640)
    expect_balance(s, "GHALL.WEST.SALES.CORP", 5)
    expect_balance(s, "VGREEN.OFFICE.BRANCH", 1950)
    lines = log.new_lines()
    expect_equal("one record per user of the context", len(lines), len(SALES_USERS))
    recorded = sorted(line.split('"')[1] for line in lines)
    expect_equal("users recorded", recorded, sorted(f"{u}.SALES.CORP" for u in SALES_USERS))
    for line in lines:
        user = line.split('"')[1]
        pattern = delimited(user, "SetBal", "0.00", "10.00")
        if not re.fullmatch(pattern, line, re.DOTALL):
            raise ScenarioFailure(f"all users: record {line!r} does not match {pattern!r}")
    log.mark()


def run(s):
    s.start()
    app = s.launch()
    d = s.driver
    main = s.main_window()
    wait_for("the list", lambda: ALL_USERS in d.items(main, LIST))
    log = Log(s, "ACCT1")
    journal = Journal(s)

    multiple_selection(s, d, main, log, journal)
    group_deposit(s, d, main, log, journal)
    group_charge_cancelled(s, d, main, log, journal)
    all_users_set_balance(s, d, main, log, journal)

    d.command(main, 317)
    expect_equal("exit code", s.wait_exit(app), 0)


if __name__ == "__main__":
    tallye2e.main(run)
