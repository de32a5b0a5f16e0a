// Labels: character size, direction, label origin, terminator and the LB text itself.
//
// HP-GL places each line of a label by the label-origin (LO) rule at its own start point and
// moves the pen along the text by one character cell (1.5 character widths) per character and
// down by two character heights per line feed. The library knows one text block per label with
// three justification codes, so every line becomes its own CLabel and the origin is mapped to
// the code whose anchor the library places the same way:
//
//   LO 1, 11       code 1 at the left end of the baseline
//   LO 2, 12       code 2 at the left end, half a height above the baseline
//   LO 3, 13       code 1, one height (cap line) below the pen
//   LO 4-6, 14-16  code 5 at the centre of the line, at the baseline / middle / cap line
//   LO 7-9, 17-19  code 5 at the estimated centre (the right end is known only by estimate)
//   LO 11-19       as 1-9, pushed away from the pen by half a text height

#include "geometry/label.h"
#include "hpgl/interpreter_internal.h"
#include "hpgl/parameters.h"
#include "plotinfo/plot_info.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

namespace genplot::tool
{
namespace
{

constexpr double kPlotterUnitsPerCentimetre = 400.0;
// The plot file keeps the first 511 characters of a label.
constexpr std::size_t kMaxLabelText = 511;

bool IsVisible(std::string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char c) { return c != ' '; });
}

// Origins after which the pen stays at the end of the text, so the next label continues it.
bool Concatenates(int origin)
{
    return origin == 1 || origin == 2 || origin == 3 || origin == 11 || origin == 12 ||
           origin == 13;
}

struct Placement
{
    int code;
    double along; // plot units along the text direction
    double up;    // plot units along the up direction
};

// Where the library's anchor goes for one line of `length` (estimated, plot units) and cap
// height `h`, relative to the pen, for label origin `origin`.
Placement PlaceLine(int origin, double length, double h)
{
    const double o = origin > 10 && origin < 20 ? h / 2.0 : 0.0;
    const int base = origin > 10 && origin < 20 ? origin - 10 : origin;
    const int column = (base - 1) / 3; // 0 left, 1 centre, 2 right
    const int row = (base - 1) % 3;    // 0 bottom, 1 middle, 2 top
    if (base < 1 || base > 9 || origin == 21)
        return {1, 0.0, 0.0};
    if (column == 0)
    {
        if (row == 0)
            return {1, o, o};
        if (row == 1)
            return {2, o, 0.0};
        return {1, o, -(h + o)};
    }
    const double along = column == 1 ? 0.0 : -(length / 2.0 + o);
    if (row == 0)
        return {5, along, h / 2.0 + o};
    if (row == 1)
        return {5, along, 0.0};
    return {5, along, -(h / 2.0 + o)};
}

} // namespace

HpglInterpreter::LabelMetrics HpglInterpreter::Metrics()
{
    LabelMetrics m;
    double w = sizeWidth_ * kPlotterUnitsPerCentimetre;
    double h = sizeHeight_ * kPlotterUnitsPerCentimetre;
    if (sizeRelative_)
    {
        w = sizeWidth_ / 100.0 * (p2_.x - p1_.x);
        h = sizeHeight_ / 100.0 * (p2_.y - p1_.y);
    }
    m.mirrored = w < 0.0 || h < 0.0;
    m.width = std::fabs(w);
    m.height = std::fabs(h);
    double run = directionRun_;
    double rise = directionRise_;
    if (directionRelative_)
    {
        run = directionRun_ / 100.0 * (p2_.x - p1_.x);
        rise = directionRise_ / 100.0 * (p2_.y - p1_.y);
    }
    const double angle = std::atan2(rise, run);
    m.angleDegrees = angle * 180.0 / kPi;
    m.along = {std::cos(angle), std::sin(angle)};
    m.up = {-m.along.y, m.along.x};
    m.advance = 1.5 * m.width * (1.0 + extraSpace_);
    m.lineFeed = 2.0 * m.height * (1.0 + extraLine_);
    return m;
}

