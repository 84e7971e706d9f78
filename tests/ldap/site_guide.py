#!/usr/bin/env python3
"""The administrator's guide of docs/directory-client.md ("Setting up a site's existing OpenLDAP
server"), run as it stands on a fresh site: a cn=config slapd reached through a socket of its
own, holding dc=uni,dc=example with uid-named people under ou=people (more of them than the
site's size limit), a groupOfNames of operators, a replicator, and a consumer that replicates it.

Every block of the guide marked "# guide: NAME" runs as written; only what names the example
site's servers (ldapi:///, ldap://ldap.uni.example) and the password are put in. Between the
steps the test checks what an administrator would see: before the limits, listing the people is
an error in words (exit 1), not a short list; each certificate the workstation cannot check
ends tallycmd in words (exit 1); after the last step tallycmd, over StartTLS, lists them all,
deposits to a person who had no account and to the members of a group, the records reach the log
on the log server the guide's tallynet.ini names and name the bound operator with the balances
their changes produced, and the consumer, once it holds the provider's state (its contextCSN),
has the changes and refers a deposit made through it to the provider, in words on both outputs.
Last, the guide's rule that lets a person read only their own balance: jsmith reads his and not
mjones's, while the operator's list and the replication go on as before.

    site_guide.py --source-dir DIR --tallycmd PATH [--keep]
"""

import argparse
import os
import re
import secrets
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "scripts", "lib"))
from scratch_slapd import (Failure, find_program, free_port, make_certificates,  # noqa: E402
                           module_folder, run, stop_process)

SKIP = 77
SUFFIX = "dc=uni,dc=example"
PEOPLE = 600  # more than the site's size limit of 500
SITE_SCHEMAS = ("core", "cosine", "inetorgperson", "nis")


def config_ldif(folder, password, socket_url, provider_url=None):
    """A site's own configuration: its schemas (not TallyDesk's), its access rules and limits,
    root over the socket as a Debian server has it; a consumer of `provider_url` when given."""
    peer = f"gidNumber={os.getgid()}+uidNumber={os.getuid()},cn=peercred,cn=external,cn=auth"
    modules = ["back_mdb", "syncprov"]
    path = module_folder()
    text = f"""dn: cn=config
objectClass: olcGlobal
cn: config
olcPidFile: {folder}/slapd.pid

"""
    if path:
        text += ("dn: cn=module{0},cn=config\nobjectClass: olcModuleList\ncn: module{0}\n"
                 f"olcModulePath: {path}\n" + "".join(f"olcModuleLoad: {m}\n" for m in modules) +
                 "\n")
    text += "dn: cn=schema,cn=config\nobjectClass: olcSchemaConfig\ncn: schema\n\n"
    text += "".join(f"include: file:///etc/ldap/schema/{s}.ldif\n\n" for s in SITE_SCHEMAS)
    text += f"""dn: olcDatabase={{-1}}frontend,cn=config
objectClass: olcDatabaseConfig
objectClass: olcFrontendConfig
olcDatabase: {{-1}}frontend
olcSizeLimit: 500

dn: olcDatabase={{0}}config,cn=config
objectClass: olcDatabaseConfig
olcDatabase: {{0}}config
olcAccess: {{0}}to * by dn.exact={peer} manage by * break

dn: olcDatabase={{1}}mdb,cn=config
objectClass: olcDatabaseConfig
objectClass: olcMdbConfig
olcDatabase: {{1}}mdb
olcSuffix: {SUFFIX}
olcDbDirectory: {folder}/db
olcDbMaxSize: 1073741824
olcDbNoSync: TRUE
olcRootDN: cn=admin,{SUFFIX}
olcRootPW: {password}
olcDbIndex: objectClass eq
olcDbIndex: cn,uid eq
olcDbIndex: entryCSN,entryUUID eq
olcAccess: {{0}}to attrs=userPassword by self write by anonymous auth by * none
olcAccess: {{1}}to * by users read by * none
olcLimits: {{0}}dn.exact="cn=replicator,{SUFFIX}" size=unlimited time=unlimited
olcLimits: {{1}}users size.soft=500 size.hard=500 size.pr=200
"""
    if provider_url:
        text += (f'olcSyncrepl: rid=001 provider={provider_url} bindmethod=simple '
                 f'binddn="cn=replicator,{SUFFIX}" credentials={password} '
                 f'searchbase="{SUFFIX}" type=refreshAndPersist retry="1 +" timeout=3\n'
                 f"olcUpdateRef: {provider_url}\n")
    else:
        text += """
dn: olcOverlay=syncprov,olcDatabase={1}mdb,cn=config
objectClass: olcOverlayConfig
objectClass: olcSyncProvConfig
olcOverlay: syncprov
"""
    return text


