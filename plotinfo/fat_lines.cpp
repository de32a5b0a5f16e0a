#include "geometry/line_seg_internal.h"
#include "geometry/perim.h"
#include "platform/exception.h"
#include "platform/ob_list_delete_internal.h"
#include "plotinfo/plot_info.h"
#include "plotinfo/plot_info_settings_internal.h"
#include "plotinfo/settings_key_internal.h"
#include "plotinfo/vector_2d_internal.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace
{

// Truncates toward zero into a plot coordinate. Offsets of points near the ends of the
// coordinate range can leave it: they saturate instead of converting out of range (undefined),
// and a NaN, which the pass never makes, would give 0 rather than reach the conversion.
constexpr double kLowestCoord = std::numeric_limits<std::int32_t>::min();
constexpr double kHighestCoord = std::numeric_limits<std::int32_t>::max();

[[gnu::noinline]] long SaturateToCoord(double value)
{
    if (std::isnan(value))
        return 0;
    return value <= kLowestCoord ? std::numeric_limits<std::int32_t>::min()
                                 : std::numeric_limits<std::int32_t>::max();
}

long TruncToCoord(double value)
{
    // One test for the usual case (a NaN fails it too): this runs for every point of every
    // stroke the pass makes.
    if (value > kLowestCoord && value < kHighestCoord)
        return static_cast<long>(value);
    return SaturateToCoord(value);
}

// Unit direction from `from` to `to`, which must differ. The differences are taken in 64 bits:
// points far apart would overflow 32.
CVector2D Direction(const CCoord& from, const CCoord& to)
{
    CVector2D d(static_cast<double>(static_cast<std::int64_t>(to.x) - from.x),
                static_cast<double>(static_cast<std::int64_t>(to.y) - from.y));
    d.Normalize();
    return d;
}

// `d` turned a quarter turn counter-clockwise.
CVector2D Normal(const CVector2D& d)
{
    return CVector2D(-d.y, d.x);
}

double Dot(const CVector2D& a, const CVector2D& b)
{
    return a.x * b.x + a.y * b.y;
}

// The next point after `position` that differs from `current`, or null past the end. A point
// repeated in a row (possible through AddPoint(CCoord*) and CopyLineSeg) is one vertex: a
// segment of length 0 has no direction to offset along.
CCoord* NextDistinct(const CLineSeg& line, POSITION& position, const CCoord& current)
{
    while (position != nullptr)
    {
        CCoord* point = line.GetNextPoint(position);
        if (point->x != current.x || point->y != current.y)
            return point;
    }
    return nullptr;
}

// The decimal integer at the start of `text`, as the C library's atoi reads it, except that
// values beyond the range saturate instead of being undefined.
double ParseInteger(const char* text)
{
    return static_cast<double>(std::strtoll(text, nullptr, 10));
}

// Hands every stroke to the head of `lines`, in list order, so the last stroke stands first.
// A stroke leaves `strokes` only once it is linked, so it always has exactly one owner.
void HandStrokesTo(CObList& strokes, CObList& lines)
{
    while (!strokes.IsEmpty())
    {
        lines.AddHead(strokes.GetHead());
        strokes.RemoveHead();
    }
}

// One place where every stroke of a line gets a point: the vertex P, the direction v along
// which the points are moved off it, and b = v . w, the divisor that keeps them on the offset
// lines of the segment whose normal is w.
struct OffsetSite
{
    std::int32_t x;
    std::int32_t y;
    double vx;
    double vy;
    double b;
};

OffsetSite MakeSite(const CCoord& vertex, const CVector2D& v, const CVector2D& w)
{
    return {vertex.x, vertex.y, v.x, v.y, Dot(v, w)};
}

// Gives the strokes of pairs 1 .. count, walking the stroke list from its head, one point for
// each site in order: pair i at distance D[i] = min(i * spacing, half - inset) from the line,
// its first stroke on the -v side, its second on the +v side.
//
// Pair by pair rather than site by site, and stroke by stroke within a pair: each stroke gets
// the batch's points in one append, so they are made together and lie in order in memory.
// Every stroke receives the same points in the same order, each value computed by the same
// operations, as one site at a time would give it.
void EmitSites(CObList& strokes, const OffsetSite* sites, int siteCount, int half, int count,
               int spacing, int inset)
{
    using genplot::detail::PlotPoint;
    double limit = static_cast<double>(static_cast<std::int64_t>(half) - inset);
    double sum = 0.0;
    PlotPoint minusPoints[genplot::detail::kMaxAppend];
    PlotPoint plusPoints[genplot::detail::kMaxAppend];
    POSITION position = strokes.GetHeadPosition();
    for (int i = 1; i <= count && position != nullptr; ++i)
    {
        sum = sum + spacing;
        double distance = sum > limit ? limit : sum;
        auto* minus = static_cast<CLineSeg*>(strokes.GetNext(position));
        auto* plus =
            position != nullptr ? static_cast<CLineSeg*>(strokes.GetNext(position)) : nullptr;
        for (int k = 0; k < siteCount; ++k)
        {
            const OffsetSite& site = sites[k];
            double s = distance / site.b;
            double ox = s * site.vx;
            double oy = s * site.vy;
            minusPoints[k] = {static_cast<std::int32_t>(TruncToCoord(site.x - ox)),
                              static_cast<std::int32_t>(TruncToCoord(site.y - oy))};
            plusPoints[k] = {static_cast<std::int32_t>(TruncToCoord(site.x + ox)),
                             static_cast<std::int32_t>(TruncToCoord(site.y + oy))};
        }
        genplot::detail::AppendPoints(*minus, minusPoints, siteCount);
        if (plus != nullptr)
            genplot::detail::AppendPoints(*plus, plusPoints, siteCount);
    }
}

// Collects the sites of one line and hands them to the strokes in batches, so a line of any
// length needs only this fixed buffer.
class SiteBatch
{
  public:
    SiteBatch(CObList& strokes, int half, int count, int spacing, int inset)
        : strokes_(strokes), half_(half), count_(count), spacing_(spacing), inset_(inset)
    {
    }
    void Add(const CCoord& vertex, const CVector2D& v, const CVector2D& w)
    {
        sites_[used_++] = MakeSite(vertex, v, w);
        if (used_ == kCapacity)
            Flush();
    }
    void Flush()
    {
        EmitSites(strokes_, sites_, used_, half_, count_, spacing_, inset_);
        used_ = 0;
    }

  private:
    static constexpr int kCapacity = genplot::detail::kMaxAppend;
    CObList& strokes_;
    int half_;
    int count_;
    int spacing_;
    int inset_;
    int used_ = 0;
    OffsetSite sites_[kCapacity];
};

} // namespace

