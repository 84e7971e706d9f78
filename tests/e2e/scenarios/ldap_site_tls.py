#!/usr/bin/env python3
"""TallyDesk on a site's own directory over TLS: people as inetOrgPerson entries named by uid
under ou=people, the site's groups and its operators as groupOfNames, only one person holding an
account yet (tests/e2e/data/site_people.ldif). tallynet.ini asks for StartTLS with the site's
authority in CACertFile and names no [Login] User. The window logs in as uid=ops1, browses from
[Root] into people, deposits to jsmith (who holds no account: the first change adds the account
class), then into groups and deposits to the members of the groupOfNames staff. On the server
(ldapsearch): the balances and the class; in ACCT1's log: each record names the bound operator
ops1.people and carries the balance the change produced.

Then each certificate the workstation cannot check, and a server that never answers: the window
says why under "Not logged into Directory Services!" within the Timeout, and slapd's log shows
no bind of the operator, so the password was never sent. Run without a scratch slapd, the
scenario starts one for itself with that tree (scratch_slapd.py --tls)."""
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SITE_TREE = os.path.join(HERE, "..", "data", "site_people.ldif")
if os.environ.get("TALLY_E2E_SITE_SLAPD") != "1":
    slapd = os.path.join(HERE, "..", "..", "..", "scripts", "lib", "scratch_slapd.py")
    os.environ["TALLY_E2E_SITE_SLAPD"] = "1"
    os.execvp(sys.executable, [sys.executable, slapd, "--tls", "--stats", "--ldif", SITE_TREE,
                               "--operator", "uid=ops1,ou=people", "--", sys.executable]
              + sys.argv)
# The sample network gives the volumes and the log; the directory is the site's tree below.
os.environ.pop("TALLY_E2E_LDAP", None)

sys.path.insert(0, os.path.join(HERE, "..", "harness"))
import tallye2e  # noqa: E402
from tallye2e import ScenarioFailure, expect_equal, main_lines, wait_for, windows_path  # noqa
from accounts import Log, delimited  # noqa: E402

LIST, CONTEXT_LINE, FULL_NAME, PROMPT, AMOUNT = 101, 480, 304, 450, 452
CONTEXT_LIST = 500
LBN_DBLCLK = 2
TIMEOUT = 4
OPERATOR = "ops1.people"


