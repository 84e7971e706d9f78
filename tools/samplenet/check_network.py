#!/usr/bin/env python3
"""Checks a network folder (laid by lay.sh or written by gendir) the way its readers will use it.

  check_network.py DIR [--sample] [--doc FILE]

Every log line must be one of the four record kinds, at the places where the reports read them;
transaction records must be byte for byte what the program's writer composes; every user named
in the log must exist in the snapshot. --sample also asks for the quirky records and the objects
that the checked-in sample promises (docs/sample-network.md). --doc FILE compares that document
with the network: its table of users and their accounts must list every user of the tree, each
with the full name and account the tree holds, and the number of records it gives for ACCT1's
log must be the log's.
"""

import configparser
import os
import re
import sys

TAGS = ("Deposit", "SetLimit", "SetBal")
problems = []


def problem(where, text):
    problems.append(f"{where}: {text}")


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def snapshot_users(store):
    """Typeless full names of the users ("JSMITH.SALES.CORP"), upper case."""
    users, dn, classes = set(), None, []
    text = read_bytes(os.path.join(store, "directory.ldif")).decode("utf-8")
    for line in text.split("\n") + [""]:
        if line.startswith("dn: "):
            dn = line[4:]
        elif line.startswith("objectClass: "):
            classes.append(line[13:])
        elif line == "":
            if dn and "tallyUser" in classes:
                users.add(".".join(part.split("=", 1)[1] for part in dn.split(",")).upper())
            dn, classes = None, []
    return users


ACCOUNT_COLUMNS = ("fullName", "accountBalance", "minimumAccountBalance",
                   "allowUnlimitedCredit")
COLOUR_SET = ("jobtallyColourBalance", "jobtallyColourLimit", "jobtallyColourNolimit")


def snapshot_accounts(store):
    """Each user's attributes ("JSMITH.SALES.CORP" -> {"fullName": "John Smith", ...})."""
    accounts, dn, attributes = {}, None, {}
    text = read_bytes(os.path.join(store, "directory.ldif")).decode("utf-8")
    for line in text.split("\n") + [""]:
        if line.startswith("dn: "):
            dn = line[4:]
        elif dn and ": " in line and not line.startswith("#"):
            name, value = line.split(": ", 1)
            attributes.setdefault(name, value)
            if name == "objectClass" and value == "tallyUser":
                attributes["user"] = "yes"
        elif line == "":
            if dn and attributes.get("user"):
                accounts[".".join(p.split("=", 1)[1] for p in dn.split(",")).upper()] = attributes
            dn, attributes = None, {}
    return accounts


def check_document(path, accounts, log_lines):
    """The document's users table and record count against the network."""
    where = os.path.relpath(path)
    text = read_bytes(path).decode("utf-8")
    rows = {}
    for line in text.split("\n"):
        cells = [cell.strip() for cell in line.strip().split("|")[1:-1]]
        if len(cells) == 7 and re.fullmatch(r"[A-Z0-9]+(\.[A-Z0-9]+)+", cells[0]):
            rows[cells[0]] = cells
    if not rows:
        problem(where, "no table of users and their accounts (| User | Full Name | ... |) is found")
    for user in sorted(set(accounts) - set(rows)):
        problem(where, f"the users table lacks {user}")
    for user in sorted(set(rows) - set(accounts)):
        problem(where, f"the users table lists {user}, whom the tree does not hold")
    for user in sorted(set(rows) & set(accounts)):
        held = accounts[user]
        for column, attribute in enumerate(ACCOUNT_COLUMNS, 1):
            shown = rows[user][column]
            if shown != held.get(attribute, "\u2014"):
                problem(where, f"{user}: {attribute} is {held.get(attribute, 'absent')} in the "
                               f"tree, {shown} in the table")
        colour = " / ".join(held[a] for a in COLOUR_SET) if COLOUR_SET[0] in held else ""
        if rows[user][5] != colour:
            problem(where, f"{user}: the Colour set is {colour or 'absent'} in the tree, "
                           f"{rows[user][5] or 'empty'} in the table")
    said = re.search(r"ACCT1's `JOBTALLY.LOG` \((\d+) records", text)
    if not said or int(said.group(1)) != log_lines:
        problem(where, f"ACCT1's log holds {log_lines} records; the document says "
                       f"{said.group(1) if said else 'nothing of it'}")


