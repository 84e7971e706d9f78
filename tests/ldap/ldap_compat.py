#!/usr/bin/env python3
"""Checks that the store's files are real LDIF that an LDAP server agrees with.

A scratch slapd (its own folder, 127.0.0.1 on a free port, started and stopped here) is loaded
with the sample network's snapshot. Changes of every kind are made through the store (storetool),
so that its journal holds counter increments and additions, replaces and deletes as the client
writes them; the store's own journal.ldif is replayed with ldapmodify; then every entry on the
server must hold what `storetool export` reports. Then the store is compacted, and the new
snapshot, loaded into a second server with slapadd, must agree too.

Exit status 77 (skipped) when the OpenLDAP server or client programs are not installed.
"""

import argparse
import base64
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

# The scratch server script's helpers: finding the OpenLDAP programs, running them, a free port.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts",
                                "lib"))
from scratch_slapd import (Failure, find_program, free_port, module_folder, run,  # noqa: E402
                           stop_process)

SKIP = 77
ROOT_DN = "cn=admin"
ROOT_PW = "secret"
LDAP_PROGRAMS = ("slapd", "slapadd", "ldapmodify", "ldapsearch")


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
        try:
            value = value.decode("utf-8")
        except UnicodeDecodeError:
            return value
    if attribute in INTEGER_ATTRIBUTES:
        return int(value)
    if attribute in BOOLEAN_ATTRIBUTES:
        return value.upper()
    if attribute == "member":
        return dn_key(value)
    if attribute == "objectclass":
        return value.lower()
    return value


INTEGER_ATTRIBUTES = {"accountbalance", "minimumaccountbalance", "jobtallycolourbalance",
                      "jobtallycolourlimit", "jobtallycopierbalance", "jobtallycopierlimit"}
BOOLEAN_ATTRIBUTES = {"allowunlimitedcredit", "jobtallycolournolimit", "jobtallycopiernolimit"}


def load_entries(text, origin):
    """{dn key: {attribute: values}} of an LDIF content file."""
    entries = {}
    for line, record in ldif_records(text, origin):
        if record[0][0] != "dn":
            raise Failure(f"{origin}:{line}: a record must begin with dn:")
        key = dn_key(record[0][1])
        if key in entries:
            raise Failure(f"{origin}:{line}: {record[0][1]} appears twice")
        attributes = {}
        for name, value in record[1:]:
            attributes.setdefault(name, []).append(normal_value(name, value))
        entries[key] = attributes
    return entries


# ------------------------------------------------------------------------------------- slapd

def module_lines():
    folder = module_folder()
    if folder is None:
        return ""  # built in
    return ("dn: cn=module{0},cn=config\nobjectClass: olcModuleList\ncn: module{0}\n"
            f"olcModulePath: {folder}\nolcModuleLoad: back_mdb\n\n")


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
        stop_process(self.process)
        self.process = None

    def modify(self, ldif_path):
        run(["ldapmodify", "-x", "-H", self.url, "-D", ROOT_DN, "-w", ROOT_PW, "-f", ldif_path],
            f"ldapmodify -f {ldif_path}")

    def entries(self):
        text = run(["ldapsearch", "-LLL", "-o", "ldif-wrap=no", "-x", "-H", self.url, "-D",
                    ROOT_DN, "-w", ROOT_PW, "-b", "", "-s", "sub", "(objectClass=*)", "*"],
                   "ldapsearch of every entry")
        return load_entries(text, "ldapsearch")


# ---------------------------------------------------------------------- changes and the store

