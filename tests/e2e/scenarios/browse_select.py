#!/usr/bin/env python3
"""Browsing and the selection on the sample network: the users and groups of SALES.CORP, Change
Context down into EAST and up again (Alt+O opens it, never Print History), the three lines of a
user clicked in the list, three entries selected with Print History disabled, a right click below
the last entry selecting every entry, and the title while minimised."""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import tallye2e  # noqa: E402
from tallye2e import (SALES_ENTRIES, centred_on_client, expect_equal, main_lines,  # noqa: E402
                     wait_for)

LBN_DBLCLK = 2


def select_user(d, main, name):
    d.select(main, 101, name)
    wait_for(f"{name} shown", lambda: d.selection(main, 101) == [SALES_ENTRIES.index(name)])


def change_context(s, d, main):
    d.foreground(main)
    s.display.keys("alt+o")
    dialog = d.find(title="Select Context", cls="#32770", visible=True)
    assert not d.exists(title="Print History", visible=True), "Alt+O opened Print History"
    wait_for("MainDialog hidden", lambda: not d.visible(main, 101))
    return dialog


def double_click(d, dialog, entry):
    d.select(dialog, 500, entry)
    d.call("command", dialog, 500, "--code", LBN_DBLCLK)


def right_click_low_in_list(s, d, main):
    left, top, right, bottom = d.rect(main, 101)
    env = dict(os.environ, DISPLAY=s.display.name)
    subprocess.run(["xdotool", "mousemove", str((left + right) // 2), str(bottom - 6),
                    "click", "3"], check=True, env=env)


def run(s):
    s.start()
    app = s.launch()
    d = s.driver
    main = s.main_window()

    wait_for("the list", lambda: d.items(main, 101) == SALES_ENTRIES)
    wait_for("the refresh", lambda: d.text(main, 304) == "All users in this context")
    expect_equal("nothing selected at start", d.selection(main, 101), [])

    select_user(d, main, "JSMITH")
    wait_for("JSMITH's lines", lambda: main_lines(d, main) == ("John Smith", "15.00", "0.00"))
    select_user(d, main, "ADAVIS")
    wait_for("ADAVIS's lines",
             lambda: main_lines(d, main) == ("Alan Davis", "-120.00", "Unlimited"))
    select_user(d, main, "NOACCOUNT")
    wait_for("no account", lambda: main_lines(d, main) == ("", "0.00", "0.00"))
    select_user(d, main, "JSMITH")
    wait_for("JSMITH again", lambda: d.text(main, 304) == "John Smith")
    expect_equal("Print History for one user", d.enabled(main, 314), True)
    s.screenshot("user-selected")

    d.call("select", main, 101, "=MJONES", "--add")
    d.call("select", main, 101, "=SALESTEAM (Group)", "--add")
    wait_for("three selected", lambda: main_lines(d, main) == ("3 users selelcted", "", ""))
    expect_equal("Print History for three", d.enabled(main, 314), False)

    d.select(main, 101, "SALESTEAM (Group)")
    wait_for("the group", lambda: main_lines(d, main)[1:] == ("", ""))
    expect_equal("Print History for a group", d.enabled(main, 314), True)

    # SALES fills the list, so the bottom of it holds an entry: that entry alone is selected.
    d.call("select", main, 101, "=MJONES", "--add")
    right_click_low_in_list(s, d, main)
    wait_for("one entry selected", lambda: len(d.selection(main, 101)) == 1)
    s.display.keys("Escape")

    dialog = change_context(s, d, main)
    expect_equal("current context line", d.text(dialog, 480), "SALES.CORP")
    expect_equal("containers", d.items(dialog, 500), [".. (Parent)", "EAST", "WEST"])
    expect_equal("Select Context centred", d.rect(dialog)[:2],
                 centred_on_client(d.rect(main), d.client(main), d.rect(dialog)))
    s.screenshot("select-context")
    double_click(d, dialog, "EAST")
    wait_for("moved down", lambda: d.text(dialog, 480) == "EAST.SALES.CORP")
    expect_equal("EAST's containers", d.items(dialog, 500), [".. (Parent)"])
    expect_equal("main context line", d.text(main, 480), "Context: EAST.SALES.CORP")
    d.click(dialog, 2)
    d.wait_gone(dialog)
    wait_for("MainDialog shown", lambda: d.visible(main, 101))
    wait_for("EAST's list", lambda: d.items(main, 101) == [
        "* (All users in this context)", "EASTTEAM (Group)", "LWHITE", "PNGUYEN", "SCLARK"])

    d.select(main, 101, "LWHITE")
    right_click_low_in_list(s, d, main)
    wait_for("every entry selected", lambda: d.selection(main, 101) == [0, 1, 2, 3, 4])
    expect_equal("summary line", d.text(main, 304), "5 users selelcted")
    s.display.keys("Escape")

    dialog = change_context(s, d, main)
    double_click(d, dialog, ".. (Parent)")
    wait_for("up to SALES", lambda: d.text(dialog, 480) == "SALES.CORP")
    double_click(d, dialog, ".. (Parent)")
    wait_for("up to CORP", lambda: d.text(dialog, 480) == "CORP")
    double_click(d, dialog, ".. (Parent)")
    wait_for("up to the root", lambda: d.text(dialog, 480) == "[Root]")
    expect_equal("root containers", d.items(dialog, 500), ["BRANCH", "CORP"])
    double_click(d, dialog, "CORP")
    wait_for("into CORP", lambda: "ARCHIVE" in d.items(dialog, 500))
    double_click(d, dialog, "ARCHIVE")
    wait_for("into ARCHIVE", lambda: d.text(dialog, 480) == "ARCHIVE.CORP")
    d.close(dialog)
    d.wait_gone(dialog)
    wait_for("ARCHIVE's list", lambda: d.items(main, 101) == ["* (All users in this context)"])

    d.syscommand(main, "minimize")
    wait_for("minimised title", lambda: d.title(main) == "TallyDesk: ARCHIVE.CORP")
    d.syscommand(main, "restore")
    wait_for("restored title", lambda: d.title(main) == "TallyDesk")

    d.command(main, 317)
    expect_equal("exit code", s.wait_exit(app), 0)


if __name__ == "__main__":
    tallye2e.main(run)
