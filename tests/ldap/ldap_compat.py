#!/usr/bin/env python3
"""Checks that the store's files are real LDIF that an LDAP server agrees with.

A scratch slapd (its own folder, 127.0.0.1 on a free port, started and stopped here) is loaded
with the sample network's snapshot; changes are made through the store so that its journal holds
counter increments, replaces and deletes; the journal is replayed with ldapmodify; then every
user's values on the server must equal what the store reports.

Exit status 77 (skipped) when the OpenLDAP server or client programs are not installed.
"""

import argparse
import base64
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

SKIP = 77
ROOT_DN = "cn=admin"
ROOT_PW = "secret"
LDAP_PROGRAMS = ("slapd", "slapadd", "ldapmodify", "ldapsearch")
SBIN = ("/usr/sbin", "/usr/local/sbin", "/sbin")


class Failure(Exception):
    pass


def find_program(name):
    path = shutil.which(name)
    if path is None:
        for folder in SBIN:
            candidate = os.path.join(folder, name)
            if os.access(candidate, os.X_OK):
                return candidate
    return path


def run(args, what, **kwargs):
    result = subprocess.run(args, capture_output=True, text=True, **kwargs)
    if result.returncode != 0:
        raise Failure(f"{what} failed (exit {result.returncode}):\n{result.stdout}{result.stderr}")
    return result.stdout


# ------------------------------------------------------------------------------------ LDIF model

def ldif_records(text, origin):
    """Yields (line number, [(attribute, value bytes or str)]) for each record of an LDIF text."""
    record, start, logical = [], 0, []
    lines = text.replace("\r\n", "\n").split("\n")

    def flush():
        nonlocal record
        if record:
            yield start, record
        record = []

    for number, line in enumerate(lines + [""], 1):
        if line.startswith(" ") and logical:
            logical[-1] = (logical[-1][0], logical[-1][1] + line[1:])
            continue
        for first, folded in logical:
            if folded == "-":
                record.append(("-", ""))
                continue
            if ":" not in folded:
                raise Failure(f"{origin}:{first}: no ':' in line {folded!r}")
            name, rest = folded.split(":", 1)
            if rest.startswith(":"):
                value = base64.b64decode(rest[1:].strip())
            else:
                value = rest.lstrip(" ")
            if not record:
                start = first
            record.append((name.lower(), value))
        logical = []
        if line == "":
            yield from flush()
        elif not line.startswith("#"):
            logical.append((number, line))


def dn_key(dn):
    return ",".join(part.strip().lower() for part in dn.split(","))


def normal_value(attribute, value):
    if isinstance(value, bytes):
        return value
    if attribute in INTEGER_ATTRIBUTES:
        return int(value)
    if attribute in BOOLEAN_ATTRIBUTES:
        return value.upper()
    if attribute == "member":
        return dn_key(value)
    return value


INTEGER_ATTRIBUTES = {"accountbalance", "minimumaccountbalance", "jobtallycolourbalance",
                      "jobtallycolourlimit", "jobtallycopierbalance", "jobtallycopierlimit"}
BOOLEAN_ATTRIBUTES = {"allowunlimitedcredit", "jobtallycolournolimit", "jobtallycopiernolimit"}


def load_entries(text, origin):
    """{dn key: {attribute: sorted values}} of an LDIF content file."""
    entries = {}
    for line, record in ldif_records(text, origin):
        if record[0][0] != "dn":
            raise Failure(f"{origin}:{line}: a record must begin with dn:")
        attributes = {}
        for name, value in record[1:]:
            attributes.setdefault(name, []).append(normal_value(name, value))
        entries[dn_key(record[0][1])] = attributes
    return entries


def apply_journal(entries, text, origin):
    """Applies ldapmodify change records the way an LDAP server does; returns the change count."""
    changes = 0
    for line, record in ldif_records(text, origin):
        dn = dn_key(record[0][1])
        if dn not in entries:
            raise Failure(f"{origin}:{line}: change to an unknown entry {record[0][1]}")
        if dict(record).get("changetype") != "modify":
            raise Failure(f"{origin}:{line}: only modify records are expected")
        entry, i = entries[dn], 2
        while i < len(record):
            op, attribute = record[i][0], record[i][1].lower()
            values = []
            i += 1
            while i < len(record) and record[i][0] != "-":
                values.append(normal_value(attribute, record[i][1]))
                i += 1
            i += 1
            if op == "increment":
                entry[attribute] = [entry[attribute][0] + values[0]]
            elif op == "replace":
                entry[attribute] = values
            elif op == "add":
                entry.setdefault(attribute, []).extend(values)
            elif op == "delete":
                entry.pop(attribute, None)
            else:
                raise Failure(f"{origin}:{line}: unexpected change {op}")
            changes += 1
    return changes


# ------------------------------------------------------------------------------------- slapd

