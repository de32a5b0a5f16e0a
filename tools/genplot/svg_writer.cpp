#include "tools/genplot/svg_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

// Plot units go into the SVG unchanged; y is negated so that the plot's y axis points up on
// the page. The viewBox frames everything the file holds, and the picture's pixel size is set
// from it, so even a plot millions of units wide renders at a sensible size.
//
// The file does not store pen numbers: a piece has a pen-mode record wherever its pen
// changes (only one, for the outline, when the plot was written without a pen table). So the
// n-th pen of a piece draws in the n-th colour of the palette, strong colours for pen mode
// 0x0400 and muted ones for 0x0401.

namespace genplot::tool
{
namespace
{

constexpr const char* kStrongPens[] = {"#1f4e9c", "#c0392b", "#1e8449", "#8e44ad",
                                       "#d35400", "#117a8b", "#b7950b", "#c2185b"};
constexpr const char* kMutedPens[] = {"#7f8c8d", "#a1887f", "#90a4ae", "#bcaaa4",
                                      "#9fa8da", "#a5d6a7", "#ffcc80", "#ce93d8"};
constexpr const char* kLabelColour = "#202020";
constexpr const char* kBoxColour = "#9e9e9e";

std::string Number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

// Page coordinates: x as is, y negated; 64-bit so that -(-2^31) fits.
long long PageX(std::int32_t x)
{
    return x;
}

long long PageY(std::int32_t y)
{
    return -static_cast<long long>(y);
}

struct Bounds
{
    bool empty = true;
    double minX = 0;
    double minY = 0;
    double maxX = 0;
    double maxY = 0;

    void Add(double x, double y)
    {
        if (empty)
        {
            minX = maxX = x;
            minY = maxY = y;
            empty = false;
            return;
        }
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        minY = std::min(minY, y);
        maxY = std::max(maxY, y);
    }

    // An empty box (the library's sentinel has its corners crossed) adds nothing.
    void Add(const PlotFileBox& box)
    {
        if (box.lowerLeft.x <= box.upperRight.x && box.lowerLeft.y <= box.upperRight.y)
        {
            Add(box.lowerLeft.x, box.lowerLeft.y);
            Add(box.upperRight.x, box.upperRight.y);
        }
    }
};

Bounds PlotBounds(const PlotFile& plot)
{
    Bounds bounds;
    if (plot.hasHeader)
    {
        bounds.Add(plot.header.extents);
    }
    for (const PlotFilePiece& piece : plot.pieces)
    {
        for (const PlotPieceRecord& record : piece.records)
        {
            for (const PlotFilePoint& point : record.points)
            {
                bounds.Add(point.x, point.y);
            }
        }
    }
    for (const auto* section : {&plot.looseAnnotations, &plot.pieceAnnotations})
    {
        for (const PlotFileAnnotation& annotation : *section)
        {
            bounds.Add(annotation.extent);
            bounds.Add(annotation.position.x, annotation.position.y);
        }
    }
    return bounds;
}

class SvgPlotWriter
{
  public:
    SvgPlotWriter(const PlotFile& plot, const SvgOptions& options, std::ostream& out)
        : plot_(plot), options_(options), out_(out)
    {
    }

    void Write()
    {
        WriteStart();
        out_ << "<g class=\"pieces\" fill=\"none\" stroke-linecap=\"round\" "
                "stroke-linejoin=\"round\">\n";
        for (std::size_t i = 0; i < plot_.pieces.size(); ++i)
        {
            WritePiece(i, plot_.pieces[i]);
        }
        out_ << "</g>\n";
        out_ << "<g class=\"labels\" font-family=\"monospace\" fill=\"" << kLabelColour << "\">\n";
        for (const PlotFileAnnotation& annotation : plot_.looseAnnotations)
        {
            WriteLabel(annotation);
        }
        for (const PlotFileAnnotation& annotation : plot_.pieceAnnotations)
        {
            WriteLabel(annotation);
        }
        out_ << "</g>\n</svg>\n";
    }