void CPlotInfo::MakeFatLines()
{
    // miterCosine is the join threshold as a cosine (no unit): an interior vertex is mitred
    // when the cosine of the angle by which the line turns there, n[k-1] . n[k], is greater
    // than -miterCosine, and bevelled otherwise. -0.5 mitres turns of less than 60 degrees.
    miterCosine = -0.5;
    CSettingsKey settings(HKEY_LOCAL_MACHINE, genplot::detail::kSettingsKeyPath);
    if (settings.Open(genplot::detail::kSettingsSection))
    {
        CString text;
        if (settings.GetString(genplot::detail::kMiterLimitValue, text, nullptr))
            miterCosine = -std::fabs(ParseInteger(text));
    }

    CObList strokes(10);
    try
    {
        for (POSITION piecePosition = pieces.GetHeadPosition(); piecePosition != nullptr;)
        {
            auto* piece = static_cast<CPerim*>(pieces.GetNext(piecePosition));
            // Strokes go to the head, behind the walk, so no stroke is thickened in turn.
            for (POSITION position = piece->nonPerimeterLines.GetHeadPosition();
                 position != nullptr;)
            {
                auto* line = static_cast<CLineSeg*>(piece->nonPerimeterLines.GetNext(position));
                if (line == nullptr)
                    continue;
                OffsetLineSegs(strokes, line);
                HandStrokesTo(strokes, piece->nonPerimeterLines);
            }
            OffsetLineSegs(strokes, &piece->outline);
            HandStrokesTo(strokes, piece->nonPerimeterLines);
        }
    }
    catch (CException* exception)
    {
        // The pass ends quietly; strokes of the line in progress reached no piece and are ours.
        genplot::detail::DeleteAllAndRemove(strokes);
        exception->Delete();
    }
}

void CPlotInfo::OffsetLineSegs(CObList& strokes, CLineSeg* line)
{
    if (line->geometryType != 0 || line->lineWidth <= fatLineSpacing)
        return;
    // A spacing of 0 or less has no step between pairs and would divide by zero.
    if (fatLineSpacing <= 0)
        return;
    int half = line->lineWidth / 2;
    std::int64_t reach = static_cast<std::int64_t>(half) - fatLineInset;
    std::int64_t pairs = reach / fatLineSpacing + (reach % fatLineSpacing != 0 ? 1 : 0);
    if (pairs <= 0)
        return;
    int count = pairs > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                        : static_cast<int>(pairs);

    // Two distinct points at least, or the line has no direction and gets no strokes.
    POSITION position = line->GetHeadPosition();
    if (position == nullptr)
        return;
    CCoord* previous = line->GetNextPoint(position);
    CCoord* current = NextDistinct(*line, position, *previous);
    if (current == nullptr)
        return;

    for (int i = 0; i < 2 * count; ++i)
    {
        auto* stroke = new CLineSeg;
        stroke->penNumber = currentPen;
        try
        {
            strokes.AddTail(stroke);
        }
        catch (...)
        {
            delete stroke;
            throw;
        }
    }

    // One site per end and per mitred vertex, two per bevelled vertex, emitted in batches.
    SiteBatch batch(strokes, half, count, fatLineSpacing, fatLineInset);
    CVector2D d = Direction(*previous, *current);
    CVector2D n = Normal(d);
    batch.Add(*previous, n, n);
    for (CCoord* next = nullptr; (next = NextDistinct(*line, position, *current)) != nullptr;
         current = next)
    {
        CVector2D nextD = Direction(*current, *next);
        CVector2D nextN = Normal(nextD);
        double u = Dot(n, nextN);
        if (u > -miterCosine)
        {
            // Miter: one point per stroke where the offset lines of both segments meet. At a
            // nearly straight vertex rounding can put u just above 1: clamp, or the square
            // root would see a negative number.
            double cosine = u > 1.0 ? 1.0 : u;
            double t = std::sqrt((1.0 - cosine) / (1.0 + cosine));
            // Counter-clockwise turns need the other sign, or the points land on the mirror
            // image of the meeting point, off both offset lines.
            if (d.x * nextD.y - d.y * nextD.x > 0.0)
                t = -t;
            CVector2D m(half * (nextN.x - t * nextD.x), half * (nextN.y - t * nextD.y));
            m.Normalize();
            batch.Add(*current, m, nextN);
        }
        else
        {
            // Bevel: past the threshold the meeting point runs away from the line.
            batch.Add(*current, n, n);
            batch.Add(*current, nextN, nextN);
        }
        d = nextD;
        n = nextN;
    }
    batch.Add(*current, n, n);
    batch.Flush();
}
