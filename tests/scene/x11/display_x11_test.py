#!/usr/bin/env python3
"""Displays on the sdl video back end under a real X server (the X server, screenshots and
process helpers of tests/platform/x11/x11_test.py).

Usage: display_x11_test.py QUORVELLA QVDISPLAY QVASM QVMKAPPLET CASE [KEEP_DIR]

CASE picture: an applet shows a picture of odd size, converted from a PPM by netpbm, in a
borderless display at (0, 0); the screenshot of the window must equal the PPM.
CASE resize: xdotool resizes a sizeable display that qvdisplay opens; the display must queue
the size event with the new size and show its picture at that size.
Without Xvfb, xwd, xdotool or pnmtopng the test is skipped (status 77), or fails under
CI=true."""
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "platform", "x11"))
import x11_test  # noqa: E402
from x11_test import X11, Failure, Window, compare, pattern, write_ppm  # noqa: E402

# Moves display 1 to (0, 0), says where its window is and waits until it is stopped.
LISTING = """.function main
.source nil
.line 1
    GETGLOBAL r0 "movedisplay"
    LOADK r1 0
    LOADK r2 0
    CALL r0 3 1
    GETGLOBAL r0 "debugprint"
    LOADK r1 "READY 0 0 %d %d"
    CALL r0 2 1
wait:
    GETGLOBAL r0 "vwait"
    CALL r0 1 1
    JMP wait
    RETURN r0 1
.end
"""


def run_picture(x11, tools, keep):
    quorvella, _, qvasm, qvmkapplet = tools
    width, height = 37, 23
    rgb = pattern(width, height)
    ppm = os.path.join(keep, "display-picture.ppm")
    write_ppm(ppm, width, height, rgb)
    png = os.path.join(keep, "display-picture.png")
    with open(png, "wb") as out:
        subprocess.run(["pnmtopng", ppm], stdout=out, check=True)
    listing = os.path.join(keep, "display-picture.qvs")
    with open(listing, "w") as out:
        out.write(LISTING % (width, height))
    chunk = os.path.join(keep, "display-picture.qvb")
    subprocess.run([qvasm, "asm", listing, "-o", chunk], check=True)
    applet = os.path.join(keep, "display-picture.qva")
    subprocess.run([qvmkapplet, "-o", applet, "--chunk", chunk, "--preload",
                    "0:1:display-picture.png", "--display", "1:%d:%d:Odd" % (width, height),
                    "--flag", "borderless=1"], check=True)
    window = Window(x11, quorvella, [applet, "-QUIET"])
    compare(x11, window, rgb, "display-picture", keep)
    return window


def run_resize(x11, tools, keep):
    qvdisplay = tools[1]
    window = Window(x11, qvdisplay, ["--width", "64", "--height", "48", "--x", "20", "--y", "20",
                                     "--color", "0x3366CC", "--sizeable", "--borderless"])
    found = subprocess.run(["xdotool", "search", "--name", "Quorvella"], env=x11.env(),
                           check=True, capture_output=True, text=True).stdout.split()
    if len(found) != 1:
        raise Failure("xdotool found the windows %r" % found)
    x11.xdotool("windowsize", found[0], "100", "80")
    deadline = time.monotonic() + x11_test.WAIT_SECONDS
    while True:
        words = window.line().split()
        if words[:2] == ["EVENT", "5"]:
            break
        if time.monotonic() > deadline:
            raise Failure("no size event")
    if words != ["EVENT", "5", "100", "80"]:
        raise Failure("the size event says %r" % " ".join(words))
    window.rect = [20, 20, 100, 80]
    compare(x11, window, b"\x33\x66\xcc" * (100 * 80), "display-resize", keep)
    return window


def main():
    tools, case = sys.argv[1:5], sys.argv[5]
    keep = sys.argv[6] if len(sys.argv) > 6 else os.getcwd()
    missing = [t for t in ("Xvfb", "xwd", "xwdtopnm", "xdotool", "pnmtopng")
               if shutil.which(t) is None]
    if missing:
        print("missing: " + " ".join(missing))
        return 1 if os.environ.get("CI") == "true" else x11_test.SKIP
    os.makedirs(keep, exist_ok=True)
    try:
        with X11() as x11:
            if case == "picture":
                window = run_picture(x11, tools, keep)
            elif case == "resize":
                window = run_resize(x11, tools, keep)
            else:
                raise Failure("unknown case " + case)
            status, err = window.finish()
            if status != 0:
                raise Failure("the display ended with %d:\n%s" % (status, err))
    except Failure as failure:
        print("FAIL: %s" % failure)
        return 1
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