# Every kind of change the store journals, made through storetool as the client makes them:
# (storetool arguments after the command and folder, whether the store must accept it).
STORE_CHANGES = [
    # Counters held already: increments, either sign.
    ("add", "JSMITH.SALES.CORP", "Account Balance", "500", "1"),
    ("add", "JSMITH.SALES.CORP", "Account Balance", "-120", "1"),
    ("add", "DMILLER.SALES.CORP", "Account Balance", "-75", "1"),
    ("add", "DMILLER.SALES.CORP", "Account Balance", "1000", "1"),
    # First additions to a missing counter (an LDAP server cannot increment what is not there),
    # then increments of what they started.
    ("add", "KLEE.SALES.CORP", "Account Balance", "250", "1"),
    ("add", "NOACCOUNT.SALES.CORP", "Account Balance", "-10", "3"),
    ("add", "RPATEL.SALES.CORP", "JOBTALLY:Copier Balance", "40", "2"),
    # Overwrites of limits and flags (a flag given in lower case is stored in upper case).
    ("set", "MJONES.SALES.CORP", "Minimum Account Balance", "-3000"),
    ("set", "TGARCIA.SALES.CORP", "Allow Unlimited Credit", "true"),
    ("set", "VGREEN.OFFICE.BRANCH", "JOBTALLY:Colour Nolimit", "TRUE"),
    ("set", "TGARCIA.SALES.CORP", "JOBTALLY:Copier Limit", "-750"),
    ("set", "RPATEL.SALES.CORP", "JOBTALLY:Copier Nolimit", "false"),
    ("set", "KLEE.SALES.CORP", "JOBTALLY:Colour Limit", "+25"),
    # Values the journal must carry base64-encoded.
    ("set", "MJONES.SALES.CORP", "Full Name", "Mary J\u00f6nes"),
    ("set", "JSMITH.SALES.CORP", "Card Serial", ":04 A7 "),
    # Clears, of a held attribute and of one that is not held (journals nothing).
    ("clear", "TGARCIA.SALES.CORP", "Minimum Account Balance"),
    ("clear", "TGARCIA.SALES.CORP", "JOBTALLY:Colour Limit"),
    ("clear", "NOACCOUNT.SALES.CORP", "Minimum Account Balance"),
    ("add", "CBROWN.SALES.CORP", "JOBTALLY:Colour Balance", "-300", "1"),
    # A sizeable journal.
    ("add", "JSMITH.SALES.CORP", "Account Balance", "3", "200"),
    ("add", "CBROWN.SALES.CORP", "JOBTALLY:Colour Balance", "-1", "150"),
    ("add", "RPATEL.SALES.CORP", "JOBTALLY:Colour Balance", "7", "100"),
    ("add", "NOACCOUNT.SALES.CORP", "Account Balance", "-2", "50"),
]

# Changes the store must refuse, journalling nothing, so that the journal still replays.
REFUSED_CHANGES = [
    ("add", "CBROWN.SALES.CORP", "Account Balance", "2147483647", "1"),  # past 32 bits
    ("set", "GUEST.CORP", "Minimum Account Balance", "ten"),
    ("set", "GUEST.CORP", "Allow Unlimited Credit", "yes"),
    ("set", "NOBODY.SALES.CORP", "Account Balance", "1"),
    ("clear", "JSMITH.SALES.CORP", "CN"),
]


def make_changes(storetool, store):
    for command, *arguments in STORE_CHANGES:
        run([storetool, command, store] + list(arguments), f"storetool {command} {arguments}")
    for command, *arguments in REFUSED_CHANGES:
        result = subprocess.run([storetool, command, store] + list(arguments),
                                capture_output=True, text=True)
        if result.returncode != 1:
            raise Failure(f"storetool {command} {arguments} should be refused (exit 1), "
                          f"exit {result.returncode}:\n{result.stdout}{result.stderr}")


def exported(storetool, store):
    """What the store reports: its current view, as storetool exports it."""
    return load_entries(run([storetool, "export", store], "storetool export"), "storetool export")


def journal_records(store):
    with open(os.path.join(store, "journal.ldif"), encoding="utf-8") as journal:
        return sum(1 for _ in ldif_records(journal.read(), "journal.ldif"))