def check_ini(path, expect):
    where = os.path.basename(path)
    parser = configparser.ConfigParser(interpolation=None, comment_prefixes=(";",))
    parser.optionxform = str
    try:
        parser.read_string(read_bytes(path).decode("ascii"))
    except (configparser.Error, UnicodeDecodeError) as error:
        problem(where, f"not an INI file: {error}")
        return None
    for section, key in expect:
        if not parser.has_option(section, key):
            problem(where, f"[{section}] {key} is missing")
    return parser


def csv_fields(line):
    """The fields of an ASCII delimited line; a comma inside quotes belongs to its field (the
    accounting server writes printer and queue names such as "Laser, 2nd floor"). Quotes stay on,
    so a quoted number ("4") still stands out."""
    fields, field, quoted = [], "", False
    for char in line:
        if char == "," and not quoted:
            fields.append(field)
            field = ""
            continue
        if char == '"':
            quoted = not quoted
        field += char
    return fields + [field]


def check_ascii_transaction(where, line, fields, users):
    # "user","tag","operator","","server","","","date","time",,,first,second
    match = re.fullmatch(r'"([^"]*)","([^"]*)","([^"]*)","","([^"]*)","","","([^"]*)","([^"]*)",,,'
                         r'(-?\d+(?:\.\d+)?),(-?\d+(?:\.\d+)?)', line)
    if not match:
        problem(where, "transaction record not in the ASCII delimited layout")
        return
    if match.group(1).upper() not in users:
        problem(where, f"unknown user {match.group(1)}")
    if match.group(2) in ("SetBal", "SetLimit") and float(match.group(7)) != 0:
        problem(where, f"{match.group(2)} record with a first amount other than 0")


def check_ascii_print_job(where, line, fields, users):
    if len(fields) < 12:
        problem(where, f"print-job record with {len(fields)} fields, at least 12 expected")
        return
    user = fields[0]
    if not (user.startswith('"') and user.endswith('"')):
        problem(where, "the user field is not in double quotes")
    elif user[1:-1].upper() not in users:
        problem(where, f"unknown user {user}")
    for number in (11, 12):
        field = fields[number - 1]
        if field.startswith('"'):
            continue  # a quoted number reads as 0: a quirk the reports must bear
        if not re.fullmatch(r"-?\d+(\.\d+)?", field):
            problem(where, f"field {number} {field!r} is not a number")


READABLE_TX = re.compile(r"(.{10}) (.{8}) (.{12}) (\S+) (\S+) {15}( *-?[\d.]+) ( *-?[\d.]+)")


def check_readable(where, line, short_users):
    user = line[0:10].rstrip()
    if user not in short_users:
        problem(where, f"unknown user {user!r} in columns 0-9")
    match = READABLE_TX.fullmatch(line)
    if match and match.group(2).rstrip() in TAGS + ("Charge", "Photocop"):
        first, second = match.group(6), match.group(7)
        recomposed = "%-10.10s %-8.8s %-12.12s %s %s %8s %4s " % (
            match.group(1).rstrip(), match.group(2).rstrip(), match.group(3).rstrip(),
            match.group(4), match.group(5), "", "") + "%8s %8s" % (first.strip(), second.strip())
        if recomposed != line:
            problem(where, "transaction record not in the Readable layout")
        return "transaction"
    if len(line) < 71 or line[10] != " ":
        problem(where, "Readable print-job record shorter than 71 characters")
        return None
    if not re.fullmatch(r" *\d+", line[58:62]) or not re.fullmatch(r" *-?\d+(\.\d+)?", line[63:71]):
        problem(where, f"pages {line[58:62]!r} / cost {line[63:71]!r} not in columns 58-61 / 63-70")
    return "print job"


