#!/usr/bin/env python3
"""Displays on the sdl video back end under a real X server (the X server, screenshots and
process helpers of tests/platform/x11/x11_test.py).

Usage: display_x11_test.py QUORVELLA QVDISPLAY QVASM QVMKAPPLET CASE [KEEP_DIR]

CASE picture: an applet shows a picture of odd size, converted from a PPM by netpbm, in a
borderless display at (0, 0); the screenshot of the window must equal the PPM.
CASE resize: xdotool resizes a sizeable display that qvdisplay opens; the display must queue
the size event with the new size and show its picture at that size.
CASE autoscale: the applet's picture autoscaled 2x with letterbox strips in a borderless
display at (0, 0); the screenshot must equal the picture doubled (nearest) between black strips.
CASE fullscreen: the applet in full screen on an own screen of the root's size; the screenshot
of the whole root must be black with the picture at its centre.
CASE fullscreen-mode: the applet in full screen on an own screen of half the root's size, with
no window manager to enlarge its window: the window must cover the root (800 x 600 at its
corner) and show the screen doubled, the picture's corners where the doubling puts them.
CASE clicks: xdotool clicks on a letterbox strip and inside the picture of a 2x autoscaled
qvdisplay; the events must carry the positions in the picture's coordinates, truncated.
CASE strip-button: the applet's 2x autoscaled, letterboxed display has a button at column 0;
xdotool clicks on the left strip (mouse positions truncated to column 0) hit no button, since
the button test floors, and a click inside the picture does.
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

MOVE = """    GETGLOBAL r0 "movedisplay"
    LOADK r1 0
    LOADK r2 0
    CALL r0 3 1
"""


def listing(width, height, move=True):
    """Moves display 1 to (0, 0) (unless not asked), says where its window is (READY 0 0 width
    height) and waits until it is stopped."""
    return """.function main
.source nil
.line 1
%s    GETGLOBAL r0 "debugprint"
    LOADK r1 "READY 0 0 %d %d"
    CALL r0 2 1
wait:
    GETGLOBAL r0 "vwait"
    CALL r0 1 1
    JMP wait
    RETURN r0 1
