#pragma once

// Drawing a decoded plot file as an SVG document, for `genplot render`.

#include "genplot/plot_file_reader.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace genplot::tool
{

/// How the drawing is made.
struct SvgOptions
{
    /// Pixel size of the longer side of the picture.
    int size = 1000;
    /// Also draw piece boxes and label extents as thin dotted rectangles.
    bool boxes = false;
};

/// Writes `plot` as a complete SVG document: pieces (outline and lines), labels, y pointing
/// up. Works on whatever `plot` holds, so a cancelled file draws what was written.
void WritePlotSvg(const PlotFile& plot, const SvgOptions& options, std::ostream& out);

/// Label bytes as XML character data that any XML parser accepts. Valid UTF-8 sequences keep
/// their characters; every other byte is taken as Latin-1; control bytes become the visible
/// control pictures (U+2400...), and characters XML cannot carry become U+FFFD. Markup
/// characters are escaped, and everything outside ASCII is written as a character reference,
/// so the result is plain ASCII.
std::string EscapeXmlText(std::string_view bytes);

/// The lines of a label text as the extent computation measures them: a line runs up to the
/// next "\r", and the byte after the "\r" is skipped; a text ending in "\r" (or "\r\n") has
/// an empty last line. An empty text has no lines.
std::vector<std::string_view> SplitLabelLines(std::string_view text);

} // namespace genplot::tool
