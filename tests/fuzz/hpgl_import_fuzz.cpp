// libFuzzer target: the HP-GL importer on arbitrary bytes, followed by the library's
// finalisation of what it made. Beyond not crashing or hanging, the plot must keep the
// importer's promises: coordinates, heights and widths within their bounds, labels with a
// library justification code and a text the plot file can hold.

#include "geometry/label.h"
#include "geometry/line_seg.h"
#include "geometry/perim.h"
#include "hpgl/import.h"
#include "platform/exception.h"
#include "plotinfo/plot_info.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace
{

using namespace genplot::tool;

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

void CheckLine(const CLineSeg& line)
{
    Require(line.lineWidth >= 0 && line.lineWidth <= kMaxLineWidth);
    Require(line.lineType >= 0 && line.lineType <= 2);
    for (POSITION p = line.GetHeadPosition(); p != nullptr;)
    {
        const CCoord* point = line.GetNextPoint(p);
        Require(point->x >= -kMaxCoordinate && point->x <= kMaxCoordinate);
        Require(point->y >= -kMaxCoordinate && point->y <= kMaxCoordinate);
    }
}

void CheckLabel(const CLabel& label)
{
    Require(label.justification == 1 || label.justification == 2 || label.justification == 5);
    Require(label.textHeight >= 0 && label.textHeight <= kMaxTextHeight);
    Require(label.text.GetLength() > 0 && label.text.GetLength() <= 511);
    Require(label.position.x >= -kMaxCoordinate && label.position.x <= kMaxCoordinate);
    Require(label.position.y >= -kMaxCoordinate && label.position.y <= kMaxCoordinate);
    for (int i = 0; i < label.text.GetLength(); ++i)
    {
        const auto c = static_cast<unsigned char>(label.text[i]);
        Require(c >= 0x20 && c != 0x7F);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    CPlotInfo plot;
    HpglImportOptions options;
    options.maxPoints = 200000;
    HpglImportReport report;
    try
    {
        ImportHpgl(input, plot, options, report);
    }
    catch (const HpglInputError&)
    {
        return 0;
    }
    Require(report.points <= options.maxPoints);
    Require(report.labels <= kMaxLabels);
    Require(static_cast<std::size_t>(plot.looseLabels.GetCount()) == report.labels);
    Require(plot.currentLine.GetPointCount() == 0);
    for (POSITION p = plot.looseLines.GetHeadPosition(); p != nullptr;)
        CheckLine(*static_cast<const CLineSeg*>(plot.looseLines.GetNext(p)));
    for (POSITION p = plot.looseLabels.GetHeadPosition(); p != nullptr;)
        CheckLabel(*static_cast<const CLabel*>(plot.looseLabels.GetNext(p)));

    plot.FinalizePlotInfo();
    for (POSITION p = plot.pieces.GetHeadPosition(); p != nullptr;)
    {
        const auto* piece = static_cast<const CPerim*>(plot.pieces.GetNext(p));
        CheckLine(piece->outline);
        Require(piece->outline.GetPointCount() <= 6001);
    }
    return 0;
}