.end
""" % (MOVE if move else "", width, height)


def make_applet(tools, keep, case, width, height, listing):
    """An applet showing a pattern picture of the size in a borderless display 1; the
    pattern's RGB bytes and the applet's path."""
    _, _, qvasm, qvmkapplet = tools
    rgb = pattern(width, height)
    ppm = os.path.join(keep, case + ".ppm")
    write_ppm(ppm, width, height, rgb)
    png = os.path.join(keep, case + ".png")
    with open(png, "wb") as out:
        subprocess.run(["pnmtopng", ppm], stdout=out, check=True)
    source = os.path.join(keep, case + ".qvs")
    with open(source, "w") as out:
        out.write(listing)
    chunk = os.path.join(keep, case + ".qvb")
    subprocess.run([qvasm, "asm", source, "-o", chunk], check=True)
    applet = os.path.join(keep, case + ".qva")
    subprocess.run([qvmkapplet, "-o", applet, "--chunk", chunk, "--preload",
                    "0:1:%s.png" % case, "--display", "1:%d:%d:Odd" % (width, height),
                    "--flag", "borderless=1"], check=True)
    return rgb, applet


def run_picture(x11, tools, keep):
    width, height = 37, 23
    rgb, applet = make_applet(tools, keep, "display-picture", width, height,
                              listing(width, height))
    window = Window(x11, tools[0], [applet, "-QUIET"])
    compare(x11, window, rgb, "display-picture", keep)
    return window


def run_autoscale(x11, tools, keep):
    """40 x 30 at 2x in a 100 x 60 window: strips of 10 at the sides."""
    rgb, applet = make_applet(tools, keep, "display-autoscale", 40, 30, listing(100, 60))
    window = Window(x11, tools[0], [applet, "-QUIET", "-AUTOSCALE", "-SCALEWIDTH", "100",
                                    "-SCALEHEIGHT", "60", "-KEEPPROPORTIONS"])
    golden = bytearray(100 * 60 * 3)
    for y in range(60):
        for x in range(10, 90):
            at = ((y // 2) * 40 + (x - 10) // 2) * 3
            golden[(y * 100 + x) * 3:(y * 100 + x) * 3 + 3] = rgb[at:at + 3]
    compare(x11, window, bytes(golden), "display-autoscale", keep)
    return window


def run_fullscreen(x11, tools, keep):
    width, height = 40, 30
    screen_width, screen_height = x11_test.SCREEN
    rgb, applet = make_applet(tools, keep, "display-fullscreen", width, height,
                              listing(*x11_test.SCREEN, move=False))
    window = Window(x11, tools[0], [applet, "-QUIET", "-FULLSCREEN", "-SCRWIDTH",
                                    str(screen_width), "-SCRHEIGHT", str(screen_height)])
    golden = bytearray(screen_width * screen_height * 3)
    left, top = (screen_width - width) // 2, (screen_height - height) // 2
    for y in range(height):
        at = ((top + y) * screen_width + left) * 3
        golden[at:at + width * 3] = rgb[y * width * 3:(y + 1) * width * 3]
    compare(x11, window, bytes(golden), "display-fullscreen", keep)
    return window


def run_fullscreen_mode(x11, tools, keep):
    width, height = 40, 30
    screen_width, screen_height = x11_test.SCREEN
    mode_width, mode_height = screen_width // 2, screen_height // 2
    rgb, applet = make_applet(tools, keep, "display-fullscreen-mode", width, height,
                              listing(mode_width, mode_height, move=False))
    window = Window(x11, tools[0], [applet, "-QUIET", "-FULLSCREEN", "-SCRWIDTH",
                                    str(mode_width), "-SCRHEIGHT", str(mode_height)])
    geometry = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name",
                               "Quorvella", "getwindowgeometry"], env=x11.env(), check=True,
                              capture_output=True, text=True, timeout=x11_test.WAIT_SECONDS).stdout
    if "Position: 0,0" not in geometry or "Geometry: %dx%d" % x11_test.SCREEN not in geometry:
        raise Failure("the screen's window does not cover the root:\n" + geometry)
    left, top = mode_width - width, mode_height - height  # the centre, doubled
    last = (width * height - 1) * 3
    corners = [((0, 0), b"\0\0\0"), ((screen_width - 1, screen_height - 1), b"\0\0\0"),
               ((left, top), rgb[0:3]), ((left + 1, top + 1), rgb[0:3]),
               ((left + 2 * width - 1, top + 2 * height - 1), rgb[last:last + 3])]
    for _ in range(20):  # the server may still be drawing what was presented
        shot_width, shot_height, shot = x11.screenshot()
        wrong = [(x, y) for (x, y), want in corners
                 if shot[(y * shot_width + x) * 3:(y * shot_width + x) * 3 + 3] != want]
        if (shot_width, shot_height) == x11_test.SCREEN and not wrong:
            return window
        time.sleep(0.1)
    raise Failure("a %dx%d screenshot, wrong at %r" % (shot_width, shot_height, wrong))


def run_clicks(x11, tools, keep):
    """A 40 x 30 display autoscaled 2x into 100 x 60 at (0, 0): strips of 10 at the sides."""
    window = Window(x11, tools[1], ["--width", "40", "--height", "30", "--x", "0", "--y", "0",
                                    "--borderless", "--scalemode", "1", "--scalewidth", "100",
                                    "--scaleheight", "60", "--keepproportions"])
    clicks = [((5, 3), "-2 1"),    # the left strip: left of column 0, truncated toward it
              ((9, 40), "0 20"),   # the strip's last column: -0.5 truncates to column 0
              ((31, 21), "10 10"),  # inside: (31 - 10) / 2
              ((95, 59), "42 29")]  # the right strip lies beyond the last column
    for (x, y), logical in clicks:
        x11.xdotool("mousemove", str(x), str(y), "click", "1")
        events = window.events(2)
        expected = ["EVENT 1 %s 1" % logical, "EVENT 1 %s 0" % logical]
        if events != expected:
            raise Failure("the click at (%d, %d) gave %r, not %r" % (x, y, events, expected))
    return window


STRIP_BUTTON = """.function main
.source nil
.function pressed params=1
    GETGLOBAL r1 "debugprint"
    LOADK r2 "BUTTON"
    CALL r1 2 1
    LOADK r1 1
    SETGLOBAL r1 "done"
    RETURN r0 1