def check_log(path, users, sample):
    data = read_bytes(path)
    name = os.path.relpath(path)
    if data and not data.endswith(b"\r\n"):
        problem(name, "does not end with CR LF")
    lines = data.split(b"\r\n")[:-1] if data else []
    short_users = {u.split(".")[0][:10] for u in users}
    kinds = {}
    for number, raw in enumerate(lines, 1):
        where = f"{name}:{number}"
        if b"\n" in raw or b"\r" in raw:
            problem(where, "a bare CR or LF inside the line")
        line = raw.decode("latin-1")
        if line.startswith('"'):
            fields = csv_fields(line)
            tag = fields[1].strip('"') if len(fields) > 1 else ""
            if tag in TAGS or tag.startswith("Charge") or (len(fields) == 13 and fields[9:11] == ["", ""]):
                check_ascii_transaction(where, line, fields, users)
                kind = "ascii transaction"
            else:
                check_ascii_print_job(where, line, fields, users)
                kind = "ascii print job"
                if sample and "" in fields[:12]:
                    kinds["empty unquoted field"] = True
                if sample and len(fields) > 10 and fields[10].startswith('"'):
                    kinds["quoted pages"] = True
        else:
            kind = "readable " + (check_readable(where, line, short_users) or "bad")
        kinds[kind] = True
        if len(raw) + 2 > 255:
            kinds["longer than 255"] = True
    return kinds


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    root, sample = argv[1], "--sample" in argv[2:]
    document = argv[argv.index("--doc") + 1] if "--doc" in argv[2:-1] else None
    ini = check_ini(os.path.join(root, "tallynet.ini"),
                    [("Store", "Path"), ("Login", "User"), ("Login", "Context"),
                     ("Connections", "Default"), ("Connections", "Servers")])
    if ini is None:
        return 1
    store = os.path.join(root, ini["Store"]["Path"])
    for name in ("schema.ldif", "directory.ldif", "journal.ldif"):
        if not os.path.isfile(os.path.join(store, name)):
            problem(store, f"{name} is missing")
    if problems:
        print("\n".join(problems), file=sys.stderr)
        return 1
    users = snapshot_users(store)
    if ini["Login"]["User"].upper() not in users:
        problem("tallynet.ini", f"the login user {ini['Login']['User']} is not in the tree")
    servers = ini["Connections"]["Servers"].split(",")
    all_kinds = {}
    for server in servers:
        volume = ini["Volumes"].get(server) if ini.has_section("Volumes") else None
        if volume is None:
            problem("tallynet.ini", f"[Volumes] has no folder for {server}")
            continue
        sys_volume = os.path.join(root, volume, "SYS")
        check_ini(os.path.join(sys_volume, "PUBLIC", "JOBTALLY.INI"),
                  [("Preferences", "NumericalFormat"), ("Preferences", "LogFormat")])
        log = os.path.join(sys_volume, "SYSTEM", "JOBTALLY", "JOBTALLY.LOG")
        if os.path.isfile(log):
            all_kinds.update(check_log(log, users, sample))
    if sample:
        wanted = ["ascii print job", "readable print job", "ascii transaction",
                  "readable transaction", "empty unquoted field", "quoted pages",
                  "longer than 255"]
        for kind in wanted:
            if kind not in all_kinds:
                problem("sample logs", f"no record of the kind '{kind}'")
        if len(users) < 25:
            problem("sample tree", f"{len(users)} users; about 30 promised")
        if len(servers) < 2:
            problem("tallynet.ini", "the sample connects to two servers")
    if document:
        log = os.path.join(root, ini["Volumes"]["ACCT1"], "SYS", "SYSTEM", "JOBTALLY",
                           "JOBTALLY.LOG")
        check_document(document, snapshot_accounts(store), read_bytes(log).count(b"\r\n"))
    if problems:
        print("\n".join(problems), file=sys.stderr)
        return 1
    print(f"{root}: {len(users)} users, records: {', '.join(sorted(all_kinds))}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
