#!/usr/bin/env python3
"""The About box (centred, version text) and the Tips box (at its template position: its client
area 20,51 dialog units from the owner's client area), each opened from the Help menu's commands."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import tallye2e  # noqa: E402
from tallye2e import centred_on_client, expect_equal  # noqa: E402

TIPS = [
    "You may select multiple users from the list.",
    "Groups are ignored in multiple selections.",
    "Right click in the User/Group list for a quick popup menu.",
    "Run multiple instances of Tallydsk for multiple contexts!",
]


SS_TYPEMASK = 0x1F
SS_ICON = 0x03


def expect_icon_shown(d, dialog, what):
    """The dialog holds an icon control of non-zero size (an empty one draws nothing)."""
    icons = [c for c in d.children(dialog)
             if c["class"].lower() == "static"
             and d.style(c["handle"])[0] & SS_TYPEMASK == SS_ICON]
    assert icons, f"{what} has no icon control"
    for icon in icons:
        width, height = icon["pos"][2:]
        assert width > 0 and height > 0, f"{what}: the icon control is {width}x{height} pixels"


def run(s):
    s.start()
    app = s.launch()
    d = s.driver
    main = s.main_window()

    d.command(main, 1)
    about = d.find(title="About TallyDesk", cls="#32770", visible=True)
    expect_equal("version", d.text(about, 600), "TallyDesk 4.25f (32 bit)")
    texts = d.static_texts(about)
    for line in ("Jobtally 4.x", "Printer accounting and control for Netware"):
        assert line in texts, f"About has no line {line!r} (texts: {texts})"
    expect_equal("About size", d.dlu(about, 0), (0, 0, 145, 96))
    expect_equal("version text place", d.dlu(about, 600), (1, 5, 143, 8))
    expect_equal("About OK button", d.dlu(about, 1), (54, 78, 40, 14))
    expect_equal("About centred", d.rect(about)[:2],
                 centred_on_client(d.rect(main), d.client(main), d.rect(about)))
    expect_icon_shown(d, about, "About")
    s.screenshot("about")
    d.click(about, 1)
    d.wait_gone(about)

    d.command(main, 2)
    tips = d.find(title="Tips!", cls="#32770", visible=True)
    texts = d.static_texts(tips)
    for line in TIPS:
        assert line in texts, f"Tips has no line {line!r} (texts: {texts})"
    expect_equal("Tips size", d.dlu(tips, 0), (0, 0, 196, 96))
    expect_equal("Tips OK button", d.dlu(tips, 1), (78, 78, 40, 14))
    bx, by = d.base_units()
    cx, cy = d.client(main)[:2]
    # The template position places the dialog's client area; its frame lies around that.
    expect_equal("Tips at its template position", d.client(tips)[:2],
                 (cx + (20 * bx + 2) // 4, cy + (51 * by + 4) // 8))
    s.screenshot()
    expect_icon_shown(d, tips, "Tips")
    d.click(tips, 1)
    d.wait_gone(tips)

    d.command(main, 317)
    expect_equal("exit code", s.wait_exit(app), 0)


if __name__ == "__main__":
    tallye2e.main(run)
