#!/usr/bin/env python3
"""The sdl video back end under a real X server: starts Xvfb, opens windows with qvwin,
compares screenshots (xwd) with what was shown pixel for pixel, and sends input with xdotool.

Usage: x11_test.py QVWIN CASE [KEEP_DIR]
       x11_test.py QUORVELLA events|buttons KEEP_DIR APPLET

CASE is one of ppm-origin, ppm-offset, shape, mouse, keys; events runs the player on an
applet that prints READY and then the key and the click it receives through WaitEvent, buttons
one that prints its button's handler calls. A mismatching screenshot is kept in
KEEP_DIR (default: the current directory) as CASE-shot.ppm with CASE-diff.ppm (differing pixels
white), and the first 20 differing pixels are printed. Without Xvfb, xwd or xdotool the test is
skipped (status 77), or fails under CI=true."""
import os
import select
import shutil
import signal
import subprocess
import sys
import time

SCREEN = (800, 600)
SKIP = 77
WAIT_SECONDS = 10


class Failure(Exception):
    pass


def read_pnm(data):
    """(magic, width, height, samples as a list) of a binary PPM or PGM; 16-bit samples are
    cut to 8 bits."""
    fields, at = [], 0
    while len(fields) < 4:
        while data[at:at + 1].isspace() or data[at:at + 1] == b"#":
            at = data.index(b"\n", at) + 1 if data[at:at + 1] == b"#" else at + 1
        start = at
        while not data[at:at + 1].isspace():
            at += 1
        fields.append(data[start:at])
    magic, width, height, maxval = fields[0], int(fields[1]), int(fields[2]), int(fields[3])
    body = data[at + 1:]
    if maxval > 255:
        body = body[0::2]
    return magic, width, height, body


def write_ppm(path, width, height, rgb):
    with open(path, "wb") as out:
        out.write(b"P6\n%d %d\n255\n" % (width, height) + bytes(rgb))


