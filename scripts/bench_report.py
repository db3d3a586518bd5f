#!/usr/bin/env python3
"""Pairs Google Benchmark results named "ID:name/ours" and "ID:name/peer", prints each figure
beside its peer with the ratio peer/ours (above 1 means we are faster) and writes the rows as
TSV: id, name, ours, peer, unit, ratio. A side that did not run leaves its figure "n/a" and
says why in the ratio column."""
import json
import sys

SIDES = ("ours", "peer")


def split_name(name):
    """(id, row name, side) of a result named "ID:name/ours" or "ID:name/peer", whatever
    Google Benchmark appended after the side ("/manual_time", "/iterations:5", ...); None for
    any other name."""
    parts = name.split("/")
    at = max((i for i, part in enumerate(parts) if part in SIDES), default=None)
    if at is None:
        return None
    full = "/".join(parts[:at])
    if ":" not in full:
        return None
    bench_id, _, row_name = full.partition(":")
    return bench_id, row_name, parts[at]


def read_rows(runs):
    """Row id -> {"name", "unit", side: seconds in the unit, side + " error": why not}."""
    rows = {}
    for run in runs:
        if run.get("run_type") == "aggregate":
            continue
        split = split_name(run["name"])
        if split is None:
            continue
        bench_id, name, side = split
        row = rows.setdefault(bench_id, {"name": name, "unit": run.get("time_unit", "ns")})
        if run.get("error_occurred"):
            row[side + " error"] = run.get("error_message") or "failed"
        else:
            row[side] = run["real_time"]
            row["unit"] = run["time_unit"]
    return rows


def ratio_text(row):
    """The ratio peer/ours, or which side did not run and why."""
    missing = [side for side in SIDES if row.get(side) is None]
    if not missing:
        return f"{row['peer'] / row['ours']:.2f}"
    return "; ".join(f"{side} did not run ({row.get(side + ' error', 'no result')})"
                     for side in missing)


def main(json_path, tsv_path):
    with open(json_path) as f:
        rows = read_rows(json.load(f)["benchmarks"])
    lines = []
    print(f"{'id':<6} {'name':<40} {'ours':>12} {'peer':>12} {'unit':>5} {'ratio':>7}")
    for bench_id, row in rows.items():
        fmt = lambda v: f"{v:.1f}" if v is not None else "n/a"
        ours, peer, ratio = fmt(row.get("ours")), fmt(row.get("peer")), ratio_text(row)
        print(f"{bench_id:<6} {row['name']:<40} {ours:>12} {peer:>12} {row['unit']:>5} {ratio:>7}")
        lines.append("\t".join([bench_id, row["name"], ours, peer, row["unit"], ratio]))
    with open(tsv_path, "w") as f:
        f.write("id\tname\tours\tpeer\tunit\tratio\n")
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
