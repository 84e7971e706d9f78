#!/usr/bin/env python3
"""The main window's commands as an operator reaches them on the sample network, with real mouse
clicks and key presses: a user chosen by a click shows its three lines, three entries disable
the Print History button (Wine keeps the menu from other processes: the Win32 tests check the
greyed item), a right click selects the entry under the pointer and
its popup menu's first item opens Deposit, a double-click opens Deposit for a user and Set Balance
for a group, the Alt keys open the account dialogs, and How to order names the shell's failure."""
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import tallye2e  # noqa: E402
from tallye2e import SALES_ENTRIES, expect_equal, main_lines, wait_for  # noqa: E402



class MainList:
    """MainList on the screen: rows found from a real click on its last visible row, since the
    list box keeps a whole number of rows of one height."""

    def __init__(self, s, d, main):
        self.s, self.d, self.main = s, d, main
        handle = next(c["handle"] for c in d.children(main) if c["id"] == 101)
        self.left, self.top, self.width, self.height = d.client(handle)
        self.mouse("click", 1, self.height - 2)
        last_row = wait_for("a row under the click", lambda: d.selection(main, 101))[0]
        self.row_height = self.height // (last_row + 1)

    def mouse(self, action, button, y, repeat=1):
        env = dict(os.environ, DISPLAY=self.s.display.name)
        words = ["xdotool", "mousemove", str(self.left + 20), str(self.top + y), action]
        if repeat > 1:
            words += ["--repeat", str(repeat), "--delay", "80"]
        subprocess.run(words + [str(button)], check=True, env=env)

    def row(self, entry, action="click", button=1, repeat=1):
        index = SALES_ENTRIES.index(entry)
        self.mouse(action, button, index * self.row_height + self.row_height // 2, repeat)
        return index


def expect_dialog(d, prefix, what):
    """The account dialog that `what` opened, closed again with Cancel."""
    dialog = d.find(title_prefix=prefix, cls="#32770", visible=True)
    title = d.title(dialog)
    d.click(dialog, 2)
    d.wait_gone(dialog)
    return title


def run(s):
    s.start()
    app = s.launch()
    d = s.driver
    main = s.main_window()
    wait_for("the list", lambda: d.items(main, 101) == SALES_ENTRIES)
    d.foreground(main)

    mainlist = MainList(s, d, main)
    index = mainlist.row("JSMITH")
    wait_for("JSMITH clicked", lambda: d.selection(main, 101) == [index])
    wait_for("JSMITH's lines", lambda: main_lines(d, main) == ("John Smith", "15.00", "0.00"))
    expect_equal("Print History button for one user", d.enabled(main, 314), True)

    d.call("select", main, 101, "=MJONES", "--add")
    d.call("select", main, 101, "=COLOURPRINT (Group)", "--add")  # in view: no scrolling
    wait_for("three selected", lambda: main_lines(d, main) == ("3 users selelcted", "", ""))
    expect_equal("Print History button for three", d.enabled(main, 314), False)

    # Right click on an entry: it alone is selected; the popup's first item is Deposit.
    index = mainlist.row("MJONES", button=3)
    wait_for("MJONES alone", lambda: d.selection(main, 101) == [index])
    wait_for("MJONES's lines", lambda: main_lines(d, main)[1] != "")
    s.display.keys("Down", "Return")
    expect_equal("popup's first item", expect_dialog(d, "Deposit", "popup"), "Deposit: MJONES")

    mainlist.row("JSMITH", repeat=2)
    expect_equal("double-click on a user", expect_dialog(d, "Deposit", "double-click"),
                 "Deposit: JSMITH")
    mainlist.row("COLOURPRINT (Group)", repeat=2)
    expect_equal("double-click on a group", expect_dialog(d, "Set Balance", "double-click"),
                 "Set Balance: COLOURPRINT")

    mainlist.row("JSMITH")
    wait_for("JSMITH again", lambda: d.text(main, 304) == "John Smith")
    for key, prefix in (("alt+d", "Deposit"), ("alt+b", "Set Balance"), ("alt+c", "Charge"),
                        ("alt+l", "Set Limit")):
        d.foreground(main)
        s.display.keys(key)
        expect_equal(key, expect_dialog(d, prefix, key), f"{prefix}: JSMITH")
    s.screenshot("after-commands")

    d.command(main, 3)
    box = d.find(title="Error", cls="#32770", visible=True)
    text = d.msgbox_text(box)
    match = re.fullmatch(r"Error (\d+) running HOW2BUY\.WRI", text)
    assert match and int(match.group(1)) <= 31, f"How to order's failure reads {text!r}"
    d.click(box, 1)
    d.wait_gone(box)

    d.command(main, 317)
    expect_equal("exit code", s.wait_exit(app), 0)


if __name__ == "__main__":
    tallye2e.main(run)
