#!/usr/bin/env bash
# Converts the bundled sample drawing with the genplot program of a build tree, verifies the
# plot file, renders it as PDF and SVG, exports it as HP-GL/2 and prints the conversion summary.
# Then it follows the plot the whole way to paper: it starts a throw-away CUPS scheduler of its
# own (scripts/private_cupsd: a private folder below /tmp, a domain socket, two raw capture
# printers), queues the plot with genplot send --queue, lets genplot spool --once hand it to the
# HP-GL/2 printer and to the PDF one, and keeps what arrived. Everything that step writes,
# besides the arrived files, lies in temporary folders (drive C:, the queue and its journal, the
# XDG folders and HOME of the programs it runs) that go when it ends, also on failure or Ctrl-C.
#
#   examples/run_sample.sh BUILD_DIR OUT_DIR
#
# BUILD_DIR is a configured and built CMake tree (target genplot_cli); OUT_DIR receives
# sample.gpf, sample.pdf, sample.svg and sample.hpgl and is created when missing, and, from
# the spool step, arrived.hpgl (the same bytes as sample.hpgl) and arrived.pdf. Where the step
# cannot run (no cupsd, not root or no user lp, a genplot built without the spooler) it says
# why in one line and the sample still succeeds, without arrived files.
set -euo pipefail

if [[ $# -ne 2 ]]; then
    echo "usage: $0 BUILD_DIR OUT_DIR" >&2
    exit 64
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$(cd "$1" 2>/dev/null && pwd) || { echo "$0: no build directory $1" >&2; exit 1; }
mkdir -p "$2"
out=$(cd "$2" && pwd)

# The program lands in tools/genplot/ of the build tree; multi-configuration generators add a
# configuration folder below it.
genplot=""
for candidate in "$build/tools/genplot/genplot" "$build"/tools/genplot/*/genplot "$build/bin/genplot"; do
    if [[ -x $candidate && ! -d $candidate ]]; then
        genplot=$candidate
        break
    fi
done
if [[ -z $genplot ]]; then
    echo "$0: no genplot program in $build; build it with: cmake --build $build --target genplot_cli" >&2
    exit 1
fi

# The file keeps pen modes, not pen numbers; a pen table makes the writer record every change of
# pen, so the pictures draw the sample's two pens in two colours.
summary=$("$genplot" convert "$here/sample.plt" --pen-table 1=1,2=1 -o "$out/sample.gpf")
"$genplot" verify "$out/sample.gpf"
"$genplot" render "$out/sample.gpf" -o "$out/sample.pdf"
"$genplot" render "$out/sample.gpf" -o "$out/sample.svg"
"$genplot" export "$out/sample.gpf" -o "$out/sample.hpgl"
echo "wrote $out/sample.gpf, $out/sample.pdf, $out/sample.svg and $out/sample.hpgl"
echo "summary: $summary"
"$here/spool_sample.sh" "$genplot" "$out"