class X11:
    """Xvfb on a display it picks itself, stopped by its pid."""

    def __enter__(self):
        read_end, write_end = os.pipe()
        self.server = subprocess.Popen(
            ["Xvfb", "-displayfd", "3", "-screen", "0", "%dx%dx24" % SCREEN, "-br",
             "-nolisten", "tcp"],
            preexec_fn=lambda: os.dup2(write_end, 3), close_fds=False,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        while not number.endswith(b"\n"):
            ready, _, _ = select.select([read_end], [], [], WAIT_SECONDS)
            chunk = os.read(read_end, 16) if ready else b""
            if not chunk:
                raise Failure("Xvfb did not start")
            number += chunk
        os.close(read_end)
        self.display = ":" + number.decode().strip()
        return self

    def __exit__(self, *exc):
        self.server.terminate()
        self.server.wait()

    def env(self):
        env = dict(os.environ, DISPLAY=self.display, QV_VIDEO="sdl")
        env.pop("WAYLAND_DISPLAY", None)
        suppressions = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lsan.supp")
        env["LSAN_OPTIONS"] = "suppressions=" + suppressions
        return env

    def screenshot(self):
        """The root window as (width, height, RGB bytes)."""
        xwd = subprocess.run(["xwd", "-root", "-silent"], env=self.env(), check=True,
                             capture_output=True).stdout
        pnm = subprocess.run(["xwdtopnm"], input=xwd, check=True, capture_output=True).stdout
        _, width, height, rgb = read_pnm(pnm)
        return width, height, rgb

    def xdotool(self, *args):
        subprocess.run(["xdotool"] + list(args), env=self.env(), check=True)


class Window:
    """A qvwin process (or the player, ready=None) and the lines it prints."""

    def __init__(self, x11, qvwin, args, ready="READY"):
        self.process = subprocess.Popen([qvwin] + args, env=x11.env(), stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE)
        self.pending = b""
        if ready is None:
            return
        ready = self.line().split()
        if len(ready) != 5 or ready[0] != "READY":
            raise Failure("qvwin said %r instead of READY" % " ".join(ready))
        self.rect = [int(v) for v in ready[1:]]

    def line(self):
        deadline = time.monotonic() + WAIT_SECONDS
        while b"\n" not in self.pending:
            left = deadline - time.monotonic()
            ready, _, _ = select.select([self.process.stdout], [], [], max(left, 0))
            chunk = os.read(self.process.stdout.fileno(), 4096) if ready else b""
            if not chunk:
                raise Failure("qvwin printed no line (%s)" % self.finish()[1].strip())
            self.pending += chunk
        line, self.pending = self.pending.split(b"\n", 1)
        return line.decode()

    def events(self, count):
        """The next count EVENT lines, skipping window activations (8 and 6)."""
        events = []
        while len(events) < count:
            words = self.line().split()
            if words[0] == "EVENT" and words[1] not in ("6", "8"):
                events.append(" ".join(words))
        return events

    def finish(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        _, err = self.process.communicate(timeout=WAIT_SECONDS)
        return self.process.returncode, err.decode(errors="replace")


def compare(x11, window, expected, case, keep, skip=None):
    """The window's rectangle of the screen must equal expected (width x height RGB; None
    where the root shows, which is black), except at the pixels (column, row) that skip
    names."""
    x, y, width, height = window.rect
    differences = []
    for _ in range(20):  # the server may still be drawing what was presented
        screen_width, _, screen = x11.screenshot()
        differences = []
        for row in range(height):
            for column in range(width):
                at = ((y + row) * screen_width + x + column) * 3
                want = expected[(row * width + column) * 3:(row * width + column) * 3 + 3]
                got = screen[at:at + 3]
                if got != want and not (skip and skip(column, row)):
                    differences.append((column, row, tuple(got), tuple(want)))
        if not differences:
            return
        time.sleep(0.1)
    shot = [screen[((y + r) * screen_width + x + c) * 3 + k]
            for r in range(height) for c in range(width) for k in range(3)]
    write_ppm(os.path.join(keep, case + "-shot.ppm"), width, height, shot)
    mark = bytearray(width * height * 3)
    for column, row, _, _ in differences:
        mark[(row * width + column) * 3:(row * width + column) * 3 + 3] = b"\xff\xff\xff"
    write_ppm(os.path.join(keep, case + "-diff.ppm"), width, height, mark)
    lines = ["(%d, %d): shown %s, expected %s" % d for d in differences[:20]]
    raise Failure("%d pixels differ; the first ones:\n%s" % (len(differences), "\n".join(lines)))


def pattern(width, height):
    return bytes((c * 7 + r * 13 + k * 101 + (c ^ r)) % 256
                 for r in range(height) for c in range(width) for k in range(3))


def run_ppm(x11, qvwin, case, keep, x, y, width, height):
    rgb = pattern(width, height)
    path = os.path.join(keep, case + ".ppm")
    write_ppm(path, width, height, rgb)
    window = Window(x11, qvwin, ["--ppm", path, "--x", str(x), "--y", str(y)])
    print("READY %d %d %d %d" % tuple(window.rect))
    if window.rect != [x, y, width, height]:
        raise Failure("the inner rectangle is %r, not %r (a window frame?)" %
                      (window.rect, [x, y, width, height]))
    compare(x11, window, rgb, case, keep)
    return window


def run_shape(x11, qvwin, case, keep):
    width, height = 41, 31
    inside = [(c - 20) ** 2 + (r - 15) ** 2 <= 144 for r in range(height) for c in range(width)]
    shape = os.path.join(keep, case + ".pgm")
    with open(shape, "wb") as out:
        out.write(b"P5\n%d %d\n255\n" % (width, height) +
                  bytes(200 if i else 90 for i in inside))
    rgb = pattern(width, height)
    path = os.path.join(keep, case + ".ppm")
    write_ppm(path, width, height, rgb)
    window = Window(x11, qvwin, ["--ppm", path, "--shape", shape, "--x", "100", "--y", "50"])
    expected = bytearray(rgb)
    for i, shown in enumerate(inside):
        if not shown:
            expected[i * 3:i * 3 + 3] = b"\0\0\0"
    compare(x11, window, bytes(expected), case, keep)
    return window


def run_mouse(x11, qvwin):
    window = Window(x11, qvwin, ["--width", "64", "--height", "48", "--borderless"])
    x11.xdotool("mousemove", "10", "10", "click", "1")
    events = window.events(2)
    if events != ["EVENT 1 10 10 1", "EVENT 1 10 10 0"]:
        raise Failure("the click gave %r" % events)
    return window


def run_keys(x11, qvwin):
    window = Window(x11, qvwin, ["--width", "64", "--height", "48", "--borderless"])
    x11.xdotool("mousemove", "20", "20")  # the keyboard follows the pointer without a manager
    x11.xdotool("key", "Escape", "a", "shift+a")
    downs = []
    while len(downs) < 3:
        words = window.events(1)[0].split()
        if words[1] == "3" and words[2] == "1":
            downs.append(int(words[4]))
    if downs != [275, 97, 65]:
        raise Failure("the keys gave %r" % downs)
    return window


def player_window(x11):
    """The id of the player's window once it is mapped: only a mapped window takes input, and
    SDL may show it after the applet printed READY."""
    try:
        found = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name",
                                "Quorvella"], env=x11.env(), check=True, capture_output=True,
                               timeout=WAIT_SECONDS)
    except subprocess.TimeoutExpired:
        raise Failure("the player's window did not appear")
    return found.stdout.split()[0].decode()


