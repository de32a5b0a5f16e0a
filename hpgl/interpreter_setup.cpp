// Pen setup: pen selection (SP), line types (LT) and pen widths (PW, WU). A width reaches the
// library as the line width of what follows, and sets what each point costs the budget.

#include "hpgl/interpreter_internal.h"
#include "hpgl/parameters.h"
#include "plotinfo/plot_info.h"

#include <algorithm>
#include <cmath>

namespace genplot::tool
{

void HpglInterpreter::SelectPen(double value)
{
    const double pen = IsNumber(value) ? std::round(value) : 0.0;
    if (pen < 0.0 || pen > kMaxPen)
    {
        ++report_.invalidParameters;
        return;
    }
    EndStroke();
    if (pen == 0.0)
    {
        penSelected_ = false;
        return;
    }
    penSelected_ = true;
    penNumber_ = static_cast<int>(pen);
    plot_.currentPen = penNumber_;
    ApplyWidth();
}

void HpglInterpreter::ApplyWidth()
{
    const auto found = penWidth_.find(penNumber_);
    const double value = found != penWidth_.end() ? found->second : allWidth_;
    double width = value * kPlotterUnitsPerMillimetre;
    if (widthRelative_)
        width = value / 100.0 * std::hypot(p2_.x - p1_.x, p2_.y - p1_.y);
    const long units = RoundToLong(std::clamp(width, 0.0, static_cast<double>(kMaxLineWidth)));
    plot_.SetLineWidth(static_cast<int>(units));
    // The fat-line pass gives a line wider than the spacing ceil((w/2 - inset) / spacing)
    // pairs of strokes; the budget counts them with the line's own points.
    pointCost_ = 1;
    const long spacing = plot_.fatLineSpacing;
    if (spacing > 0 && units > spacing)
    {
        const long reach = units / 2 - plot_.fatLineInset;
        if (reach > 0)
            pointCost_ += 2 * static_cast<std::size_t>((reach + spacing - 1) / spacing);
    }
}

void HpglInterpreter::SetLineType(int code)
{
    if (plot_.currentLine.GetLineType() == code)
        return;
    EndStroke();
    plot_.currentLine.SetLineType(code);
}

void HpglInterpreter::LineType(const HpglCommand& command)
{
    double v[3];
    const int count = HpglParameters(command.data).Read(v, 3);
    if (count == 0 || !IsNumber(v[0]))
    {
        // Solid; LT99 brings back the type that was in force before.
        lineTypeBeforeSolid_ = plot_.currentLine.GetLineType();
        SetLineType(0);
        return;
    }
    const long type = RoundToLong(v[0]);
    if (type == 99)
    {
        if (plot_.currentLine.GetLineType() == 0)
            SetLineType(lineTypeBeforeSolid_);
        return;
    }
    if (type < -8 || type > 8)
    {
        ++report_.invalidParameters;
        return;
    }
    // Dots (0, 1, -1) are line type 1; every dashed pattern is line type 2.
    SetLineType(type == 0 || type == 1 || type == -1 ? 1 : 2);
}

void HpglInterpreter::PenWidth(const HpglCommand& command)
{
    double v[2];
    const int count = HpglParameters(command.data).Read(v, 2);
    if (count == 0)
    {
        penWidth_.clear();
        allWidth_ = widthRelative_ ? kDefaultWidthPercent : kDefaultWidthMillimetres;
        ApplyWidth();
        return;
    }
    if (!IsNumber(v[0]) || v[0] < 0.0)
    {
        ++report_.invalidParameters;
        return;
    }
    if (count >= 2 && IsNumber(v[1]))
    {
        const long pen = RoundToLong(v[1]);
        if (pen < 0 || pen > kMaxPen)
        {
            ++report_.invalidParameters;
            return;
        }
        penWidth_[static_cast<int>(pen)] = v[0];
    }
    else
    {
        penWidth_.clear();
        allWidth_ = v[0];
    }
    ApplyWidth();
}

void HpglInterpreter::WidthUnit(const HpglCommand& command)
{
    double v[1];
    const int count = HpglParameters(command.data).Read(v, 1);
    widthRelative_ = count == 1 && IsNumber(v[0]) && RoundToLong(v[0]) == 1;
    // A unit change resets every pen's width to the default of the new unit.
    penWidth_.clear();
    allWidth_ = widthRelative_ ? kDefaultWidthPercent : kDefaultWidthMillimetres;
    ApplyWidth();
}

} // namespace genplot::tool
