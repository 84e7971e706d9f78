#!/usr/bin/env python3
"""Leaving the program by Alt+X (a real key press) and by the system menu's Close: both save
ChargeReason and nothing else, both exit with 0, and neither touches the network's files."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import tallye2e  # noqa: E402
from tallye2e import expect_equal  # noqa: E402

# A local file without ChargeReason: whatever appears after the run was written at shutdown.
PRESET = ["RecordTransactions=0", "DblClickUser=3", "LogServer=ACCT1"]


def run_once(s, how):
    s.write_local_settings(PRESET)
    before = s.network_files()
    app = s.launch()
    d = s.driver
    main = s.main_window()
    d.text(main, 480)
    if how == "alt+x":
        assert d.foreground(main), "could not bring the main window to the front for Alt+X"
        s.display.keys("alt+x")
    else:
        d.syscommand(main, "close")
    expect_equal(f"exit code after {how}", s.wait_exit(app), 0)
    expect_equal(f"tallydsk.ini after {how}", s.local_settings(),
                 {"RecordTransactions": "0", "DblClickUser": "3", "LogServer": "ACCT1",
                  "ChargeReason": "Charge"})
    s.expect_network_unchanged(before)


def run(s):
    s.start()
    run_once(s, "alt+x")
    run_once(s, "system menu close")


if __name__ == "__main__":
    tallye2e.main(run)
