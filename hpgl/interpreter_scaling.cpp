// Scaling and rotation: the mapping from user units through P1/P2 (IP) and the scale (SC) to
// plotter units, the page rotation (RO), and the last step to the library's integer points.

#include "hpgl/interpreter_internal.h"
#include "hpgl/parameters.h"

#include <algorithm>
#include <cmath>

namespace genplot::tool
{

void HpglInterpreter::UpdateTransform()
{
    ax_ = 1.0;
    bx_ = 0.0;
    ay_ = 1.0;
    by_ = 0.0;
    if (!scaling_)
        return;
    const double* s = scale_;
    const double spanX = p2_.x - p1_.x;
    const double spanY = p2_.y - p1_.y;
    if (scaleType_ == 2)
    {
        // Point factor: s = xmin, xfactor, ymin, yfactor.
        ax_ = s[1];
        ay_ = s[3];
        bx_ = p1_.x - s[0] * ax_;
        by_ = p1_.y - s[2] * ay_;
        return;
    }
    ax_ = spanX / (s[1] - s[0]);
    ay_ = spanY / (s[3] - s[2]);
    bx_ = p1_.x - s[0] * ax_;
    by_ = p1_.y - s[2] * ay_;
    if (scaleType_ == 1)
    {
        // Isotropic: one scale for both axes; the spare room of the other axis is split by
        // the left and bottom percentages.
        const double unit = std::min(std::fabs(ax_), std::fabs(ay_));
        ax_ = std::copysign(unit, ax_);
        ay_ = std::copysign(unit, ay_);
        const double spareX = std::fabs(spanX) - unit * std::fabs(s[1] - s[0]);
        const double spareY = std::fabs(spanY) - unit * std::fabs(s[3] - s[2]);
        bx_ = p1_.x + std::copysign(spareX * s[5] / 100.0, spanX) - s[0] * ax_;
        by_ = p1_.y + std::copysign(spareY * s[6] / 100.0, spanY) - s[2] * ay_;
    }
}

HpglPoint HpglInterpreter::UserToPlotter(double x, double y) const
{
    return {ax_ * x + bx_, ay_ * y + by_};
}

HpglPoint HpglInterpreter::UserDelta(double dx, double dy) const
{
    return {ax_ * dx, ay_ * dy};
}

HpglPoint HpglInterpreter::PlotterToUser(HpglPoint p) const
{
    return {(p.x - bx_) / ax_, (p.y - by_) / ay_};
}

void HpglInterpreter::ToPlot(HpglPoint p, long& x, long& y)
{
    double rx = p.x;
    double ry = p.y;
    switch (rotation_)
    {
    case 90:
        rx = -p.y;
        ry = p.x;
        break;
    case 180:
        rx = -p.x;
        ry = -p.y;
        break;
    case 270:
        rx = p.y;
        ry = -p.x;
        break;
    default:
        break;
    }
    const double limit = static_cast<double>(kMaxCoordinate);
    if (!(std::fabs(rx) <= limit) || !(std::fabs(ry) <= limit))
    {
        ++report_.clampedCoordinates;
        rx = std::isnan(rx) ? 0.0 : std::clamp(rx, -limit, limit);
        ry = std::isnan(ry) ? 0.0 : std::clamp(ry, -limit, limit);
    }
    x = RoundToLong(rx);
    y = RoundToLong(ry);
}

void HpglInterpreter::InputP1P2(const HpglCommand& command)
{
    double v[4];
    const int count = HpglParameters(command.data).Read(v, 4);
    if (count == 0)
    {
        p1_ = {options_.p1x, options_.p1y};
        p2_ = {options_.p2x, options_.p2y};
    }
    else if (count < 2 || !IsNumber(v[0]) || !IsNumber(v[1]) ||
             (count == 4 && (!IsNumber(v[2]) || !IsNumber(v[3]))))
    {
        ++report_.invalidParameters;
        return;
    }
    else if (count < 4)
    {
        // P2 follows P1 and keeps its offset.
        const HpglPoint offset{p2_.x - p1_.x, p2_.y - p1_.y};
        p1_ = {v[0], v[1]};
        p2_ = {v[0] + offset.x, v[1] + offset.y};
    }
    else
    {
        p1_ = {v[0], v[1]};
        p2_ = {v[2], v[3]};
    }
    if (p1_.x == p2_.x)
        p2_.x += 1.0;
    if (p1_.y == p2_.y)
        p2_.y += 1.0;
    UpdateTransform();
    ApplyWidth();
}

void HpglInterpreter::Scale(const HpglCommand& command)
{
    double v[7];
    const int count = HpglParameters(command.data).Read(v, 7);
    if (count == 0)
    {
        scaling_ = false;
        UpdateTransform();
        return;
    }
    const bool corners =
        count >= 4 && IsNumber(v[0]) && IsNumber(v[1]) && IsNumber(v[2]) && IsNumber(v[3]);
    const long type = count >= 5 && IsNumber(v[4]) ? RoundToLong(v[4]) : 0;
    bool valid = corners && type >= 0 && type <= 2;
    if (valid && type == 2)
        valid = v[1] != 0.0 && v[3] != 0.0;
    else if (valid)
        valid = v[0] != v[1] && v[2] != v[3];
    if (!valid)
    {
        ++report_.invalidParameters;
        return;
    }
    std::copy(v, v + 4, scale_);
    scale_[4] = static_cast<double>(type);
    scale_[5] = count >= 6 && IsNumber(v[5]) ? std::clamp(v[5], 0.0, 100.0) : 50.0;
    scale_[6] = count >= 7 && IsNumber(v[6]) ? std::clamp(v[6], 0.0, 100.0) : 50.0;
    scaleType_ = static_cast<int>(type);
    scaling_ = true;
    UpdateTransform();
}

void HpglInterpreter::Rotate(const HpglCommand& command)
{
    double v[1];
    const int count = HpglParameters(command.data).Read(v, 1);
    long angle = 0;
    if (count == 1)
    {
        if (!IsNumber(v[0]))
        {
            ++report_.invalidParameters;
            return;
        }
        angle = RoundToLong(v[0]);
    }
    if (angle % 90 != 0)
    {
        ++report_.invalidParameters;
        return;
    }
    EndStroke();
    rotation_ = static_cast<int>(((angle % 360) + 360) % 360);
    crPoint_ = pen_;
}

} // namespace genplot::tool
