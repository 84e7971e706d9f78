"""What the report scenarios check besides the windows: the report files the program writes in
its current directory, byte for byte against the expected files in tests/e2e/expected/, and the
viewer that the shell opens them in."""

import os

from tallye2e import ScenarioFailure, log, wait_for

EXPECTED = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "expected")
LOG_PARTS = ("SYS", "SYSTEM", "JOBTALLY", "JOBTALLY.LOG")


def report_path(session, name):
    return os.path.join(session.workdir, name)


def read_report(session, name):
    with open(report_path(session, name), "rb") as f:
        return f.read()


def expect_report(session, name, expected_name=None):
    """The report NAME in the program's directory equals tests/e2e/expected/EXPECTED_NAME line
    for line, line ends included."""
    with open(os.path.join(EXPECTED, expected_name or name), "rb") as f:
        expected = f.read().splitlines(keepends=True)
    actual = read_report(session, name).splitlines(keepends=True)
    for number, (want, got) in enumerate(zip(expected, actual), 1):
        if want != got:
            raise ScenarioFailure(f"{name} line {number}: {got!r}, expected {want!r}")
    if len(actual) != len(expected):
        raise ScenarioFailure(f"{name} has {len(actual)} lines, expected {len(expected)}: "
                              f"{actual[len(expected):] or expected[len(actual):]!r}")
    log(f"{name}: {len(actual)} lines as expected")


def wait_viewer(d, name, timeout=30):
    """The notepad window the shell opened for the report NAME."""
    return d.find(title=f"{name} - Notepad", visible=True, timeout=timeout)


def close_viewer(d, viewer):
    d.close(viewer)
    d.wait_gone(viewer)


def no_viewer(d):
    open_ones = [w for w in d.windows() if w[2].endswith(" - Notepad") and w[3] == "visible"]
    if open_ones:
        raise ScenarioFailure(f"a viewer is open: {open_ones!r}")


def write_big_log(path, lines, line_for):
    """Writes a log of LINES lines, line_for(i) giving each one (CR LF added)."""
    with open(path, "wb") as f:
        chunk = []
        for i in range(lines):
            chunk.append(line_for(i))
            if len(chunk) == 10000:
                f.write(("\r\n".join(chunk) + "\r\n").encode("latin-1"))
                chunk = []
        if chunk:
            f.write(("\r\n".join(chunk) + "\r\n").encode("latin-1"))


def click_cancel(session, d, dialog):
    """A real mouse click on the dialog's Cancel button (id 2): the window system queues it
    behind whatever the program posts itself, as it does an operator's click."""
    left, top, right, bottom = d.rect(dialog, 2)
    session.display.click((left + right) // 2, (top + bottom) // 2)
