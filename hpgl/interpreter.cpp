#include "tools/genplot/hpgl_interpreter.h"

#include "plotinfo/plot_info.h"
#include "tools/genplot/hpgl_parameters.h"
#include "tools/genplot/hpgl_polyline_encoded.h"

#include <algorithm>
#include <cmath>

namespace genplot::tool
{
namespace
{

constexpr double kPi = 3.14159265358979323846;
constexpr double kPlotterUnitsPerMillimetre = 40.0;
constexpr double kDefaultWidthMillimetres = 0.35;
constexpr double kDefaultWidthPercent = 0.1;
// How often (in moves) a long command looks at the interrupt flag.
constexpr std::size_t kMovesPerInterruptCheck = 65536;

constexpr int Code(const char* name)
{
    return (name[0] << 8) | name[1];
}

double Radians(double degrees)
{
    return degrees * kPi / 180.0;
}

bool IsNumber(double value)
{
    return !std::isnan(value);
}

long RoundToLong(double value)
{
    return static_cast<long>(std::lround(value));
}

// Chord angle of arcs and circles: 5 degrees by default, at most 180 and at least 0.5, so no
// arc has more than 720 chords.
double ChordAngle(double value)
{
    if (!IsNumber(value))
        return 5.0;
    double chord = std::fabs(value);
    if (chord > 180.0)
        chord = 360.0 - chord;
    return std::max(chord, 0.5);
}

// Sweeps beyond a full turn are taken modulo 360, keeping their sign.
double NormalizeSweep(double sweep)
{
    return std::fabs(sweep) > 360.0 ? std::fmod(sweep, 360.0) : sweep;
}

} // namespace

HpglInterpreter::HpglInterpreter(CPlotInfo& plot, const HpglImportOptions& options,
                                 HpglImportReport& report)
    : plot_(plot), options_(options), report_(report)
{
    // Pen 1 is in the holder until the file selects another.
    plot_.currentPen = penNumber_;
    Reset();
}

void HpglInterpreter::Reset()
{
    EndStroke();
    p1_ = {options_.p1x, options_.p1y};
    p2_ = {options_.p2x, options_.p2y};
    rotation_ = 0;
    pen_ = {};
    penDown_ = false;
    widthRelative_ = false;
    allWidth_ = kDefaultWidthMillimetres;
    penWidth_.clear();
    SetDefaults();
    ApplyWidth();
}

void HpglInterpreter::SetDefaults()
{
    SetLineType(0);
    lineTypeBeforeSolid_ = 0;
    scaling_ = false;
    absolute_ = true;
    polygonMode_ = false;
    sizeRelative_ = false;
    sizeWidth_ = 0.19;
    sizeHeight_ = 0.27;
    directionRelative_ = false;
    directionRun_ = 1.0;
    directionRise_ = 0.0;
    labelOrigin_ = 1;
    textPath_ = false;
    printTerminator_ = false;
    terminator_ = '\x03';
    extraSpace_ = 0.0;
    extraLine_ = 0.0;
    crPoint_ = pen_;
    UpdateTransform();
}

void HpglInterpreter::Execute(const HpglCommand& command)
{
    ++report_.commands;
    switch (Code(command.name))
    {
    case Code("IN"):
    case Code("BP"):
        // A BP inside a wrapped job starts a new plot state, not a new page.
        Reset();
        break;
    case Code("DF"):
        EndStroke();
        SetDefaults();
        break;
    case Code("PG"):
        EndStroke();
        break;
    case Code("SP"): {
        // SP without a number is SP0: no pen.
        double v[1];
        SelectPen(HpglParameters(command.data).Read(v, 1) == 1 ? v[0] : 0.0);
        break;
    }
    case Code("PU"):
        PenMoves(command, 0, -1);
        break;
    case Code("PD"):
        PenMoves(command, 1, -1);
        break;
    case Code("PA"):
        PenMoves(command, -1, 1);
        break;
    case Code("PR"):
        PenMoves(command, -1, 0);
        break;
    case Code("PE"):
        Encoded(command);
        break;
    case Code("AA"):
        ArcCommand(command, false);
        break;
    case Code("AR"):
        ArcCommand(command, true);
        break;
    case Code("AT"):
        ThreePointArc(command, false);
        break;
    case Code("RT"):
        ThreePointArc(command, true);
        break;
    case Code("CI"):
        Circle(command);
        break;
    case Code("EA"):
    case Code("RA"):
        Rectangle(command, false);
        break;
    case Code("ER"):
    case Code("RR"):
        Rectangle(command, true);
        break;
    case Code("EW"):
    case Code("WG"):
        Wedge(command);
        break;
    case Code("PM"):
        PolygonMode(command);
        break;
    case Code("EP"):
    case Code("FP"):
        // Polygons are drawn as their outlines while they are defined; the library has no
        // fill, so there is nothing left to do here.
        break;
    case Code("LT"):
        LineType(command);
        break;
    case Code("PW"):
        PenWidth(command);
        break;
    case Code("WU"):
        WidthUnit(command);
        break;
    case Code("IP"):
        InputP1P2(command);
        break;
    case Code("SC"):
        Scale(command);
        break;
    case Code("RO"):
        Rotate(command);
        break;
    case Code("SI"):
        CharacterSize(command, false);
        break;
    case Code("SR"):
        CharacterSize(command, true);
        break;
    case Code("DI"):
        Direction(command, false);
        break;
    case Code("DR"):
        Direction(command, true);
        break;
    case Code("DV"):
        TextPath(command);
        break;
    case Code("LO"):
        LabelOrigin(command);
        break;
    case Code("DT"):
        DefineTerminator(command);
        break;
    case Code("ES"):
        ExtraSpace(command);
        break;
    case Code("CP"):
        CharacterPlot(command);
        break;
    case Code("LB"):
        Label(command);
        break;
    case Code("SM"):
        if (command.hasSymbol)
            NotImplemented(command);
        break;
    case Code("CO"):
        break;
    default:
        // Output and query commands ask for a reply that a file cannot receive.
        if (command.name[0] == 'O' && IsHpglMnemonic(command.name))
            break;
        NotImplemented(command);
        break;
    }
}

void HpglInterpreter::Finish()
{
    EndStroke();
}

void HpglInterpreter::NotImplemented(const HpglCommand& command)
{
    ++report_.notImplemented[command.name];
}

// --- Coordinates -------------------------------------------------------------------------

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

// --- Strokes -----------------------------------------------------------------------------

void HpglInterpreter::AddPoint(HpglPoint p)
{
    long x = 0;
    long y = 0;
    ToPlot(p, x, y);
    if (plot_.currentLine.AddPoint(x, y) != nullptr)
        ChargePoint();
}

void HpglInterpreter::ChargePoint()
{
    ++report_.points;
    budgetUsed_ += pointCost_;
    if (budgetUsed_ > options_.maxPoints)
        throw HpglInputError("the drawing is too large: it needs more than " +
                             std::to_string(options_.maxPoints) +
                             " points, counting the strokes that thicken wide lines");
}

void HpglInterpreter::EndStroke()
{
    noPenStrokeCounted_ = false;
    if (plot_.currentLine.GetPointCount() == 0)
        return;
    plot_.CheckForClosure();
    ++report_.strokes;
}

void HpglInterpreter::DrawTo(HpglPoint target)
{
    if (!penSelected_)
    {
        // SP0: the plotter moves without a pen and draws nothing.
        if (!noPenStrokeCounted_)
            ++report_.noPenStrokes;
        noPenStrokeCounted_ = true;
        pen_ = target;
        return;
    }
    if (plot_.currentLine.GetPointCount() == 0)
        AddPoint(pen_);
    AddPoint(target);
    pen_ = target;
}

void HpglInterpreter::MoveTo(HpglPoint target)
{
    // In polygon mode a pen-up move starts the next subpolygon, which closes the last one.
    if (polygonMode_)
        CloseSubpolygon();
    else
        EndStroke();
    pen_ = target;
}

void HpglInterpreter::CloseSubpolygon()
{
    CLineSeg& line = plot_.currentLine;
    if (line.GetPointCount() >= 2 && !(*line.GetFirstPoint() == *line.GetLastPoint()))
    {
        const CCoord first = *line.GetFirstPoint();
        if (line.AddPoint(first.x, first.y) != nullptr)
            ChargePoint();
    }
    EndStroke();
}

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

void HpglInterpreter::CheckInterrupt(std::size_t& counter)
{
    if (++counter < kMovesPerInterruptCheck)
        return;
    counter = 0;
    if (options_.interrupt != nullptr && *options_.interrupt != 0)
        throw HpglInterrupted();
}

// --- Commands ----------------------------------------------------------------------------

void HpglInterpreter::PenMoves(const HpglCommand& command, int penDown, int absolute)
{
    if (absolute >= 0)
        absolute_ = absolute == 1;
    if (penDown == 0)
    {
        penDown_ = false;
        if (polygonMode_)
            CloseSubpolygon();
        else
            EndStroke();
    }
    else if (penDown == 1)
    {
        penDown_ = true;
        // The pen touches the paper here: a PD followed by PU leaves a dot.
        if (penSelected_ && plot_.currentLine.GetPointCount() == 0)
            AddPoint(pen_);
    }
    HpglParameters parameters(command.data);
    double value = 0.0;
    double x = 0.0;
    bool haveX = false;
    bool moved = false;
    for (auto kind = parameters.Next(value); kind != HpglParameters::Kind::End;
         kind = parameters.Next(value))
    {
        if (kind != HpglParameters::Kind::Number)
            continue;
        if (!haveX)
        {
            x = value;
            haveX = true;
            continue;
        }
        // An odd count leaves the last value unpaired; it is ignored.
        haveX = false;
        const HpglPoint target =
            absolute_ ? UserToPlotter(x, value)
                      : HpglPoint{pen_.x + UserDelta(x, value).x, pen_.y + UserDelta(x, value).y};
        if (penDown_)
            DrawTo(target);
        else
            MoveTo(target);
        moved = true;
        CheckInterrupt(movesSinceCheck_);
    }
    if (moved || absolute >= 0)
        crPoint_ = pen_;
}

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

void HpglInterpreter::Encoded(const HpglCommand& command)
{
    if (command.damaged)
    {
        ++report_.damagedEncoded;
        return;
    }
    PolylineEncodedDecoder decoder(command.data);
    PolylineEncodedOp op;
    bool moved = false;
    bool lastUp = false;
    while (decoder.Next(op))
    {
        if (op.kind == PolylineEncodedOp::Kind::SelectPen)
        {
            SelectPen(op.pen);
            continue;
        }
        const HpglPoint target = op.absolute ? UserToPlotter(op.x, op.y)
                                             : HpglPoint{pen_.x + UserDelta(op.x, op.y).x,
                                                         pen_.y + UserDelta(op.x, op.y).y};
        if (op.penUp)
            MoveTo(target);
        else
            DrawTo(target);
        moved = true;
        lastUp = op.penUp;
        CheckInterrupt(movesSinceCheck_);
    }
    // The pen stays as the last move left it; the PA/PR mode is untouched.
    if (moved)
        penDown_ = !lastUp;
    crPoint_ = pen_;
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

void HpglInterpreter::PolygonMode(const HpglCommand& command)
{
    double v[1];
    const int count = HpglParameters(command.data).Read(v, 1);
    const long mode = count == 1 && IsNumber(v[0]) ? RoundToLong(v[0]) : 0;
    if (mode == 0)
    {
        EndStroke();
        polygonMode_ = true;
    }
    else if (mode == 1 || mode == 2)
    {
        CloseSubpolygon();
        polygonMode_ = mode == 1;
    }
    else
    {
        ++report_.invalidParameters;
    }
}

} // namespace genplot::tool
