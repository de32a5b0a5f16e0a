#!/usr/bin/env python3
"""Turns genplot_bench's JSON output into the table of stages, references and ratios.

Takes the median of every repetition when the run had repetitions, else the single run.
Exits non-zero when a benchmark reported an error (so a smoke run fails loudly).
"""

import json
import os
import platform
import subprocess
import sys


def load(path):
    with open(path) as f:
        data = json.load(f)
    runs = {}
    errors = []
    for b in data["benchmarks"]:
        name = b.get("run_name", b["name"])
        if b.get("error_occurred"):
            errors.append(f"{name}: {b.get('error_message', 'error')}")
            continue
        kind = b.get("run_type", "iteration")
        if kind == "aggregate":
            if b.get("aggregate_name") == "median":
                runs[name] = b
        elif name not in runs:
            runs[name] = b
    return data.get("context", {}), runs, errors


def counter(runs, name, key):
    b = runs.get(name)
    if b is None or key not in b:
        return None
    return float(b[key])


def rate(value, unit):
    if value is None:
        return "—"
    for scale, prefix in ((1e9, "G"), (1e6, "M"), (1e3, "k")):
        if value >= scale:
            return f"{value / scale:.2f} {prefix}{unit}"
    return f"{value:.2f} {unit}"


# stage, our benchmark, reference benchmark, reference label, counter, unit, goal (ratio >=)
ROWS = [
    ("ingest + routing", "BM_Ingest/manual_time", "BM_FloorFrameworkList/manual_time",
     "framework list, heap points", "points_per_second", "pt/s", 0.8),
    ("ingest + routing", "BM_Ingest/manual_time", "BM_PooledFrameworkList/manual_time",
     "framework list, pooled points", "points_per_second", "pt/s", None),
    ("finalisation, whole", "BM_Finalize/manual_time", None, "", "points_per_second",
     "pt/s", None),
    ("  placement", "BM_Placement/manual_time", None, "", "points_per_second", "pt/s", None),
    ("  fat-line pass (per input pt)", "BM_FatLinePass/manual_time",
     "BM_ClipperOffset/manual_time", "Clipper offset, miter", "points_per_second", "pt/s", 20.0),
    ("  boxes", "BM_Boxes/manual_time", None, "", "points_per_second", "pt/s", None),
    ("writer -> temp file", "BM_Writer/null:0/manual_time",
     "BM_FloorPackedFwrite/null:0/manual_time", "packed fwrite floor", "points_per_second",
     "pt/s", 0.8),
    ("writer -> /dev/null", "BM_Writer/null:1/manual_time",
     "BM_FloorPackedFwrite/null:1/manual_time", "packed fwrite floor", "points_per_second",
     "pt/s", 0.8),
    ("writer -> temp file", "BM_Writer/null:0/manual_time",
     "BM_FloorPackedFlatFwrite/null:0/manual_time", "packed fwrite, flat points",
     "points_per_second", "pt/s", None),
    ("writer -> temp file", "BM_Writer/null:0/manual_time",
     "BM_FloorRecordsFwrite/null:0/manual_time", "fwrite of encoded records",
     "points_per_second", "pt/s", 0.5),
    ("writer -> /dev/null", "BM_Writer/null:1/manual_time",
     "BM_FloorPackedFlatFwrite/null:1/manual_time", "packed fwrite, flat points",
     "points_per_second", "pt/s", None),
    ("writer -> /dev/null", "BM_Writer/null:1/manual_time",
     "BM_FloorRecordsFwrite/null:1/manual_time", "fwrite of encoded records",
     "points_per_second", "pt/s", None),
    ("writer -> /dev/null", "BM_Writer/null:1/manual_time",
     "BM_LibplotDriver/metafile/manual_time", "libplot metafile", "points_per_second", "pt/s",
     2.0),
    ("writer -> /dev/null", "BM_Writer/null:1/manual_time",
     "BM_LibplotDriver/hpgl/manual_time", "libplot HP-GL", "points_per_second", "pt/s", None),
    ("SendGenericPlot copy", "BM_SendGenericPlotCopy/manual_time",
     "BM_FloorBlockCopy/manual_time", "4096-byte block copy", "bytes_per_second", "B/s", 0.8),
    ("teardown", "BM_Teardown/manual_time", "BM_FloorListTeardown/manual_time",
     "list teardown, heap points", "points_per_second", "pt/s", None),
]


SCALE_STAGES = [("ingest + routing", "BM_ScaleIngest"), ("finalisation", "BM_ScaleFinalize"),
                ("writing to /dev/null", "BM_ScaleWrite")]
SCALE_PIECES = [10, 100, 1000, 2991]
SCALE_POINTS = [10000, 100000, 1000000, 10000000]
# The routing goal: per point, the strokes among 2,991 pieces cost at most this many times
# what they cost among 10.
ROUTING_GOAL = 1.5


