#!/usr/bin/env python3
"""Runs every script workload with qvbench beside its CPython peer (the system's python3),
prints ours, the peer and the ratio peer/ours per row, and appends the rows to the TSV that
scripts/bench_report.py started. A checksum mismatch writes FAIL as the ratio."""
import os
import subprocess
import sys

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


def parse(output):
    fields = dict(line.split(" ", 1) for line in output.strip().splitlines() if " " in line)
    return fields.get("checksum", ""), float(fields["seconds"])


def main(build_dir, tsv_path):
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    qvbench = os.path.join(build_dir, "bin", "qvbench")
    python = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else "python3"
    lines = []
    for row_id, name, workload, hook in ROWS:
        listing = os.path.join(root, "bench", "engine", "workloads", workload + ".qvs")
        peer = os.path.join(root, "bench", "peers", workload + ".py")
        ours = subprocess.run([qvbench] + (["--hook"] if hook else []) + [listing],
                              capture_output=True, text=True, check=True).stdout
        theirs = subprocess.run([python, peer], capture_output=True, text=True, check=True,
                                cwd=os.path.dirname(peer)).stdout
        our_sum, our_time = parse(ours)
        peer_sum, peer_time = parse(theirs)
        ratio = "FAIL" if our_sum != peer_sum else "%.2f" % (peer_time / our_time)
        print(f"{row_id:<6} {name:<40} {our_time * 1000:>12.1f} {peer_time * 1000:>12.1f} "
              f"{'ms':>5} {ratio:>7}")
        lines.append("\t".join([row_id, name, "%.1f" % (our_time * 1000),
                                "%.1f" % (peer_time * 1000), "ms", ratio]))
    with open(tsv_path, "a") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
