#!/usr/bin/env python3
"""Captures the answers a real slapd sends, as seeds for ldap_answers_fuzz: OpenLDAP's own
command-line clients ask the scratch server (scripts/lib/scratch_slapd.py) through a recording
relay, and what the server sends back on each connection is one seed file, named after the
request.

    scripts/lib/scratch_slapd.py --consumer -- fuzz/ldapstore/capture_answers.py OUT_FOLDER

The requests are the program's own kinds: a bind, "Who am I?", searches of the root entry, of
entries with the account attributes, paged and refused, modifies with the Post-Read control
(an increment made, one refused) and one that the consumer refers to the provider.
"""

import os
import socket
import subprocess
import sys
import tempfile
import threading

TREE = """dn: ou=Seeds,{suffix}
objectClass: organizationalUnit
ou: Seeds

dn: cn=JSMITH,ou=Seeds,{suffix}
objectClass: tallyUser
cn: JSMITH
fullName: John Smith
accountBalance: 1100
minimumAccountBalance: 0

dn: cn=MJONES,ou=Seeds,{suffix}
objectClass: tallyUser
cn: MJONES
fullName: Mary Jones
accountBalance: -250
allowUnlimitedCredit: TRUE

dn: cn=Caf\\C3\\A9 \\2C Bar,ou=Seeds,{suffix}
objectClass: tallyUser
cn:: Q2Fmw6kgLCBCYXI=
accountBalance: 0
"""


def message_length(data):
    """The size of the first whole BER element of `data`, or 0 while it is not whole."""
    if len(data) < 2:
        return 0
    first = data[1]
    if first < 0x80:
        header, length = 2, first
    else:
        octets = first & 0x7F
        if len(data) < 2 + octets:
            return 0
        header, length = 2 + octets, int.from_bytes(data[2:2 + octets], "big")
    return header + length if len(data) >= header + length else 0


class Recorder:
    """A relay on a loopback port to `target`; keeps what the server sent on each connection."""

    def __init__(self, target):
        self.target = target
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(4)
        self.port = self.listener.getsockname()[1]
        self.answers = []
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            server = socket.create_connection(self.target)
            received = bytearray()
            self.answers.append(received)
            threading.Thread(target=self.pump, args=(client, server, None), daemon=True).start()
            threading.Thread(target=self.pump, args=(server, client, received),
                             daemon=True).start()

    @staticmethod
    def pump(source, sink, kept):
        while True:
            try:
                chunk = source.recv(65536)
            except OSError:
                chunk = b""
            if not chunk:
                for end in (sink, source):
                    try:
                        end.shutdown(socket.SHUT_RDWR)
                    except OSError:
                        pass
                return
            if kept is not None:
                kept.extend(chunk)
            sink.sendall(chunk)


def host_port(url):
    host, port = url.split("//", 1)[1].rstrip("/").rsplit(":", 1)
    return host, int(port)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    env = os.environ
    suffix, admin = env["TALLY_LDAP_SUFFIX"], env["TALLY_LDAP_ADMIN_DN"]
    # The tools take the whole file as the password: a copy without the line end, mode 600.
    with open(env["TALLY_LDAP_PASSWORD_FILE"]) as source:
        secret = source.read().rstrip("\r\n")
    password = os.path.join(tempfile.mkdtemp(), "password")
    with os.fdopen(os.open(password, os.O_WRONLY | os.O_CREAT, 0o600), "w") as copy:
        copy.write(secret)
    subprocess.run(["ldapadd", "-x", "-H", env["TALLY_LDAP_URL"], "-D", admin, "-y", password],
                   input=TREE.format(suffix=suffix), text=True, check=True,
                   capture_output=True)
    provider = Recorder(host_port(env["TALLY_LDAP_URL"]))
    consumer = Recorder(host_port(env["TALLY_LDAP_CONSUMER_URL"]))
    seeds = f"ou=Seeds,{suffix}"
    login = ["-x", "-D", admin, "-y", password]
    increment = (f"dn: cn=JSMITH,{seeds}\nchangetype: modify\nincrement: accountBalance\n"
                 "accountBalance: 500\n-\n")
    refused = (f"dn: cn=NOBODY,{seeds}\nchangetype: modify\nincrement: accountBalance\n"
               "accountBalance: 5\n-\n")
    requests = [
        ("bind-whoami", provider, ["ldapwhoami"] + login, None),
        ("root-entry", provider, ["ldapsearch"] + login + [
            "-b", "", "-s", "base", "(objectClass=*)", "supportedControl", "supportedFeatures",
            "namingContexts", "subschemaSubentry"], None),
        ("users-paged", provider, ["ldapsearch"] + login + [
            "-b", seeds, "-s", "one", "-E", "pr=2/noprompt", "(objectClass=tallyUser)"], None),
        ("user-base", provider, ["ldapsearch"] + login + [
            "-b", f"cn=JSMITH,{seeds}", "-s", "base", "(objectClass=*)"], None),
        ("no-such-object", provider, ["ldapsearch"] + login + [
            "-b", f"ou=Nowhere,{suffix}", "(objectClass=*)"], None),
        ("increment-post-read", provider, ["ldapmodify"] + login + [
            "-e", "!postread=accountBalance"], increment),
        ("increment-refused", provider, ["ldapmodify"] + login + [
            "-e", "!postread=accountBalance"], refused),
        ("consumer-referral", consumer, ["ldapmodify"] + login + [
            "-e", "!postread=accountBalance"], increment),
    ]
    for name, recorder, command, stdin in requests:
        before = len(recorder.answers)
        port = recorder.port
        subprocess.run(command + ["-H", f"ldap://127.0.0.1:{port}"], input=stdin, text=True,
                       capture_output=True)
        answer = bytes(recorder.answers[before]) if len(recorder.answers) > before else b""
        at, messages = 0, 0
        while (size := message_length(answer[at:])) > 0:
            at, messages = at + size, messages + 1
        with open(os.path.join(out, name), "wb") as seed:
            seed.write(answer[:at])
        print(f"{name}: {messages} messages, {at} bytes")
    os.remove(password)
    os.rmdir(os.path.dirname(password))


if __name__ == "__main__":
    main()
