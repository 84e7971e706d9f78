#!/usr/bin/env python3
"""A private OpenLDAP slapd on the loopback with TallyDesk's schema, for the tests, the benchmark
and `scripts/run.sh --ldap`; optionally a second one that replicates it (syncrepl).

    scratch_slapd.py [--ldif FILE [--operator RDN]] [--consumer] [--tls] [--stats] [--restartable SECONDS] [--keep DIR] [--wait] -- COMMAND

Starts the server(s) in a fresh folder, runs COMMAND with the environment below, stops the
server(s) by their pid and exits with COMMAND's status. With --wait and no COMMAND it prints the
environment and serves until it is sent SIGTERM or SIGINT.

    TALLY_LDAP_URL            ldap://127.0.0.1:PORT of the server (the provider)
    TALLY_LDAP_CONSUMER_URL   the consumer's URL (with --consumer)
    TALLY_LDAP_TLS_URL        ldaps://127.0.0.1:PORT of the provider (with --tls; StartTLS works
                              on TALLY_LDAP_URL too), its certificate made for 127.0.0.1
    TALLY_LDAP_CA_FILE        the certificate of the CA that signed it (with --tls)
    TALLY_LDAP_OTHER_CA_FILE  a CA that signed nothing here, for the tests of an untrusted
                              certificate (with --tls); the certificate holds 127.0.0.1 only, so
                              ldaps://localhost:PORT is a name that does not match it
    TALLY_LDAP_EXPIRED_TLS_URL  ldaps://127.0.0.1:PORT of a TLS server whose certificate, from
                              the same CA and for 127.0.0.1, expired in 2020 (with --tls); it
                              makes the handshake and nothing else, so no login reaches anyone
    TALLY_LDAP_FUTURE_TLS_URL   the same with a certificate valid only from 2090 on
    TALLY_LDAP_SUFFIX         the database's suffix; the tree of --ldif is loaded below it
    TALLY_LDAP_ADMIN_DN       the database's root DN
    TALLY_LDAP_OPERATOR_DN    a login that may change the account attributes (group operators);
                              with --operator RDN, that entry of the --ldif tree
    TALLY_LDAP_READER_DN      a login that may only read
    TALLY_LDAP_PASSWORD_FILE  a file (mode 600) holding the password of all three logins
    TALLY_LDAP_WRONG_PASSWORD_FILE  the same with another password
    TALLY_LDAP_SCAN_DN        a login of its own password, which nothing but a login uses (for
    TALLY_LDAP_SCAN_PASSWORD_FILE  the tests that look for the password in memory)
    TALLY_LDAP_BAD_PASSWORD_FILES  password files to be refused, ':'-separated: an empty one,
                              one readable by the group, a FIFO
    TALLY_LDAP_MODE_PASSWORD_FILES  the password in files of each mode, ':'-separated MODE=FILE
                              (0600, 0400, 0640, 0660, 0604, 0644, 0606), for the owner-only rule
    TALLY_LDAP_SILENT_PORT    a loopback port that takes connections and never answers (for the
                              tests of the timeout)
    TALLY_LDAP_SLAPD_PID      the provider's pid (a test may stop it to see the server go away)
    TALLY_LDAP_RESTART_PID    with --restartable: this script's pid; SIGUSR1 to it kills the
                              provider (SIGKILL) and starts it again on the same port and data
                              SECONDS later (TALLY_LDAP_SLAPD_PID then names the old one)
    TALLY_LDAP_LOG            the provider's log (with --stats: one line per operation and
                              per attribute changed, "MOD attr=accountBalance")

The password is made up here, handed on only in that file and never put on a command line:
ldapadd and ldapsearch read it with -y.

Exit status 77 when the OpenLDAP programs are not installed, unless TALLY_REQUIRE_SLAPD=1, which
makes that a failure (scripts/test.sh sets it: the full run never skips the LDAP tests).
"""

import argparse
import os
import secrets
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77
HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, "..", ".."))
SCHEMA = os.path.join(SOURCE, "dirstore", "schema", "tallydesk.ldif")
SUFFIX = "dc=tally,dc=test"
SBIN = ("/usr/sbin", "/usr/local/sbin", "/sbin")
PROGRAMS = ("slapd", "slapadd", "ldapadd", "ldapsearch")

