#!/usr/bin/env python3
"""The Preferences dialog (command 318): its lists and texts on the sample network, its layout,
the switch to FS2 and its other formats, Cancel dropping everything, Save writing the six keys in
order (RecordTransactions inverted) and the saved server in force when the dialog opens again."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import tallye2e  # noqa: E402
from tallye2e import centred_on_client, expect_equal, wait_for  # noqa: E402

ACTIONS = ["Deposit", "Set Balance", "Charge", "Set Credit Limit"]
ACCT1_LOG = "\\\\ACCT1\\SYS\\SYSTEM\\JOBTALLY\\JOBTALLY.LOG"
FS2_LOG = "\\\\FS2\\SYS\\SYSTEM\\JOBTALLY\\JOBTALLY.LOG"

# Template positions in dialog units; drop-down lists are compared without their height (the
# closed field's height is the platform's).
LAYOUT = {
    407: (15, 13, 86), 408: (116, 13, 111), 410: (76, 44, 92), 409: (44, 74, 157),
    413: (6, 100, 126, 10), 414: (5, 111, 233, 8), 411: (1, 127, 241, 8),
    412: (1, 137, 241, 8), 1: (67, 149, 40, 14), 2: (135, 149, 40, 14),
}


def open_preferences(s, main):
    s.driver.command(main, 318)
    return s.driver.find(title="Preferences", cls="#32770", visible=True)


def expect_formats(d, dlg, log_path, numerical, log_format, when):
    expect_equal(f"414 {when}", d.text(dlg, 414), log_path)
    expect_equal(f"411 {when}", d.text(dlg, 411), f"Numerical format: {numerical}")
    expect_equal(f"412 {when}", d.text(dlg, 412), f"Log file format: {log_format}")


def run(s):
    s.start()
    app = s.launch()
    d = s.driver
    main = s.main_window()
    dlg = open_preferences(s, main)

    # Opening: the lists, their selections and the texts of the log server ACCT1.
    expect_equal("407 items", d.items(dlg, 407), ACTIONS)
    expect_equal("408 items", d.items(dlg, 408), ACTIONS)
    expect_equal("407 selection (DblClickUser)", d.selection(dlg, 407), [0])
    expect_equal("408 selection (DblClickGroup)", d.selection(dlg, 408), [1])
    expect_equal("409 servers (FS3 is not connected)", d.items(dlg, 409), ["ACCT1", "FS2"])
    expect_equal("409 selection", d.selection(dlg, 409), [0])
    keywords = d.items(dlg, 410)
    expect_equal("410 first entry", keywords[0], "Standard Netware")
    assert "Colour" in keywords, f"schema keyword Colour missing from 410: {keywords}"
    expect_equal("410 selection", d.selection(dlg, 410), [0])
    expect_equal("413 recording", d.checked(dlg, 413), 1)
    expect_formats(d, dlg, ACCT1_LOG, "Currency", "ASCII delimted", "on opening")

    # Layout and place.
    expect_equal("dialog size", d.dlu(dlg, 0), (0, 0, 243, 167))
    for cid, expected in LAYOUT.items():
        expect_equal(f"control {cid}", d.dlu(dlg, cid)[:len(expected)], expected)
    expect_equal("centred over the main window", d.rect(dlg)[:2],
                 centred_on_client(d.rect(main), d.client(main), d.rect(dlg)))
    expect_equal("Save", d.text(dlg, 1), "Save")
    expect_equal("Cancel", d.text(dlg, 2), "Cancel")

    # FS2's shared file has the other formats; the pending values show at once.
    d.select(dlg, 409, "FS2")
    expect_formats(d, dlg, FS2_LOG, "Pages", "Readable", "after choosing FS2")
    s.screenshot()

    # Cancel drops it all and writes nothing.
    d.click(dlg, 2)
    d.wait_gone(dlg)
    expect_equal("tallydsk.ini after Cancel", s.local_settings(), None)
    dlg = open_preferences(s, main)
    expect_formats(d, dlg, ACCT1_LOG, "Currency", "ASCII delimted", "after Cancel")
    expect_equal("409 selection after Cancel", d.selection(dlg, 409), [0])

    # Save: FS2, Charge on a user's double-click, recording off.
    d.select(dlg, 409, "FS2")
    d.select(dlg, 407, "Charge")
    d.click(dlg, 413)
    wait_for("413 to be cleared", lambda: d.checked(dlg, 413) == 0, timeout=5)
    d.click(dlg, 1)
    d.wait_gone(dlg)
    wait_for("tallydsk.ini to be written", lambda: s.local_settings() is not None, timeout=5)
    expect_equal("saved keys in order", s.local_settings_keys_in_order(),
                 ["RecordTransactions", "DblClickUser", "DblClickGroup", "LogServer",
                  "ChargeReason", "SchemaKeyword"])
    expect_equal("saved values", s.local_settings(),
                 {"RecordTransactions": "1", "DblClickUser": "2", "DblClickGroup": "1",
                  "LogServer": "FS2", "ChargeReason": "Charge",
                  "SchemaKeyword": "Standard Netware"})

    # What was saved is in force.
    dlg = open_preferences(s, main)
    expect_formats(d, dlg, FS2_LOG, "Pages", "Readable", "after Save")
    expect_equal("409 selection after Save", d.selection(dlg, 409), [1])
    expect_equal("407 selection after Save", d.selection(dlg, 407), [2])
    expect_equal("413 after Save", d.checked(dlg, 413), 0)
    d.close(dlg)
    d.wait_gone(dlg)

    d.command(main, 317)
    expect_equal("exit code", s.wait_exit(app), 0)


if __name__ == "__main__":
    tallye2e.main(run)