.end
.function clicked params=1
    GETGLOBAL r1 "debugprint"
    LOADK r2 "CLICK "
    GETGLOBAL r3 "mousex"
    CALL r3 1 2
    LOADK r4 " "
    GETGLOBAL r5 "mousey"
    CALL r5 1 2
    CONCAT r2 r2 r5
    CALL r1 2 1
    RETURN r0 1
.end
    LOADK r0 0
    SETGLOBAL r0 "done"
%s    GETGLOBAL r0 "makebutton"
    LOADK r1 1
    LOADK r2 0
    LOADK r3 0
    LOADK r4 0
    LOADK r5 10
    LOADK r6 10
    NEWTABLE r7 0 1
    CLOSURE r8 pressed
    SETTABLE r7 "onmousedown" r8
    CALL r0 8 1
    GETGLOBAL r0 "installeventhandler"
    NEWTABLE r1 0 1
    CLOSURE r2 clicked
    SETTABLE r1 "onmousedown" r2
    CALL r0 2 1
    GETGLOBAL r0 "debugprint"
    LOADK r1 "READY 0 0 100 60"
    CALL r0 2 1
loop:
    GETGLOBAL r0 "waitevent"
    CALL r0 1 1
    GETGLOBAL r0 "done"
    LT 1 r0 1
    JMP loop
    RETURN r0 1
.end
""" % MOVE


def run_strip_button(x11, tools, keep):
    """A 10 x 10 button at (0, 0) of a 40 x 30 picture autoscaled 2x into 100 x 60 at (0, 0):
    window column 9 lies on the left strip at logical -0.5, truncated to 0 for the mouse but
    floored to -1 for the button; window column 13 is logical 1.5, inside the button."""
    _, applet = make_applet(tools, keep, "display-strip-button", 40, 30, STRIP_BUTTON)
    window = Window(x11, tools[0], [applet, "-QUIET", "-AUTOSCALE", "-SCALEWIDTH", "100",
                                    "-SCALEHEIGHT", "60", "-KEEPPROPORTIONS"])
    # Only a mapped window takes input, and SDL may show it after the applet said READY.
    subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", "Odd"],
                   env=x11.env(), check=True, capture_output=True,
                   timeout=x11_test.WAIT_SECONDS)
    for (x, y), said in (((9, 40), "CLICK 0 20"), ((9, 4), "CLICK 0 2")):
        x11.xdotool("mousemove", str(x), str(y), "click", "1")
        line = window.line()
        if line != said:
            raise Failure("the click on the strip at (%d, %d) gave %r, not %r" % (x, y, line, said))
    x11.xdotool("mousemove", "13", "6", "click", "1")
    lines = [window.line(), window.line()]
    if sorted(lines) != ["BUTTON", "CLICK 1 3"]:
        raise Failure("the click on the button gave %r" % lines)
    try:
        window.process.wait(timeout=x11_test.WAIT_SECONDS)  # the loop ends by itself
    except subprocess.TimeoutExpired:
        raise Failure("the player did not end after the button's click")
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
            cases = {"picture": run_picture, "resize": run_resize, "autoscale": run_autoscale,
                     "fullscreen": run_fullscreen, "fullscreen-mode": run_fullscreen_mode,
                     "clicks": run_clicks,
                     "strip-button": run_strip_button}
            if case not in cases:
                raise Failure("unknown case " + case)
            window = cases[case](x11, tools, keep)
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