# The attributes an operator changes; everybody else who logs in may only read them.
ACCOUNT_ATTRIBUTES = ("accountBalance,minimumAccountBalance,allowUnlimitedCredit,"
                      "jobtallyColourBalance,jobtallyColourLimit,jobtallyColourNolimit,"
                      "jobtallyCopierBalance,jobtallyCopierLimit,jobtallyCopierNolimit")


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
    try:
        result = subprocess.run(args, capture_output=True, text=True, **kwargs)
    except OSError as error:
        raise Failure(f"{what}: cannot run {args[0]}: {error}") from error
    if result.returncode != 0:
        raise Failure(f"{what} failed (exit {result.returncode}):\n{result.stdout}{result.stderr}")
    return result.stdout


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def module_folder():
    for folder in ("/usr/lib/ldap", "/usr/lib/openldap", "/usr/lib64/openldap",
                   "/usr/local/libexec/openldap"):
        if os.path.exists(os.path.join(folder, "back_mdb.so")) or \
                os.path.exists(os.path.join(folder, "back_mdb.la")):
            return folder
    return None


def make_certificates(folder):
    """A CA and a server certificate for 127.0.0.1 signed by it, and a CA that signed nothing;
    (ca, certificate, key, other ca)."""
    ca_key, ca = os.path.join(folder, "ca.key"), os.path.join(folder, "ca.pem")
    key, request = os.path.join(folder, "server.key"), os.path.join(folder, "server.csr")
    certificate, extensions = os.path.join(folder, "server.pem"), os.path.join(folder, "san.cnf")
    openssl = find_program("openssl")
    if openssl is None:
        raise Failure("--tls needs openssl")
    run([openssl, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca_key, "-out", ca,
         "-days", "2", "-subj", "/CN=TallyDesk scratch CA"], "making the CA")
    other_key, other = os.path.join(folder, "other-ca.key"), os.path.join(folder, "other-ca.pem")
    run([openssl, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", other_key, "-out",
         other, "-days", "2", "-subj", "/CN=TallyDesk unrelated CA"], "making the other CA")
    run([openssl, "req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", request,
         "-subj", "/CN=127.0.0.1"], "making the server's key")
    with open(extensions, "w") as out:
        out.write("subjectAltName=IP:127.0.0.1\n")
    run([openssl, "x509", "-req", "-in", request, "-CA", ca, "-CAkey", ca_key,
         "-CAcreateserial", "-out", certificate, "-days", "2", "-extfile", extensions],
        "signing the server's certificate")
    return ca, certificate, key, other


def make_dated_certificate(folder, name, request, start, end):
    """A certificate for 127.0.0.1 from the CA of make_certificates() valid only from START to
    END (YYYYMMDDHHMMSSZ): `openssl x509 -req` cannot set dates in the past, `openssl ca` can."""
    openssl = find_program("openssl")
    database = os.path.join(folder, f"{name}-db")
    os.makedirs(database)
    open(os.path.join(database, "index.txt"), "w").close()
    with open(os.path.join(database, "serial"), "w") as out:
        out.write(f"{secrets.randbits(60):016X}\n")
    config = os.path.join(database, "ca.cnf")
    with open(config, "w") as out:
        out.write(f"[ca]\ndefault_ca = scratch\n[scratch]\ndatabase = {database}/index.txt\n"
                  f"new_certs_dir = {database}\nserial = {database}/serial\n"
                  "default_md = sha256\npolicy = anything\nunique_subject = no\n"
                  "[anything]\ncommonName = supplied\n"
                  "[server]\nsubjectAltName = IP:127.0.0.1\n")
    certificate = os.path.join(folder, f"{name}.pem")
    run([openssl, "ca", "-batch", "-config", config, "-cert", os.path.join(folder, "ca.pem"),
         "-keyfile", os.path.join(folder, "ca.key"), "-in", request, "-out", certificate,
         "-startdate", start, "-enddate", end, "-extensions", "server", "-notext"],
        f"signing the {name} certificate")
    return certificate


