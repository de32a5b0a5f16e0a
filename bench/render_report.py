#!/usr/bin/env python3
"""The drawing rows of a genplot_bench JSON run: for each output format, plot points per
second and the peak heap per point, both for the drawing alone (beyond the decoded plot) and
for the whole path from the plot file on disk to the output (also per byte of the file); for
the pictures also the whole path with the file decoded in full before drawing.

Prints nothing when the run has no drawing rows (a build without cairo).
"""

import json
import sys

ROWS = [("PDF", "BM_RenderPdf"), ("PNG", "BM_RenderPng"), ("SVG", "BM_RenderSvg"),
        ("HP-GL/2 export", "BM_ExportHpgl2")]


def load(path):
    with open(path) as f:
        data = json.load(f)
    runs = {}
    for b in data["benchmarks"]:
        if b.get("error_occurred"):
            continue
        name = b.get("run_name", b["name"])
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") == "median":
                runs[name] = b
        elif name not in runs:
            runs[name] = b
    return runs


def find(runs, prefix):
    for name, run in runs.items():
        if name == prefix or name.startswith(prefix + "/"):
            return run
    return None


def rate(value):
    for scale, prefix in ((1e9, "G"), (1e6, "M"), (1e3, "k")):
        if value >= scale:
            return f"{value / scale:.2f} {prefix}pt/s"
    return f"{value:.2f} pt/s"


def main():
    if len(sys.argv) != 2:
        print("usage: render_report.py results.json", file=sys.stderr)
        return 2
    runs = load(sys.argv[1])
    table = [("format", "points/s", "heap/point, drawing", "heap/point, file to output",
              "heap/file byte, file to output", "heap/point, whole file loaded first")]
    size = None
    for label, name in ROWS:
        run = find(runs, name)
        if run is None:
            continue
        size = size or (run.get("plot_points"), run.get("plot_file_bytes"))
        table.append((label, rate(float(run.get("points_per_second", 0))),
                      f"{float(run.get('heap_bytes_per_point', 0)):.1f} B",
                      f"{float(run.get('path_heap_bytes_per_point', 0)):.1f} B",
                      f"{float(run.get('path_heap_bytes_per_file_byte', 0)):.2f}",
                      f"{float(run['loaded_path_heap_bytes_per_point']):.1f} B"
                      if "loaded_path_heap_bytes_per_point" in run else "-"))
    if len(table) == 1:
        return 0
    print()
    if size and size[0] and size[1]:
        print(f"drawing the standard plot ({size[0] / 1e6:.2f} M points, "
              f"{size[1] / 1e6:.1f} MB plot file)")
    widths = [max(len(row[i]) for row in table) for i in range(len(table[0]))]
    for i, row in enumerate(table):
        print("  ".join(cell.ljust(widths[j]) for j, cell in enumerate(row)).rstrip())
        if i == 0:
            print("  ".join("-" * w for w in widths))
    return 0


if __name__ == "__main__":
    sys.exit(main())