def run_events(x11, player, applet):
    """The player's WaitEvent loop receives xdotool's key and click and then ends."""
    window = Window(x11, player, [applet, "-QUIET"], ready=None)
    if window.line() != "READY":
        raise Failure("the applet did not start")
    player_window(x11)
    x11.xdotool("mousemove", str(SCREEN[0] // 2), str(SCREEN[1] // 2))
    x11.xdotool("key", "a")
    x11.xdotool("click", "1")
    lines = [window.line(), window.line()]
    if lines != ["OnKeyDown a", "OnMouseDown"]:
        raise Failure("the handlers printed %r" % lines)
    try:
        window.process.wait(timeout=WAIT_SECONDS)  # the loop ends by itself
    except subprocess.TimeoutExpired:
        raise Failure("the player did not end after its two events")
    return window


def run_buttons(x11, player, applet):
    """A button of the player's display hears the pointer enter, leave, enter and click."""
    window = Window(x11, player, [applet, "-QUIET"], ready=None)
    if window.line() != "READY":
        raise Failure("the applet did not start")
    wid = player_window(x11)
    expected = ["OnMouseOver 1 50", "OnMouseOut 1 50", "OnMouseOver 1 50", "OnMouseDown 1 50"]
    lines = []
    for x, y in ((120, 120), (300, 300), (149, 139)):
        x11.xdotool("mousemove", "--window", wid, str(x), str(y))
        lines.append(window.line())
    x11.xdotool("click", "1")
    lines.append(window.line())
    if lines != expected:
        raise Failure("the button's handlers printed %r" % lines)
    try:
        window.process.wait(timeout=WAIT_SECONDS)
    except subprocess.TimeoutExpired:
        raise Failure("the player did not end after the button's four calls")
    return window


def main():
    qvwin, case = sys.argv[1], sys.argv[2]
    keep = sys.argv[3] if len(sys.argv) > 3 else os.getcwd()
    missing = [t for t in ("Xvfb", "xwd", "xwdtopnm", "xdotool") if shutil.which(t) is None]
    if missing:
        print("missing: " + " ".join(missing))
        return 1 if os.environ.get("CI") == "true" else SKIP
    os.makedirs(keep, exist_ok=True)
    try:
        with X11() as x11:
            if case == "ppm-origin":
                window = run_ppm(x11, qvwin, case, keep, 0, 0, 37, 21)
            elif case == "ppm-offset":
                window = run_ppm(x11, qvwin, case, keep, 37, 21, 53, 29)
            elif case == "shape":
                window = run_shape(x11, qvwin, case, keep)
            elif case == "mouse":
                window = run_mouse(x11, qvwin)
            elif case == "keys":
                window = run_keys(x11, qvwin)
            elif case == "events":
                window = run_events(x11, qvwin, sys.argv[4])
            elif case == "buttons":
                window = run_buttons(x11, qvwin, sys.argv[4])
            else:
                raise Failure("unknown case " + case)
            status, err = window.finish()
            if status != 0:
                raise Failure("qvwin ended with %d:\n%s" % (status, err))
    except Failure as failure:
        print("FAIL: %s" % failure)
        return 1
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
