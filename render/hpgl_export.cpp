#include "render/hpgl_export.h"

#include "render/hpgl_export_plan_internal.h"
#include "render/label_layout_internal.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

// The file does not store pen numbers, only a pen-mode record wherever a piece's pen changes,
// so the n-th pen-mode record of a piece selects pen n (1 to 8, then round again): a pen
// change stays a pen change. The file stores no pen widths either: lines wider than the
// fat-line threshold are there as several strokes. HP-GL/2 draws such a line with the pen
// width from which the plot's own fat-line pass makes exactly those strokes (and leaves the
// strokes out); plain HP-GL, which has no pen widths, draws the strokes.
//
// Polylines of more than kMaxPolylinePoints points arrive as several records, each starting
// at the last point of the one before; they are written as one stroke again.

namespace genplot::render
{
namespace
{

constexpr int kPenCount = 8;
// Coordinate pairs per PU/PD command in plain HP-GL, so that no line grows without bound.
constexpr std::size_t kPairsPerCommand = 8;
// Strokes per line of a PE command (bytes below 33 inside PE are ignored).
constexpr int kStrokesPerLine = 1;

class HpglWriter
{
  public:
    HpglWriter(const PlotFile& plot, std::FILE* out, HpglDialect dialect)
        : plot_(plot), out_(out), hpgl2_(dialect == HpglDialect::Hpgl2)
    {
    }

    bool Write()
    {
        WriteStart();
        const detail::ExportPlan plan = detail::PlanExport(plot_, hpgl2_);
        for (const detail::LineRun& run : plan.runs)
        {
            for (std::uint32_t i = run.begin; i < run.end; ++i)
            {
                WriteLine(plan.pieceLines[run.piece][i]);
            }
        }
        EndStroke();
        ClosePolylineEncoded();
        for (const PlotFileAnnotation& label : plot_.looseAnnotations)
        {
            WriteLabel(label);
        }
        for (const std::size_t index : plan.labels)
        {
            WriteLabel(plot_.pieceAnnotations[index]);
        }
        Put("PU;SP0;PG;\n");
        return ok_ && std::fflush(out_) == 0 && !std::ferror(out_);
    }

  private:
    void Put(const std::string& text)
    {
        if (ok_ && std::fwrite(text.data(), 1, text.size(), out_) != text.size())
        {
            ok_ = false;
        }
    }

    void PutByte(unsigned char byte)
    {
        if (ok_ && std::fputc(byte, out_) == EOF)
        {
            ok_ = false;
        }
    }

    void WriteStart()
    {
        if (!hpgl2_)
        {
            Put("IN;\n");
            return;
        }
        Put("BP;IN;\n");
        // The plot size runs from the plotter's origin to the far corner of the extents.
        const PlotFileBox& extents = plot_.header.extents;
        if (plot_.hasHeader && extents.upperRight.x > 0 && extents.upperRight.y > 0 &&
            extents.lowerLeft.x <= extents.upperRight.x &&
            extents.lowerLeft.y <= extents.upperRight.y)
        {
            Put("PS" + std::to_string(extents.upperRight.x) + "," +
                std::to_string(extents.upperRight.y) + ";\n");
        }
    }

    // One stroke with the pen and line type it has in its piece: the n-th pen-mode record of
    // a piece selects pen n (1 to 8, then round again), a piece without one the first pen.
    void WriteLine(const detail::PlannedLine& line)
    {
        if (line.skip == 0)
        {
            SelectPen(line.penIndex == 0 ? 1 : (line.penIndex - 1) % kPenCount + 1);
            SelectLineType(line.lineType);
            if (hpgl2_)
            {
                SelectWidth(line.width);
            }
            EndStroke();
        }
        std::uint32_t skip = line.skip;
        const std::vector<PlotPieceRecord>& records = plot_.pieces[line.piece].records;
        for (std::size_t r = line.firstRecord; r < line.firstRecord + line.recordCount; ++r)
        {
            const std::vector<PlotFilePoint>& points = records[r].points;
            // A follow-on record repeats the last point of the one before.
            for (std::size_t i = r == line.firstRecord ? 0 : 1; i < points.size(); ++i)
            {
                if (skip > 0)
                {
                    --skip; // drawn already, as the end of the line before
                    continue;
                }
                AddPoint(points[i]);
            }
        }
    }

    void SelectPen(int pen)
    {
        if (pen == pen_)
        {
            return;
        }
        EndStroke();
        ClosePolylineEncoded();
        pen_ = pen;
        Put("SP" + std::to_string(pen) + ";\n");
    }

    void SelectLineType(int lineType)
    {
        if (lineType == lineType_)
        {
            return;
        }
        EndStroke();
        ClosePolylineEncoded();
        lineType_ = lineType;
        Put(lineType == 0 ? "LT;\n" : "LT" + std::to_string(lineType) + ";\n");
    }

