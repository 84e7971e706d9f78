#!/usr/bin/env python3
"""The Printing Statistics dialog through the real window: its controls and first choices;
reports by user, by printer and by a group's members from JOBTALLY.LOG; a report from another
log picked in the open-file dialog, which starts in that log's folder at the next choice; a
real click on Cancel during a long log, which writes and opens nothing; the log missing, told
over the run's dialog, already captioned "User print totals"; "View all balances" in
Currency and, with FS2 as the log server, in Pages. Every report is compared line by line with
the expected file and seen open in notepad. Screenshots of the dialog and of an opened report."""
import os
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import tallye2e  # noqa: E402
from tallye2e import expect_equal, wait_for, windows_path  # noqa: E402
from reports import (LOG_PARTS, click_cancel, close_viewer, expect_report,  # noqa: E402
                     no_viewer, report_path, wait_viewer, write_big_log)

STATISTICS = 319
USERS, PRINT_SERVERS, PRINTERS, QUEUES, CLIENT_CODES, GROUPS, BALANCES = range(700, 707)
OTHER_LOG, JOBTALLY_LOG = 707, 708
CREATE, CLOSE = 1, 2
FILE_NAME = 1148  # the open-file dialog's file name field

# Id, text and place (dialog units) of every control of the Stats template; -1 for the statics
# and group boxes, found by their text.
CONTROLS = [
    (-1, "Warning: Mixing numerical formats Pages and Currency will result in unreliable cost "
         "totals!", (2, 3, 142, 24)),
    (-1, "Generate totals from:", (2, 27, 142, 62)),
    (USERS, "Users", (11, 38, 40, 10)),
    (PRINT_SERVERS, "Print Servers", (11, 51, 51, 10)),
    (PRINTERS, "Printers", (11, 64, 44, 10)),
    (QUEUES, "Queues", (80, 38, 40, 10)),
    (CLIENT_CODES, "Client codes", (80, 51, 54, 10)),
    (GROUPS, "Groups", (80, 64, 54, 10)),
    (BALANCES, "View all balances", (39, 76, 68, 10)),
    (-1, "Read from: (ASCII delimited required)", (2, 91, 142, 24)),
    (OTHER_LOG, "Other log file", (11, 101, 58, 10)),
    (JOBTALLY_LOG, "JOBTALLY.LOG", (72, 101, 64, 10)),
    (CREATE, "Create report", (16, 120, 60, 14)),
    (CLOSE, "Close", (86, 120, 40, 14)),
]


def open_statistics(d, main):
    d.click(main, STATISTICS)
    return d.find(title="Printing Statistics", cls="#32770", visible=True, timeout=20)


def expect_controls(d, stats):
    children = {(c["id"], c["text"]) for c in d.children(stats)}
    for cid, text, place in CONTROLS:
        if (cid if cid != -1 else 65535, text) not in children:
            raise tallye2e.ScenarioFailure(f"no control {cid} {text!r} in {sorted(children)}")
        if cid != -1:
            expect_equal(f"place of {cid}", d.dlu(stats, cid), place)
    expect_equal("first choices", [d.checked(stats, c) for c in range(700, 709)],
                 [1, 0, 0, 0, 0, 0, 0, 0, 1])


def create(s, d, stats, totals, report, expected=None):
    d.click(stats, totals)
    d.click(stats, CREATE)
    viewer = wait_viewer(d, report)
    expect_report(s, report, expected)
    return viewer


def pick_log(s, d, stats, typed):
    """Create report with "Other log file": types TYPED into the open-file dialog."""
    d.click(stats, OTHER_LOG)
    d.click(stats, USERS)
    d.click(stats, CREATE)
    ask = d.find(title="Open Log File", cls="#32770", visible=True, timeout=20)
    expect_equal("file name field", d.text(ask, FILE_NAME), "*.LOG")
    d.call("set-text", ask, FILE_NAME, typed)
    d.click(ask, 1)
    d.wait_gone(ask)


