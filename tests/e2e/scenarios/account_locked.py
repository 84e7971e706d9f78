#!/usr/bin/env python3
"""Another program holds a lock for good: first the accounting log's, then the directory store's.
With the log locked a deposit is made and its record waits in the workstation's outbox: the wait
ends after the shared settings' LogLockWait with a message that names the lock and the outbox, and
nothing reaches the log yet. With the store locked the deposit changes nothing, and the waiting
record is appended first. Once the locks are gone a deposit goes through and is recorded."""
import fcntl
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import tallye2e  # noqa: E402
from tallye2e import expect_equal, main_lines, wait_for  # noqa: E402
from accounts import LOG_PARTS, Log, delimited, expect_balance  # noqa: E402

LIST = 101
LOCK_OFFSET = 1 << 40


class ForeignLock:
    """The convention's lock byte, held as another program holds it."""

    def __init__(self, path):
        self.file = open(path, "ab")
        fcntl.lockf(self.file, fcntl.LOCK_EX | fcntl.LOCK_NB, 1, LOCK_OFFSET)

    def release(self):
        fcntl.lockf(self.file, fcntl.LOCK_UN, 1, LOCK_OFFSET)
        self.file.close()


def deposit_one(s, d, main):
    dialog = s.open_by_key(main, "alt+d", "Deposit: JSMITH")
    s.display.type_text("1")
    wait_for("the typed amount", lambda: d.text(dialog, 452) == "1")
    s.display.keys("Return")


def expect_refusal(s, d, text, shot):
    box = d.find(title="Error", cls="#32770", visible=True, timeout=20)
    s.screenshot(shot)
    expect_equal("message", d.msgbox_text(box), text)
    d.click(box, 1)
    d.wait_gone(box)


def shorten_lock_wait(s, seconds):
    """The shared settings' bound of every wait for the log's lock."""
    path = s.network.server_file("ACCT1", "SYS", "PUBLIC", "JOBTALLY.INI")
    with open(path, "ab") as f:
        f.write(f"LogLockWait={seconds}\r\n".encode())


def run(s):
    s.start()
    shorten_lock_wait(s, 3)
    app = s.launch()
    d = s.driver
    main = s.main_window()
    log = Log(s, "ACCT1")
    log_path = s.network.server_file("ACCT1", *LOG_PARTS)
    d.select(main, LIST, "JSMITH")
    wait_for("JSMITH's lines", lambda: main_lines(d, main) == ("John Smith", "15.00", "0.00"))

    held = ForeignLock(log_path)
    deposit_one(s, d, main)
    expect_refusal(s, d, "Unable to write to \\\\ACCT1\\SYS\\SYSTEM\\JOBTALLY\\JOBTALLY.LOG:\n"
                   "it is locked by another program.\n1 record of a change that was made waits "
                   "in C:\\windows\\tallydsk.out and is appended to the log at the next start.",
                   "log-locked")
    held.release()
    expect_balance(s, "JSMITH.SALES.CORP", 1600)
    log.expect_unchanged("deposit while the log was locked")

    held = ForeignLock(os.path.join(s.network.folder, "directory", "store.lock"))
    deposit_one(s, d, main)
    expect_refusal(s, d, "Accounting error -652!\n"
                   "The directory is locked by another program. Nothing was changed.",
                   "store-locked")
    held.release()
    log.expect_records("the waiting record, before the deposit the locked store refused",
                       [delimited("JSMITH.SALES.CORP", "Deposit", "1.00", "16.00")])

    deposit_one(s, d, main)
    wait_for("JSMITH's new balance", lambda: main_lines(d, main) == ("John Smith", "17.00", "0.00"))
    expect_balance(s, "JSMITH.SALES.CORP", 1700)
    log.expect_records("deposit once free", [delimited("JSMITH.SALES.CORP", "Deposit", "1.00",
                                                       "17.00")])
    d.close(main)
    expect_equal("exit code", s.wait_exit(app), 0)


if __name__ == "__main__":
    tallye2e.main(run)