def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def module_lines():
    for folder in ("/usr/lib/ldap", "/usr/lib/openldap", "/usr/lib64/openldap",
                   "/usr/local/libexec/openldap"):
        if os.path.exists(os.path.join(folder, "back_mdb.la")) or \
                os.path.exists(os.path.join(folder, "back_mdb.so")):
            return ("dn: cn=module{0},cn=config\nobjectClass: olcModuleList\ncn: module{0}\n"
                    f"olcModulePath: {folder}\nolcModuleLoad: back_mdb\n\n")
    return ""  # built in


def config_ldif(scratch, schema):
    return f"""dn: cn=config
objectClass: olcGlobal
cn: config
olcPidFile: {scratch}/slapd.pid
olcArgsFile: {scratch}/slapd.args

{module_lines()}dn: cn=schema,cn=config
objectClass: olcSchemaConfig
cn: schema

include: file:///etc/ldap/schema/core.ldif

include: file://{schema}

dn: olcDatabase={{-1}}frontend,cn=config
objectClass: olcDatabaseConfig
objectClass: olcFrontendConfig
olcDatabase: {{-1}}frontend

dn: olcDatabase={{0}}config,cn=config
objectClass: olcDatabaseConfig
olcDatabase: {{0}}config
olcRootDN: cn=config

dn: olcDatabase={{1}}mdb,cn=config
objectClass: olcDatabaseConfig
objectClass: olcMdbConfig
olcDatabase: {{1}}mdb
olcSuffix:
olcDbDirectory: {scratch}/db
olcDbMaxSize: 268435456
olcRootDN: {ROOT_DN}
olcRootPW: {ROOT_PW}
"""


