#pragma once

#include "genplot/plot_file_reader.h"
#include "render/render.h"

#include <string>

// The languages the spooler hands plots to a destination in, and the conversion into them.

namespace genplot::spool
{

/// What the destination is sent.
enum class PrintLanguage
{
    /// HP-GL/2, passed to the device as it is.
    Hpgl2,
    /// Plain HP-GL for older pen plotters, passed to the device as it is.
    Hpgl,
    /// PDF, which the destination's own driver turns into what its device takes.
    Pdf,
};

/// Reads "hpgl2", "hpgl" or "pdf"; false for anything else.
bool ParsePrintLanguage(const std::string& text, PrintLanguage* language);

/// The MIME type the destination is told: plotter languages go raw to the device.
const char* DocumentFormat(PrintLanguage language);

/// Converts `plot` into `language` (`page` sets the PDF page) and puts the bytes into
/// `bytes`. False with `error` set when the exporter fails.
bool ConvertPlot(const PlotFile& plot, PrintLanguage language, const render::RenderOptions& page,
                 std::string& bytes, std::string& error);

} // namespace genplot::spool