  private:
    void WriteStart()
    {
        Bounds bounds = PlotBounds(plot_);
        if (bounds.empty)
        {
            bounds.Add(0, 0);
        }
        const double width = bounds.maxX - bounds.minX;
        const double height = bounds.maxY - bounds.minY;
        const double larger = std::max(width, height);
        const double margin = larger > 0 ? larger * 0.05 : 10.0;
        // Page y is plot y negated, so the page's top is the plot's highest y.
        const double left = bounds.minX - margin;
        const double top = -bounds.maxY - margin;
        const double viewWidth = width + 2 * margin;
        const double viewHeight = height + 2 * margin;
        stroke_ = std::max(viewWidth, viewHeight) / 1000.0;
        const double scale = std::max(1, options_.size) / std::max(viewWidth, viewHeight);
        const double pixelsWide = std::max(1.0, std::round(viewWidth * scale));
        const double pixelsHigh = std::max(1.0, std::round(viewHeight * scale));

        const std::string name = plot_.header.sourceName.empty() ? "plot" : plot_.header.sourceName;
        out_ << "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
             << "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\""
             << Number(pixelsWide) << "\" height=\"" << Number(pixelsHigh) << "\" viewBox=\""
             << Number(left) << ' ' << Number(top) << ' ' << Number(viewWidth) << ' '
             << Number(viewHeight) << "\">\n"
             << "<title>" << EscapeXmlText(name) << "</title>\n"
             << "<desc>" << plot_.pieces.size() << " pieces, "
             << plot_.looseAnnotations.size() + plot_.pieceAnnotations.size()
             << " labels; y points up</desc>\n"
             << "<rect x=\"" << Number(left) << "\" y=\"" << Number(top) << "\" width=\""
             << Number(viewWidth) << "\" height=\"" << Number(viewHeight)
             << "\" fill=\"white\"/>\n";
    }

    void WritePiece(std::size_t index, const PlotFilePiece& piece)
    {
        out_ << "<g class=\"piece\" id=\"piece-" << index << "\">\n";
        int pen = -1;
        bool penOff = false;
        std::uint8_t lineTypeCode = 1;
        bool outlineSeen = false;
        bool previousWasOutline = false;
        for (const PlotPieceRecord& record : piece.records)
        {
            switch (record.type)
            {
            case RecordType::PenMode:
            case RecordType::PenModeOff:
                ++pen;
                penOff = record.type == RecordType::PenModeOff;
                break;
            case RecordType::LineType:
                lineTypeCode = record.lineTypeCode;
                break;
            case RecordType::Polyline: {
                // A long outline arrives as several records; its follow-on records are
                // still outline.
                const bool outline =
                    !outlineSeen || (record.continuesPrevious && previousWasOutline);
                outlineSeen = true;
                previousWasOutline = outline;
                WritePath(record.points, outline, PenColour(pen, penOff), lineTypeCode != 1);
                break;
            }
            default:
                break;
            }
        }
        if (options_.boxes)
        {
            WriteBox(piece.box);
        }
        out_ << "</g>\n";
    }

    static const char* PenColour(int pen, bool penOff)
    {
        const std::size_t count = sizeof kStrongPens / sizeof kStrongPens[0];
        const std::size_t slot = pen < 0 ? 0 : static_cast<std::size_t>(pen) % count;
        return penOff ? kMutedPens[slot] : kStrongPens[slot];
    }

    void WritePath(const std::vector<PlotFilePoint>& points, bool outline, const char* colour,
                   bool dashed)
    {
        if (points.empty())
        {
            return;
        }
        std::string d;
        d.reserve(points.size() * 16);
        char step[48];
        for (std::size_t i = 0; i < points.size(); ++i)
        {
            std::snprintf(step, sizeof step, "%c%lld %lld", i == 0 ? 'M' : 'L', PageX(points[i].x),
                          PageY(points[i].y));
            d += step;
        }
        if (points.size() == 1)
        {
            // A zero-length segment, so that the round cap shows the lone point as a dot.
            std::snprintf(step, sizeof step, "L%lld %lld", PageX(points[0].x), PageY(points[0].y));
            d += step;
        }
        const double width = outline ? 2 * stroke_ : stroke_;
        out_ << "<path class=\"" << (outline ? "outline" : "line") << "\" stroke=\"" << colour
             << "\" stroke-width=\"" << Number(width) << '"';
        if (dashed)
        {
            out_ << " stroke-dasharray=\"" << Number(6 * stroke_) << ' ' << Number(4 * stroke_)
                 << '"';
        }
        out_ << " d=\"" << d << "\"/>\n";
    }

