#!/usr/bin/env python3
"""The driver against a stand-in program whose answers are known (tests/e2e/driver/target.cpp):
finding windows, texts, lists and combo boxes with their notifications, dialog units, message
boxes, system commands, the raw command line and the exit code. When this fails, the app's
scenarios cannot be trusted."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import tallye2e  # noqa: E402
from tallye2e import expect_equal, wait_for  # noqa: E402


def run(s):
    s.start(need_app=False, network=False)
    d = s.driver
    target = s.launch(exe=s.layout.target, cmdline='"QUOTED.CTX"  ')
    main = d.find(title="E2E Target", cls="E2eTarget", visible=True, timeout=20)

    # The command line arrives exactly as given, quotes and blanks included.
    expect_equal("command line", d.text(main, 480), '"QUOTED.CTX"  ')

    # Lists: sorted items, selection and the parent's notification.
    expect_equal("list items", d.items(main, 101), ["ALPHA", "BETA", "GAMMA (Group)"])
    expect_equal("combo items", d.items(main, 409), ["ACCT1", "FS2"])
    expect_equal("combo selection", d.selection(main, 409), [0])
    d.select(main, 409, "FS2")
    expect_equal("combo notification", d.text(main, 414), "Chosen: FS2")
    expect_equal("combo selection after pick", d.selection(main, 409), [1])
    d.select(main, 101, 0)
    d.call("select", main, 101, 2, "--add")
    expect_equal("multiple selection", d.selection(main, 101), [0, 2])
    expect_equal("list notification", d.text(main, 200), "Selected: 2")
    d.call("set-text", main, 200, 'with "quotes" and \\back\\slashes')
    expect_equal("text round trip", d.text(main, 200), 'with "quotes" and \\back\\slashes')

    # Layout: template positions come back in dialog units, exactly.
    expect_equal("list box position", d.dlu(main, 101)[:3], (6, 8, 147))
    expect_equal("button", d.dlu(main, 310), (155, 24, 60, 17))
    expect_equal("check box", d.dlu(main, 413), (6, 90, 126, 10))
    child = d.one("parent", main, 101)
    expect_equal("child dialog at 10,10", d.rect(child)[:2],
                 tuple(v + 10 for v in d.client(main)[:2]))
    expect_equal("check box state", d.checked(main, 413), 0)
    d.click(main, 413)
    wait_for("the check box to be checked", lambda: d.checked(main, 413) == 1, timeout=5)

    # A message box from a menu command, read and answered.
    d.menu(main, 318)
    box = d.find(title="Target", cls="#32770", visible=True)
    expect_equal("message box text", d.msgbox_text(box), "Hello from the target\nSecond line")
    expect_equal("message box buttons", d.buttons(box), {1: "OK"})
    s.screenshot()
    d.click(box, 1)
    d.wait_gone(box)

    # A button that opens a message box with no owner.
    d.click(main, 310)
    box = d.find(title="Tallydsk", cls="#32770", visible=True)
    expect_equal("unowned message box", d.msgbox_text(box), "Deposit pressed")
    d.click(box, 2)
    d.wait_gone(box)

    # Minimise and restore through the system menu's commands.
    d.syscommand(main, "minimize")
    wait_for("minimised", lambda: d.iconic(main), timeout=5)
    expect_equal("title while minimised", d.title(main), "E2E Target: TEST.CORP")
    d.syscommand(main, "restore")
    wait_for("restored", lambda: not d.iconic(main), timeout=5)
    expect_equal("title after restore", d.title(main), "E2E Target")

    # Real keys: Alt+F opens the menu, X picks Exit.
    d.foreground(main)
    s.display.keys("alt+f", "x")
    expect_equal("exit code", s.wait_exit(target), 0)
    expect_equal("window gone", d.exists(title="E2E Target"), False)


if __name__ == "__main__":
    tallye2e.main(run)
