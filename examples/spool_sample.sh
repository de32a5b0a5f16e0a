#!/usr/bin/env bash
# The sample's last step: the plot's whole path to paper. It starts a throw-away CUPS scheduler
# (scripts/private_cupsd) with two raw capture printers, "plotter" and "pdfprinter"; queues
# OUT_DIR/sample.gpf with genplot send --queue, once in each printer's queue file; lets
# genplot spool --once hand it to the plotter as HP-GL/2 and to the other printer as PDF; and
# copies what each printer received to OUT_DIR/arrived.hpgl and OUT_DIR/arrived.pdf. The
# HP-GL/2 must be genplot export's bytes (OUT_DIR/sample.hpgl) and the PDF must open.
#
#   examples/spool_sample.sh GENPLOT OUT_DIR
#
# One line per step. Where the step cannot run here (no cupsd, not root or no user lp, a
# genplot built without the spooler), it says why in one line and exits 0. The scheduler is
# stopped and the temporary folders removed on every way out, Ctrl-C included.
set -euo pipefail

if [[ $# -ne 2 ]]; then
    echo "usage: $0 GENPLOT OUT_DIR" >&2
    exit 64
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
genplot=$1
out=$2
private_cupsd=$here/../scripts/private_cupsd

say() { echo "spool: $*"; }
die() {
    echo "spool: failed: $*" >&2
    exit 1
}

# Files of an earlier run would pass for this one's.
rm -f "$out/arrived.hpgl" "$out/arrived.pdf"

if ! "$genplot" spool --help >/dev/null 2>&1; then
    say "skipped: this genplot is built without the spooler (it needs libcups; Debian: libcups2-dev)"
    exit 0
fi

sandbox=""
scheduler_pid=""
to_scheduler=""
from_scheduler=""

# Closing the scheduler script's input makes it stop cupsd and remove its folder.
stop_scheduler() {
    if [[ -n $to_scheduler ]]; then
        exec {to_scheduler}>&-
        to_scheduler=""
    fi
    if [[ -n $scheduler_pid ]]; then
        wait "$scheduler_pid" 2>/dev/null || true
        scheduler_pid=""
    fi
    if [[ -n $from_scheduler ]]; then
        exec {from_scheduler}<&-
        from_scheduler=""
    fi
}
cleanup() {
    stop_scheduler
    if [[ -n $sandbox ]]; then
        rm -rf "$sandbox"
    fi
}
# A signal cleans up, then ends the script by that signal, as a shell running it expects.
on_signal() {
    trap - EXIT "$1"
    cleanup
    kill -s "$1" "$$"
}
trap cleanup EXIT
for signal in INT TERM HUP; do
    # shellcheck disable=SC2064 # the signal's name is meant to be fixed now
    trap "on_signal $signal" "$signal"
done

sandbox=$(mktemp -d "${TMPDIR:-/tmp}/genplot-sample.XXXXXX")
mkdir -p "$sandbox"/{drive_c,home,data,config}

coproc SCHEDULER { exec "$private_cupsd" plotter pdfprinter; }
# shellcheck disable=SC2153 # set by coproc
scheduler_pid=$SCHEDULER_PID
# Copies of our own, since bash closes the coprocess's descriptors once it has ended, unread
# lines and all; then the originals go, so that closing our copy is the script's end of input.
coproc_in=${SCHEDULER[1]}
coproc_out=${SCHEDULER[0]}
exec {to_scheduler}>&"$coproc_in" {from_scheduler}<&"$coproc_out"
exec {coproc_in}>&- {coproc_out}<&-

socket=""
declare -A capture=()
status=""
while read -r -t 90 -u "$from_scheduler" key rest; do
    case $key in
    socket) socket=$rest ;;
    capture) capture[${rest%% *}]=${rest#* } ;;
    ready | unavailable: | failed:)
        status=$key
        break
        ;;
    esac
done
case $status in
ready) ;;
unavailable:)
    say "skipped: no private CUPS scheduler here: $rest"
    exit 0
    ;;
failed:) die "the private CUPS scheduler did not start: $rest" ;;
*) die "the private CUPS scheduler did not start (scripts/private_cupsd said nothing more)" ;;
esac
say "started a private CUPS scheduler on $socket with two capture printers, plotter and pdfprinter"

# The programs of this step see only the temporary folders: drive C: (the queue directory),
# the XDG folders and HOME, and the private scheduler. They do not get our ends of the
# scheduler script's pipes.
in_sandbox() {
    env -u GENPLOT_QUEUE_FLAG -u GENPLOT_QUEUE_FILE -u GENPLOT_REGISTRY \
        GENPLOT_DRIVE_C="$sandbox/drive_c" HOME="$sandbox/home" \
        XDG_DATA_HOME="$sandbox/data" XDG_CONFIG_HOME="$sandbox/config" \
        CUPS_SERVER="$socket" "$@" {to_scheduler}>&- {from_scheduler}<&-
}

# Runs a genplot command in the sandbox; on failure shows what it said and stops.
run_genplot() {
    local log=$sandbox/command.log
    if ! in_sandbox "$genplot" "$@" >"$log" 2>&1; then
        cat "$log" >&2
        die "genplot $*"
    fi
}

# Waits for the one job a capture printer receives and copies its bytes to $2.
collect() {
    local folder=${capture[$1]} target=$2 waited=0 jobs=()
    while :; do
        jobs=("$folder"/job-*.meta)
        [[ -e ${jobs[0]} ]] && break
        ((waited < 300)) || die "nothing arrived at $1 in 30 s"
        sleep 0.1
        waited=$((waited + 1))
    done
    ((${#jobs[@]} == 1)) || die "$1 received ${#jobs[@]} jobs instead of one"
    cat "${jobs[0]%.meta}.data" >"$target"
}

# One queue file a printer: what is queued in it is printed there.
deliver() {
    local printer=$1 language=$2 queue=$sandbox/$1.que
    run_genplot send "$out/sample.gpf" --queue "$queue"
    say "genplot send --queue: sample.gpf queued in $printer's queue file"
    run_genplot spool "$queue" --printer "$printer" --language "$language" --once
    say "genplot spool --once: $(sed -n 's/^genplot spool: //p' "$sandbox/command.log" | head -n 1)"
}

deliver plotter hpgl2
collect plotter "$out/arrived.hpgl"
cmp -s "$out/arrived.hpgl" "$out/sample.hpgl" ||
    die "$out/arrived.hpgl differs from genplot export's $out/sample.hpgl"
say "plotter received $(wc -c <"$out/arrived.hpgl") bytes of HP-GL/2, byte for byte genplot export's: $out/arrived.hpgl"

deliver pdfprinter pdf
collect pdfprinter "$out/arrived.pdf"
if command -v pdfinfo >/dev/null; then
    pages=$(pdfinfo "$out/arrived.pdf" 2>&1) || {
        echo "$pages" >&2
        die "$out/arrived.pdf does not open"
    }
    pages=$(sed -n 's/^Pages: *//p' <<<"$pages")
    say "pdfprinter received a PDF that opens, $pages page(s): $out/arrived.pdf"
else
    [[ $(head -c 5 "$out/arrived.pdf") == %PDF- ]] || die "$out/arrived.pdf is not a PDF"
    say "pdfprinter received a PDF: $out/arrived.pdf (not opened: pdfinfo is missing; Debian: poppler-utils)"
fi

stop_scheduler
say "stopped the private scheduler"