    void WriteBox(const PlotFileBox& box)
    {
        if (box.lowerLeft.x > box.upperRight.x || box.lowerLeft.y > box.upperRight.y)
        {
            return;
        }
        const long long width = PageX(box.upperRight.x) - PageX(box.lowerLeft.x);
        const long long height = PageY(box.lowerLeft.y) - PageY(box.upperRight.y);
        out_ << "<rect class=\"box\" x=\"" << PageX(box.lowerLeft.x) << "\" y=\""
             << PageY(box.upperRight.y) << "\" width=\"" << width << "\" height=\"" << height
             << "\" fill=\"none\" stroke=\"" << kBoxColour << "\" stroke-width=\""
             << Number(stroke_ / 2) << "\" stroke-dasharray=\"" << Number(stroke_) << ' '
             << Number(stroke_) << "\"/>\n";
    }

    // The text block as the extent computation places it: one text height per character,
    // lines 1.5 heights apart growing down from the first; with justification 1 the anchor is
    // at the left end of the first line's foot, with 2 halfway up its left end, with 5 halfway
    // up and halfway along the longest line. Other codes are placed as 1. The block is then
    // turned about the anchor by atan2(directionY, directionX).
    void WriteLabel(const PlotFileAnnotation& label)
    {
        if (options_.boxes)
        {
            WriteBox(label.extent);
        }
        const std::vector<std::string_view> lines = SplitLabelLines(label.text);
        const long long height = std::llabs(static_cast<long long>(label.textHeight));
        if (lines.empty() || height == 0)
        {
            return;
        }
        std::size_t longest = 0;
        for (std::string_view line : lines)
        {
            longest = std::max(longest, line.size());
        }
        const bool centred = label.justification == 5;
        const bool halfway = label.justification == 2 || centred;
        const double top = halfway ? static_cast<double>(height / 2) : static_cast<double>(height);
        const double left =
            centred ? -std::trunc(static_cast<double>(longest) * 0.5 * static_cast<double>(height))
                    : 0.0;
        const double radians = std::atan2(static_cast<double>(label.directionY),
                                          static_cast<double>(label.directionX));
        const double degrees = radians * 180.0 / 3.14159265358979323846;

        out_ << "<text transform=\"translate(" << PageX(label.position.x) << ' '
             << PageY(label.position.y) << ')';
        if (degrees != 0)
        {
            // Page y points down, so a counter-clockwise turn is a negative SVG rotation.
            out_ << " rotate(" << Number(-degrees) << ')';
        }
        out_ << "\" font-size=\"" << height << "\" xml:space=\"preserve\">";
        for (std::size_t i = 0; i < lines.size(); ++i)
        {
            const double length = static_cast<double>(lines[i].size());
            // Baseline at the foot of the line: its top is `top` less 1.5 heights per line.
            const double baseline = static_cast<double>(height) +
                                    1.5 * static_cast<double>(height) * static_cast<double>(i) -
                                    top;
            const double x = centred ? left + length * static_cast<double>(height) / 2 : 0.0;
            out_ << "<tspan x=\"" << Number(x) << "\" y=\"" << Number(baseline) << '"';
            if (centred)
            {
                out_ << " text-anchor=\"middle\"";
            }
            if (!lines[i].empty())
            {
                out_ << " textLength=\"" << Number(length * static_cast<double>(height))
                     << "\" lengthAdjust=\"spacingAndGlyphs\"";
            }
            out_ << '>' << EscapeXmlText(lines[i]) << "</tspan>";
        }
        out_ << "</text>\n";
    }

    const PlotFile& plot_;
    const SvgOptions& options_;
    std::ostream& out_;
    double stroke_ = 1;
};

} // namespace

void WritePlotSvg(const PlotFile& plot, const SvgOptions& options, std::ostream& out)
{
    SvgPlotWriter(plot, options, out).Write();
}

} // namespace genplot::tool
