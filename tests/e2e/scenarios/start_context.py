#!/usr/bin/env python3
"""The start context on the command line, taken whole: a container of the tree is used; an
unknown name, a quoted name and a name with a trailing blank are refused by the directory and
the workstation's context stays."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import tallye2e  # noqa: E402
from tallye2e import expect_equal, wait_for  # noqa: E402

CASES = [
    ("ACCOUNTS.CORP", "Context: ACCOUNTS.CORP"),
    ("EAST.SALES.CORP", "Context: EAST.SALES.CORP"),
    ("NOWHERE.CORP", "Context: SALES.CORP"),
    ('"ACCOUNTS.CORP"', "Context: SALES.CORP"),
    ("ACCOUNTS.CORP ", "Context: SALES.CORP"),
]


def run(s):
    s.start()
    d = s.driver
    for index, (argument, expected) in enumerate(CASES):
        app = s.launch(cmdline=argument)
        main = s.main_window()
        try:
            wait_for(f"control 480 to read {expected!r} for {argument!r}",
                     lambda: d.text(main, 480) == expected, timeout=10)
        finally:
            if index == 0:
                s.screenshot()
        d.command(main, 317)
        expect_equal(f"exit code after {argument!r}", s.wait_exit(app), 0)
        d.wait_gone(main)


if __name__ == "__main__":
    tallye2e.main(run)
