#!/usr/bin/env python3
"""Writes the seed corpus of the plot file reader fuzzer.

Every file is spelled out from the generic plot file layout (little-endian, packed records:
u16 type, u16 payload length), independently of the library's writer. Sound files cover each
record kind; damaged ones cover each kind of problem the reader reports.

Usage: make_plot_file_reader_corpus.py [OUTPUT_DIR]
(default: corpus/plot_file_reader next to this script)
"""

import os
import struct
import sys


def record(kind, payload=b""):
    return struct.pack("<HH", kind, len(payload)) + payload


def header(source=b"corpus", extents=(0, 0, 100, 100), loose=0, piece_annotations=0,
           pieces=0, text_height=10, loose_offset=-1, table_offset=152,
           piece_annotation_offset=-1):
    body = b"GENPTV1\0" + source[:20].ljust(20, b"\0") + b"\0\0"
    body += struct.pack("<HH4iHHHH", 0, 0, *extents, loose, piece_annotations, pieces, 0)
    body += bytes(12)
    body += struct.pack("<iii5iii", text_height, 0, 0, 7, 8, 9, 10, 11, 0, 0)
    body += b"\xff\xff"
    body += struct.pack("<7i", -1, -1, loose_offset, -1, table_offset,
                        piece_annotation_offset, -1)
    assert len(body) == 140
    return record(0xEFBE, body) + record(0x01FF) + record(0x02FF)


def polyline(points):
    payload = struct.pack("<HH", 0x0100, len(points))
    for x, y in points:
        payload += struct.pack("<iiH", x, y, 0)
    return record(0x0301, payload)


def annotation(text, position=(10, 20), direction=None, height=None, justification=1,
               extent=(10, 15, 40, 30)):
    flags = (0x01 if direction else 0) | (0x10 if height is not None else 0)
    payload = struct.pack("<HBBBB4i2i", len(text), flags, 0, 0, justification, *extent,
                          *position)
    if direction:
        payload += struct.pack("<2i", *direction)
    if height is not None:
        payload += struct.pack("<i", height)
    return record(0x0500, payload + text)


SQUARE = [(0, 0), (100, 0), (100, 100), (0, 100), (0, 0)]


def piece_section(lines=(), outline=SQUARE, pens=None):
    """A piece section: pen mode, line type 1, outline, then (pen, code, points) lines."""
    out = record(0x0400) + record(0x0410, b"\x01") + polyline(outline)
    code = 1
    for pen, line_code, points in lines:
        if pen is not None:
            out += record(pen)
        if line_code != code:
            out += record(0x0410, bytes([line_code]))
            code = line_code
        out += polyline(points)
    return out


def plot(sections, loose=(), piece_labels=(), first_write=False, cancelled_at=None,
         text_height=10):
    """A whole file. With cancelled_at=k the sections from k on are left unpatched."""
    table_start = 152
    entries_end = table_start + 4 + 20 * len(sections)
    offsets = []
    position = entries_end
    bodies = []
    for i, section in enumerate(sections):
        body = section if cancelled_at == i else section + record(0x03FF)
        offsets.append(position)
        bodies.append(body)
        position += len(body)
        if cancelled_at == i:
            break
    annotations_start = position
    loose_bytes = b"".join(loose)
    piece_bytes = b"".join(piece_labels)
    kwargs = dict(pieces=len(sections), text_height=text_height)
    if not first_write:
        kwargs.update(loose=len(loose), piece_annotations=len(piece_labels),
                      loose_offset=annotations_start if loose else -1,
                      piece_annotation_offset=(annotations_start + len(loose_bytes)
                                               if piece_labels else -1))
    else:
        kwargs.update(table_offset=-1)
    out = header(**kwargs)
    table = b""
    for i in range(len(sections)):
        unpatched = cancelled_at is not None and i >= cancelled_at
        table += struct.pack("<5i", 0, 0, 100, 100, -1 if unpatched else offsets[i])
    out += record(0x0300, table)
    out += b"".join(bodies)
    if cancelled_at is not None:
        return out
    return out + loose_bytes + piece_bytes + record(0xFFFF)


def put(data, at, fmt, *values):
    data = bytearray(data)
    struct.pack_into(fmt, data, at, *values)
    return bytes(data)


def corpus():
    files = {}
    files["empty_plot.gpf"] = plot([])
    files["one_piece.gpf"] = plot([piece_section(outline=[(0, 0), (100, 0), (100, 100), (0, 0)])])
    files["loose_labels.gpf"] = plot([], loose=[
        annotation(b"ABC"),
        annotation(b"UP", direction=(0, 10000), justification=5),
        annotation(b"TALL\r\nTWO", height=25, justification=2),
    ])
    files["pieces_lines_labels.gpf"] = plot(
        [
            piece_section(lines=[(None, 1, [(10, 10), (90, 90)]),
                                 (None, 2, [(10, 90), (90, 10)]),
                                 (None, 1, [(50, 0), (50, 100)])]),
            piece_section(outline=[(200, 0), (260, 0), (260, 60), (200, 0)]),
        ],
        piece_labels=[annotation(b"piece", direction=(-7071, 7071), height=12),
                      annotation(b"\x01\x7f\xc3\xa9\xe9\xff<&>", justification=5)])
    files["pen_table.gpf"] = plot([piece_section(lines=[
        (0x0401, 1, [(5, 5), (95, 5)]),
        (0x0400, 2, [(5, 50), (95, 50)]),
        (0x0400, 2, [(5, 95), (95, 95)]),
    ])])
    files["single_point_line.gpf"] = plot([piece_section(lines=[(None, 1, [(50, 50)]),
                                                                (None, 1, [])])])
    long_line = [(i % 200, i // 200) for i in range(6553)]
    files["split_line.gpf"] = plot([piece_section(lines=[
        (None, 1, long_line), (None, 1, [long_line[-1], (0, 0)])])])
    files["cancelled.gpf"] = plot(
        [piece_section(lines=[(None, 1, [(1, 1), (2, 2)])]),
         piece_section(lines=[(None, 2, [(3, 3), (4, 4)])]),
         piece_section()],
        first_write=True, cancelled_at=1)

    one = files["one_piece.gpf"]
    files["broken_truncated.gpf"] = one[:200]
    files["broken_truncated_header.gpf"] = one[:100]
    files["broken_polyline_length.gpf"] = put(one, 187, "<H", 55)
    files["broken_entry_offset.gpf"] = put(one, 172, "<i", 177)
    files["broken_piece_count.gpf"] = put(one, 58, "<H", 2)
    files["broken_no_end.gpf"] = one[:-4]
    files["broken_trailing.gpf"] = one + b"\0\0"
    files["broken_magic.gpf"] = put(one, 4, "<B", ord("X"))
    files["broken_piece_end_missing.gpf"] = put(one, 233, "<H", 0x0500)
    labels = files["loose_labels.gpf"]
    files["broken_annotation_count.gpf"] = put(labels, 54, "<H", 5)
    files["broken_annotation_flags.gpf"] = put(labels, 162, "<B", 0x23)
    files["broken_annotation_length.gpf"] = put(labels, 158, "<H", 40)
    files["broken_annotation_offset.gpf"] = put(labels, 124, "<i", 155)
    files["not_a_plot.gpf"] = b"IN;SP1;PU0,0;PD100,100;\n"
    return files


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "corpus",
                                                                "plot_file_reader")
    os.makedirs(target, exist_ok=True)
    for name, data in sorted(corpus().items()):
        with open(os.path.join(target, name), "wb") as out:
            out.write(data)


if __name__ == "__main__":
    main()
