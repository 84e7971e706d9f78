#!/usr/bin/env python3
"""Writes tallycmd(1) from the program's own --help pages, so that the manual page says what the
program says: the overview as the description, then each command's page, in the order the
overview lists them. Text is kept as the program lays it out (no filling).

    tallycmd_manpage.py TALLYCMD SOURCE_DATE_EPOCH > tallycmd.1
"""
import re
import subprocess
import sys
import time


def run(program, *words):
    result = subprocess.run([program, *words], capture_output=True, text=True, check=False)
    if result.returncode != 0:
        raise SystemExit(f"{program} {' '.join(words)}: exit {result.returncode}\n{result.stderr}")
    return result.stdout


def roff(text):
    """Program text as roff lines shown as they are."""
    lines = []
    for line in text.rstrip("\n").split("\n"):
        line = line.replace("\\", "\\e").replace("-", "\\-")
        if line.startswith((".", "'")):
            line = "\\&" + line
        lines.append(line if line else ".sp")
    return "\n".join(lines)


def commands(overview):
    """The command words of the overview's lists ("  deposit AMOUNT TARGET ...")."""
    words = []
    for match in re.finditer(r"^  ([a-z][a-z-]*)\b", overview, re.MULTILINE):
        if match.group(1) not in words:
            words.append(match.group(1))
    return words


def main():
    program, epoch = sys.argv[1], int(sys.argv[2])
    version = run(program, "--version").strip()  # "tallycmd (TallyDesk) 4.25f"
    release = version.rsplit(" ", 1)[-1]
    overview = run(program, "--help")
    date = time.strftime("%Y-%m-%d", time.gmtime(epoch))
    page = [
        f'.TH TALLYCMD 1 "{date}" "TallyDesk {release}" "TallyDesk"',
        ".SH NAME",
        "tallycmd \\- TallyDesk's account operations and reports from the command line",
        ".SH SYNOPSIS",
        ".B tallycmd",
        ".I COMMAND",
        "[\\fIARGUMENTS\\fR] [\\fIOPTIONS\\fR]",
        ".br",
        ".B tallycmd",
        "\\fICOMMAND\\fR \\-\\-help",
        ".br",
        ".B tallycmd",
        "\\-\\-version",
        ".SH DESCRIPTION",
        ".nf",
        roff(overview),
        ".fi",
        ".SH COMMANDS",
    ]
    for word in commands(overview):
        page += [f".SS {word}", ".nf", roff(run(program, "help", word)), ".fi"]
    page += [
        ".SH FILES",
        ".TP",
        ".I /usr/share/tallydesk/tallydesk.ldif",
        "the directory schema: the embedded store's schema.ldif, or the schema an OpenLDAP "
        "server loads",
        ".TP",
        ".I /usr/share/doc/tallycmd/",
        "tallycmd.md (every command at length), directory\\-client.md (tallynet.ini), "
        "directory\\-store.md, accounting\\-log.md",
        ".SH VERSION",
        f"This page describes {roff(version)}.",
        "",
    ]
    sys.stdout.write("\n".join(page))


if __name__ == "__main__":
    main()
