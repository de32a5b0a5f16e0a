// Shapes: arcs (AA, AR, AT, RT) drawn as chords of the chord angle, and the closed shapes
// (CI, EA, RA, ER, RR, EW, WG), whose last point is their first so they close into pieces.

#include "hpgl/interpreter_internal.h"
#include "hpgl/parameters.h"
#include "plotinfo/plot_info.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace genplot::tool
{

void HpglInterpreter::ClosedShape(const std::vector<HpglPoint>& userPoints)
{
    EndStroke();
    if (userPoints.empty())
        return;
    if (!penSelected_)
    {
        ++report_.noPenStrokes;
        return;
    }
    long firstX = 0;
    long firstY = 0;
    ToPlot(UserToPlotter(userPoints.front().x, userPoints.front().y), firstX, firstY);
    for (const HpglPoint& p : userPoints)
        AddPoint(UserToPlotter(p.x, p.y));
    // The last point is the first one exactly, so the shape closes into a piece whatever the
    // rounding of the points in between.
    if (plot_.currentLine.AddPoint(firstX, firstY) != nullptr)
        ChargePoint();
    EndStroke();
}

void HpglInterpreter::ArcPoints(HpglPoint centre, double radius, double startDegrees,
                                double sweepDegrees, double chord,
                                std::vector<HpglPoint>& out) const
{
    // Chords of the chord angle each, the last one shorter; the end lands on the exact angle.
    const double total = std::fabs(sweepDegrees);
    const double direction = sweepDegrees < 0.0 ? -1.0 : 1.0;
    const auto chords = static_cast<int>(std::ceil(total / chord));
    for (int k = 1; k <= chords; ++k)
    {
        const double angle = startDegrees + direction * std::min(k * chord, total);
        out.push_back({centre.x + radius * std::cos(Radians(angle)),
                       centre.y + radius * std::sin(Radians(angle))});
    }
}

void HpglInterpreter::Arc(HpglPoint centre, HpglPoint start, double sweepDegrees, double chord)
{
    const double radius = std::hypot(start.x - centre.x, start.y - centre.y);
    const double startDegrees =
        radius > 0.0 ? std::atan2(start.y - centre.y, start.x - centre.x) * 180.0 / kPi : 0.0;
    std::vector<HpglPoint> points;
    if (radius > 0.0)
        ArcPoints(centre, radius, startDegrees, NormalizeSweep(sweepDegrees), chord, points);
    if (points.empty())
        return;
    if (!penDown_)
    {
        MoveTo(UserToPlotter(points.back().x, points.back().y));
        return;
    }
    for (const HpglPoint& p : points)
        DrawTo(UserToPlotter(p.x, p.y));
}

void HpglInterpreter::ArcCommand(const HpglCommand& command, bool relative)
{
    double v[4];
    const int count = HpglParameters(command.data).Read(v, 4);
    if (count < 3 || !IsNumber(v[0]) || !IsNumber(v[1]) || !IsNumber(v[2]))
    {
        ++report_.invalidParameters;
        return;
    }
    const HpglPoint start = PlotterToUser(pen_);
    const HpglPoint centre =
        relative ? HpglPoint{start.x + v[0], start.y + v[1]} : HpglPoint{v[0], v[1]};
    Arc(centre, start, v[2], ChordAngle(count > 3 ? v[3] : NAN));
    crPoint_ = pen_;
}

void HpglInterpreter::ThreePointArc(const HpglCommand& command, bool relative)
{
    double v[5];
    const int count = HpglParameters(command.data).Read(v, 5);
    if (count < 4 || !IsNumber(v[0]) || !IsNumber(v[1]) || !IsNumber(v[2]) || !IsNumber(v[3]))
    {
        ++report_.invalidParameters;
        return;
    }
    const HpglPoint s = PlotterToUser(pen_);
    const HpglPoint i = relative ? HpglPoint{s.x + v[0], s.y + v[1]} : HpglPoint{v[0], v[1]};
    const HpglPoint e = relative ? HpglPoint{s.x + v[2], s.y + v[3]} : HpglPoint{v[2], v[3]};
    // The centre is where the perpendicular bisectors of S-I and S-E meet.
    const double bx = i.x - s.x;
    const double by = i.y - s.y;
    const double cx = e.x - s.x;
    const double cy = e.y - s.y;
    const double d = 2.0 * (bx * cy - by * cx);
    const double scale = std::max({std::fabs(bx), std::fabs(by), std::fabs(cx), std::fabs(cy)});
    if (!(std::fabs(d) > 1e-12 * scale * scale))
    {
        // Collinear points: the plotter draws a line to the end point.
        const HpglPoint target = UserToPlotter(e.x, e.y);
        if (penDown_)
            DrawTo(target);
        else
            MoveTo(target);
        crPoint_ = pen_;
        return;
    }
    const double b2 = bx * bx + by * by;
    const double c2 = cx * cx + cy * cy;
    const HpglPoint centre{s.x + (cy * b2 - by * c2) / d, s.y + (bx * c2 - cx * b2) / d};
    const auto angle = [&](HpglPoint p) {
        return std::atan2(p.y - centre.y, p.x - centre.x) * 180.0 / kPi;
    };
    const auto ccw = [](double from, double to) {
        const double sweep = std::fmod(to - from, 360.0);
        return sweep < 0.0 ? sweep + 360.0 : sweep;
    };
    const double a0 = angle(s);
    const double toEnd = ccw(a0, angle(e));
    const double sweep = ccw(a0, angle(i)) < toEnd ? toEnd : toEnd - 360.0;
    Arc(centre, s, sweep, ChordAngle(count > 4 ? v[4] : NAN));
    crPoint_ = pen_;
}

void HpglInterpreter::Circle(const HpglCommand& command)
{
    double v[2];
    const int count = HpglParameters(command.data).Read(v, 2);
    if (count < 1 || !IsNumber(v[0]))
    {
        ++report_.invalidParameters;
        return;
    }
    const HpglPoint centre = PlotterToUser(pen_);
    const double radius = std::fabs(v[0]);
    const double start = v[0] < 0.0 ? 180.0 : 0.0;
    std::vector<HpglPoint> points{{centre.x + radius * std::cos(Radians(start)), centre.y}};
    ArcPoints(centre, radius, start, 360.0, ChordAngle(count > 1 ? v[1] : NAN), points);
    ClosedShape(points);
}

void HpglInterpreter::Rectangle(const HpglCommand& command, bool relative)
{
    double v[2];
    if (HpglParameters(command.data).Read(v, 2) < 2 || !IsNumber(v[0]) || !IsNumber(v[1]))
    {
        ++report_.invalidParameters;
        return;
    }
    const HpglPoint a = PlotterToUser(pen_);
    const HpglPoint b = relative ? HpglPoint{a.x + v[0], a.y + v[1]} : HpglPoint{v[0], v[1]};
    ClosedShape({a, {b.x, a.y}, b, {a.x, b.y}});
}

void HpglInterpreter::Wedge(const HpglCommand& command)
{
    double v[4];
    const int count = HpglParameters(command.data).Read(v, 4);
    if (count < 3 || !IsNumber(v[0]) || !IsNumber(v[1]) || !IsNumber(v[2]))
    {
        ++report_.invalidParameters;
        return;
    }
    const HpglPoint centre = PlotterToUser(pen_);
    const double radius = std::fabs(v[0]);
    const double start = v[0] < 0.0 ? v[1] + 180.0 : v[1];
    const double sweep = NormalizeSweep(v[2]);
    const double chord = ChordAngle(count > 3 ? v[3] : NAN);
    std::vector<HpglPoint> points;
    const HpglPoint first{centre.x + radius * std::cos(Radians(start)),
                          centre.y + radius * std::sin(Radians(start))};
    if (std::fabs(sweep) >= 360.0)
    {
        // A full turn is a circle without the two radii.
        points.push_back(first);
        ArcPoints(centre, radius, start, sweep, chord, points);
    }
    else
    {
        points.push_back(centre);
        points.push_back(first);
        ArcPoints(centre, radius, start, sweep, chord, points);
    }
    ClosedShape(points);
}

} // namespace genplot::tool