void HpglInterpreter::CharacterSize(const HpglCommand& command, bool relative)
{
    double v[2];
    const int count = HpglParameters(command.data).Read(v, 2);
    if (count == 0)
    {
        sizeRelative_ = relative;
        sizeWidth_ = relative ? 0.75 : 0.19;
        sizeHeight_ = relative ? 1.5 : 0.27;
        return;
    }
    if (count < 2 || !IsNumber(v[0]) || !IsNumber(v[1]))
    {
        ++report_.invalidParameters;
        return;
    }
    sizeRelative_ = relative;
    sizeWidth_ = v[0];
    sizeHeight_ = v[1];
}

void HpglInterpreter::Direction(const HpglCommand& command, bool relative)
{
    double v[2];
    const int count = HpglParameters(command.data).Read(v, 2);
    if (count == 0)
    {
        directionRelative_ = relative;
        directionRun_ = 1.0;
        directionRise_ = 0.0;
    }
    else if (count < 2 || !IsNumber(v[0]) || !IsNumber(v[1]) || (v[0] == 0.0 && v[1] == 0.0))
    {
        ++report_.invalidParameters;
        return;
    }
    else
    {
        directionRelative_ = relative;
        directionRun_ = v[0];
        directionRise_ = v[1];
    }
    crPoint_ = pen_;
}

void HpglInterpreter::TextPath(const HpglCommand& command)
{
    double v[1];
    const int count = HpglParameters(command.data).Read(v, 1);
    const double path = count == 1 && IsNumber(v[0]) ? std::round(v[0]) : 0.0;
    if (path < 0.0 || path > 3.0)
    {
        ++report_.invalidParameters;
        return;
    }
    // Vertical and reversed paths are written as the normal path; each label is counted.
    textPath_ = path != 0.0;
    crPoint_ = pen_;
}

void HpglInterpreter::LabelOrigin(const HpglCommand& command)
{
    double v[1];
    const int count = HpglParameters(command.data).Read(v, 1);
    const double origin = count == 1 && IsNumber(v[0]) ? std::round(v[0]) : 1.0;
    const bool valid =
        (origin >= 1.0 && origin <= 9.0) || (origin >= 11.0 && origin <= 19.0) || origin == 21.0;
    if (!valid)
    {
        ++report_.invalidParameters;
        return;
    }
    labelOrigin_ = static_cast<int>(origin);
    crPoint_ = pen_;
}

void HpglInterpreter::DefineTerminator(const HpglCommand& command)
{
    if (!command.hasSymbol)
    {
        terminator_ = '\x03';
        printTerminator_ = false;
        return;
    }
    terminator_ = command.symbol;
    double v[1];
    const int count = HpglParameters(command.data).Read(v, 1);
    printTerminator_ = count == 1 && IsNumber(v[0]) && std::round(v[0]) == 0.0;
}

void HpglInterpreter::ExtraSpace(const HpglCommand& command)
{
    double v[2];
    const int count = HpglParameters(command.data).Read(v, 2);
    extraSpace_ = count >= 1 && IsNumber(v[0]) ? std::clamp(v[0], -100.0, 100.0) : 0.0;
    extraLine_ = count >= 2 && IsNumber(v[1]) ? std::clamp(v[1], -100.0, 100.0) : 0.0;
}

void HpglInterpreter::CharacterPlot(const HpglCommand& command)
{
    EndStroke();
    const LabelMetrics m = Metrics();
    double v[2];
    const int count = HpglParameters(command.data).Read(v, 2);
    if (count == 0)
    {
        // CP; is a carriage return and a line feed.
        pen_ = {crPoint_.x - m.lineFeed * m.up.x, crPoint_.y - m.lineFeed * m.up.y};
        crPoint_ = pen_;
        return;
    }
    const double spaces = IsNumber(v[0]) ? std::clamp(v[0], -kMaxParameter, kMaxParameter) : 0.0;
    const double lines = count >= 2 && IsNumber(v[1]) ? v[1] : 0.0;
    pen_.x += spaces * m.advance * m.along.x + lines * m.lineFeed * m.up.x;
    pen_.y += spaces * m.advance * m.along.y + lines * m.lineFeed * m.up.y;
    if (lines != 0.0)
        crPoint_ = pen_;
}