class HandshakeOnlyServer:
    """A TLS listener on the loopback that offers CERTIFICATE, makes the handshake a client
    agrees to and then closes: enough for a client to judge the certificate, and never anything
    a login could be sent to."""

    def __init__(self, certificate, key):
        self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.context.load_cert_chain(certificate, key)
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(16)
        self.url = f"ldaps://127.0.0.1:{self.listener.getsockname()[1]}"
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            try:
                connection, _ = self.listener.accept()
            except OSError:
                return
            with connection:
                connection.settimeout(10)
                try:
                    with self.context.wrap_socket(connection, server_side=True):
                        pass
                except (OSError, ssl.SSLError):
                    pass  # the client refused the certificate, as it should


def config_ldif(folder, admin_dn, password, provider, consumer_of, tls=None):
    modules = ["back_mdb"] + (["syncprov"] if provider else [])
    module_folder_path = module_folder()
    module_text = ""
    if module_folder_path:
        module_text = ("dn: cn=module{0},cn=config\nobjectClass: olcModuleList\ncn: module{0}\n"
                       f"olcModulePath: {module_folder_path}\n" +
                       "".join(f"olcModuleLoad: {m}\n" for m in modules) + "\n")
    tls_text = ""
    if tls:
        tls_text = (f"olcTLSCACertificateFile: {tls[0]}\nolcTLSCertificateFile: {tls[1]}\n"
                    f"olcTLSCertificateKeyFile: {tls[2]}\n")
    text = f"""dn: cn=config
objectClass: olcGlobal
cn: config
olcPidFile: {folder}/slapd.pid
olcArgsFile: {folder}/slapd.args
{tls_text}
{module_text}dn: cn=schema,cn=config
objectClass: olcSchemaConfig
cn: schema

include: file:///etc/ldap/schema/core.ldif

include: file:///etc/ldap/schema/cosine.ldif

include: file:///etc/ldap/schema/inetorgperson.ldif

include: file:///etc/ldap/schema/nis.ldif

include: file://{SCHEMA}

dn: olcDatabase={{-1}}frontend,cn=config
objectClass: olcDatabaseConfig
objectClass: olcFrontendConfig
olcDatabase: {{-1}}frontend
olcSizeLimit: 1000

dn: olcDatabase={{0}}config,cn=config
objectClass: olcDatabaseConfig
olcDatabase: {{0}}config
olcRootDN: cn=config

dn: olcDatabase={{1}}mdb,cn=config
objectClass: olcDatabaseConfig
objectClass: olcMdbConfig
olcDatabase: {{1}}mdb
olcSuffix: {SUFFIX}
olcDbDirectory: {folder}/db
olcDbMaxSize: 1073741824
olcDbNoSync: TRUE
olcRootDN: {admin_dn}
olcRootPW: {password}
olcDbIndex: objectClass eq
olcDbIndex: cn,ou,o,uid,dc eq
olcDbIndex: member,uniqueMember,memberUid eq
olcDbIndex: entryCSN,entryUUID eq
olcAccess: {{0}}to attrs=userPassword by anonymous auth by * none
olcAccess: {{1}}to attrs=objectClass val=tallyAccount by group.exact="cn=operators,{SUFFIX}" write by users read by * none
olcAccess: {{2}}to attrs={ACCOUNT_ATTRIBUTES} by group.exact="cn=operators,{SUFFIX}" write by users read by * none
olcAccess: {{3}}to * by users read by * none
olcLimits: {{0}}users size.prtotal=unlimited size.pr=1000 size.soft=1000 size.hard=unlimited
"""
    if consumer_of:
        text += (f'olcSyncrepl: rid=001 provider={consumer_of} bindmethod=simple '
                 f'binddn="{admin_dn}" credentials={password} searchbase="{SUFFIX}" '
                 'type=refreshAndPersist retry="1 +" timeout=3\n'
                 f'olcUpdateRef: {consumer_of}\n')
    if provider:
        text += f"""
dn: olcOverlay=syncprov,olcDatabase={{1}}mdb,cn=config
objectClass: olcOverlayConfig
objectClass: olcSyncProvConfig
olcOverlay: syncprov
olcSpCheckpoint: 100 1
"""
    return text


