// The interpreter's state: construction, the IN/BP and DF resets, and the dispatch of each
// command to the section that runs it (scaling, vectors, shapes, pen setup, labels).

#include "hpgl/interpreter_internal.h"
#include "hpgl/parameters.h"
#include "plotinfo/plot_info.h"

namespace genplot::tool
{

namespace
{

constexpr int Code(const char* name)
{
    return (name[0] << 8) | name[1];
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

} // namespace genplot::tool