class Slapd:
    """A scratch server; stop() ends it by its pid and is safe to call more than once."""

    def __init__(self, scratch, schema):
        self.scratch = scratch
        self.config = os.path.join(scratch, "slapd.d")
        os.makedirs(self.config)
        os.makedirs(os.path.join(scratch, "db"))
        with open(os.path.join(scratch, "config.ldif"), "w") as out:
            out.write(config_ldif(scratch, schema))
        run([find_program("slapadd"), "-n0", "-F", self.config, "-l",
             os.path.join(scratch, "config.ldif")], "slapadd of the configuration (and schema)")
        self.process = None
        self.url = None

    def load(self, ldif_path, dry_run=False):
        args = [find_program("slapadd"), "-F", self.config, "-b", "", "-l", ldif_path]
        run(args + (["-u"] if dry_run else []), f"slapadd of {ldif_path}")

    def start(self):
        port = free_port()
        self.url = f"ldap://127.0.0.1:{port}/"
        # -d 0 keeps slapd in the foreground, so the pid we hold is the server's own.
        self.process = subprocess.Popen(
            [find_program("slapd"), "-d", "0", "-F", self.config, "-h", self.url],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        for _ in range(100):
            if self.process.poll() is not None:
                raise Failure(f"slapd ended at start-up:\n{self.process.stderr.read()}")
            probe = subprocess.run(["ldapsearch", "-x", "-H", self.url, "-s", "base", "-b", "",
                                    "(objectClass=*)"], capture_output=True)
            if probe.returncode == 0:
                return
            time.sleep(0.1)
        raise Failure("slapd did not answer within 10 seconds")

    def stop(self):
        if self.process and self.process.poll() is None:
            os.kill(self.process.pid, signal.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.kill(self.process.pid, signal.SIGKILL)
                self.process.wait()
        self.process = None

    def modify(self, ldif_path):
        run(["ldapmodify", "-x", "-H", self.url, "-D", ROOT_DN, "-w", ROOT_PW, "-f", ldif_path],
            f"ldapmodify -f {ldif_path}")

    def users(self):
        text = run(["ldapsearch", "-LLL", "-o", "ldif-wrap=no", "-x", "-H", self.url, "-D",
                    ROOT_DN, "-w", ROOT_PW, "-b", "", "-s", "sub", "(objectClass=tallyUser)",
                    "*"], "ldapsearch of the users")
        return load_entries(text, "ldapsearch")


# ---------------------------------------------------------------------- changes and the store

# Written as the store writes its journal: counters change by increment (or by add while the
# counter has no value yet: LDAP cannot increment a missing attribute), settings by replace, a
# cleared attribute by delete.
HAND_JOURNAL = """dn: cn=JSMITH,ou=SALES,o=CORP
changetype: modify
increment: accountBalance
accountBalance: 500
-

dn: cn=JSMITH,ou=SALES,o=CORP
changetype: modify
increment: accountBalance
accountBalance: -120
-

dn: cn=KLEE,ou=SALES,o=CORP
changetype: modify
add: accountBalance
accountBalance: 250
-

dn: cn=DMILLER,ou=SALES,o=CORP
changetype: modify
increment: accountBalance
accountBalance: -75
-

dn: cn=DMILLER,ou=SALES,o=CORP
changetype: modify
increment: accountBalance
accountBalance: 1000
-

dn: cn=TGARCIA,ou=SALES,o=CORP
changetype: modify
replace: allowUnlimitedCredit
allowUnlimitedCredit: TRUE
-
delete: minimumAccountBalance
-

dn: cn=MJONES,ou=SALES,o=CORP
changetype: modify
replace: minimumAccountBalance
minimumAccountBalance: -3000
-

dn: cn=CBROWN,ou=SALES,o=CORP
changetype: modify
increment: jobtallyColourBalance
jobtallyColourBalance: -300
-

dn: cn=VGREEN,ou=OFFICE,o=BRANCH
changetype: modify
replace: jobtallyColourNolimit
jobtallyColourNolimit: TRUE
-

"""


STORETOOL_CHANGES = [
    ("JSMITH.SALES.CORP", "Account Balance", "25", "4"),
    ("NOACCOUNT.SALES.CORP", "Account Balance", "-10", "3"),
    ("RPATEL.SALES.CORP", "JOBTALLY:Colour Balance", "-7", "2"),
]


def expected_users(store_folder):
    """What the store holds once its journal is applied, for every user."""
    with open(os.path.join(store_folder, "directory.ldif")) as f:
        entries = load_entries(f.read(), "directory.ldif")
    with open(os.path.join(store_folder, "journal.ldif")) as f:
        changes = apply_journal(entries, f.read(), "journal.ldif")
    users = {dn: attrs for dn, attrs in entries.items()
             if "tallyuser" in (v.lower() for v in attrs.get("objectclass", []))}
    return users, changes


def compare(server, store):
    problems = []
    for dn in sorted(set(server) | set(store)):
        if dn not in server:
            problems.append(f"{dn}: in the store, not on the server")
            continue
        if dn not in store:
            problems.append(f"{dn}: on the server, not in the store")
            continue
        for attribute in sorted(set(server[dn]) | set(store[dn])):
            if attribute == "objectclass":
                continue
            ours = sorted(store[dn].get(attribute, []), key=repr)
            theirs = sorted(server[dn].get(attribute, []), key=repr)
            if ours != theirs:
                problems.append(f"{dn}: {attribute}: store {ours}, server {theirs}")
    return problems


# --------------------------------------------------------------------------------------- main

def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--source-dir", required=True)
    parser.add_argument("--gendir", help="also check that gendir's trees load")
    parser.add_argument("--storetool", help="also journal counter increments through storetool")
    parser.add_argument("--keep", action="store_true", help="keep the scratch folder")
    options = parser.parse_args()

    missing = [p for p in LDAP_PROGRAMS if find_program(p) is None]
    if missing:
        print(f"SKIPPED: OpenLDAP programs not installed: {', '.join(missing)} "
              "(Debian packages slapd and ldap-utils)")
        return SKIP

    scratch = tempfile.mkdtemp(prefix="tally-ldap-")
    server = None
    # A ctest timeout sends SIGTERM: turn it into an exception so the server is stopped.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    try:
        network = os.path.join(scratch, "net")
        run([os.path.join(options.source_dir, "tools/samplenet/lay.sh"), network],
            "laying the sample network")
        store = os.path.join(network, "directory")

        server = Slapd(os.path.join(scratch, "ldap"), os.path.join(store, "schema.ldif"))
        server.load(os.path.join(store, "directory.ldif"))
        if options.gendir:
            generated = os.path.join(scratch, "generated")
            run([options.gendir, "--out", generated, "--users", "200", "--contexts", "3",
                 "--groups", "5", "--members", "40", "--log-lines", "0"], "gendir")
            server.load(os.path.join(generated, "directory/directory.ldif"), dry_run=True)
            print("gendir's tree loads into slapd")

        with open(os.path.join(store, "journal.ldif"), "w") as journal:
            journal.write(HAND_JOURNAL)
        if options.storetool:
            # The store's own increments, after the hand-written records, under its lock.
            for name, attribute, amount, count in STORETOOL_CHANGES:
                run([options.storetool, "add", store, name, attribute, amount, count],
                    f"storetool add {name}")
        expected, changes = expected_users(store)

        server.start()
        server.modify(os.path.join(store, "journal.ldif"))
        problems = compare(server.users(), expected)
        server.stop()
        if problems:
            raise Failure("the server and the store disagree:\n  " + "\n  ".join(problems))
        print(f"{len(expected)} users agree after {changes} journalled changes")
        return 0
    except Failure as failure:
        print(f"FAILED: {failure}", file=sys.stderr)
        return 1
    finally:
        if server:
            server.stop()
        if options.keep:
            print(f"scratch folder kept: {scratch}")
        else:
            shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
