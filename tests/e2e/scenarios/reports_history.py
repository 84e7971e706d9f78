#!/usr/bin/env python3
"""The print history through the real window, on the sample network's log: a user's history
(both layouts, a transaction record listed but not counted, a printer name holding a comma) and
a group's (a member in another tree, the group read from the root of the tree), each compared
line by line with the expected file and seen open in the viewer. The log missing gives "Error
opening ...", a folder in its place "... is a folder, not a log". Cancel in the middle of a long
group run opens nothing, leaves the file without totals and puts the directory's name context
back. Screenshots of the progress dialog part way and of an opened report."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import tallye2e  # noqa: E402
from tallye2e import SALES_ENTRIES, expect_equal, main_lines, wait_for  # noqa: E402
from reports import (LOG_PARTS, click_cancel, close_viewer, expect_report,  # noqa: E402
                     no_viewer, read_report, wait_viewer, write_big_log)

LIST = 101
PRINT_HISTORY = 314
STATUS, PROGRESS = 470, 473
JSMITH_LINES = ("John Smith", "15.00", "0.00")


def select(s, d, main, entry):
    d.select(main, LIST, entry)
    wait_for(f"{entry} selected", lambda: d.selection(main, LIST) == [SALES_ENTRIES.index(entry)])


def history(s, d, main, entry, report):
    select(s, d, main, entry)
    d.click(main, PRINT_HISTORY)
    viewer = wait_viewer(d, report)
    expect_report(s, report)
    return viewer


def run(s):
    s.start()
    app = s.launch()
    d = s.driver
    main = s.main_window()
    log_path = s.network.server_file("ACCT1", *LOG_PARTS)

    viewer = history(s, d, main, "JSMITH", "JSMITH.txt")
    s.screenshot("user-report")
    close_viewer(d, viewer)

    viewer = history(s, d, main, "COLOURPRINT (Group)", "COLOURPRINT.txt")
    close_viewer(d, viewer)
    # Names are understood from the current context again.
    select(s, d, main, "JSMITH")
    wait_for("JSMITH's lines", lambda: main_lines(d, main) == JSMITH_LINES)

    # No log: the message names it, nothing else happens.
    os.rename(log_path, log_path + ".away")
    d.click(main, PRINT_HISTORY)
    box = d.find(title="Error!", cls="#32770", visible=True, timeout=20)
    expect_equal("message", d.msgbox_text(box),
                 "Error opening \\\\ACCT1\\SYS\\SYSTEM\\JOBTALLY\\JOBTALLY.LOG")
    d.click(box, 1)
    d.wait_gone(box)
    no_viewer(d)
    # A folder where the log should be: named as what it is, not read as an empty log.
    os.mkdir(log_path)
    d.click(main, PRINT_HISTORY)
    box = d.find(title="Error!", cls="#32770", visible=True, timeout=20)
    expect_equal("message", d.msgbox_text(box),
                 "\\\\ACCT1\\SYS\\SYSTEM\\JOBTALLY\\JOBTALLY.LOG is a folder, not a log")
    d.click(box, 1)
    d.wait_gone(box)
    no_viewer(d)
    os.rmdir(log_path)
    os.rename(log_path + ".away", log_path)

    # A long log of users written relative to a context (a leading point), which a group's run
    # cannot look up among the members it read but has to ask the directory about, one name at a
    # time: the run lasts long enough to be cancelled part way.
    write_big_log(log_path, 100000,
                  lambda i: f'".NOBODY{i}.NOWHERE","Doc","L","PS","Q","ACCT1","C","07/05/1999",'
                            f'"10:00",1,1,0.05,1.00')
    select(s, d, main, "COLOURPRINT (Group)")
    d.click(main, PRINT_HISTORY)
    dialog = d.find(title="Print History: COLOURPRINT", cls="#32770", visible=True, timeout=20)
    wait_for("part of the log read",
             lambda: d.text(dialog, STATUS) not in ("Reading JOBTALLY.LOG: 0%", "Text"),
             timeout=120)
    s.screenshot("progress")
    click_cancel(s, d, dialog)
    d.wait_gone(dialog, timeout=20)
    no_viewer(d)
    partial = read_report(s, "COLOURPRINT.txt")
    expect_equal("header of the cancelled report", partial,
                 b"   COLOURPRINT.SALES.CORP Print History\r\n")
    select(s, d, main, "JSMITH")
    wait_for("JSMITH's lines after the cancel", lambda: main_lines(d, main) == JSMITH_LINES)

    d.close(main)
    expect_equal("exit code", s.wait_exit(app), 0)


if __name__ == "__main__":
    tallye2e.main(run)