    // PW takes millimetres, 40 plotter units each, so three decimals hold any whole number of
    // units; a plain PW goes back to the default width, which the fat-line pass leaves alone.
    void SelectWidth(int width)
    {
        if (width == width_)
        {
            return;
        }
        EndStroke();
        ClosePolylineEncoded();
        width_ = width;
        if (width == 0)
        {
            Put("PW;\n");
            return;
        }
        const long long thousandths = 25LL * width;
        Put("PW" + std::to_string(thousandths / 1000) + "." + Digits(thousandths % 1000, 3) +
            ";\n");
    }

    static std::string Digits(long long value, int count)
    {
        std::string text = std::to_string(value);
        return std::string(static_cast<std::size_t>(count) -
                               std::min<std::size_t>(text.size(), static_cast<std::size_t>(count)),
                           '0') +
               text;
    }

    // -- strokes -------------------------------------------------------------------------

    void AddPoint(const PlotFilePoint& point)
    {
        if (!strokeOpen_)
        {
            strokeOpen_ = true;
            strokePoints_ = 0;
            if (hpgl2_)
            {
                OpenPolylineEncoded();
                PutByte('<');
                PutByte('=');
                PutEncoded(point.x);
                PutEncoded(point.y);
            }
            else
            {
                Put("PU" + std::to_string(point.x) + "," + std::to_string(point.y) + ";\n");
            }
            last_ = point;
            return;
        }
        if (hpgl2_)
        {
            PutEncoded(static_cast<long long>(point.x) - last_.x);
            PutEncoded(static_cast<long long>(point.y) - last_.y);
        }
        else
        {
            Put(strokePoints_ % kPairsPerCommand == 0 ? "PD" : ",");
            Put(std::to_string(point.x) + "," + std::to_string(point.y));
            if (strokePoints_ % kPairsPerCommand == kPairsPerCommand - 1)
            {
                Put(";\n");
            }
        }
        ++strokePoints_;
        last_ = point;
    }

    void EndStroke()
    {
        if (!strokeOpen_)
        {
            return;
        }
        if (strokePoints_ == 0)
        {
            // A lone point is a dot: a pen-down move of no length.
            AddPoint(last_);
        }
        if (hpgl2_)
        {
            if (++strokesOnLine_ >= kStrokesPerLine)
            {
                PutByte('\n');
                strokesOnLine_ = 0;
            }
        }
        else if (strokePoints_ % kPairsPerCommand != 0)
        {
            Put(";\n");
        }
        strokeOpen_ = false;
    }

    void OpenPolylineEncoded()
    {
        if (!polylineEncodedOpen_)
        {
            Put("PE");
            polylineEncodedOpen_ = true;
            strokesOnLine_ = 0;
        }
    }

    void ClosePolylineEncoded()
    {
        if (polylineEncodedOpen_)
        {
            Put(";\n");
            polylineEncodedOpen_ = false;
        }
    }

    // A PE number: the sign in bit 0, then base-64 digits least significant first, each but
    // the last as 63 + digit, the last as 191 + digit.
    void PutEncoded(long long value)
    {
        unsigned long long code = value >= 0 ? 2ULL * static_cast<unsigned long long>(value)
                                             : 2ULL * static_cast<unsigned long long>(-value) + 1;
        while (code >= 64)
        {
            PutByte(static_cast<unsigned char>(63 + (code & 63)));
            code >>= 6;
        }
        PutByte(static_cast<unsigned char>(191 + code));
    }

    // -- labels --------------------------------------------------------------------------

    void WriteLabel(const PlotFileAnnotation& label)
    {
        const detail::LabelLayout layout = detail::LayOutLabel(label);
        if (layout.lines.empty())
        {
            return;
        }
        SelectLabelPen();
        WriteLabelSize(label.textHeight);
        WriteDirection(label.directionX, label.directionY);
        // One line in HP-GL/2 keeps its anchor and origin code; every other label goes line by
        // line, each from the left end of its baseline (the plotter's default origin), since
        // the plotter spaces lines two heights apart and the library 1.5.
        const int code = label.justification;
        if (hpgl2_ && layout.lines.size() == 1 && (code == 1 || code == 2 || code == 5))
        {
            WriteOrigin(code);
            WriteLabelLine(label.position.x, label.position.y, layout.lines[0].text);
            return;
        }
        if (hpgl2_)
        {
            WriteOrigin(1);
        }
        for (const detail::LabelLineLayout& line : layout.lines)
        {
            double x = 0;
            double y = 0;
            detail::LabelToPlot(label, layout, line.x, line.y, &x, &y);
            WriteLabelLine(static_cast<long long>(std::llround(x)),
                           static_cast<long long>(std::llround(y)), line.text);
        }
    }

    void SelectLabelPen()
    {
        if (pen_ == 0)
        {
            SelectPen(1);
        }
        EndStroke();
        ClosePolylineEncoded();
    }