def site_tree(password):
    records = [f"dn: {SUFFIX}\nobjectClass: dcObject\nobjectClass: organization\ndc: uni\n"
               "o: University",
               f"dn: cn=replicator,{SUFFIX}\nobjectClass: organizationalRole\n"
               f"objectClass: simpleSecurityObject\ncn: replicator\nuserPassword: {password}",
               f"dn: ou=people,{SUFFIX}\nobjectClass: organizationalUnit\nou: people",
               f"dn: ou=groups,{SUFFIX}\nobjectClass: organizationalUnit\nou: groups"]
    people = [("ops1", "Olga Operator"), ("jsmith", "John Smith"), ("mjones", "Mary Jones")]
    people += [(f"p{i:04d}", f"Person {i}") for i in range(PEOPLE)]
    for uid, name in people:
        record = (f"dn: uid={uid},ou=people,{SUFFIX}\nobjectClass: inetOrgPerson\nuid: {uid}\n"
                  f"cn: {name}\nsn: {name.split()[-1]}")
        if uid in ("ops1", "jsmith"):
            record += f"\nuserPassword: {password}"
        records.append(record)
    records.append(f"dn: cn=print-operators,ou=groups,{SUFFIX}\nobjectClass: groupOfNames\n"
                   f"cn: print-operators\nmember: uid=ops1,ou=people,{SUFFIX}")
    records.append(f"dn: cn=staff,ou=groups,{SUFFIX}\nobjectClass: groupOfNames\ncn: staff\n"
                   f"member: uid=jsmith,ou=people,{SUFFIX}\nmember: uid=mjones,ou=people,{SUFFIX}")
    return "\n\n".join(records) + "\n"


class Server:
    def __init__(self, scratch, name, password, provider_url=None):
        self.folder = os.path.join(scratch, name)
        os.makedirs(os.path.join(self.folder, "slapd.d"))
        os.makedirs(os.path.join(self.folder, "db"))
        self.url = f"ldap://127.0.0.1:{free_port()}"
        self.socket = "ldapi://" + urllib.parse.quote(os.path.join(self.folder, "ldapi"), safe="")
        config = os.path.join(self.folder, "config.ldif")
        with open(config, "w") as out:
            out.write(config_ldif(self.folder, password, self.socket, provider_url))
        run([find_program("slapadd"), "-n0", "-F", os.path.join(self.folder, "slapd.d"), "-l",
             config], f"slapadd of {name}'s configuration")
        self.process = None

    def load(self, ldif_path):
        run([find_program("slapadd"), "-q", "-F", os.path.join(self.folder, "slapd.d"), "-b",
             SUFFIX, "-l", ldif_path], "slapadd of the site's tree")

    def start(self):
        log = open(os.path.join(self.folder, "slapd.log"), "w")
        self.process = subprocess.Popen(
            [find_program("slapd"), "-d", "0", "-F", os.path.join(self.folder, "slapd.d"), "-h",
             f"{self.url} {self.socket}"], stdout=log, stderr=subprocess.STDOUT)
        for _ in range(200):
            if self.process.poll() is not None:
                raise Failure(f"slapd at {self.url} ended at start-up (see {log.name})")
            probe = subprocess.run([find_program("ldapsearch"), "-Y", "EXTERNAL", "-H",
                                    self.socket, "-s", "base", "-b", "", "(objectClass=*)"],
                                   capture_output=True)
            if probe.returncode == 0:
                return
            time.sleep(0.05)
        raise Failure(f"slapd at {self.url} did not answer within 10 seconds")

    def stop(self):
        stop_process(self.process)