def nanoseconds_per_point(runs, name):
    rate_value = counter(runs, name, "points_per_second")
    return 1e9 / rate_value if rate_value else None


def points_label(points):
    return f"{points // 1000000} M" if points >= 1000000 else f"{points // 1000} k"


def scaling(runs):
    """The cost per point of each stage by pieces and stroke points, and the routing goal."""
    if not any(name.startswith("BM_Scale") for name in runs):
        return []
    lines = ["", "cost per point (ns, CPU time), by pieces and stroke points"]
    table = [["stage", "pieces"] + [points_label(p) for p in SCALE_POINTS]]
    for stage, benchmark in SCALE_STAGES:
        for pieces in SCALE_PIECES:
            row = [stage if pieces == SCALE_PIECES[0] else "", f"{pieces:,}"]
            for points in SCALE_POINTS:
                ns = nanoseconds_per_point(
                    runs, f"{benchmark}/pieces:{pieces}/points:{points}/manual_time")
                row.append(f"{ns:.1f}" if ns is not None else "—")
            table.append(row)
    widths = [max(len(row[i]) for row in table) for i in range(len(table[0]))]
    for i, row in enumerate(table):
        cells = [row[0].ljust(widths[0])] + [c.rjust(widths[j]) for j, c in enumerate(row) if j]
        lines.append("  ".join(cells).rstrip())
        if i == 0:
            lines.append("  ".join("-" * w for w in widths))
    few = nanoseconds_per_point(runs, "BM_RoutingGoal/pieces:10/manual_time")
    most = nanoseconds_per_point(runs, "BM_RoutingGoal/pieces:2991/manual_time")
    scan = nanoseconds_per_point(runs, "BM_RoutingGoalScan/pieces:2991/manual_time")
    if few and most:
        ratio = most / few
        verdict = "holds" if ratio <= ROUTING_GOAL else "MISSES"
        lines.append("")
        lines.append(f"routing, 20,000 strokes of 10 points: {few:.1f} ns/pt among 10 pieces, "
                     f"{most:.1f} ns/pt among 2,991: {ratio:.2f}x (goal <= {ROUTING_GOAL:g}x): "
                     f"{verdict}")
        if scan:
            lines.append(f"  the same among 2,991 pieces by a scan of the list: {scan:.1f} ns/pt "
                         f"({scan / most:.1f}x the index)")
    return lines


def machine(context):
    lines = [f"machine: {platform.machine()}, {platform.system()} {platform.release()}, "
             f"nproc {os.cpu_count()}, {context.get('mhz_per_cpu', '?')} MHz"]
    try:
        cpu = subprocess.run(["lscpu"], capture_output=True, text=True, check=False).stdout
        for line in cpu.splitlines():
            if line.startswith(("Model name", "Hypervisor vendor", "L1d", "L2", "L3")):
                lines.append("  " + " ".join(line.split()))
    except OSError:
        pass
    return lines


def main():
    if len(sys.argv) < 2:
        print("usage: report.py results.json [--machine]", file=sys.stderr)
        return 2
    context, runs, errors = load(sys.argv[1])
    table = [("stage", "ours", "reference", "reference rate", "ratio", "goal", "")]
    for stage, ours, ref, label, key, unit, goal in ROWS:
        mine = counter(runs, ours, key)
        theirs = counter(runs, ref, key) if ref else None
        ratio = mine / theirs if mine is not None and theirs else None
        verdict = ""
        if goal is not None:
            if ratio is None:
                verdict = "not measured"
            else:
                verdict = "holds" if ratio >= goal else "MISSES"
        table.append((stage, rate(mine, unit), label or "—", rate(theirs, unit),
                      f"{ratio:.2f}" if ratio is not None else "—",
                      f">= {goal:g}" if goal is not None else "", verdict))
    memory = counter(runs, "BM_MemoryPerPoint/iterations:1/manual_time", "bytes_per_point")
    floor = counter(runs, "BM_MemoryPerPoint/iterations:1/manual_time", "floor_bytes_per_point")
    table.append(("memory per stored point", f"{memory:.1f} B" if memory else "—",
                  "framework list, heap points", f"{floor:.1f} B" if floor else "—",
                  f"{memory / floor:.2f}" if memory and floor else "—", "<= 48 B",
                  ("holds" if memory <= 48 else "MISSES") if memory else "not measured"))
    widths = [max(len(row[i]) for row in table) for i in range(len(table[0]))]
    for i, row in enumerate(table):
        print("  ".join(cell.ljust(widths[j]) for j, cell in enumerate(row)).rstrip())
        if i == 0:
            print("  ".join("-" * w for w in widths))
    for line in scaling(runs):
        print(line)
    if "--machine" in sys.argv:
        print()
        for line in machine(context):
            print(line)
    if errors:
        print("\nbenchmarks that failed:", file=sys.stderr)
        for e in errors:
            print("  " + e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