    // SI takes centimetres, 400 plotter units each: the cap height is the text height, and
    // the nominal width two thirds of it, so that the plotter's advance (1.5 widths) is one
    // height as the library measures it.
    void WriteLabelSize(std::int32_t textHeight)
    {
        if (labelSizeSet_ && textHeight == labelHeight_)
        {
            return;
        }
        labelSizeSet_ = true;
        labelHeight_ = textHeight;
        Put("SI" + Centimetres(static_cast<double>(textHeight) / 1.5) + "," +
            Centimetres(static_cast<double>(textHeight)) + ";\n");
    }

    static std::string Centimetres(double plotterUnits)
    {
        // Four decimals hold any whole number of plotter units exactly (1/400 = 0.0025).
        char text[48];
        std::snprintf(text, sizeof text, "%.4f", plotterUnits / 400.0);
        std::string result = text;
        while (!result.empty() && result.back() == '0')
        {
            result.pop_back();
        }
        if (!result.empty() && result.back() == '.')
        {
            result.pop_back();
        }
        return result == "-0" ? "0" : result;
    }

    void WriteDirection(std::int32_t x, std::int32_t y)
    {
        if (directionSet_ && x == directionX_ && y == directionY_)
        {
            return;
        }
        directionSet_ = true;
        directionX_ = x;
        directionY_ = y;
        if ((y == 0 && x > 0) || (x == 0 && y == 0))
        {
            Put("DI;\n"); // no direction at all reads as along x, as the library turns it
        }
        else if (x == 0 || y == 0)
        {
            Put("DI" +
                std::to_string(x == 0  ? 0
                               : x > 0 ? 1
                                       : -1) +
                "," +
                std::to_string(y == 0  ? 0
                               : y > 0 ? 1
                                       : -1) +
                ";\n");
        }
        else
        {
            Put("DI" + DirectionText(x, y) + ";\n");
        }
    }

    // An importer keeps a direction as (round(10000 cos a), round(10000 sin a)). Written back
    // as it is stored, the pair names a slightly different angle, which can round to another
    // pair; so the direction goes out as the cosine and sine of the middle of the angles that
    // round back to the stored pair (a pair that no angle makes keeps its own angle).
    static std::string DirectionText(std::int32_t x, std::int32_t y)
    {
        const double stored = std::atan2(static_cast<double>(y), static_cast<double>(x));
        const auto roundsBack = [x, y](double angle) {
            return std::llround(10000.0 * std::cos(angle)) == x &&
                   std::llround(10000.0 * std::sin(angle)) == y;
        };
        constexpr double kStep = 1e-6;
        constexpr int kSteps = 1000;
        int first = kSteps + 1;
        int last = -kSteps - 1;
        for (int k = -kSteps; k <= kSteps; ++k)
        {
            if (roundsBack(stored + k * kStep))
            {
                first = std::min(first, k);
                last = std::max(last, k);
            }
        }
        const double angle = first <= last ? stored + (first + last) / 2 * kStep : stored;
        char text[64];
        std::snprintf(text, sizeof text, "%.9f,%.9f", std::cos(angle), std::sin(angle));
        return text;
    }

    void WriteOrigin(int code)
    {
        if (code != origin_)
        {
            origin_ = code;
            Put("LO" + std::to_string(code) + ";\n");
        }
    }

    // Control bytes would move the pen or end the label on the plotter; they are left out.
    // The terminator is ETX, which is a control byte, so it never occurs in the text written.
    void WriteLabelLine(long long x, long long y, std::string_view text)
    {
        Put("PU" + std::to_string(x) + "," + std::to_string(y) + ";LB");
        for (char c : text)
        {
            const auto byte = static_cast<unsigned char>(c);
            if (byte >= 0x20 && byte != 0x7F)
            {
                PutByte(byte);
            }
        }
        PutByte(0x03);
        PutByte('\n');
    }

    const PlotFile& plot_;
    std::FILE* out_;
    const bool hpgl2_;
    bool ok_ = true;

    int pen_ = 0;
    int lineType_ = 0; // IN leaves solid lines
    int width_ = 0;    // and the default pen width
    bool strokeOpen_ = false;
    std::size_t strokePoints_ = 0;
    PlotFilePoint last_;
    bool polylineEncodedOpen_ = false;
    int strokesOnLine_ = 0;

    bool labelSizeSet_ = false;
    std::int32_t labelHeight_ = 0;
    bool directionSet_ = false;
    std::int32_t directionX_ = 0;
    std::int32_t directionY_ = 0;
    int origin_ = 1; // IN leaves LO1
};

} // namespace

bool ExportHpgl(const genplot::PlotFile& plot, std::FILE* out, HpglDialect dialect)
{
    return HpglWriter(plot, out, dialect).Write();
}

} // namespace genplot::render