def guide_blocks(source_dir):
    """The guide's blocks by name: fenced blocks whose first line is '# guide: NAME' (or ';')."""
    with open(os.path.join(source_dir, "docs", "directory-client.md"), encoding="utf-8") as f:
        text = f.read()
    blocks = {}
    for body in re.findall(r"^```[a-z]*\n(.*?)^```$", text, re.S | re.M):
        first, _, rest = body.partition("\n")
        match = re.match(r"[#;] guide: (.+)$", first)
        if match:
            blocks[match.group(1).strip()] = rest
    wanted = {"schema", "access", "access, own balance only", "limits", "indexes", "restart",
              "password", "tallynet.ini", "tls", "tls client", "check"}
    if not wanted <= blocks.keys():
        raise Failure(f"the guide lacks the blocks {sorted(wanted - blocks.keys())}")
    return blocks


class Site:
    def __init__(self, options, scratch):
        self.options = options
        self.scratch = scratch
        self.password = secrets.token_hex(10)
        self.provider = Server(scratch, "provider", self.password)
        self.consumer = None
        self.work = os.path.join(scratch, "workstation")
        os.makedirs(self.work)
        self.env = dict(os.environ)
        self.env["PATH"] = os.path.dirname(os.path.abspath(options.tallycmd)) + os.pathsep + \
            self.env["PATH"]
        self.env["TALLYNET_INI"] = os.path.join(self.work, "tallynet.ini")
        self.certificates = os.path.join(scratch, "tls")
        self.network = os.path.join(scratch, "network")

    def write_ini(self, store_lines="", url=None, bind_dn=None):
        """The guide's tallynet.ini with `store_lines` added to [Store], on `url` (the provider
        by default) as `bind_dn` (ops1 by default); the log server's volume is the sample
        network's ACCT1."""
        ini = self.blocks["tallynet.ini"].replace("ldap://ldap.uni.example",
                                                  url or self.provider.url)
        ini = ini.replace("[Store]\n", "[Store]\n" + store_lines, 1)
        if "ACCT1=/srv/acct1" not in ini:
            raise Failure("the guide's tallynet.ini names no volume for its log server ACCT1")
        ini = ini.replace("ACCT1=/srv/acct1", f"ACCT1={self.network}/servers/ACCT1")
        if bind_dn:
            ini = re.sub(r"^BindDN=.*$", f"BindDN={bind_dn}", ini, flags=re.M)
        with open(self.env["TALLYNET_INI"], "w") as out:
            out.write(ini)

    def block(self, name, server=None, cwd=None, expect_ok=True):
        """Runs the guide's block NAME as written, on `server` (the provider by default)."""
        text = self.blocks[name]
        text = text.replace("ldapi:///", (server or self.provider).socket)
        text = text.replace("ldap://ldap.uni.example", self.provider.url)
        text = text.replace("'PASSWORD'", f"'{self.password}'")
        text = text.replace("/etc/ldap/tls/", self.certificates + "/")
        text = text.replace("/usr/share/tallydesk/tallydesk.ldif", os.path.join(
            self.options.source_dir, "dirstore", "schema", "tallydesk.ldif"))
        result = subprocess.run(["bash", "-e", "-c", text], cwd=cwd or self.work, env=self.env,
                                capture_output=True, text=True, timeout=300)
        if expect_ok and result.returncode != 0:
            raise Failure(f"guide block '{name}' failed (exit {result.returncode}):\n{text}\n"
                          f"{result.stdout}{result.stderr}")
        return result

    def tallycmd(self, *words):
        return subprocess.run([self.options.tallycmd, *words], cwd=self.work, env=self.env,
                              capture_output=True, text=True, timeout=300)

    def admin_search(self, server, base, *attributes):
        return subprocess.run([find_program("ldapsearch"), "-LLL", "-Y", "EXTERNAL", "-H",
                               server.socket, "-b", base, "-s", "base", "(objectClass=*)",
                               *attributes], capture_output=True, text=True).stdout

    def indexed_finds(self, server):
        """Whether searches through the guide's new indexes find the first and the last entries
        of the tree: slapd builds a new index in the background, entry by entry, and a search
        through an index not built yet, or one a restart cut short, misses entries."""
        def found(base, scope, query):
            return subprocess.run([find_program("ldapsearch"), "-LLL", "-Y", "EXTERNAL", "-H",
                                   server.socket, "-b", base, "-s", scope, query, "1.1"],
                                  capture_output=True, text=True).stdout
        return (f"dn: ou=people,{SUFFIX}" in found(SUFFIX, "one", "(ou=people)") and
                f"dn: cn=staff,ou=groups,{SUFFIX}" in found(
                    SUFFIX, "sub", f"(member=uid=mjones,ou=people,{SUFFIX})"))

    def restart(self, server):
        """The guide's restart, the test stopping and starting its own slapd where the guide's
        administrator uses systemctl, and slapindex run as the test's user on its folders."""
        server.stop()
        lines = []
        for line in self.blocks["restart"].splitlines():
            if line.startswith("systemctl "):
                continue
            as_slapd = re.fullmatch(r"su -s /bin/sh openldap -c '(.*)'", line)
            lines.append(as_slapd.group(1) if as_slapd else line)
        command = "\n".join(lines).replace("/etc/ldap/slapd.d",
                                           os.path.join(server.folder, "slapd.d"))
        command = re.sub(r"^slapindex ", find_program("slapindex") + " ", command, flags=re.M)
        result = subprocess.run(["bash", "-e", "-c", command], capture_output=True, text=True,
                                timeout=300)
        if result.returncode != 0:
            raise Failure(f"guide block 'restart' failed (exit {result.returncode}):\n{command}\n"
                          f"{result.stdout}{result.stderr}")
        server.start()

    def context_csn(self, server):
        """The replication state a server holds for the suffix: its contextCSN values."""
        held = self.admin_search(server, SUFFIX, "contextCSN")
        return sorted(re.findall(r"^contextCSN: (\S+)$", held, re.M))

    def wait_for_consumer(self, seconds=60):
        """Waits until the consumer holds the provider's state, so that a check of the consumer
        sees every change the provider has (on a loaded machine replication takes its time)."""
        wanted = self.context_csn(self.provider)
        deadline = time.time() + seconds
        while time.time() < deadline:
            if wanted and self.context_csn(self.consumer) == wanted:
                return
            time.sleep(0.2)
        raise Failure(f"the consumer did not catch up with the provider within {seconds} s: "
                      f"{self.context_csn(self.consumer)} against {wanted}")

    def run(self):
        self.blocks = guide_blocks(self.options.source_dir)
        tree = os.path.join(self.scratch, "site.ldif")
        with open(tree, "w") as out:
            out.write(site_tree(self.password))
        self.provider.load(tree)
        self.provider.start()
        self.consumer = Server(self.scratch, "consumer", self.password, self.provider.url)
        self.consumer.start()

        # A workstation that knows the log server: the sample network's servers.
        network = self.network
        run(["bash", os.path.join(self.options.source_dir, "tools", "samplenet", "lay.sh"),
             network], "laying the sample network")

        # 1 and 2: the schema on the consumer first, then the provider; the rights.
        self.block("schema", self.consumer, cwd=self.options.source_dir)
        self.block("schema", self.provider, cwd=self.options.source_dir)
        self.block("access")
        # 6 and 7 now, to see what the site's own limits do to TallyDesk.
        self.block("password")
        self.write_ini()
        for words in (["balances", "people", "--out", "-"], ["show", "--context", "people"],
                      ["deposit", "1", "--context", "people"],
                      ["deposit", "1", "--context", "people", "--dry-run"]):
            listed = self.tallycmd(*words)
            if listed.returncode != 1 or "size limit" not in listed.stderr.lower():
                raise Failure(f"under the site's own limits, tallycmd {' '.join(words)} must "
                              f"fail in words with exit 1; got {listed.returncode}:\n"
                              f"{listed.stdout}{listed.stderr}")
        # 3 and 4 on both servers (workstations may read from the consumer).
        for server in (self.provider, self.consumer):
            self.block("limits", server)
            self.block("indexes", server)
            self.restart(server)  # after which the new limit comes first
            if not self.indexed_finds(server):
                raise Failure(f"after the guide's restart, searches through the new indexes of "
                              f"{server.url} miss entries")
        # 8: TLS; the checks then run over it.
        self.check_tls()
        # 9: the checks, as the guide gives them.
        self.log = os.path.join(network, "servers", "ACCT1", "SYS", "SYSTEM", "JOBTALLY",
                                "JOBTALLY.LOG")
        self.log_start = os.path.getsize(self.log)
        checked = self.block("check")
        for uid in ("jsmith", "mjones", "ops1", f"p{PEOPLE - 1:04d}"):
            if not re.search(rf"^{uid}\b", checked.stdout, re.M):
                raise Failure(f"the balances list lacks {uid}:\n{checked.stdout}")
        self.check_records()
        self.wait_for_consumer()
        self.check_entries()
        self.check_consumer_refers_changes()
        self.check_own_balance_only()
        print("site_guide: the guide's steps hold on a fresh site")

    def check_tls(self):
        """The guide's TLS step on the provider and the workstation; before the good lines, each
        certificate the client cannot check (another authority's, another name's, a CA file that
        is not there) ends tallycmd in words with exit 1."""
        os.makedirs(self.certificates)
        ca, _, _, other = make_certificates(self.certificates)
        self.block("tls")
        shutil.copy(ca, os.path.join(self.work, "site-ca.pem"))
        client = self.blocks["tls client"]
        port = self.provider.url.rsplit(":", 1)[1]
        refusals = [
            (client.replace("site-ca.pem", other), None, "certificate is not trusted"),
            (client, f"ldap://localhost:{port}", "does not match the name in [Store] Url"),
            (client.replace("site-ca.pem", "gone-ca.pem"), None, "gone-ca.pem cannot be read"),
        ]
        for lines, url, words in refusals:
            self.write_ini(lines, url)
            refused = self.tallycmd("balances", "people", "--out", "-")
            if refused.returncode != 1 or words not in refused.stderr or \
                    "the login was not sent" not in refused.stderr:
                raise Failure(f"tallycmd over TLS with\n{lines}on {url or self.provider.url} "
                              f"must say '{words}' and exit 1; got {refused.returncode}:\n"
                              f"{refused.stdout}{refused.stderr}")
        self.write_ini(client)

    def check_consumer_refers_changes(self):
        """A deposit through the consumer is refused in words that name the provider, exit 1,
        and writes no record. (The consumer holds no passwords: its root logs in.)"""
        self.write_ini(url=self.consumer.url, bind_dn=f"cn=admin,{SUFFIX}")
        size = os.path.getsize(self.log)
        refused = self.tallycmd("deposit", "1", "jsmith")
        words = f"{self.consumer.url} is a read-only copy; changes go to {self.provider.url}"
        if refused.returncode != 1 or words not in refused.stderr:
            raise Failure(f"a deposit through the consumer must say '{words}' and exit 1; got "
                          f"{refused.returncode}:\n{refused.stdout}{refused.stderr}")
        # Standard output says what the status means too, not a bare number.
        told = "jsmith: not changed: accounting error -672 (the directory server takes no changes)"
        if refused.stdout.strip() != told:
            raise Failure(f"a deposit the consumer refused must print '{told}'; got:\n"
                          f"{refused.stdout}")
        if os.path.getsize(self.log) != size:
            raise Failure("a deposit the consumer refused wrote a record")

    def check_records(self):
        """The records the checks wrote: the bound operator, the balances the changes produced
        (the sample network's shared settings write amounts with two decimals)."""
        with open(self.log, "rb") as f:
            f.seek(self.log_start)
            records = f.read().decode("latin-1").splitlines()
        wanted = [("jsmith.people", "5.00", "5.00"), ("jsmith.people", "1.00", "6.00"),
                  ("mjones.people", "1.00", "1.00")]
        got = []
        for line in records:
            fields = line.split(",")
            got.append((fields[0].strip('"'), fields[-2], fields[-1]))
            if fields[2].strip('"') != "ops1.people":
                raise Failure(f"a record names another operator than ops1.people: {line}")
        if sorted(got) != sorted(wanted):
            raise Failure(f"the records are {got}, not {wanted}")

    def check_own_balance_only(self):
        """The guide's rule for a site where a person reads only their own balance: jsmith,
        bound as himself, reads his balance and not mjones's; the operator still lists every
        balance and changes them, and the replicator still carries the change to the consumer."""
        self.block("access, own balance only")
        password_file = os.path.join(self.work, "jsmith.pw")
        with open(os.open(password_file, os.O_WRONLY | os.O_CREAT, 0o600), "w") as out:
            out.write(self.password)

        def as_jsmith(uid):
            return subprocess.run(
                [find_program("ldapsearch"), "-LLL", "-x", "-H", self.provider.url, "-D",
                 f"uid=jsmith,ou=people,{SUFFIX}", "-y", password_file, "-b",
                 f"uid={uid},ou=people,{SUFFIX}", "-s", "base", "accountBalance"],
                capture_output=True, text=True)
        own = as_jsmith("jsmith")
        other = as_jsmith("mjones")
        if own.returncode != 0 or "accountBalance: 600" not in own.stdout:
            raise Failure(f"jsmith cannot read his own balance under the guide's rule:\n"
                          f"{own.stdout}{own.stderr}")
        if "accountBalance" in other.stdout:
            raise Failure(f"jsmith reads mjones's balance under the guide's rule:\n{other.stdout}")
        self.write_ini(self.blocks["tls client"])
        deposit = self.tallycmd("deposit", "2", "mjones")
        listed = self.tallycmd("balances", "people", "--out", "-")
        if deposit.returncode != 0 or not re.search(r"^mjones\s+3\.00\s*$", listed.stdout, re.M):
            raise Failure("under the guide's rule the operator must still change and list every "
                          f"balance:\n{deposit.stdout}{deposit.stderr}{listed.stdout[:400]}"
                          f"{listed.stderr}")
        self.wait_for_consumer()
        held = self.admin_search(self.consumer, f"uid=mjones,ou=people,{SUFFIX}", "accountBalance")
        if "accountBalance: 300" not in held:
            raise Failure(f"the replicator no longer carries balances to the consumer:\n{held}")

    def check_entries(self):
        dn = f"uid=jsmith,ou=people,{SUFFIX}"
        held = self.admin_search(self.provider, dn, "objectClass", "accountBalance")
        if "objectClass: tallyAccount" not in held or "accountBalance: 600" not in held:
            raise Failure(f"jsmith on the provider:\n{held}")
        deadline = time.time() + 20
        while time.time() < deadline:
            if "accountBalance: 600" in self.admin_search(self.consumer, dn, "accountBalance"):
                return
            time.sleep(0.2)
        raise Failure("the consumer did not receive jsmith's account")


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--source-dir", required=True)
    parser.add_argument("--tallycmd", required=True)
    parser.add_argument("--keep", action="store_true", help="keep the scratch folder")
    options = parser.parse_args()
    options.source_dir = os.path.abspath(options.source_dir)
    options.tallycmd = os.path.abspath(options.tallycmd)
    missing = [p for p in ("slapd", "slapadd", "ldapadd", "ldapsearch", "ldapmodify",
                           "ldapwhoami") if find_program(p) is None]
    if missing:
        message = f"OpenLDAP programs not installed: {', '.join(missing)}"
        if os.environ.get("TALLY_REQUIRE_SLAPD") == "1":
            print(f"FAILED: {message}", file=sys.stderr)
            return 1
        print(f"SKIPPED: {message}")
        return SKIP
    scratch = tempfile.mkdtemp(prefix="tally-site-guide-")
    site = Site(options, scratch)
    try:
        site.run()
        return 0
    except Failure as failure:
        print(f"FAILED: {failure}", file=sys.stderr)
        return 1
    finally:
        for server in (site.provider, site.consumer):
            if server:
                server.stop()
        if options.keep:
            print(f"site_guide: kept {scratch}")
        else:
            shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