def top_ldif(password, scan_password, operator_dn=None):
    return f"""dn: {SUFFIX}
objectClass: dcObject
objectClass: organization
dc: tally
o: TallyDesk test directory

dn: cn=operator,{SUFFIX}
objectClass: organizationalRole
objectClass: simpleSecurityObject
cn: operator
userPassword: {password}

dn: cn=reader,{SUFFIX}
objectClass: organizationalRole
objectClass: simpleSecurityObject
cn: reader
userPassword: {password}

dn: cn=scan,{SUFFIX}
objectClass: organizationalRole
objectClass: simpleSecurityObject
cn: scan
userPassword: {scan_password}

dn: cn=operators,{SUFFIX}
objectClass: groupOfNames
cn: operators
member: {operator_dn or f"cn=operator,{SUFFIX}"}
"""


def below_suffix(ldif_text):
    """The records of an LDIF whose DNs name the top of the directory, moved below the suffix."""
    out = []
    for line in ldif_text.replace("\r\n", "\n").split("\n"):
        lower = line.lower()
        if lower.startswith("dn: ") or lower.startswith("member: "):
            line = f"{line},{SUFFIX}"
        out.append(line)
    return "\n".join(out)


def with_login(ldif_text, dn, password):
    """The records of an LDIF with the entry DN given a password, so that it can log in."""
    records = ldif_text.split("\n\n")
    for i, record in enumerate(records):
        if record.strip().lower().startswith(f"dn: {dn.lower()}\n"):
            # slapadd takes the classes of an entry from adjacent lines only: the added class
            # goes right after the entry's own.
            lines = record.rstrip("\n").split("\n")
            last = max(n for n, line in enumerate(lines)
                       if line.lower().startswith("objectclass:"))
            lines.insert(last + 1, "objectClass: simpleSecurityObject")
            records[i] = "\n".join(lines) + f"\nuserPassword: {password}"
            return "\n\n".join(records)
    raise Failure(f"--operator {dn}: no such entry in the tree")


def stop_process(process):
    """Ends a server this script started: politely, then for good after ten seconds."""
    if process and process.poll() is None:
        os.kill(process.pid, signal.SIGTERM)
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            os.kill(process.pid, signal.SIGKILL)
            process.wait()


