#!/usr/bin/env python3
"""Reports written to a full file system: the program's current directory is a small tmpfs
filled to its last byte before the program starts. The print history, the statistics and the
balances list each create their file there (creating takes no space) and cannot write it: each
tells "Error writing <file>: No space left on device" in an "Error!" box and opens nothing.
Mounting takes root (or CAP_SYS_ADMIN); where it is refused the scenario reports itself skipped.
A screenshot of the message."""
import errno
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import tallye2e  # noqa: E402
from tallye2e import SALES_ENTRIES, expect_equal, wait_for  # noqa: E402
from reports import no_viewer  # noqa: E402

LIST = 101
PRINT_HISTORY = 314
STATISTICS = 319
USERS, BALANCES = 700, 706
JOBTALLY_LOG = 708
CREATE, CLOSE = 1, 2
NO_SPACE = "No space left on device"


def mount_full(folder):
    """Mounts a 64 KB tmpfs on FOLDER and fills it; False when mounting is refused."""
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k,mode=0777", "tmpfs",
                              folder], capture_output=True, text=True)
    if mounted.returncode != 0:
        tallye2e.log(f"cannot mount a tmpfs on {folder}: {mounted.stderr.strip()}")
        return False
    fd = os.open(os.path.join(folder, "filler"), os.O_WRONLY | os.O_CREAT, 0o644)
    try:
        for size in (4096, 1):
            try:
                while True:
                    os.write(fd, b"\0" * size)
            except OSError as error:
                if error.errno != errno.ENOSPC:
                    raise
    finally:
        os.close(fd)
    return True


def expect_write_error(s, d, file_name, screenshot=None):
    box = d.find(title="Error!", cls="#32770", visible=True, timeout=30)
    expect_equal("message", d.msgbox_text(box), f"Error writing {file_name}: {NO_SPACE}")
    if screenshot:
        s.screenshot(screenshot)
    d.click(box, 1)
    d.wait_gone(box)
    no_viewer(d)


def run(s):
    s.start()
    if not mount_full(s.workdir):
        raise tallye2e.ScenarioSkipped("mounting a tmpfs is not allowed here")
    try:
        app = s.launch()
        d = s.driver
        main = s.main_window()

        d.select(main, LIST, "JSMITH")
        wait_for("JSMITH selected",
                 lambda: d.selection(main, LIST) == [SALES_ENTRIES.index("JSMITH")])
        d.click(main, PRINT_HISTORY)
        expect_write_error(s, d, "JSMITH.txt", "message")

        d.click(main, STATISTICS)
        stats = d.find(title="Printing Statistics", cls="#32770", visible=True, timeout=20)
        d.click(stats, JOBTALLY_LOG)
        d.click(stats, USERS)
        d.click(stats, CREATE)
        expect_write_error(s, d, "User.txt")
        d.click(stats, BALANCES)
        d.click(stats, CREATE)
        expect_write_error(s, d, "SALES.TXT")
        d.click(stats, CLOSE)
        d.wait_gone(stats)

        d.close(main)
        expect_equal("exit code", s.wait_exit(app), 0)
    finally:
        subprocess.run(["umount", "-l", s.workdir], capture_output=True)


if __name__ == "__main__":
    tallye2e.main(run)