def compare(server, store, what):
    problems = []
    for dn in sorted(set(server) | set(store)):
        if dn not in server:
            problems.append(f"{dn}: in the store, not on the server")
            continue
        if dn not in store:
            problems.append(f"{dn}: on the server, not in the store")
            continue
        for attribute in sorted(set(server[dn]) | set(store[dn])):
            ours = sorted(store[dn].get(attribute, []), key=repr)
            theirs = sorted(server[dn].get(attribute, []), key=repr)
            if ours != theirs:
                problems.append(f"{dn}: {attribute}: store {ours}, server {theirs}")
    if problems:
        raise Failure(f"{what}: the server and the store disagree:\n  " + "\n  ".join(problems))


def users_of(entries):
    return [dn for dn, attributes in entries.items()
            if "tallyuser" in attributes.get("objectclass", [])]


# --------------------------------------------------------------------------------------- main

def check_gendir(gendir, scratch, server):
    generated = os.path.join(scratch, "generated")
    run([gendir, "--out", generated, "--users", "200", "--contexts", "3", "--groups", "5",
         "--members", "40", "--log-lines", "0"], "gendir")
    server.load(os.path.join(generated, "directory/directory.ldif"), dry_run=True)
    print("gendir's tree loads into slapd")


def check_journal_replay(options, scratch, store):
    """The sample tree slapadded, the store's own journal replayed with ldapmodify."""
    server = Slapd(os.path.join(scratch, "ldap"), os.path.join(store, "schema.ldif"))
    try:
        server.load(os.path.join(store, "directory.ldif"))
        if options.gendir:
            check_gendir(options.gendir, scratch, server)
        make_changes(options.storetool, store)
        reported = exported(options.storetool, store)
        server.start()
        server.modify(os.path.join(store, "journal.ldif"))
        compare(server.entries(), reported, "after ldapmodify of journal.ldif")
    finally:
        server.stop()
    print(f"{len(reported)} entries ({len(users_of(reported))} users) agree after "
          f"{journal_records(store)} journal records")
    return reported


def check_compacted_snapshot(options, scratch, store, before):
    """The compacted snapshot slapadded into a new server: the same view, loaded afresh."""
    run([options.storetool, "compact", store], "storetool compact")
    if journal_records(store) != 0:
        raise Failure("the journal still holds records after compaction")
    after = exported(options.storetool, store)
    if after != before:
        raise Failure("the store reports other values after compaction than before")
    server = Slapd(os.path.join(scratch, "ldap-compacted"), os.path.join(store, "schema.ldif"))
    try:
        server.load(os.path.join(store, "directory.ldif"))
        server.start()
        compare(server.entries(), after, "after slapadd of the compacted directory.ldif")
    finally:
        server.stop()
    print(f"the compacted snapshot loads and agrees ({len(after)} entries)")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--source-dir", required=True)
    parser.add_argument("--storetool", required=True,
                        help="the storetool that makes the changes and reports the store's view")
    parser.add_argument("--gendir", help="also check that gendir's trees load")
    parser.add_argument("--keep", action="store_true", help="keep the scratch folder")
    options = parser.parse_args()

    missing = [p for p in LDAP_PROGRAMS if find_program(p) is None]
    if missing:
        print(f"SKIPPED: OpenLDAP programs not installed: {', '.join(missing)} "
              "(Debian packages slapd and ldap-utils)")
        return SKIP

    scratch = tempfile.mkdtemp(prefix="tally-ldap-")
    # A ctest timeout sends SIGTERM: turn it into an exception so the servers are stopped.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    try:
        network = os.path.join(scratch, "net")
        run([os.path.join(options.source_dir, "tools/samplenet/lay.sh"), network],
            "laying the sample network")
        store = os.path.join(network, "directory")
        reported = check_journal_replay(options, scratch, store)
        check_compacted_snapshot(options, scratch, store, reported)
        return 0
    except Failure as failure:
        print(f"FAILED: {failure}", file=sys.stderr)
        return 1
    finally:
        if options.keep:
            print(f"scratch folder kept: {scratch}")
        else:
            shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