void HpglInterpreter::Label(const HpglCommand& command)
{
    EndStroke();
    if (!command.terminated)
        report_.unterminatedLabel = true;
    const LabelMetrics m = Metrics();
    const HpglPoint origin = pen_;
    HpglPoint cursor = pen_;
    HpglPoint lineStart = pen_;
    std::string line;
    int column = 0;
    bool dropNext = false;

    const auto flush = [&] {
        EmitLabel(line, lineStart, m);
        line.clear();
        dropNext = false;
    };
    const auto put = [&](char c) {
        if (dropNext)
        {
            // The character after a backspace overstrikes the one before it: the first one
            // stays (a slashed zero stays a zero) and the pen does not move again.
            dropNext = false;
            return;
        }
        if (line.empty())
            lineStart = cursor;
        line += c;
        cursor.x += m.advance * m.along.x;
        cursor.y += m.advance * m.along.y;
        ++column;
    };
    const auto handle = [&](char c) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r')
        {
            flush();
            cursor = crPoint_;
            column = 0;
        }
        else if (c == '\n')
        {
            // Line feed: the pen and the carriage-return point go one line down.
            flush();
            cursor.x -= m.lineFeed * m.up.x;
            cursor.y -= m.lineFeed * m.up.y;
            crPoint_.x -= m.lineFeed * m.up.x;
            crPoint_.y -= m.lineFeed * m.up.y;
        }
        else if (c == '\b')
        {
            // A backspace as the first character of a line has nothing to go back over.
            if (!line.empty())
                dropNext = true;
        }
        else if (c == '\t')
        {
            const int spaces = 8 - column % 8;
            for (int i = 0; i < spaces; ++i)
                put(' ');
        }
        else if (byte >= 0x20 && byte != 0x7F)
        {
            put(c);
        }
        // Other control codes (NUL, BEL, VT, FF, ESC, SO, SI, ...) print nothing.
    };

    for (const char c : command.data)
        handle(c);
    const auto terminator = static_cast<unsigned char>(terminator_);
    if (printTerminator_ && command.terminated && terminator >= 0x20 && terminator != 0x7F)
        handle(terminator_);
    flush();

    pen_ = Concatenates(labelOrigin_) ? cursor : origin;
}

void HpglInterpreter::EmitLabel(std::string_view text, HpglPoint start, const LabelMetrics& m)
{
    if (!IsVisible(text))
        return;
    if (!penSelected_)
    {
        ++report_.noPenLabels;
        return;
    }
    if (report_.labels >= kMaxLabels)
        throw HpglInputError("too many labels: a plot file holds at most " +
                             std::to_string(kMaxLabels));
    const double length = static_cast<double>(text.size()) * m.advance;
    const Placement placement = PlaceLine(labelOrigin_, length, m.height);
    const HpglPoint anchor{start.x + placement.along * m.along.x + placement.up * m.up.x,
                           start.y + placement.along * m.along.y + placement.up * m.up.y};
    long x = 0;
    long y = 0;
    ToPlot(anchor, x, y);
    const double turned = (m.angleDegrees + rotation_) * kPi / 180.0;

    auto label = std::make_unique<CLabel>();
    label->justification = placement.code;
    label->textHeight = static_cast<std::int32_t>(
        std::lround(std::min(m.height, static_cast<double>(kMaxTextHeight))));
    label->directionX = static_cast<std::int32_t>(std::lround(10000.0 * std::cos(turned)));
    label->directionY = static_cast<std::int32_t>(std::lround(10000.0 * std::sin(turned)));
    label->position = CCoord(x, y);
    const std::size_t kept = std::min(text.size(), kMaxLabelText);
    label->text = CString(text.data(), static_cast<int>(kept));
    plot_.looseLabels.AddTail(label.get());
    label.release();

    ++report_.labels;
    if (kept < text.size())
        ++report_.truncatedLabels;
    if (m.mirrored)
        ++report_.mirroredLabels;
    if (textPath_)
        ++report_.textPathLabels;
    const int base = labelOrigin_ > 10 && labelOrigin_ < 20 ? labelOrigin_ - 10 : labelOrigin_;
    if (base >= 7 && base <= 9)
        ++report_.rightAlignedLabels;
    else if (labelOrigin_ == 21)
        ++report_.unsupportedOriginLabels;
}

} // namespace genplot::tool
