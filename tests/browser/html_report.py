#!/usr/bin/env python3
"""tallycmd's --html pages in a real browser (headless Chromium).

On a generated network: stats, trend and a user's history as HTML (the history also of a period
without lines). Each page is loaded in Chromium; the page must log nothing to the console, its
table must have the same columns and hold the same rows and numbers as the same report's CSV,
every chart must have one bar per row it shows (stats: the top 20 and "Other"), and a screenshot
at a phone's width and one at a desktop's are kept. At both widths the page is laid out in a
frame of that width and measured: no cell of the table may be narrower than its longest word (a
date standing one character to a line), and the table may not reach past the page's right edge
(records cut off). A page that does log an error is loaded first, to show that console errors are
seen at all; a page whose first column is squeezed is measured first, to show that the
measurement sees it.

usage: html_report.py --tallycmd PATH --gendir PATH --schema FILE --screenshots DIR
"""
import argparse
import csv
import html
import html.parser
import io
import json
import os
import re
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
    for width, height, kind in WIDTHS:
        path = os.path.join(shots, f"{name}-{kind}.png")
        with tempfile.TemporaryDirectory(prefix="tally-chromium-") as profile:
            shot = chromium(profile, f"--window-size={width},{height}", "--screenshot=" + path, url)
        errors += console_lines(shot.stderr)
        if not os.path.exists(path):
            failures.append(f"{name}: no {kind} screenshot: {shot.stderr[-500:]}")
    return dom.stdout, errors


WIDTHS = ((412, 915, "phone"), (1280, 1000, "desktop"))

# Lays the page out in a frame of the given width (its own viewport, so the page's media queries
# apply as on that screen) and measures every cell of table#report against a copy of its content
# at its narrowest (width: min-content, words never broken); writes what it finds into the DOM.
MEASURE = """<!DOCTYPE html><html><body style="margin:0">
<iframe id="page" src="%(page)s" style="border:0;width:%(width)dpx;height:%(height)dpx"></iframe>
<script>
window.addEventListener("load", () => {
  const doc = document.getElementById("page").contentDocument;
  const view = doc.defaultView;
  const narrow = [];
  for (const cell of doc.querySelectorAll("#report td, #report th")) {
    const style = view.getComputedStyle(cell);
    const probe = doc.createElement("div");
    probe.style.cssText = "position:absolute;visibility:hidden;display:block;width:min-content;" +
                          "word-break:normal;overflow-wrap:normal";
    probe.style.whiteSpace = style.whiteSpace;
    probe.style.font = style.font;
    probe.innerHTML = cell.innerHTML;
    doc.body.appendChild(probe);
    const longest = probe.getBoundingClientRect().width;
    probe.remove();
    const inner = cell.getBoundingClientRect().width - parseFloat(style.paddingLeft) -
                  parseFloat(style.paddingRight);
    if (inner + 0.5 < longest) {
      narrow.push(cell.textContent.slice(0, 40) + " (" + inner.toFixed(1) + " px, its longest " +
                  "word " + longest.toFixed(1) + " px)");
    }
  }
  const table = doc.getElementById("report");
  const out = document.createElement("pre");
  out.id = "measured";
  out.textContent = JSON.stringify({
    viewport: doc.documentElement.clientWidth,
    right: table ? table.getBoundingClientRect().right : 0,
    narrow: narrow,
  });
  document.body.appendChild(out);
});
</script></body></html>
"""


def measure(page_path, work, name, failures):
    """The layout problems of the page at each width, as failures."""
    for width, height, kind in WIDTHS:
        frame = os.path.join(work, f"{name}-{kind}-measure.html")
        with open(frame, "w") as out:
            out.write(MEASURE % {"page": os.path.basename(page_path), "width": width,
                                 "height": height})
        with tempfile.TemporaryDirectory(prefix="tally-chromium-") as profile:
            dom = chromium(profile, "--allow-file-access-from-files", "--dump-dom",
                           "file://" + frame)
        found = re.search(r'<pre id="measured">(.*?)</pre>', dom.stdout, re.S)
        if not found:
            failures.append(f"{name} ({kind}): the page could not be measured: {dom.stderr[-300:]}")
            continue
        measured = json.loads(html.unescape(found.group(1)))
        for cell in measured["narrow"][:5]:
            failures.append(f"{name} ({kind}): a cell narrower than its longest word: {cell}")
        if len(measured["narrow"]) > 5:
            failures.append(f"{name} ({kind}): and {len(measured['narrow']) - 5} more such cells")
        if measured["right"] > measured["viewport"] + 0.5:
            failures.append(f"{name} ({kind}): the table reaches {measured['right']:.0f} px, past "
                            f"the page's {measured['viewport']} px: its right part is cut off")


def record_month(record):
    """The month (MM/YYYY) of a line of the log: field 8 of a delimited one, the date column of a
    Readable one."""
    if record.startswith('"'):
        date = next(csv.reader([record]))[7]
    else:
        date = record[33:].split(" ")[0]
    return date[0:2] + date[6:]


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
        # The measurement is watched too: a first column squeezed to one letter must be seen.
        squeezed = os.path.join(work, "squeezed.html")
        with open(squeezed, "w") as page:
            page.write('<!DOCTYPE html><style>td:first-child{word-break:break-all}</style>'
                       '<table id="report" style="width:100%"><tr><td>12/01/1999</td>'
                       f'<td>{"wide " * 200}</td></tr></table>')
        seen = []
        measure(squeezed, work, "squeezed", seen)
        if not any("12/01/1999" in line for line in seen):
            failures.append(f"a squeezed cell was not seen: the measurement is blind ({seen})")

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
            ("history-empty-period", ["history", "U00005", "--since", "2030-01-01"], "months"),
        ]
        for name, words, charts in reports:
            page = os.path.join(work, name + ".html")
            with open(page, "w") as out:
                out.write(run(args.tallycmd, ini, *words, "--html"))
            table = list(csv.reader(io.StringIO(run(args.tallycmd, ini, *words, "--csv"))))
            dom, errors = load("file://" + page, args.screenshots, name, failures)
            for line in errors:
                failures.append(f"{name}: console: {line}")
            measure(page, work, name, failures)
            parts = PageParts()
            parts.feed(dom)
            if not parts.rows:
                failures.append(f"{name}: the page shows no table#report")
                continue
            history = name.startswith("history")
            if parts.rows[0] != table[0]:
                failures.append(f"{name}: the page's columns {parts.rows[0]} are not the CSV's "
                                f"{table[0]}")
            body = parts.rows[1:-1]
            if body != table[1:]:
                failures.append(f"{name}: the page's table differs from the CSV report: "
                                f"{body[:3]} ... against {table[1:4]} ...")
            # The totals row adds up what the rows show (the history's pages come first).
            totals = parts.rows[-1]
            column = 0 if history else 1
            pages = sum(int(row[column]) for row in body)
            if str(pages) != totals[column]:
                failures.append(f"{name}: totals {totals[column]} pages, rows {pages}")
            rows = len(table) - 1
            if charts == "top":
                expected = [min(rows, 20) + (1 if rows > 20 else 0)] * 2
            elif charts == "all":
                expected = [rows, rows]
            else:
                months = {record_month(row[2]) for row in body}
                expected = [len(months)] if months else []  # no bars: the chart says why
            if parts.charts != expected:
                failures.append(f"{name}: bars per chart {parts.charts}, expected {expected}")
            print(f"{name}: {rows} rows, bars {parts.charts}, {len(errors)} console lines")
    for failure in failures:
        print("FAIL: " + failure, file=sys.stderr)
    print(f"screenshots in {args.screenshots}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