class Site:
    """The scratch slapd holding the site's tree, read back as its administrator reads it."""

    def __init__(self, folder):
        env = os.environ
        self.url = env["TALLY_LDAP_URL"]
        self.tls_url = env["TALLY_LDAP_TLS_URL"]
        self.suffix = env["TALLY_LDAP_SUFFIX"]
        self.admin = env["TALLY_LDAP_ADMIN_DN"]
        self.operator = env["TALLY_LDAP_OPERATOR_DN"]
        self.password_file = env["TALLY_LDAP_PASSWORD_FILE"]
        self.ca = env["TALLY_LDAP_CA_FILE"]
        self.other_ca = env["TALLY_LDAP_OTHER_CA_FILE"]
        self.log = env["TALLY_LDAP_LOG"]
        # ldapsearch takes the whole file as the password: a copy without the line end.
        self.tool_password = os.path.join(folder, "ldap-password")
        with open(self.password_file) as f:
            password = f.read().splitlines()[0]
        descriptor = os.open(self.tool_password, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
        with os.fdopen(descriptor, "w") as out:
            out.write(password)
        self.password = password

    def entry(self, dn):
        """The attributes of DN as {lower-case name: [values]}."""
        result = subprocess.run(
            ["ldapsearch", "-LLL", "-o", "ldif-wrap=no", "-x", "-H", self.url, "-D", self.admin,
             "-y", self.tool_password, "-s", "base", "-b", f"{dn},{self.suffix}", "*"],
            capture_output=True, text=True, timeout=60)
        if result.returncode != 0:
            raise ScenarioFailure(f"ldapsearch of {dn} failed: {result.stderr.strip()}")
        values = {}
        for line in result.stdout.splitlines()[1:]:
            name, _, value = line.partition(": ")
            values.setdefault(name.lower(), []).append(value)
        return values

    def binds(self):
        """How many times the operator bound, by slapd's own log."""
        with open(self.log, encoding="latin-1") as f:
            return f.read().count(f'BIND dn="{self.operator}" method=')


def ini_keys(site, url, ca, start_tls):
    keys = [("Path", None), ("Kind", "ldap"), ("Url", url), ("Base", site.suffix),
            ("BindDN", site.operator), ("PasswordFile", windows_path(site.password_file)),
            ("Timeout", str(TIMEOUT)), ("StartTLS", "yes" if start_tls else None),
            ("CACertFile", windows_path(ca) if ca else None)]
    return keys


def configure(s, site, url, ca, start_tls=False):
    for key, value in ini_keys(site, url, ca, start_tls):
        s.network.edit_ini("Store", key, value)
    # The operator is whoever binds: the ini names nobody.
    s.network.edit_ini("Login", "User", None)
    s.network.edit_ini("Login", "Context", "[Root]")


def change_context(s, d, main, path):
    """Select Context (Alt+O), double-clicking each entry of PATH in turn, then closed."""
    d.foreground(main)
    s.display.keys("alt+o")
    dialog = d.find(title="Select Context", cls="#32770", visible=True)
    for entry in path:
        wait_for(f"{entry} offered", lambda: entry in d.items(dialog, CONTEXT_LIST), timeout=20)
        d.select(dialog, CONTEXT_LIST, entry)
        d.call("command", dialog, CONTEXT_LIST, "--code", LBN_DBLCLK)
    return dialog


def enter(s, d, dialog, amount):
    # Typed only once the dialog is the active window: keys sent earlier go to the main window.
    assert d.foreground(dialog), "could not bring the amount dialog to the front"
    s.display.type_text(amount)
    wait_for("the typed amount", lambda: d.text(dialog, AMOUNT) == amount)
    s.display.keys("Return")


def expect_account(site, dn, balance):
    entry = site.entry(dn)
    expect_equal(f"{dn}'s balance on the server", entry.get("accountbalance"), [str(balance)])
    if "tallyaccount" not in [c.lower() for c in entry.get("objectclass", [])]:
        raise ScenarioFailure(f"{dn} has no tallyAccount class: {entry.get('objectclass')}")
    expect_equal(f"{dn} is still a person", "inetOrgPerson" in entry["objectclass"], True)


def deposits_over_start_tls(s, site):
    configure(s, site, site.url, site.ca, start_tls=True)
    log = Log(s, "ACCT1")
    binds = site.binds()
    app = s.launch()
    d = s.driver
    main = s.main_window(timeout=40)
    wait_for("the root context", lambda: d.text(main, CONTEXT_LINE) == "Context: [Root]",
             timeout=20)
    expect_equal("binds of the operator", site.binds(), binds + 1)

    dialog = change_context(s, d, main, ["people"])
    wait_for("into people", lambda: d.text(dialog, CONTEXT_LINE) == "people")
    d.close(dialog)
    d.wait_gone(dialog)
    wait_for("people's list", lambda: sorted(d.items(main, LIST)) == [
        "* (All users in this context)", "akim", "jsmith", "mlee", "ops1"], timeout=20)

    d.select(main, LIST, "jsmith")
    wait_for("jsmith's lines", lambda: main_lines(d, main) == ("John Smith", "0.00", "0.00"))
    dialog = s.open_by_key(main, "alt+d", "Deposit: jsmith")
    enter(s, d, dialog, "5")
    d.wait_gone(dialog)
    wait_for("jsmith's new balance", lambda: main_lines(d, main) == ("John Smith", "5.00", "0.00"))
    expect_account(site, "uid=jsmith,ou=people", 500)
    log.expect_records("deposit to a person without an account", [
        delimited("jsmith.people", "Deposit", "5.00", "5.00", operator=OPERATOR)])
    d.select(main, LIST, "mlee")
    wait_for("mlee's lines",
             lambda: main_lines(d, main) == ("Mary Lee (Physics)", "3.00", "0.00"))
    time.sleep(1)  # painted before the picture
    s.screenshot("people")

    dialog = change_context(s, d, main, [".. (Parent)", "groups"])
    wait_for("into groups", lambda: d.text(dialog, CONTEXT_LINE) == "groups")
    d.close(dialog)
    d.wait_gone(dialog)
    wait_for("the group listed", lambda: "staff (Group)" in d.items(main, LIST), timeout=20)
    d.select(main, LIST, "staff (Group)")
    dialog = s.open_by_key(main, "alt+d", "Deposit: staff")
    expect_equal("group prompt", d.text(dialog, PROMPT), "Deposit for group staff")
    enter(s, d, dialog, "2")
    box = d.find(title="Are you sure?", cls="#32770", visible=True)
    expect_equal("question", d.msgbox_text(box), "Deposit for all members of group staff?")
    d.click(box, 1)
    d.wait_gone(dialog)
    log.expect_records("deposit to the group's members", [
        delimited("mlee.people", "Deposit", "2.00", "5.00", operator=OPERATOR),
        delimited("akim.people", "Deposit", "2.00", "2.00", operator=OPERATOR)])
    expect_account(site, "uid=mlee,ou=people", 500)
    expect_account(site, "uid=akim,ou=people", 200)
    expect_equal("the operator's own entry untouched",
                 site.entry("uid=ops1,ou=people").get("accountbalance"), None)
    d.command(main, 317)
    expect_equal("exit code", s.wait_exit(app), 0)


def refusals(s, site):
    port = site.tls_url[site.tls_url.rfind(":"):]
    silent = "ldaps://127.0.0.1:" + os.environ["TALLY_LDAP_SILENT_PORT"]
    cases = [
        ("another authority over ldaps", site.tls_url, site.other_ca, False,
         "the server's certificate is not trusted"),
        ("another authority over StartTLS", site.url, site.other_ca, True,
         "the server's certificate is not trusted"),
        ("no CA file, the authority in no trust store", site.tls_url, None, False,
         "the server's certificate is not trusted"),
        ("another host name", "ldaps://localhost" + port, site.ca, False,
         "the server's certificate does not match the name in [Store] Url"),
        ("an expired certificate", os.environ["TALLY_LDAP_EXPIRED_TLS_URL"], site.ca, False,
         "the server's certificate has expired"),
        ("a missing CA file", site.tls_url, site.ca + ".missing", False,
         "ca.pem.missing cannot be read; name a PEM file"),
        ("a server that never answers", silent, site.ca, False, "127.0.0.1:"),
    ]
    d = s.driver
    log = Log(s, "ACCT1")
    for what, url, ca, start_tls, reason in cases:
        tallye2e.log(f"refused: {what}")
        configure(s, site, url, ca, start_tls)
        binds = site.binds()
        started = time.monotonic()
        app = s.launch()
        box = d.find(title="Tallydsk", cls="#32770", visible=True, timeout=TIMEOUT + 30)
        took = time.monotonic() - started
        text = d.msgbox_text(box)
        tallye2e.log(f"after {took:.1f}s: {text!r}")
        if took > TIMEOUT + 10:
            raise ScenarioFailure(f"{what}: told only after {took:.1f}s (Timeout={TIMEOUT})")
        if not text.startswith("Not logged into Directory Services!\n\n") or reason not in text:
            raise ScenarioFailure(f"{what}: the message does not say {reason!r}: {text!r}")
        if url != silent and "the login was not sent" not in text:
            raise ScenarioFailure(f"{what}: the message does not say the login was kept: {text!r}")
        if site.password in text:
            raise ScenarioFailure(f"{what}: the message shows the password")
        if d.exists(title="TallyDesk", cls="Tallydsk", visible=True):
            raise ScenarioFailure(f"{what}: the main window opened")
        if what == "another host name":
            time.sleep(1.5)  # the box painted before the picture
            s.screenshot("refused")
        d.click(box, 1)
        expect_equal(f"{what}: exit code", s.wait_exit(app), 0)
        expect_equal(f"{what}: binds of the operator", site.binds(), binds)
    log.expect_unchanged("the refused starts")


def run(s):
    s.start()
    site = Site(s.temp)
    deposits_over_start_tls(s, site)
    refusals(s, site)

if __name__ == "__main__":
    tallye2e.main(run)