class Server:
    def __init__(self, scratch, name, password, provider=False, consumer_of=None, tls=False):
        self.folder = os.path.join(scratch, name)
        self.config = os.path.join(self.folder, "slapd.d")
        os.makedirs(self.config)
        os.makedirs(os.path.join(self.folder, "db"))
        self.tls = make_certificates(self.folder) if tls else None
        config = os.path.join(self.folder, "config.ldif")
        with open(config, "w") as out:
            out.write(config_ldif(self.folder, f"cn=admin,{SUFFIX}", password, provider,
                                  consumer_of, self.tls))
        run([find_program("slapadd"), "-n0", "-F", self.config, "-l", config],
            f"slapadd of {name}'s configuration")
        self.url = f"ldap://127.0.0.1:{free_port()}"
        self.tls_url = f"ldaps://127.0.0.1:{free_port()}" if tls else None
        self.process = None

    def load(self, ldif_path):
        run([find_program("slapadd"), "-q", "-F", self.config, "-b", SUFFIX, "-l", ldif_path],
            f"slapadd of {ldif_path}")

    def start(self, password_file, stats=False, again=False):
        log = open(os.path.join(self.folder, "slapd.log"), "a" if again else "w")
        # -d keeps slapd in the foreground, so the pid held is the server's own; "stats" logs
        # every operation to it.
        self.process = subprocess.Popen(
            [find_program("slapd"), "-d", "stats" if stats else "0", "-F", self.config, "-h",
             " ".join(u for u in (self.url, self.tls_url) if u)],
            stdout=log, stderr=subprocess.STDOUT)
        for _ in range(200):
            if self.process.poll() is not None:
                with open(os.path.join(self.folder, "slapd.log")) as text:
                    raise Failure(f"slapd at {self.url} ended at start-up:\n{text.read()}")
            probe = subprocess.run([find_program("ldapsearch"), "-x", "-H", self.url, "-D",
                                    f"cn=admin,{SUFFIX}", "-y", password_file, "-s", "base", "-b",
                                    "", "(objectClass=*)"], capture_output=True)
            if probe.returncode == 0:
                return
            time.sleep(0.05)
        raise Failure(f"slapd at {self.url} did not answer within 10 seconds")

    def stop(self):
        stop_process(self.process)
        self.process = None


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--ldif", help="a tree to load below the suffix (its top is [Root])")
    parser.add_argument("--operator", help="the RDN (below the suffix) of the --ldif tree's entry "
                        "that logs in as the operator, instead of cn=operator")
    parser.add_argument("--consumer", action="store_true",
                        help="also start a consumer that replicates the server")
    parser.add_argument("--tls", action="store_true",
                        help="also serve ldaps:// and StartTLS with a certificate made here")
    parser.add_argument("--stats", action="store_true",
                        help="log every operation of the provider (TALLY_LDAP_LOG)")
    parser.add_argument("--restartable", type=float, metavar="SECONDS",
                        help="on SIGUSR1, kill the provider and start it again SECONDS later")
    parser.add_argument("--keep", help="use this folder and keep it (for a look at slapd.log)")
    parser.add_argument("--wait", action="store_true", help="serve until stopped")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    options = parser.parse_args()
    command = options.command[1:] if options.command[:1] == ["--"] else options.command

    missing = [p for p in PROGRAMS if find_program(p) is None]
    if missing:
        message = (f"OpenLDAP programs not installed: {', '.join(missing)} "
                   "(Debian packages slapd and ldap-utils)")
        if os.environ.get("TALLY_REQUIRE_SLAPD") == "1":
            print(f"FAILED: {message}", file=sys.stderr)
            return 1
        print(f"SKIPPED: {message}")
        return SKIP

    scratch = options.keep or tempfile.mkdtemp(prefix="tally-slapd-")
    os.makedirs(scratch, exist_ok=True)
    servers = []
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    try:
        password = secrets.token_hex(12)
        password_file = os.path.join(scratch, "password")
        descriptor = os.open(password_file, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
        with os.fdopen(descriptor, "w") as out:
            out.write(password + "\n")
        # A password file as it should be but with another password, for the tests of a
        # refused login (made here, since a Windows program under Wine cannot make a file 0600).
        descriptor = os.open(os.path.join(scratch, "password.wrong"),
                             os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
        with os.fdopen(descriptor, "w") as out:
            out.write("not-" + password + "\n")
        scan_password = secrets.token_hex(16)
        scan_file = os.path.join(scratch, "password.scan")
        descriptor = os.open(scan_file, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
        with os.fdopen(descriptor, "w") as out:
            out.write(scan_password + "\n")
        bad = []
        for name, mode, text in (("password.empty", 0o600, "\r\n"),
                                 ("password.group", 0o640, password + "\n")):
            bad.append(os.path.join(scratch, name))
            descriptor = os.open(bad[-1], os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
            with os.fdopen(descriptor, "w") as out:
                out.write(text)
            os.chmod(bad[-1], mode)
        moded = []
        for mode in (0o600, 0o400, 0o640, 0o660, 0o604, 0o644, 0o606):
            moded.append(f"{mode:04o}=" + os.path.join(scratch, f"password.{mode:04o}"))
            path = moded[-1].split("=", 1)[1]
            descriptor = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
            with os.fdopen(descriptor, "w") as out:
                out.write(password + "\n")
            os.chmod(path, mode)
        bad.append(os.path.join(scratch, "password.fifo"))
        os.mkfifo(bad[-1], 0o600)
        # ldap tools read the whole file as the password: keep one without the line end.
        tool_password = os.path.join(scratch, "password.tools")
        descriptor = os.open(tool_password, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
        with os.fdopen(descriptor, "w") as out:
            out.write(password)

        operator_dn = f"{options.operator},{SUFFIX}" if options.operator else f"cn=operator,{SUFFIX}"
        tree = os.path.join(scratch, "tree.ldif")
        with open(tree, "w") as out:
            out.write(top_ldif(password, scan_password, operator_dn))
            if options.ldif:
                with open(options.ldif, encoding="utf-8") as source:
                    text = below_suffix(source.read())
                if options.operator:
                    text = with_login(text, operator_dn, password)
                out.write("\n" + text)

        provider = Server(scratch, "provider", password, provider=options.consumer,
                          tls=options.tls)
        provider.load(tree)
        provider.start(tool_password, stats=options.stats)
        servers.append(provider)
        # Connections to it complete in the kernel's backlog; nothing is ever read or sent.
        silent = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        silent.bind(("127.0.0.1", 0))
        silent.listen(16)
        env = dict(os.environ)
        env.update({
            "TALLY_LDAP_SILENT_PORT": str(silent.getsockname()[1]),
            "TALLY_LDAP_URL": provider.url,
            "TALLY_LDAP_SUFFIX": SUFFIX,
            "TALLY_LDAP_ADMIN_DN": f"cn=admin,{SUFFIX}",
            "TALLY_LDAP_OPERATOR_DN": operator_dn,
            "TALLY_LDAP_READER_DN": f"cn=reader,{SUFFIX}",
            "TALLY_LDAP_PASSWORD_FILE": password_file,
            "TALLY_LDAP_WRONG_PASSWORD_FILE": os.path.join(scratch, "password.wrong"),
            "TALLY_LDAP_SCAN_DN": f"cn=scan,{SUFFIX}",
            "TALLY_LDAP_SCAN_PASSWORD_FILE": scan_file,
            "TALLY_LDAP_BAD_PASSWORD_FILES": ":".join(bad),
            "TALLY_LDAP_MODE_PASSWORD_FILES": ":".join(moded),
            "TALLY_LDAP_SLAPD_PID": str(provider.process.pid),
            "TALLY_LDAP_LOG": os.path.join(provider.folder, "slapd.log"),
        })
        if options.restartable is not None:
            def restart(*_):
                provider.process.kill()
                provider.process.wait()
                time.sleep(options.restartable)
                provider.start(tool_password, stats=options.stats, again=True)

            signal.signal(signal.SIGUSR1, restart)
            env["TALLY_LDAP_RESTART_PID"] = str(os.getpid())
        if provider.tls:
            env["TALLY_LDAP_TLS_URL"] = provider.tls_url
            env["TALLY_LDAP_CA_FILE"] = provider.tls[0]
            env["TALLY_LDAP_OTHER_CA_FILE"] = provider.tls[3]
            request = os.path.join(provider.folder, "server.csr")
            for variable, name, start, end in (
                    ("TALLY_LDAP_EXPIRED_TLS_URL", "expired", "20200101000000Z", "20200201000000Z"),
                    ("TALLY_LDAP_FUTURE_TLS_URL", "future", "20900101000000Z", "20900201000000Z")):
                dated = make_dated_certificate(provider.folder, name, request, start, end)
                env[variable] = HandshakeOnlyServer(dated, provider.tls[2]).url
        if options.consumer:
            consumer = Server(scratch, "consumer", password, consumer_of=provider.url)
            consumer.start(tool_password)
            servers.append(consumer)
            env["TALLY_LDAP_CONSUMER_URL"] = consumer.url

        if options.wait or not command:
            for key in sorted(k for k in env if k.startswith("TALLY_LDAP_")):
                print(f"{key}={env[key]}", flush=True)
            signal.signal(signal.SIGINT, lambda *_: sys.exit(0))
            while all(s.process.poll() is None for s in servers):
                time.sleep(0.5)
            raise Failure("a slapd ended by itself")
        return subprocess.run(command, env=env).returncode
    except Failure as failure:
        print(f"FAILED: {failure}", file=sys.stderr)
        return 1
    finally:
        for server in servers:
            server.stop()
        if not options.keep:
            shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
