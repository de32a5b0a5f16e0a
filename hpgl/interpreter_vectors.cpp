// Vectors: the stroke in progress, pen-up and pen-down moves (PU, PD, PA, PR), encoded
// polylines (PE) and polygon mode (PM). Every point is charged against the point budget.

#include "hpgl/interpreter_internal.h"
#include "hpgl/parameters.h"
#include "hpgl/polyline_encoded.h"
#include "plotinfo/plot_info.h"

#include <string>

namespace genplot::tool
{

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

void HpglInterpreter::CheckInterrupt(std::size_t& counter)
{
    if (++counter < kMovesPerInterruptCheck)
        return;
    counter = 0;
    if (options_.interrupt != nullptr && *options_.interrupt != 0)
        throw HpglInterrupted();
}

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
