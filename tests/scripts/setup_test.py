#!/usr/bin/env python3
"""scripts/setup.sh with fake package tools on PATH: which packages each purpose installs, and
how it runs apt-get (through sudo when not root, waiting while another installer holds a lock).

Usage: setup_test.py SETUP_SH
"""
import glob
import os
import re
import subprocess
import sys
import tempfile
import unittest

SETUP = sys.argv.pop(1) if len(sys.argv) > 1 else "scripts/setup.sh"
SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(SETUP)))

# What the test and benchmark commands need and running the player does not.
TEST_ONLY = ["nginx", "tinyproxy", "vsftpd", "python3-pyftpdlib", "curl", "regina-rexx",
             "imagemagick", "netpbm", "python3-pil", "pngcheck", "jpeginfo", "giflib-tools",
             "libjpeg-turbo-progs", "python3-opencv", "xvfb", "xdotool", "socat"]


def fake_tools(folder, uid, lock_failures):
    """Writes dpkg-query (nothing installed), id, sudo, sleep and apt-get into folder; apt-get
    logs its arguments and fails with a lock message lock_failures times."""
    scripts = {
        "dpkg-query": "exit 1",
        "id": f'echo {uid}',
        "sudo": 'echo sudo >> "$LOG"; exec "$@"',
        "sleep": "exit 0",
        "apt-get": f'''echo "apt-get $*" >> "$LOG"
n=$(cat "$COUNT" 2>/dev/null || echo 0)
if [ "$n" -lt {lock_failures} ]; then
    echo $((n + 1)) > "$COUNT"
    echo "E: Could not get lock /var/lib/apt/lists/lock. It is held by process 7 (apt-get)"
    exit 100
fi''',
    }
    for name, body in scripts.items():
        path = os.path.join(folder, name)
        with open(path, "w") as f:
            f.write("#!/bin/bash\n" + body + "\n")
        os.chmod(path, 0o755)


def run(args, uid=0, lock_failures=0):
    with tempfile.TemporaryDirectory() as folder:
        fake_tools(folder, uid, lock_failures)
        log = os.path.join(folder, "log")
        env = dict(os.environ, PATH=folder + ":" + os.environ["PATH"], LOG=log,
                   COUNT=os.path.join(folder, "count"))
        done = subprocess.run(["bash", SETUP] + args, env=env, capture_output=True, text=True)
        calls = open(log).read().splitlines() if os.path.exists(log) else []
        return done.returncode, done.stdout, calls


def listed(args):
    status, out, _ = run(args + ["--list"])
    assert status == 0, out
    return out.split()


class Lists(unittest.TestCase):
    def test_each_package_is_written_once(self):
        text = open(SETUP).read()
        words = []
        for body in re.findall(r"^\w+=\(\n?(.*?)\)$", text, re.S | re.M):
            for line in body.splitlines():
                words += line.split("#")[0].split()
        self.assertGreater(len(words), 40)
        self.assertEqual(sorted(w for w in set(words) if words.count(w) > 1), [])

    def test_running_the_player_installs_no_test_only_package(self):
        player = listed([])
        self.assertIn("libsdl2-dev", player)
        self.assertEqual([p for p in TEST_ONLY if p in player], [])

    def test_the_purposes_add_their_packages(self):
        player, tests, everything = listed([]), listed(["--tests"]), listed(["--all"])
        self.assertEqual([p for p in TEST_ONLY if p not in tests], [])
        self.assertEqual(tests[:len(player)], player)
        self.assertTrue(set(tests) | {"clang", "libclang-rt-14-dev"} <= set(everything))
        self.assertEqual(len(everything), len(set(everything)))

    def test_an_unknown_option_is_refused(self):
        status, _, calls = run(["--everything"])
        self.assertEqual((status, calls), (1, []))


def package_lists():
    """The arrays of setup.sh by name, each a list of package names."""
    text = open(SETUP).read()
    return {name: " ".join(line.split("#")[0] for line in body.splitlines()).split()
            for name, body in re.findall(r"^(\w+)=\(\n?(.*?)\)$", text, re.S | re.M)}


def included_headers():
    """Every <header> that a C or C++ source of the tree includes."""
    names = set()
    for pattern in ("**/*.cpp", "**/*.h", "**/*.c"):
        for path in glob.glob(os.path.join(SOURCE_DIR, pattern), recursive=True):
            if "/build/" in path:
                continue
            with open(path, errors="replace") as source:
                names |= set(re.findall(r"^\s*#\s*include\s*<([^>]+)>", source.read(), re.M))
    return names


class BuildList(unittest.TestCase):
    def test_building_the_tree_needs_no_header_of_a_later_list(self):
        # Configuring and building the whole tree must work after the player's list alone:
        # a header that only --tests installs breaks `cmake --build` of a fresh clone.
        lists = package_lists()
        later = [p for name in ("tests", "python", "fuzz") for p in lists[name]
                 if p.endswith("-dev") and p not in lists["build"]]
        included = included_headers()
        for package in later:
            files = subprocess.run(["dpkg", "-L", package], capture_output=True, text=True)
            if files.returncode != 0:
                if os.environ.get("CI") == "true":
                    self.fail(package + " is not installed")
                continue
            headers = {path[len("/usr/include/"):] for path in files.stdout.split()
                       if path.startswith("/usr/include/") and os.path.isfile(path)}
            self.assertEqual(sorted(headers & included), [], package)


class AptGet(unittest.TestCase):
    def test_root_runs_apt_get_directly(self):
        status, _, calls = run([])
        self.assertEqual(status, 0)
        self.assertEqual(len(calls), 2)
        self.assertTrue(calls[0].startswith("apt-get -o DPkg::Lock::Timeout=600 update"))
        self.assertTrue(calls[1].startswith(
            "apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends g++ "))

    def test_a_user_goes_through_sudo(self):
        status, _, calls = run([], uid=1000)
        self.assertEqual(status, 0)
        self.assertEqual(calls[0::2], ["sudo", "sudo"])

    def test_a_held_lock_is_waited_for(self):
        status, out, calls = run([], lock_failures=2)
        self.assertEqual(status, 0, out)
        self.assertEqual([c.split()[3] for c in calls], ["update", "update", "update", "install"])


if __name__ == "__main__":
    unittest.main()
