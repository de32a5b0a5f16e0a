#pragma once

#include "hpgl/import.h"
#include "hpgl/tokenizer.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string_view>
#include <unordered_map>
#include <vector>

class CPlotInfo;

// The plotter state machine behind ImportHpgl. It keeps the pen position in plotter units
// (doubles, before rotation) and hands the library integer points only at the last step:
// scaling, then rotation, then rounding to the nearest unit.

namespace genplot::tool
{

// Units, defaults and number helpers shared by the interpreter's sources.

inline constexpr double kPi = 3.14159265358979323846;
inline constexpr double kPlotterUnitsPerMillimetre = 40.0;
inline constexpr double kDefaultWidthMillimetres = 0.35;
inline constexpr double kDefaultWidthPercent = 0.1;
// How often (in moves) a long command looks at the interrupt flag.
inline constexpr std::size_t kMovesPerInterruptCheck = 65536;

inline double Radians(double degrees)
{
    return degrees * kPi / 180.0;
}

/// Parameters the reader could not take as numbers come as NaN.
inline bool IsNumber(double value)
{
    return !std::isnan(value);
}

inline long RoundToLong(double value)
{
    return static_cast<long>(std::lround(value));
}

// Chord angle of arcs and circles: 5 degrees by default, at most 180 and at least 0.5, so no
// arc has more than 720 chords.
inline double ChordAngle(double value)
{
    if (!IsNumber(value))
        return 5.0;
    double chord = std::fabs(value);
    if (chord > 180.0)
        chord = 360.0 - chord;
    return std::max(chord, 0.5);
}

// Sweeps beyond a full turn are taken modulo 360, keeping their sign.
inline double NormalizeSweep(double sweep)
{
    return std::fabs(sweep) > 360.0 ? std::fmod(sweep, 360.0) : sweep;
}

struct HpglPoint
{
    double x = 0.0;
    double y = 0.0;
};

class HpglInterpreter
{
  public:
    HpglInterpreter(CPlotInfo& plot, const HpglImportOptions& options, HpglImportReport& report);

    void Execute(const HpglCommand& command);
    /// Ends the stroke in progress.
    void Finish();

  private:
    struct LabelMetrics
    {
        HpglPoint along; // unit text direction
        HpglPoint up;    // along, turned a quarter turn counter-clockwise
        double width = 0.0;
        double height = 0.0;
        double advance = 0.0;
        double lineFeed = 0.0;
        double angleDegrees = 0.0;
        bool mirrored = false;
    };

    // State resets.
    void Reset();
    void SetDefaults();

    // Coordinates.
    void UpdateTransform();
    HpglPoint UserToPlotter(double x, double y) const;
    HpglPoint UserDelta(double dx, double dy) const;
    HpglPoint PlotterToUser(HpglPoint p) const;
    void ToPlot(HpglPoint p, long& x, long& y);

    // Strokes.
    void AddPoint(HpglPoint p);
    void ChargePoint();
    void EndStroke();
    void DrawTo(HpglPoint target);
    void MoveTo(HpglPoint target);
    void CloseSubpolygon();
    void ClosedShape(const std::vector<HpglPoint>& userPoints);
    void ArcPoints(HpglPoint centre, double radius, double startDegrees, double sweepDegrees,
                   double chord, std::vector<HpglPoint>& out) const;
    void Arc(HpglPoint centre, HpglPoint start, double sweepDegrees, double chord);
    void ApplyWidth();
    void SetLineType(int code);
    void CheckInterrupt(std::size_t& counter);

    // Commands.
    void PenMoves(const HpglCommand& command, int penDown, int absolute);
    void SelectPen(double value);
    void ThreePointArc(const HpglCommand& command, bool relative);
    void ArcCommand(const HpglCommand& command, bool relative);
    void Circle(const HpglCommand& command);
    void Rectangle(const HpglCommand& command, bool relative);
    void Wedge(const HpglCommand& command);
    void Encoded(const HpglCommand& command);
    void LineType(const HpglCommand& command);
    void PenWidth(const HpglCommand& command);
    void WidthUnit(const HpglCommand& command);
    void InputP1P2(const HpglCommand& command);
    void Scale(const HpglCommand& command);
    void Rotate(const HpglCommand& command);
    void PolygonMode(const HpglCommand& command);

    // Labels (labels.cpp).
    LabelMetrics Metrics();
    void CharacterSize(const HpglCommand& command, bool relative);
    void Direction(const HpglCommand& command, bool relative);
    void TextPath(const HpglCommand& command);
    void LabelOrigin(const HpglCommand& command);
    void DefineTerminator(const HpglCommand& command);
    void ExtraSpace(const HpglCommand& command);
    void CharacterPlot(const HpglCommand& command);
    void Label(const HpglCommand& command);
    void EmitLabel(std::string_view text, HpglPoint start, const LabelMetrics& metrics);
    void NotImplemented(const HpglCommand& command);

    CPlotInfo& plot_;
    const HpglImportOptions& options_;
    HpglImportReport& report_;

    // Scaling points, scaling and rotation.
    HpglPoint p1_;
    HpglPoint p2_;
    bool scaling_ = false;
    int scaleType_ = 0;
    double scale_[7] = {};
    double ax_ = 1.0;
    double bx_ = 0.0;
    double ay_ = 1.0;
    double by_ = 0.0;
    int rotation_ = 0;

    // Pen.
    HpglPoint pen_;
    bool penDown_ = false;
    bool absolute_ = true;
    bool penSelected_ = true;
    int penNumber_ = 1;
    bool noPenStrokeCounted_ = false;
    bool polygonMode_ = false;

    // Line type and widths.
    int lineTypeBeforeSolid_ = 0;
    bool widthRelative_ = false;
    double allWidth_ = 0.35;
    std::unordered_map<int, double> penWidth_;
    std::size_t pointCost_ = 1;
    std::size_t budgetUsed_ = 0;
    std::size_t movesSinceCheck_ = 0;

    // Labels.
    bool sizeRelative_ = false;
    double sizeWidth_ = 0.19;
    double sizeHeight_ = 0.27;
    bool directionRelative_ = false;
    double directionRun_ = 1.0;
    double directionRise_ = 0.0;
    int labelOrigin_ = 1;
    bool textPath_ = false;
    bool printTerminator_ = false;
    char terminator_ = '\x03';
    double extraSpace_ = 0.0;
    double extraLine_ = 0.0;
    HpglPoint crPoint_;
};

} // namespace genplot::tool
