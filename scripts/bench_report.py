#!/usr/bin/env python3
"""Pairs Google Benchmark results named "ID:name/ours" and "ID:name/peer", prints each figure
beside its peer with the ratio peer/ours (above 1 means we are faster) and writes the rows as
TSV: id, name, ours, peer, unit, ratio."""
import json
import sys


def main(json_path, tsv_path):
    with open(json_path) as f:
        runs = json.load(f)["benchmarks"]
    rows = {}
    for run in runs:
        if run.get("run_type") == "aggregate":
            continue
        full, _, side = run["name"].rpartition("/")
        if side not in ("ours", "peer") or ":" not in full:
            continue
        bench_id, _, name = full.partition(":")
        row = rows.setdefault(bench_id, {"name": name})
        row[side] = run["real_time"]
        row["unit"] = run["time_unit"]
    lines = []
    print(f"{'id':<6} {'name':<40} {'ours':>12} {'peer':>12} {'unit':>5} {'ratio':>7}")
    for bench_id, row in rows.items():
        ours, peer = row.get("ours"), row.get("peer")
        ratio = f"{peer / ours:.2f}" if ours and peer else "n/a"
        fmt = lambda v: f"{v:.1f}" if v is not None else "n/a"
        print(f"{bench_id:<6} {row['name']:<40} {fmt(ours):>12} {fmt(peer):>12} "
              f"{row['unit']:>5} {ratio:>7}")
        lines.append("\t".join([bench_id, row["name"], fmt(ours), fmt(peer), row["unit"], ratio]))
    with open(tsv_path, "w") as f:
        f.write("id\tname\tours\tpeer\tunit\tratio\n")
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
