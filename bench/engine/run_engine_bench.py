#!/usr/bin/env python3
"""Runs every script workload with qvbench beside its CPython peer (the system's python3),
prints ours, the peer and the ratio peer/ours per row, and appends the rows to the TSV that
scripts/bench_report.py started. A checksum mismatch writes FAIL as the ratio.

Each side reports the median of five timed runs; both are run three times, alternating, and
the median of those is kept, so that a burst of load on a shared machine moves one figure
less. Both sides run on the same processor (the highest-numbered one this runner may use):
left to the scheduler, a run that migrates between busy processors took up to half as long
again.

Usage: run_engine_bench.py BUILD_DIR TSV"""
import os
import statistics
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from bench_rows import report  # noqa: E402

ROWS = [
    ("B1", "FORLOOP + ADD, 10^8", "b1_loop", False),
    ("B1h", "B1 with the idle line hook", "b1_loop", True),
    ("B2", "recursive fib(30)", "b2_fib", False),
    ("B2h", "B2 with the idle line hook", "b2_fib", True),
    ("B3", "10^7 no-op command calls", "b3_command", False),
    ("B4", "t[i] = i, 10^6, then the sum", "b4_array", False),
    ("B5", "t.x = t.x + 1, 10^7", "b5_field", False),
    ("B6a", '"k" .. i, 10^5', "b6a_concat_number", False),
    ("B6b", "a .. b, 10^6", "b6b_concat_strings", False),
    ("B7a", "closure made and called, 10^6", "b7a_closure", False),
    ("B7b", "upvalue counter, 10^7", "b7b_upvalue", False),
    ("B8a", "__index function, 10^6", "b8a_index", False),
    ("B8b", "__add metamethod, 10^6", "b8b_add", False),
    ("B9a", "10^7 short-lived tables", "b9a_tables", False),
    ("B9b", "collection with 10^6 live tables", "b9b_collect", False),
]
# S1b: the player's own input poll, idle on the headless back end, beside the bare idle hook
# of B1h and B2h in the same run (ratio: hook time / poll time).
POLL_ROWS = [
    ("S1b:B1h", "B1h with the player's input poll", "b1_loop"),
    ("S1b:B2h", "B2h with the player's input poll", "b2_fib"),
]
REPEATS = 3


def run(command, cwd=None, env=None):
    """(checksum, seconds) from the "checksum" and "seconds" lines a side prints."""
    output = subprocess.run(command, capture_output=True, text=True, check=True, cwd=cwd,
                            env=env).stdout
    fields = dict(line.split(" ", 1) for line in output.strip().splitlines() if " " in line)
    return fields.get("checksum", ""), float(fields["seconds"])


def pin_to_one_processor():
    """Runs this process and the sides it starts on one processor, where Linux allows it."""
    if hasattr(os, "sched_setaffinity"):
        os.sched_setaffinity(0, {max(os.sched_getaffinity(0))})


def main(build_dir, tsv_path):
    pin_to_one_processor()
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    qvbench = os.path.join(build_dir, "bin", "qvbench")
    python = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else "python3"
    rows = []
    for row_id, name, workload, hook in ROWS:
        listing = os.path.join(root, "bench", "engine", "workloads", workload + ".qvs")
        peer = os.path.join(root, "bench", "peers", workload + ".py")
        ours, theirs = [], []
        for _ in range(REPEATS):
            ours.append(run([qvbench] + (["--hook"] if hook else []) + [listing]))
            theirs.append(run([python, peer], cwd=os.path.dirname(peer)))
        agree = all(o[0] == t[0] for o in ours for t in theirs)
        rows.append((row_id, name, statistics.median(o[1] for o in ours),
                     statistics.median(t[1] for t in theirs), agree))
    env = dict(os.environ, QV_VIDEO="headless")
    for row_id, name, workload in POLL_ROWS:
        listing = os.path.join(root, "bench", "engine", "workloads", workload + ".qvs")
        polls, hooks = [], []
        for _ in range(REPEATS):
            polls.append(run([qvbench, "--poll", listing], env=env))
            hooks.append(run([qvbench, "--hook", listing], env=env))
        agree = all(p[0] == h[0] for p in polls for h in hooks)
        rows.append((row_id, name, statistics.median(p[1] for p in polls),
                     statistics.median(h[1] for h in hooks), agree))
    report(rows, tsv_path)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
