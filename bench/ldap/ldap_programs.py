#!/usr/bin/env python3
"""Whole programs against a slapd holding a 10,000-user context (scripts/bench-ldap.sh runs it
under scripts/lib/scratch_slapd.py --stats, after ldap_bench, whose tallynet-ldap.ini and
ldap-password it uses), paired in one run:

  - a deposit to every user of the context through tallycmd, against ldapmodify sending the same
    increments from one LDIF in one run: wall time and CPU (user + system of the program), and
    tallycmd's peak memory (maximum resident set);
  - with --wine BUILD: the window's start to a painted MainList of the context, over the server
    and over the embedded store (bench/ldap/window_timing.py), and how often the start asked
    the server for the context's entries.

    ldap_programs.py NETWORK TALLYCMD CONTEXT [--wine BUILD]
"""
import argparse
import os
import re
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def run_measured(words, env=None):
    """Runs WORDS with its output thrown away: (wall seconds, CPU seconds, peak RSS in MiB)."""
    started = time.monotonic()
    with open(os.devnull, "w") as null:
        process = subprocess.Popen(words, stdout=null, stderr=subprocess.PIPE, env=env)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.monotonic() - started
    process.returncode = os.waitstatus_to_exitcode(status)
    errors = process.stderr.read().decode(errors="replace")
    process.stderr.close()
    if process.returncode != 0:
        sys.exit(f"ldap_programs: {words[0]} ended with {process.returncode}: {errors.strip()}")
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0


def context_dn(context, suffix):
    return ",".join(("ou=" if i < len(context.split(".")) - 1 else "o=") + part
                    for i, part in enumerate(context.split("."))) + "," + suffix


def user_dns(url, password_file, operator, base):
    result = subprocess.run(
        ["ldapsearch", "-LLL", "-o", "ldif-wrap=no", "-x", "-H", url, "-D", operator, "-y",
         password_file, "-E", "pr=1000/noprompt", "-b", base, "-s", "one",
         "(objectClass=tallyUser)", "1.1"],
        capture_output=True, text=True, check=True)
    return [line[4:] for line in result.stdout.splitlines() if line.startswith("dn: ")]


def ratio(a, b):
    return f"{a / b:.2f}" if b > 0 else "-"


def deposit_figures(network, tallycmd, context):
    env = dict(os.environ)
    url, suffix = env["TALLY_LDAP_URL"], env["TALLY_LDAP_SUFFIX"]
    operator = env["TALLY_LDAP_OPERATOR_DN"]
    password = os.path.join(network, "ldap-password")
    dns = user_dns(url, password, operator, context_dn(context, suffix))
    ldif = os.path.join(network, "context-increments.ldif")
    with open(ldif, "w") as out:
        for dn in dns:
            out.write(f"dn: {dn}\nchangetype: modify\nincrement: accountBalance\n"
                      "accountBalance: 1\n-\n\n")
    env["TALLYNET_INI"] = os.path.join(network, "tallynet-ldap.ini")
    cmd = run_measured([tallycmd, "deposit", "1", "--context", context], env)
    tool = run_measured(["ldapmodify", "-x", "-H", url, "-D", operator, "-y", password, "-f",
                         ldif])
    print(f"deposit to the {len(dns)} users of {context}")
    print(f"  {'':28} {'wall s':>8} {'CPU s':>8}")
    print(f"  {'tallycmd deposit --context':28} {cmd[0]:8.2f} {cmd[1]:8.2f}")
    print(f"  {'ldapmodify, one LDIF':28} {tool[0]:8.2f} {tool[1]:8.2f}")
    print(f"  {'tallycmd/ldapmodify':28} {ratio(cmd[0], tool[0]):>8} {ratio(cmd[1], tool[1]):>8}"
          "   (goal: wall 1.20, CPU 2.00)")
    print(f"  tallycmd's peak memory (max RSS): {cmd[2]:.1f} MiB\n", flush=True)


def window_figures(network, context, build, users):
    env = dict(os.environ, TALLY_BUILD_DIR=build)
    result = subprocess.run(
        [sys.executable, os.path.join(HERE, "window_timing.py"), network, context, str(users)],
        env=env, capture_output=True, text=True)
    figures = dict(re.findall(r"^window (\S+): (\S+)$", result.stdout, re.MULTILINE))
    if result.returncode != 0 or "ldap" not in figures or "embedded" not in figures:
        sys.stdout.write(result.stdout[-3000:])
        sys.exit("ldap_programs: the window's timing failed")
    ldap, embedded = float(figures["ldap"]), float(figures["embedded"])
    print(f"the window's start to a painted MainList of {context} ({users} users, best of 3)")
    print(f"  over the server      {ldap:6.2f} s   (goal 2 s)")
    print(f"  over the embedded    {embedded:6.2f} s")
    print(f"  server/embedded      {ratio(ldap, embedded):>6}     (goal 1.50)")
    print(f"  listings of {context} the server was asked for at each start: "
          f"{figures.get('listings', '?')}\n", flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("network")
    parser.add_argument("tallycmd")
    parser.add_argument("context")
    parser.add_argument("--users", type=int, default=10000)
    parser.add_argument("--wine", metavar="BUILD")
    args = parser.parse_args()
    deposit_figures(args.network, args.tallycmd, args.context)
    if args.wine:
        window_figures(args.network, args.context, args.wine, args.users)


if __name__ == "__main__":
    main()
