#!/usr/bin/env python3
"""The bundled demo in an SDL2 window under Xvfb: the window shows, pixel for pixel, the
headless frames of the same states (after the scenes, after a click, after a key), and Escape
ends the demo with exit status 0. After the scenes an interval moves the layer "mover" in
its column until the click stops it, so that column is left out of the first comparison.

Usage: demo_x11_test.py QUORVELLA DEMO_APPLET KEEP_DIR [LIBS_DIR]

With LIBS_DIR (the folder whose Quorvella drawer holds vectorgraphics.qvp) both runs draw the
vector path too.

A mismatching screenshot is kept in KEEP_DIR as demo-STATE-shot.ppm beside its diff. Without
Xvfb, xwd, xdotool or netpbm the test is skipped (status 77), or fails under CI=true."""
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "platform",
                                "x11"))
from x11_test import X11, Failure, Window, compare, read_pnm, SKIP, WAIT_SECONDS  # noqa: E402

CLICK = (560, 400)
# Frames of the headless run (on the virtual clock, one per VWait) at which the input arrives,
# and the frames that show the states: the last scene, the click's answer (the last frame
# before the key came) and the key's (the last frame of all: nothing moves after the click).
KEY_PRESENT = 18
INPUT = "10 click %d %d\n%d key 97\n" % (CLICK + (KEY_PRESENT,))
LAST = 100000
STATES = (("scenes", 7, "Demo: scene 7 shown"),
          ("click", KEY_PRESENT - 1, "Demo: click at %d %d" % CLICK),
          ("key", LAST, "Demo: key a"))
# The column of the layer "mover": x 500-619, y 20-459.
TRACK = (500, 20, 620, 460)


def in_track(column, row):
    return TRACK[0] <= column < TRACK[2] and TRACK[1] <= row < TRACK[3]


def demo_env(libs):
    """The environment of both runs: no QV_ setting of the caller's, LIBS: when given."""
    env = {k: v for k, v in os.environ.items() if not k.startswith("QV")}
    if libs:
        env["QV_ASSIGN"] = "LIBS:=" + libs
    return env


def last_frame(frames, number):
    """The frame file that shows the window at present NUMBER: a present that changed nothing
    wrote none, so the latest one written up to it."""
    written = sorted(int(name[6:12]) for name in os.listdir(frames) if name.startswith("frame-"))
    written = [n for n in written if n <= number]
    if not written:
        raise Failure("no frame written up to %d" % number)
    return os.path.join(frames, "frame-%06d-w1.png" % written[-1])


def headless_frames(player, applet, keep, libs):
    """The RGB bytes of the headless run's frames that show the states, by frame number."""
    frames = os.path.join(keep, "demo-frames")
    shutil.rmtree(frames, ignore_errors=True)
    os.makedirs(frames)
    schedule = os.path.join(keep, "demo-input.txt")
    with open(schedule, "w") as out:
        out.write(INPUT)
    env = demo_env(libs)
    env.update(QV_VIDEO="headless", QV_HEADLESS_FRAMES=frames, QV_HEADLESS_INPUT=schedule,
               QV_HEADLESS_CLOCK="virtual")
    run = subprocess.run([player, applet, "-QUIET"], env=env, capture_output=True,
                         timeout=WAIT_SECONDS * 6)
    if run.returncode != 0:
        raise Failure("the headless run ended with %d" % run.returncode)
    shown = {}
    for _, number, _ in STATES:
        png = last_frame(frames, number)
        pnm = subprocess.run(["pngtopnm", png], check=True, capture_output=True).stdout
        _, width, height, rgb = read_pnm(pnm)
        if (width, height) != (640, 480):
            raise Failure("frame %d is %dx%d" % (number, width, height))
        shown[number] = rgb
    return shown


def window_rect(x11):
    """The demo's window, once mapped: its id and [x, y, width, height] (no window manager, so
    no frame)."""
    try:
        found = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name",
                                "QuorvellaPlayer Demo"], env=x11.env(), check=True,
                               capture_output=True, timeout=WAIT_SECONDS)
    except subprocess.TimeoutExpired:
        raise Failure("the demo's window did not appear")
    wid = found.stdout.split()[0].decode()
    shell = subprocess.run(["xdotool", "getwindowgeometry", "--shell", wid], env=x11.env(),
                           check=True, capture_output=True).stdout.decode()
    values = dict(line.split("=", 1) for line in shell.split())
    return wid, [int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT")]


def expect_line(window, wanted):
    while True:
        line = window.line()
        if line == wanted:
            return
        if not line.startswith("Demo: scene"):
            raise Failure("the demo printed %r, waiting for %r" % (line, wanted))


def run(x11, player, applet, keep, frames):
    window = Window(x11, player, [applet, "-QUIET"], ready=None)
    (name, number, line), later = STATES[0], STATES[1:]
    expect_line(window, line)
    wid, window.rect = window_rect(x11)
    if window.rect[2:] != [640, 480]:
        raise Failure("the window is %r" % window.rect)
    compare(x11, window, frames[number], "demo-" + name, keep, skip=in_track)
    actions = {"click": ["mousemove", "--window", wid, str(CLICK[0]), str(CLICK[1]), "click",
                         "1"],
               "key": ["mousemove", "--window", wid, "5", "5", "key", "a"]}
    for name, number, line in later:
        x11.xdotool(*actions[name])
        expect_line(window, line)
        compare(x11, window, frames[number], "demo-" + name, keep)
    x11.xdotool("key", "Escape")
    expect_line(window, "Demo: ended")
    try:
        window.process.wait(timeout=WAIT_SECONDS)
    except subprocess.TimeoutExpired:
        raise Failure("the demo did not end after Escape")
    status, err = window.finish()
    if status != 0:
        raise Failure("the demo ended with %d:\n%s" % (status, err))


def main():
    player, applet, keep = sys.argv[1], sys.argv[2], sys.argv[3]
    libs = sys.argv[4] if len(sys.argv) > 4 else ""
    if libs:
        # The window's run takes the caller's environment.
        os.environ["QV_ASSIGN"] = "LIBS:=" + libs
    missing = [t for t in ("Xvfb", "xwd", "xwdtopnm", "xdotool", "pngtopnm")
               if shutil.which(t) is None]
    if missing:
        print("missing: " + " ".join(missing))
        return 1 if os.environ.get("CI") == "true" else SKIP
    os.makedirs(keep, exist_ok=True)
    try:
        frames = headless_frames(player, applet, keep, libs)
        with X11() as x11:
            run(x11, player, applet, keep, frames)
    except Failure as failure:
        print("FAIL: %s" % failure)
        return 1
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