def run(s):
    s.start()
    app = s.launch()
    d = s.driver
    main = s.main_window()
    log_path = s.network.server_file("ACCT1", *LOG_PARTS)

    stats = open_statistics(d, main)
    expect_controls(d, stats)
    s.screenshot("dialog")

    close_viewer(d, create(s, d, stats, USERS, "User.txt"))
    viewer = create(s, d, stats, PRINTERS, "Printer.txt")
    s.screenshot("printer-report")
    close_viewer(d, viewer)

    d.click(stats, GROUPS)
    d.click(stats, CREATE)
    groups = d.find(title="Select Group", cls="#32770", visible=True, timeout=20)
    d.select(groups, 650, "SALESTEAM (Group)")
    d.click(groups, 1)
    viewer = wait_viewer(d, "SALESTEAM.txt")
    expect_report(s, "SALESTEAM.txt")
    close_viewer(d, viewer)

    # Another log, in a folder of its own; the next choice starts there, so its bare name will do.
    other = os.path.join(s.temp, "other")
    os.makedirs(other)
    shutil.copy(s.network.server_file("ACCT1", *LOG_PARTS), os.path.join(other, "OTHER.LOG"))
    with open(os.path.join(other, "OTHER.LOG"), "ab") as f:
        f.write(b'"ZEVANS.SALES.CORP","Doc","LASER1","PS_CORP","Q_SALES","ACCT1","C100",'
                b'"07/09/1999","12:00",1,100,5.00,1.00\r\n')
    os.remove(report_path(s, "User.txt"))
    pick_log(s, d, stats, windows_path(os.path.join(other, "OTHER.LOG")))
    close_viewer(d, wait_viewer(d, "User.txt"))
    expect_report(s, "User.txt", "User-other.txt")
    os.remove(report_path(s, "User.txt"))
    pick_log(s, d, stats, "OTHER.LOG")
    close_viewer(d, wait_viewer(d, "User.txt"))
    expect_report(s, "User.txt", "User-other.txt")

    # No log: "Error opening ..." over the run's dialog, captioned for the run before it showed.
    os.rename(log_path, log_path + ".away")
    d.click(stats, JOBTALLY_LOG)
    d.click(stats, USERS)
    d.click(stats, CREATE)
    box = d.find(title="Error!", cls="#32770", visible=True, timeout=20)
    expect_equal("message", d.msgbox_text(box),
                 "Error opening \\\\ACCT1\\SYS\\SYSTEM\\JOBTALLY\\JOBTALLY.LOG")
    d.find(title="User print totals", cls="#32770", visible=True, timeout=5)
    s.screenshot("error-opening")
    d.click(box, 1)
    d.wait_gone(box)
    no_viewer(d)
    os.rename(log_path + ".away", log_path)

    # A long log: Cancel part way writes and opens nothing.
    os.remove(report_path(s, "User.txt"))
    write_big_log(log_path, 1000000,
                  lambda i: f'"U{i % 5000}.SALES.CORP","Doc","L{i % 7}","PS","Q","ACCT1","C",'
                            f'"07/05/1999","10:00",1,{i % 9},0.05,1.00')
    d.click(stats, JOBTALLY_LOG)
    d.click(stats, USERS)
    d.click(stats, CREATE)
    progress = d.find(title="User print totals", cls="#32770", visible=True, timeout=20)
    click_cancel(s, d, progress)
    d.wait_gone(progress, timeout=30)
    no_viewer(d)
    expect_equal("report after Cancel", os.path.exists(report_path(s, "User.txt")), False)

    close_viewer(d, create(s, d, stats, BALANCES, "SALES.TXT", "SALES-currency.TXT"))
    d.click(stats, CLOSE)
    d.wait_gone(stats)

    # Pages, from FS2's shared settings.
    d.command(main, 318)
    prefs = d.find(title="Preferences", cls="#32770", visible=True, timeout=20)
    d.select(prefs, 409, "FS2")
    d.click(prefs, 1)
    d.wait_gone(prefs)
    stats = open_statistics(d, main)
    close_viewer(d, create(s, d, stats, BALANCES, "SALES.TXT", "SALES-pages.TXT"))
    d.click(stats, CLOSE)
    d.wait_gone(stats)

    d.close(main)
    expect_equal("exit code", s.wait_exit(app), 0)


if __name__ == "__main__":
    tallye2e.main(run)
