"""What the account scenarios check besides the windows: the directory store (through the Windows
storetool, so the store is read exactly as the program reads it) and the accounting logs on the
servers' volumes, record by record.

The date and time of a transaction record vary from run to run; everything else of a line is
fixed, so a record is checked as one regular expression built from the expected text with the
date and time left as their shapes (month/day/year, hours and minutes)."""

import os
import re
import subprocess

from tallye2e import ScenarioFailure, ScenarioSkipped, expect_equal, windows_path

DATE = r"\d{2}/\d{2}/\d{4}"
TIME = r"\d{1,2}:\d{2}"
LOG_PARTS = ("SYS", "SYSTEM", "JOBTALLY", "JOBTALLY.LOG")


def storetool_path(session):
    path = os.path.join(session.layout.build, "tools", "storetool", "storetool.exe")
    if not os.path.isfile(path):
        raise ScenarioSkipped(f"{path} has not been built")
    return path


def store_values(session, name, attribute):
    """The values of one attribute of the entry NAME (typeless complete name), or None when the
    entry holds no such attribute."""
    if session.network.ldap:
        return session.network.ldap.values(name, attribute)
    folder = windows_path(os.path.join(session.network.folder, "directory"))
    result = subprocess.run(["wine", storetool_path(session), "get", folder, name, attribute],
                            env=session.env(), capture_output=True, text=True,
                            encoding="latin-1", timeout=60)
    if result.returncode != 0:
        if "holds no" in result.stderr:
            return None
        raise ScenarioFailure(f"storetool get {name} {attribute!r} failed: {result.stderr.strip()}")
    return [line.rstrip("\r") for line in result.stdout.splitlines()]


def expect_balance(session, name, stored):
    expect_equal(f"stored balance of {name}", store_values(session, name, "Account Balance"),
                 [str(stored)])


def journal_bytes(session):
    if session.network.ldap:
        return session.network.ldap.changes()
    with open(os.path.join(session.network.folder, "directory", "journal.ldif"), "rb") as f:
        return f.read()


class Log:
    """One server's JOBTALLY.LOG, read before an operation so that the records it appends can be
    told apart, and the lines before them shown to be untouched."""

    def __init__(self, session, server):
        self.path = session.network.server_file(server, *LOG_PARTS)
        self.mark()

    def read(self):
        with open(self.path, "rb") as f:
            return f.read()

    def mark(self):
        self.before = self.read()

    def new_lines(self):
        """The bytes appended since the mark, as lines that keep their CR LF."""
        now = self.read()
        if not now.startswith(self.before):
            raise ScenarioFailure(f"{self.path}: the lines before the operation were changed")
        added = now[len(self.before):].decode("latin-1")
        lines = added.split("\r\n")
        if lines[-1] != "":
            raise ScenarioFailure(f"{self.path}: the last record does not end in CR LF: {added!r}")
        return [line + "\r\n" for line in lines[:-1]]

    def expect_records(self, what, patterns):
        lines = self.new_lines()
        if len(lines) != len(patterns):
            raise ScenarioFailure(f"{what}: expected {len(patterns)} new record(s) in {self.path},"
                                  f" got {len(lines)}: {lines!r}")
        for i, (line, pattern) in enumerate(zip(lines, patterns)):
            if not re.fullmatch(pattern, line, re.DOTALL):
                raise ScenarioFailure(f"{what}: record {i + 1} is {line!r}, which does not match "
                                      f"{pattern!r}")
        self.mark()
        return lines

    def expect_unchanged(self, what):
        if self.read() != self.before:
            raise ScenarioFailure(f"{what}: {self.path} changed: {self.new_lines()!r}")


def delimited(user, tag, first, second, operator="ADMIN.CORP", server="ACCT1"):
    """The ASCII delimited record as a pattern: 13 fields, 1-9 quoted, 4, 6 and 7 empty quotes,
    10 and 11 absent, the amounts unquoted."""
    head = ",".join(f'"{re.escape(v)}"' for v in (user, tag, operator, "", server, "", ""))
    return f'{head},"{DATE}","{TIME}",,,{re.escape(first)},{re.escape(second)}\r\n'


def readable(user, tag, operator, first, second):
    """The Readable record as a pattern: user in 10 columns, tag in 8, operator in 12, the date,
    a time of 4 or 5 characters, the two blank columns (8 and 4) and the amounts right-aligned in
    8 columns each."""
    return (re.escape(f"{user[:10]:<10} {tag[:8]:<8} {operator[:12]:<12} ") + DATE + " " + TIME
            + re.escape(f" {'':8} {'':4} {first:>8} {second:>8}\r\n"))


def readable_columns(line):
    """A Readable record taken apart by its columns. The date is 10 characters; the time is
    written at its natural width (9:05 or 14:05), and every column after it moves with it."""
    time_end = line.index(" ", 44)
    shift = time_end - 49
    at = lambda a, b: line[a + shift:b + shift]  # noqa: E731
    return {"user": line[0:10], "tag": line[11:19], "operator": line[20:32], "date": line[33:43],
            "time": line[44:time_end], "blank": at(49, 64), "first": at(64, 72), "sep": at(72, 73),
            "second": at(73, 81), "end": line[81 + shift:]}
