#!/usr/bin/env python3
"""Not logged in (no [Login] User in the client's configuration): only the message box, with no
owner and only OK; no main window; exit code 0; no settings written."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import tallye2e  # noqa: E402
from tallye2e import expect_equal  # noqa: E402


def run(s):
    s.start()
    s.network.edit_ini("Login", "User", None)
    app = s.launch()
    d = s.driver
    box = d.find(title="Tallydsk", cls="#32770", visible=True, timeout=20)
    expect_equal("message", d.msgbox_text(box), "Not logged into Directory Services!")
    expect_equal("buttons", d.buttons(box), {1: "OK"})
    expect_equal("owner", d.one("parent", box), "0x0")
    visible_mains = [w for w in d.windows() if w[1] == "Tallydsk" and w[3] == "visible"]
    expect_equal("visible main windows", visible_mains, [])
    s.screenshot()
    d.click(box, 1)
    expect_equal("exit code", s.wait_exit(app), 0)
    expect_equal("tallydsk.ini", s.local_settings(), None)


if __name__ == "__main__":
    tallye2e.main(run)
