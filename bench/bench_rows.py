"""Shared pieces of the benchmark runners that sit beside scripts/bench_report.py: timing a
peer in-process, pairing our output lines with the peers' rows, and printing rows of ours
beside the peer and appending them to the TSV."""
import statistics
import time


def median_time(fn, runs=5):
    """Median seconds of runs calls of fn after one warm-up call, and its last result."""
    result = fn()
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        result = fn()
        times.append(time.perf_counter() - start)
    return statistics.median(times), result


def rows_beside(ours, theirs):
    """ours: a benchmark's output, a line "id seconds checksum" per row; theirs: row id ->
    (description, peer seconds, peer checksum). The rows for report(), in our order."""
    rows = []
    for line in ours.strip().splitlines():
        row_id, seconds, checksum = line.split(" ", 2)
        name, peer_time, peer_checksum = theirs[row_id]
        rows.append((row_id, name, float(seconds), peer_time, peer_checksum == checksum))
    return rows


def report(rows, tsv_path):
    """rows: (id, name, our seconds, peer seconds, checksums agree). Prints each with the
    ratio peer/ours (FAIL when the checksums differ) and appends it to the TSV."""
    lines = []
    for row_id, name, ours, peer, ok in rows:
        ratio = "%.2f" % (peer / ours) if ok else "FAIL"
        print(f"{row_id:<15} {name:<46} {ours * 1000:>10.1f} {peer * 1000:>10.1f} "
              f"{'ms':>3} {ratio:>6}")
        lines.append("\t".join([row_id, name, "%.1f" % (ours * 1000), "%.1f" % (peer * 1000),
                                "ms", ratio]))
    with open(tsv_path, "a") as f:
        f.write("\n".join(lines) + "\n")
