#!/usr/bin/env python3
"""The directory on a slapd, tallynet.ini naming a login without a PasswordFile: TallyDesk asks
for the password at start ("Directory Server Login", the server and login named, the field
hidden). The right password opens the main window on the server's tree. A wrong one brings the
prompt back with the server's refusal under the field, three times at most; then, and after
Cancel, "Not logged into Directory Services!" with the client's reason, which never holds the
password. Run without a scratch slapd, the scenario starts one for itself (scratch_slapd.py)."""
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
if not os.environ.get("TALLY_LDAP_URL"):
    slapd = os.path.join(HERE, "..", "..", "..", "scripts", "lib", "scratch_slapd.py")
    os.execvp(sys.executable, [sys.executable, slapd, "--", sys.executable] + sys.argv)
os.environ["TALLY_E2E_LDAP"] = "1"

sys.path.insert(0, os.path.join(HERE, "..", "harness"))
import tallye2e  # noqa: E402
from tallye2e import ScenarioFailure, expect_equal  # noqa: E402

IDC_PASSWORD_LOGIN = 620
IDC_PASSWORD = 621
IDC_PASSWORD_REFUSAL = 622
ES_PASSWORD = 0x20


def answer(s, reply, refusal=None, picture=None):
    """Waits for the password dialog and answers it: a password, or None for Cancel. With
    `refusal`, the dialog must show the server's refusal of the password typed before."""
    d = s.driver
    dialog = d.find(title="Directory Server Login", cls="#32770", visible=True, timeout=20)
    shown = d.text(dialog, IDC_PASSWORD_REFUSAL)
    if refusal is None:
        expect_equal("the refusal line", shown, "")
    elif refusal not in shown:
        raise ScenarioFailure(f"the prompt does not show the refusal {refusal!r}: {shown!r}")
    if picture:
        s.screenshot(picture)
    if reply is None:
        d.click(dialog, 2)
    else:
        d.set_text(dialog, IDC_PASSWORD, reply)
        d.click(dialog, 1)
    # The next prompt is a new dialog: wait until this one has gone.
    d.wait_gone(dialog, timeout=20)


def ask(s, answer_text):
    """Starts TallyDesk, waits for the password dialog and answers it: a password, or None for
    Cancel. Returns the running program."""
    app = s.launch()
    d = s.driver
    dialog = d.find(title="Directory Server Login", cls="#32770", visible=True, timeout=20)
    login = d.text(dialog, IDC_PASSWORD_LOGIN)
    ldap = s.network.ldap
    expected = f"Log in to the directory server {ldap.url} as {ldap.operator}."
    expect_equal("the login line", login, expected)
    style, _ = d.style(dialog, IDC_PASSWORD)
    if not style & ES_PASSWORD:
        raise ScenarioFailure("the password field shows what is typed")
    if answer_text is not None and not s.screenshot_taken:
        s.screenshot("prompt")
    answer(s, answer_text)
    return app


def expect_not_logged_in(s, app, reason, password):
    d = s.driver
    box = d.find(title="Tallydsk", cls="#32770", visible=True, timeout=20)
    text = d.msgbox_text(box)
    tallye2e.log(f"message: {text!r}")
    if not text.startswith("Not logged into Directory Services!\n\n") or reason not in text:
        raise ScenarioFailure(f"the message does not say {reason!r}: {text!r}")
    if password in text:
        raise ScenarioFailure("the message shows the password")
    d.click(box, 1)
    expect_equal("exit code", s.wait_exit(app), 0)


def run(s):
    s.start()
    s.network.edit_ini("Store", "PasswordFile", None)
    with open(s.network.ldap.password_file) as f:
        password = f.read().splitlines()[0]

    app = ask(s, password)
    main = s.main_window()
    tallye2e.wait_for("control 480 to show the context",
                      lambda: s.driver.text(main, 480) == "Context: SALES.CORP", timeout=10)
    # The list read over LDAP, and painted, before the picture is taken.
    tallye2e.wait_for("the list", lambda: "JSMITH" in s.driver.items(main, 101), timeout=20)
    time.sleep(1)
    s.screenshot("logged-in")
    s.driver.syscommand(main, "close")
    expect_equal("exit code", s.wait_exit(app), 0)

    # A typing error: the prompt comes back with the server's words, and the right password
    # still logs in.
    refused = "refused the login as " + s.network.ldap.operator
    app = ask(s, "not-" + password)
    answer(s, password, refusal=refused, picture="refusal")
    main = s.main_window()
    s.driver.syscommand(main, "close")
    expect_equal("exit code", s.wait_exit(app), 0)

    app = ask(s, "not-" + password)
    answer(s, "still-not-" + password, refusal=refused)
    answer(s, "never-" + password, refusal=refused)
    expect_not_logged_in(s, app, refused, password)
    app = ask(s, None)
    expect_not_logged_in(s, app, "no password was given", password)


if __name__ == "__main__":
    tallye2e.main(run)
