#!/usr/bin/env python3
"""tallycmd's --html pages in a real browser (headless Chromium).

On a generated network: stats, trend and a user's history as HTML. Each page is loaded in
Chromium; the page must log nothing to the console, its table must hold the same rows and numbers
as the same report's CSV, every chart must have one bar per row it shows (stats: the top 20 and
"Other"), and a screenshot at a phone's width and one at a desktop's are kept. A page that does
log an error is loaded first, to show that console errors are seen at all.

usage: html_report.py --tallycmd PATH --gendir PATH --schema FILE --screenshots DIR
"""
import argparse
import csv
import html.parser
import io
import os
import shutil
import subprocess
import sys
import tempfile

CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
    "--disable-background-networking", "--disable-component-update", "--disable-sync",
    "--hide-scrollbars", "--enable-logging=stderr", "--v=0",
]


class PageParts(html.parser.HTMLParser):
    """The table#report's cells by row, and the bars of each chart."""

    def __init__(self):
        super().__init__()
        self.rows = []
        self.in_table = False
        self.cell = None
        self.charts = []  # bars per svg.chart
        self.bar_labels = []

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "table" and attrs.get("id") == "report":
            self.in_table = True
        elif self.in_table and tag == "tr":
            self.rows.append([])
        elif self.in_table and tag in ("td", "th"):
            self.cell = ""
        elif tag == "svg" and "chart" in (attrs.get("class") or "").split():
            self.charts.append(0)
            self.bar_labels.append([])
        elif tag == "rect" and attrs.get("class") == "bar":
            self.charts[-1] += 1
            self.bar_labels[-1].append(attrs.get("data-label"))

    def handle_endtag(self, tag):
        if tag == "table":
            self.in_table = False
        elif self.in_table and tag in ("td", "th") and self.cell is not None:
            self.rows[-1].append(self.cell)
            self.cell = None

    def handle_data(self, data):
        if self.cell is not None:
            self.cell += data


def chromium(profile, *args):
    command = ["chromium", *CHROMIUM_FLAGS, "--user-data-dir=" + profile, *args]
    done = subprocess.run(command, capture_output=True, text=True, timeout=120)
    return done


def console_lines(stderr):
    return [line for line in stderr.splitlines() if "CONSOLE" in line]


def load(url, shots, name, failures):
    """The page's DOM after loading, with its console checked and two screenshots taken."""
    with tempfile.TemporaryDirectory(prefix="tally-chromium-") as profile:
        dom = chromium(profile, "--dump-dom", url)
    if dom.returncode != 0:
        failures.append(f"{name}: chromium exited {dom.returncode}: {dom.stderr[-500:]}")
    errors = console_lines(dom.stderr)
    for width, height, kind in ((412, 915, "phone"), (1280, 1000, "desktop")):
        path = os.path.join(shots, f"{name}-{kind}.png")
        with tempfile.TemporaryDirectory(prefix="tally-chromium-") as profile:
            shot = chromium(profile, f"--window-size={width},{height}", "--screenshot=" + path, url)
        errors += console_lines(shot.stderr)
        if not os.path.exists(path):
            failures.append(f"{name}: no {kind} screenshot: {shot.stderr[-500:]}")
    return dom.stdout, errors


def run(tallycmd, ini, *words):
    done = subprocess.run([tallycmd, "--ini", ini, "--out", "-", *words], capture_output=True,
                          text=True)
    if done.returncode != 0:
        raise SystemExit(f"tallycmd {' '.join(words)}: exit {done.returncode}: {done.stderr}")
    return done.stdout


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tallycmd", required=True)
    parser.add_argument("--gendir", required=True)
    parser.add_argument("--schema", required=True)
    parser.add_argument("--screenshots", required=True)
    args = parser.parse_args()
    if shutil.which("chromium") is None:
        print("html_report: chromium is not installed (scripts/lib/packages.sh installs it)",
              file=sys.stderr)
        return 1
    os.makedirs(args.screenshots, exist_ok=True)
    failures = []
    with tempfile.TemporaryDirectory(prefix="tally-html-") as work:
        # The console is watched: a page that logs an error must be caught.
        control = os.path.join(work, "control.html")
        with open(control, "w") as page:
            page.write("<!DOCTYPE html><title>x</title><script>console.error('seen')</script>")
        _, errors = load("file://" + control, work, "control", failures)
        if not any("seen" in line for line in errors):
            failures.append("a console error of a test page was not seen: the check is blind")

        net = os.path.join(work, "net")
        subprocess.run([args.gendir, "--out", net, "--users", "60", "--contexts", "2",
                        "--log-lines", "40000", "--schema", args.schema], check=True,
                       stdout=subprocess.DEVNULL)
        ini = os.path.join(net, "tallynet.ini")
        reports = [
            ("stats-user", ["stats"], "top"),
            ("stats-printer-period", ["stats", "--by", "printer", "--since", "1999-09-01",
                                      "--until", "1999-12-31"], "top"),
            ("trend-month", ["trend", "--by", "month"], "all"),
            ("trend-week", ["trend", "--by", "week", "--since", "1999-11-01"], "all"),
            ("history-user", ["history", "U00005", "--since", "1999-12-01"], "months"),
        ]
        for name, words, charts in reports:
            page = os.path.join(work, name + ".html")
            with open(page, "w") as out:
                out.write(run(args.tallycmd, ini, *words, "--html"))
            table = list(csv.reader(io.StringIO(run(args.tallycmd, ini, *words, "--csv"))))
            dom, errors = load("file://" + page, args.screenshots, name, failures)
            for line in errors:
                failures.append(f"{name}: console: {line}")
            parts = PageParts()
            parts.feed(dom)
            if not parts.rows:
                failures.append(f"{name}: the page shows no table#report")
                continue
            body = parts.rows[1:-1]
            if name.startswith("history"):
                # CSV: pages,cost,record; the page: date,pages,cost,record.
                got = [[row[1], row[2], row[3]] for row in body]
            else:
                got = body
            if got != table[1:]:
                failures.append(f"{name}: the page's table differs from the CSV report: "
                                f"{got[:3]} ... against {table[1:4]} ...")
            # The totals row adds up what the rows show.
            totals = parts.rows[-1]
            pages = sum(int(row[-2 if not name.startswith("history") else 1]) for row in body)
            if str(pages) != totals[1]:
                failures.append(f"{name}: totals {totals[1]} pages, rows {pages}")
            rows = len(table) - 1
            if charts == "top":
                expected = [min(rows, 20) + (1 if rows > 20 else 0)] * 2
            elif charts == "all":
                expected = [rows, rows]
            else:
                months = {row[0][0:2] + row[0][6:] for row in body if row[0]}
                expected = [len(months)]
            if parts.charts != expected:
                failures.append(f"{name}: bars per chart {parts.charts}, expected {expected}")
            print(f"{name}: {rows} rows, bars {parts.charts}, {len(errors)} console lines")
    for failure in failures:
        print("FAIL: " + failure, file=sys.stderr)
    print(f"screenshots in {args.screenshots}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
