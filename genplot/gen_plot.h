#pragma once

#include "genplot/plot_file_format.h"
#include "platform/export.h"

#include <cstdint>
#include <cstdio>

class CLabel;
class CPlotInfo;
class CProgressCtrl;
struct CPlotConfig;

/// Writes a plot as a generic plot file. Plain data: its one field is the 140-byte header
/// body in file layout, so copying the object copies the header byte for byte.
///
/// Calling order: Initialize, then write_plot_file, once per file. The writer owns nothing of
/// the host's: the stream, the plot, the progress control, the cancel flag and the pen table
/// stay the caller's.
class GENPLOT_API CGenPlot
{
  public:
    /// All header bytes zero, so nothing indeterminate can reach a file.
    CGenPlot();
    ~CGenPlot();
    CGenPlot(const CGenPlot& other);
    /// Copies the header byte for byte; returns this writer.
    CGenPlot& operator=(const CGenPlot& other);

    /// Fills the header for a new file: magic, `sourceName` cut or NUL-padded to 20 bytes, the
    /// configuration's flag and values, no counts, every section absent. Every byte the
    /// format does not assign is zero. Both pointers must be valid.
    void Initialize(const char* sourceName, CPlotConfig* config);

    /// Writes the whole file to `file`, a binary stream positioned where the file starts and
    /// able to seek back; offsets in the file are the stream's own positions. Reads the plot
    /// and changes nothing in it. `config` is not read (Initialize took it).
    ///
    /// `progress` (may be null) receives positions from 75 upward, nominally 150 at the end,
    /// after every non-perimeter line and every piece. After every non-perimeter line one
    /// pending message of the calling thread is dispatched and then `*cancelFlag` (may be
    /// null: no cancelling) is read; non-zero stops the write at once. `penTable` (may be null)
    /// is indexed by pen number and must cover every pen in use.
    ///
    /// @return 1 when the file was written to its end; the stream is then left just after the
    /// header record. 0 when the host cancelled (the file stays in its cancelled state), when
    /// a write, seek or position query failed (the file is incomplete), or when the plot
    /// exceeds the format (more than 3276 pieces, more than 65535 annotations in a section;
    /// then nothing at all is written).
    /// @warning A handler run by the message pump must not touch the plot, the writer or the
    /// stream.
    int write_plot_file(FILE* file, CPlotInfo* plotInfo, CPlotConfig* config,
                        CProgressCtrl* progress, int* cancelFlag, int* penTable);

    /// Writes one annotation record for `label` at the stream's current position, with a
    /// text height only when it differs from the header's default text height. Uses at most
    /// the first 511 bytes of the text, cleaned of control bytes.
    /// @return 1 when the whole record was written, 0 when the write failed.
    int write_annotation(CLabel* label, FILE* file);

    /// The header body (file offsets 4-143), little-endian, laid out as in the file.
    std::uint8_t header[genplot::kHeaderBodySize];
};
