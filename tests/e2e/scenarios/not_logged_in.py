#!/usr/bin/env python3
"""Not logged in (no [Login] User in the client's configuration): only the message box, with no
owner and only OK; no main window; exit code 0; no settings written. With a damaged store the
same message names the file and line that stopped the client."""
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

    # A store the client cannot open: the message says which file and line.
    s.network.edit_ini("Login", "User", "ADMIN.CORP")
    snapshot = os.path.join(s.network.folder, "directory", "directory.ldif")
    with open(snapshot, "a", encoding="latin-1") as f:
        f.write("\ndn: cn=EVIL\\\nobjectClass: tallyUser\n")
    app = s.launch()
    box = d.find(title="Tallydsk", cls="#32770", visible=True, timeout=20)
    text = d.msgbox_text(box)
    tallye2e.log(f"message: {text!r}")
    if not (text.startswith("Not logged into Directory Services!\n\n")
            and "directory.ldif:" in text):
        raise tallye2e.ScenarioFailure(f"the message does not name the store's file: {text!r}")
    s.screenshot("damaged-store")
    d.click(box, 1)
    expect_equal("exit code after the damaged store", s.wait_exit(app), 0)


if __name__ == "__main__":
    tallye2e.main(run)
