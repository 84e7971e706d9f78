#!/usr/bin/env python3
"""Start on the sample network: the main window's title, class, style, size and place on the
screen, the main dialog inside it, the workstation context in control 480, and the title while
minimised."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import tallye2e  # noqa: E402
from tallye2e import c_div, expect_equal, wait_for  # noqa: E402

WS_MAXIMIZEBOX = 0x00010000
WS_MINIMIZEBOX = 0x00020000
WS_THICKFRAME = 0x00040000
WS_SYSMENU = 0x00080000
WS_CAPTION = 0x00C00000

# Controls of MainDialog in dialog units (x, y, width, height). The list box's height is left
# out: list boxes round it down to whole lines.
MAIN_DIALOG_CONTROLS = {
    317: (155, 6, 60, 17),
    316: (155, 24, 60, 17),
    319: (155, 42, 60, 17),
    314: (155, 60, 60, 16),
    313: (155, 77, 60, 17),
    312: (155, 95, 60, 16),
    311: (155, 112, 60, 17),
    310: (155, 130, 60, 17),
    480: (2, 151, 215, 8),
    304: (44, 163, 172, 8),
    301: (44, 173, 172, 8),
    302: (44, 183, 172, 8),
}
BUTTON_TEXTS = {317: "E&xit", 316: "Change C&ontext", 319: "&Statistics", 314: "Print Hist&ory",
                313: "Set Credit &Limit", 312: "&Charge", 311: "Set &Balance", 310: "&Deposit"}


def run(s):
    s.start()
    before = s.network_files()
    app = s.launch()
    d = s.driver
    main = s.main_window()
    expect_equal("title", d.title(main), "TallyDesk")
    wait_for("control 480 to show the context",
             lambda: d.text(main, 480) == "Context: SALES.CORP", timeout=10)

    style, _ = d.style(main)
    for bit, name in ((WS_CAPTION, "caption"), (WS_SYSMENU, "system menu"),
                      (WS_MINIMIZEBOX, "minimise box")):
        assert style & bit == bit, f"the main window has no {name} (style {style:#x})"
    for bit, name in ((WS_MAXIMIZEBOX, "maximise box"), (WS_THICKFRAME, "sizing border")):
        assert not style & bit, f"the main window has a {name} (style {style:#x})"

    # Sized to the main dialog plus frame plus 20 pixels, centred on the screen.
    left, top, right, bottom = d.rect(main)
    cx, cy, cw, ch = d.client(main)
    dialog = d.one("parent", main, 480)
    dl, dt, dr, db = d.rect(dialog)
    expect_equal("client width", cw, (dr - dl) + 20)
    expect_equal("client height", ch, (db - dt) + 20)
    width, height = right - left, bottom - top
    expect_equal("window position", (left, top),
                 (c_div(s.display.width - width, 2), c_div(s.display.height - height, 2)))
    expect_equal("MainDialog at 10,10 of the client area", (dl - cx, dt - cy), (10, 10))
    expect_equal("MainDialog size in dialog units", d.dlu(dialog, 0), (0, 0, 219, 196))

    for cid, expected in MAIN_DIALOG_CONTROLS.items():
        expect_equal(f"control {cid} in dialog units", d.dlu(main, cid), expected)
    expect_equal("list box 101", d.dlu(main, 101)[:3], (6, 8, 147))
    for cid, text in BUTTON_TEXTS.items():
        expect_equal(f"button {cid}", d.text(main, cid), text)
    statics = d.static_texts(dialog)
    for label in ("Fullname:", "Balance:", "Credit Limit:"):
        assert label in statics, f"MainDialog has no label {label!r} (texts: {statics})"
    s.screenshot()

    # The title names the context only while minimised.
    d.syscommand(main, "minimize")
    wait_for("the window to be minimised", lambda: d.iconic(main))
    expect_equal("title while minimised", d.title(main), "TallyDesk: SALES.CORP")
    d.syscommand(main, "restore")
    wait_for("the window to be restored", lambda: not d.iconic(main))
    expect_equal("title after restore", d.title(main), "TallyDesk")

    d.command(main, 317)
    expect_equal("exit code", s.wait_exit(app), 0)
    s.expect_network_unchanged(before)


if __name__ == "__main__":
    tallye2e.main(run)
