#!/usr/bin/env python3
"""The four account operations on one user each, through the real window: Alt+D, Alt+C, Alt+B and
Alt+L on the main window, the amount typed into the dialog with real keys and taken by Return.
After each: the dialog's texts and layout before, the stored attributes and the main dialog's
lines after, and the one record appended to ACCT1's JOBTALLY.LOG (ASCII delimited, complete
names). OK on an empty amount changes nothing; an unlimited user's limit box opens checked, and
unchecked with a negative limit typed stores that limit. The remembered charge reason in tallydsk.ini after exit. Then, with FS2 chosen as the log
server in Preferences (Pages, Readable), a deposit and a charge recorded in the Readable columns.
Screenshots of the Deposit, Charge and Limit dialogs."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import tallye2e  # noqa: E402
from tallye2e import centred_on_client, expect_equal, main_lines, wait_for  # noqa: E402
from accounts import (Log, delimited, expect_balance, readable, readable_columns,  # noqa: E402
                      store_values)

LIST = 101
PROMPT, LABEL, AMOUNT, REASON, UNLIMITED = 450, 451, 452, 453, 454

# Template places in dialog units of each template's own font.
DEPOSIT_LAYOUT = {0: (0, 0, 150, 55), PROMPT: (0, 6, 150, 8), LABEL: (2, 20, 74, 8),
                  AMOUNT: (79, 18, 61, 12), 1: (32, 36, 40, 14), 2: (82, 36, 40, 14)}
CHARGE_LAYOUT = {0: (0, 0, 150, 72), PROMPT: (0, 6, 150, 8), AMOUNT: (79, 18, 61, 12),
                 REASON: (79, 35, 61, 12), 1: (30, 53, 40, 14), 2: (80, 53, 40, 14)}
LIMIT_LAYOUT = {0: (0, 0, 150, 72), PROMPT: (0, 6, 150, 8), AMOUNT: (79, 19, 61, 12),
                UNLIMITED: (41, 36, 77, 10), 1: (30, 53, 40, 14), 2: (80, 53, 40, 14)}


def select_user(d, main, name, shown):
    d.select(main, LIST, name)
    wait_for(f"{name}'s lines", lambda: main_lines(d, main) == shown)


def expect_layout(d, dialog, layout, font):
    for cid, expected in layout.items():
        expect_equal(f"{font} place of control {cid}",
                     tuple(d.one("dlu", dialog, cid, "--font", font).split()),
                     tuple(str(v) for v in expected))


def expect_centred(d, main, dialog):
    expect_equal("dialog centred over the main window", d.rect(dialog)[:2],
                 centred_on_client(d.rect(main), d.client(main), d.rect(dialog)))


def enter_and_ok(s, d, dialog, amount):
    """Types the amount where the dialog put the focus (the amount field) and presses Return."""
    s.display.type_text(amount)
    wait_for("the typed amount in 452", lambda: d.text(dialog, AMOUNT) == amount)
    s.display.keys("Return")
    d.wait_gone(dialog)


def deposit(s, d, main, log):
    select_user(d, main, "JSMITH", ("John Smith", "15.00", "0.00"))
    # OK on an empty field closes the dialog and changes nothing.
    dialog = s.open_by_key(main, "alt+d", "Deposit: JSMITH")
    s.display.keys("Return")
    d.wait_gone(dialog)
    log.expect_unchanged("empty deposit")
    expect_balance(s, "JSMITH.SALES.CORP", 1500)

    dialog = s.open_by_key(main, "alt+d", "Deposit: JSMITH")
    expect_equal("deposit prompt", d.text(dialog, PROMPT), "Current balance is 15.00")
    expect_equal("deposit label", d.text(dialog, LABEL), "Enter deposit amount:")
    expect_equal("amount starts empty", d.text(dialog, AMOUNT), "")
    expect_layout(d, dialog, DEPOSIT_LAYOUT, "Helv")
    expect_centred(d, main, dialog)
    s.screenshot("deposit")
    enter_and_ok(s, d, dialog, "5.25")
    wait_for("JSMITH's new balance", lambda: main_lines(d, main) == ("John Smith", "20.25", "0.00"))
    expect_balance(s, "JSMITH.SALES.CORP", 2025)
    log.expect_records("deposit", [delimited("JSMITH.SALES.CORP", "Deposit", "5.25", "20.25")])


def charge(s, d, main, log):
    select_user(d, main, "MJONES", ("Mary Jones", "-2.50", "-10.00"))
    dialog = s.open_by_key(main, "alt+c", "Charge: MJONES")
    expect_equal("charge prompt", d.text(dialog, PROMPT), "Current balance is -2.50")
    expect_equal("reason starts as the remembered one", d.text(dialog, REASON), "Charge")
    expect_layout(d, dialog, CHARGE_LAYOUT, "Helv")
    expect_centred(d, main, dialog)
    s.screenshot("charge")
    s.display.type_text("1.5")
    wait_for("the typed amount", lambda: d.text(dialog, AMOUNT) == "1.5")
    # The reason follows the buttons in the tab order: Shift+Tab from the amount reaches it, and
    # the dialog selects its text, so typing replaces it.
    s.display.keys("shift+Tab")
    s.display.type_text("Photocopies")
    wait_for("the typed reason", lambda: d.text(dialog, REASON) == "Photocopies")
    s.display.keys("Return")
    d.wait_gone(dialog)
    wait_for("MJONES charged", lambda: main_lines(d, main) == ("Mary Jones", "-4.00", "-10.00"))
    expect_balance(s, "MJONES.SALES.CORP", -400)
    log.expect_records("charge", [delimited("MJONES.SALES.CORP", "Photocopies", "-1.50", "-4.00")])

    dialog = s.open_by_key(main, "alt+c", "Charge: MJONES")
    expect_equal("reason remembered", d.text(dialog, REASON), "Photocopies")
    d.click(dialog, 2)
    d.wait_gone(dialog)
    log.expect_unchanged("cancelled charge")


def set_balance(s, d, main, log):
    # JSMITH's balance changed since it was last selected: Set Balance must start from the
    # balance read back after the deposit.
    select_user(d, main, "JSMITH", ("John Smith", "20.25", "0.00"))
    dialog = s.open_by_key(main, "alt+b", "Set Balance: JSMITH")
    expect_equal("set balance prompt", d.text(dialog, PROMPT), "Current balance is 20.25")
    expect_equal("set balance label", d.text(dialog, LABEL), "Enter new balance:")
    enter_and_ok(s, d, dialog, "7")
    wait_for("JSMITH's set balance", lambda: main_lines(d, main) == ("John Smith", "7.00", "0.00"))
    expect_balance(s, "JSMITH.SALES.CORP", 700)
    log.expect_records("set balance", [delimited("JSMITH.SALES.CORP", "SetBal", "0.00", "7.00")])


def set_limit(s, d, main, log):
    # An unlimited user's box opens checked; unchecked with a limit typed, the flag is cleared
    # and the limit stored as typed, negative as it is.
    select_user(d, main, "ADAVIS", ("Alan Davis", "-120.00", "Unlimited"))
    dialog = s.open_by_key(main, "alt+l", "Set Limit: ADAVIS")
    expect_equal("unlimited user's prompt", d.text(dialog, PROMPT), "Credit limit is Unlimited")
    expect_equal("box checked for an unlimited user", d.checked(dialog, UNLIMITED), 1)
    s.display.type_text("-20")
    wait_for("the typed limit", lambda: d.text(dialog, AMOUNT) == "-20")
    s.display.keys("shift+Tab", "space")
    wait_for("box unchecked", lambda: d.checked(dialog, UNLIMITED) == 0)
    s.display.keys("Return")
    d.wait_gone(dialog)
    wait_for("ADAVIS limited", lambda: main_lines(d, main) == ("Alan Davis", "-120.00", "-20.00"))
    expect_equal("unlimited flag cleared", store_values(s, "ADAVIS.SALES.CORP",
                                                        "Allow Unlimited Credit"), ["FALSE"])
    expect_equal("limit stored as typed", store_values(s, "ADAVIS.SALES.CORP",
                                                       "Minimum Account Balance"), ["-2000"])
    log.expect_records("limit", [delimited("ADAVIS.SALES.CORP", "SetLimit", "0.00", "-20.00")])

    select_user(d, main, "DMILLER", ("Diane Miller", "0.75", "1.00"))
    dialog = s.open_by_key(main, "alt+l", "Set Limit: DMILLER")
    expect_equal("limit prompt", d.text(dialog, PROMPT), "Credit limit is 1.00")
    expect_equal("box unchecked", d.checked(dialog, UNLIMITED), 0)
    expect_layout(d, dialog, LIMIT_LAYOUT, "MS Sans Serif")
    expect_centred(d, main, dialog)
    s.screenshot("limit")
    # The box follows the buttons in the tab order; Space checks it, Return is still OK.
    s.display.keys("shift+Tab", "space")
    wait_for("box checked", lambda: d.checked(dialog, UNLIMITED) == 1)
    s.display.keys("Return")
    d.wait_gone(dialog)
    wait_for("DMILLER unlimited",
             lambda: main_lines(d, main) == ("Diane Miller", "0.75", "Unlimited"))
    expect_equal("unlimited flag stored", store_values(s, "DMILLER.SALES.CORP",
                                                       "Allow Unlimited Credit"), ["TRUE"])
    expect_equal("credit limit cleared", store_values(s, "DMILLER.SALES.CORP",
                                                      "Minimum Account Balance"), None)
    expect_balance(s, "DMILLER.SALES.CORP", 75)
    log.expect_records("set limit", [delimited("DMILLER.SALES.CORP", "SetLimit", "0.00", "0.00")])


def switch_log_server_to_fs2(d, main):
    d.command(main, 318)
    prefs = d.find(title="Preferences", cls="#32770", visible=True)
    d.select(prefs, 409, "FS2")
    wait_for("FS2's log file format", lambda: d.text(prefs, 412) == "Log file format: Readable")
    d.click(prefs, 1)
    d.wait_gone(prefs)


def readable_records(s, d, main, acct1_log):
    fs2_log = Log(s, "FS2")
    switch_log_server_to_fs2(d, main)
    # FS2 counts pages: amounts are whole stored units from now on.
    select_user(d, main, "JSMITH", ("John Smith", "700", "0"))
    dialog = s.open_by_key(main, "alt+d", "Deposit: JSMITH")
    expect_equal("pages prompt", d.text(dialog, PROMPT), "Current balance is 700")
    enter_and_ok(s, d, dialog, "12")
    wait_for("JSMITH's pages", lambda: main_lines(d, main)[1] == "712")
    expect_balance(s, "JSMITH.SALES.CORP", 712)
    (line,) = fs2_log.expect_records("readable deposit",
                                     [readable("JSMITH", "Deposit", "ADMIN", "12", "712")])
    cols = readable_columns(line)
    expect_equal("readable columns", (cols["user"], cols["tag"], cols["operator"], cols["blank"],
                                      cols["first"], cols["sep"], cols["second"], cols["end"]),
                 ("JSMITH    ", "Deposit ", "ADMIN       ", " " * 15, "      12", " ", "     712",
                  "\r\n"))
    expect_equal("line length with this time", len(line), 78 + len(cols["time"]))

    # A 12-letter user and an 11-letter reason are cut to their columns.
    select_user(d, main, "CHRISTOPHERS", ("Christopher Stevenson-Whitfield", "4200", "0"))
    dialog = s.open_by_key(main, "alt+c", "Charge: CHRISTOPHERS")
    expect_equal("reason remembered", d.text(dialog, REASON), "Photocopies")
    enter_and_ok(s, d, dialog, "3")
    wait_for("CHRISTOPHERS charged", lambda: main_lines(d, main)[1] == "4197")
    expect_balance(s, "CHRISTOPHERS.SALES.CORP", 4197)
    fs2_log.expect_records("readable charge",
                           [readable("CHRISTOPHE", "Photocop", "ADMIN", "-3", "4197")])
    acct1_log.expect_unchanged("records while FS2 is the log server")


def run(s):
    s.start()
    app = s.launch()
    d = s.driver
    main = s.main_window()
    wait_for("the list", lambda: "JSMITH" in d.items(main, LIST))
    log = Log(s, "ACCT1")

    deposit(s, d, main, log)
    charge(s, d, main, log)
    set_balance(s, d, main, log)
    set_limit(s, d, main, log)
    readable_records(s, d, main, log)

    d.command(main, 317)
    expect_equal("exit code", s.wait_exit(app), 0)
    expect_equal("remembered reason", s.local_settings().get("ChargeReason"), "Photocopies")


if __name__ == "__main__":
    tallye2e.main(run)
