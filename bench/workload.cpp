#include "bench/workload.h"

#include "geometry/label.h"
#include "geometry/perim.h"
#include "plotinfo/plot_config.h"
#include "plotinfo/plot_info.h"

#include <algorithm>
#include <utility>

namespace genplot::bench
{

std::uint64_t Random::Next()
{
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::int32_t Random::Range(std::int32_t low, std::int32_t high)
{
    auto span = static_cast<std::uint64_t>(static_cast<std::int64_t>(high) - low + 1);
    return static_cast<std::int32_t>(low + static_cast<std::int64_t>(Next() % span));
}

bool Random::Chance(int percent)
{
    return Range(0, 99) < percent;
}

namespace
{

constexpr std::int32_t kArea = 4000000; // the plot spans 0 .. kArea on both axes

struct Box
{
    std::int32_t minX, minY, maxX, maxY;
};

// A point on the circle of radius `radius` at parameter m / q of quarter turn `quarter`: the
// rational point r * ((q^2 - m^2), 2mq) / (q^2 + m^2), turned by whole quarters. Integer
// arithmetic only (truncating toward zero), so every compiler computes the same points.
Point OnCircle(std::int64_t radius, int quarter, std::int64_t m, std::int64_t q)
{
    std::int64_t denominator = q * q + m * m;
    auto c = static_cast<std::int32_t>(radius * (q * q - m * m) / denominator);
    auto s = static_cast<std::int32_t>(radius * (2 * m * q) / denominator);
    switch (quarter & 3)
    {
    case 0:
        return {c, s};
    case 1:
        return {-s, c};
    case 2:
        return {-c, -s};
    default:
        return {s, -c};
    }
}

struct OutlineClass
{
    int percent;
    std::int32_t minRadius, maxRadius;
    std::int32_t minPoints, maxPoints;
};

// Small parts in numbers, a few sheets that enclose many of them.
constexpr OutlineClass kOutlineClasses[] = {
    {40, 4000, 8000, 50, 100},
    {30, 15000, 30000, 100, 200},
    {20, 60000, 120000, 200, 300},
    {10, 200000, 400000, 300, 400},
};

const OutlineClass& PickClass(Random& random)
{
    int roll = random.Range(0, 99);
    for (const OutlineClass& c : kOutlineClasses)
    {
        if (roll < c.percent)
            return c;
        roll -= c.percent;
    }
    return kOutlineClasses[0];
}

struct Generator
{
    Random random;
    Workload work;

    explicit Generator(std::uint64_t seed) : random(seed)
    {
    }

    void Add(Point p, Box& box)
    {
        work.points.push_back(p);
        box.minX = std::min(box.minX, p.x);
        box.minY = std::min(box.minY, p.y);
        box.maxX = std::max(box.maxX, p.x);
        box.maxY = std::max(box.maxY, p.y);
    }

    // A closed, star-shaped outline around a random centre; returns its stroke and box.
    std::pair<Stroke, Box> Outline()
    {
        const OutlineClass& c = PickClass(random);
        std::int32_t rx = random.Range(c.minRadius, c.maxRadius);
        std::int32_t ry = random.Range(c.minRadius, c.maxRadius);
        std::int32_t cx = random.Range(rx, kArea - rx);
        std::int32_t cy = random.Range(ry, kArea - ry);
        std::int32_t count = random.Range(c.minPoints, c.maxPoints);

        Stroke stroke{static_cast<std::uint32_t>(work.points.size()),
                      static_cast<std::uint32_t>(count),
                      random.Range(1, 4),
                      0,
                      0,
                      StrokeKind::Outline};
        Box box{cx, cy, cx, cy};
        int distinct = count - 1;
        for (int k = 0; k < distinct; ++k)
        {
            // Parameter 4k / distinct quarter turns; the radius shrinks by up to 15 %.
            int quarter = 4 * k / distinct;
            std::int64_t m = 4 * k % distinct;
            std::int32_t factor = random.Range(850, 1000);
            Point ox = OnCircle(static_cast<std::int64_t>(rx) * factor, quarter, m, distinct);
            Point oy = OnCircle(static_cast<std::int64_t>(ry) * factor, quarter, m, distinct);
            Add({cx + ox.x / 1000, cy + oy.y / 1000}, box);
        }
        Add(work.points[stroke.first], box); // closes exactly
        work.outlineCount += 1;
        work.outlinePoints += static_cast<std::uint64_t>(count);
        return {stroke, box};
    }

    // An open random walk that never leaves `box` and never repeats its previous point.
    Stroke Interior(const Box& box, int count)
    {
        Stroke stroke{static_cast<std::uint32_t>(work.points.size()),
                      static_cast<std::uint32_t>(count),
                      random.Range(1, 8),
                      random.Chance(70) ? 0 : random.Range(1, 2),
                      20 * random.Range(0, 4),
                      StrokeKind::Interior};
        std::int32_t step = std::max<std::int32_t>(2, (box.maxX - box.minX) / 25);
        Point p{random.Range(box.minX, box.maxX), random.Range(box.minY, box.maxY)};
        Box ignored{p.x, p.y, p.x, p.y};
        Add(p, ignored);
        for (int k = 1; k < count; ++k)
        {
            Point next{p.x + random.Range(-step, step), p.y + random.Range(-step, step)};
            next.x = std::clamp(next.x, box.minX, box.maxX);
            next.y = std::clamp(next.y, box.minY, box.maxY);
            if (next.x == p.x && next.y == p.y)
                next.x = p.x < box.maxX ? p.x + 1 : p.x - 1;
            Add(next, ignored);
            p = next;
        }
        work.interiorCount += 1;
        work.interiorPoints += static_cast<std::uint64_t>(count);
        return stroke;
    }

    // A wide line starting inside `box`: gentle lines turn by up to about 14 degrees at each
    // vertex (mitred), sharp ones by 63 to 140 degrees (bevelled).
    Stroke Wide(const Box& box, int count, bool sharp)
    {
        Stroke stroke{static_cast<std::uint32_t>(work.points.size()),
                      static_cast<std::uint32_t>(count),
                      random.Range(1, 8),
                      0,
                      random.Range(150, 800),
                      StrokeKind::Wide};
        Point p{random.Range(box.minX, box.maxX), random.Range(box.minY, box.maxY)};
        Box ignored{p.x, p.y, p.x, p.y};
        Add(p, ignored);
        int heading = random.Range(0, 255);
        for (int k = 1; k < count; ++k)
        {
            if (k > 1)
            {
                if (sharp)
                    heading += (random.Chance(50) ? 1 : -1) * random.Range(45, 100);
                else
                    heading += random.Range(-10, 10);
                heading &= 255;
            }
            // 256 headings per turn, 64 per quarter.
            Point step = OnCircle(random.Range(800, 3000), (heading >> 6) & 3, heading & 63, 64);
            p = {p.x + step.x, p.y + step.y};
            Add(p, ignored);
        }
        work.wideCount += 1;
        work.widePoints += static_cast<std::uint64_t>(count);
        return stroke;
    }

    std::string Text()
    {
        static constexpr char kAlphabet[] = "ABCDEFGHJKLMNPRSTUVWXYZ0123456789 -./";
        std::string text;
        int lines = random.Range(1, 3);
        for (int line = 0; line < lines; ++line)
        {
            if (line > 0)
                text += "\r\n";
            int length = random.Range(3, 24);
            for (int i = 0; i < length; ++i)
                text += kAlphabet[random.Range(0, static_cast<int>(sizeof kAlphabet) - 2)];
        }
        return text;
    }

    Label MakeLabel(const std::vector<Box>& boxes)
    {
        static constexpr std::int32_t kDirections[][2] = {
            {10000, 0},  {10000, 0},   {10000, 0},    {10000, 0},  {0, 10000},
            {-10000, 0}, {7071, 7071}, {8660, -5000}, {0, -10000},
        };
        static constexpr std::int32_t kJustifications[] = {1, 2, 5};
        Label label;
        label.justification = kJustifications[random.Range(0, 2)];
        label.textHeight = random.Chance(50) ? work.defaultTextHeight : random.Range(100, 1200);
        const auto& direction = kDirections[random.Range(0, 8)];
        label.directionX = direction[0];
        label.directionY = direction[1];
        if (random.Chance(90))
        {
            const Box& box = boxes[static_cast<std::size_t>(
                random.Range(0, static_cast<std::int32_t>(boxes.size()) - 1))];
            label.position = {random.Range(box.minX, box.maxX), random.Range(box.minY, box.maxY)};
        }
        else
        {
            label.position = {random.Range(0, kArea), random.Range(0, kArea)};
        }
        label.text = Text();
        return label;
    }
};

} // namespace

Workload MakeWorkload(const WorkloadShape& shape, std::uint64_t seed)
{
    Generator g(seed);
    g.work.defaultTextHeight = 250;
    g.work.points.reserve(static_cast<std::size_t>(shape.outlines) * 400 +
                          static_cast<std::size_t>(shape.interiorStrokes) *
                              static_cast<std::size_t>(shape.interiorPoints) +
                          static_cast<std::size_t>(shape.wideLines) *
                              static_cast<std::size_t>(shape.widePoints));

    // Every interior stroke and wide line belongs to one outline; the host sends an outline's
    // contents around it, about one stroke in seven before the outline closes.
    std::vector<int> interiorOwner(static_cast<std::size_t>(shape.interiorStrokes));
    for (int& owner : interiorOwner)
        owner = g.random.Range(0, shape.outlines - 1);
    std::vector<int> wideOwner(static_cast<std::size_t>(shape.wideLines));
    for (int& owner : wideOwner)
        owner = g.random.Range(0, shape.outlines - 1);

    std::vector<int> order(static_cast<std::size_t>(shape.outlines));
    for (int i = 0; i < shape.outlines; ++i)
        order[static_cast<std::size_t>(i)] = i;
    for (std::size_t i = order.size(); i > 1; --i)
        std::swap(
            order[i - 1],
            order[static_cast<std::size_t>(g.random.Range(0, static_cast<std::int32_t>(i) - 1))]);

    std::vector<std::vector<int>> interiorOf(static_cast<std::size_t>(shape.outlines));
    for (std::size_t i = 0; i < interiorOwner.size(); ++i)
        interiorOf[static_cast<std::size_t>(interiorOwner[i])].push_back(static_cast<int>(i));
    std::vector<std::vector<int>> wideOf(static_cast<std::size_t>(shape.outlines));
    for (std::size_t i = 0; i < wideOwner.size(); ++i)
        wideOf[static_cast<std::size_t>(wideOwner[i])].push_back(static_cast<int>(i));

    std::vector<Box> boxes;
    for (int outline : order)
    {
        auto [stroke, box] = g.Outline();
        boxes.push_back(box);
        std::vector<Stroke> after;
        for (int i : interiorOf[static_cast<std::size_t>(outline)])
        {
            (void)i;
            Stroke s = g.Interior(box, shape.interiorPoints);
            if (g.random.Chance(15))
                g.work.strokes.push_back(s);
            else
                after.push_back(s);
        }
        for (int i : wideOf[static_cast<std::size_t>(outline)])
            after.push_back(g.Wide(box, shape.widePoints, i % 2 == 1));
        g.work.strokes.push_back(stroke);
        g.work.strokes.insert(g.work.strokes.end(), after.begin(), after.end());
    }

    g.work.labels.reserve(static_cast<std::size_t>(shape.labels));
    for (int i = 0; i < shape.labels; ++i)
        g.work.labels.push_back(g.MakeLabel(boxes));
    return std::move(g.work);
}

const Workload& StandardWorkload()
{
    static const Workload workload = MakeWorkload();
    return workload;
}

void InitializePlot(const Workload& workload, CPlotInfo& plot)
{
    CPlotConfig config;
    config.scaleDivisor = 2.0;
    config.scaleMultiplier = 1000.0;
    plot.Initialize(config, 50.0, 100.0, 0.0, workload.defaultTextHeight);
    plot.closeTolerance = 0;
}

void FeedStroke(const Workload& workload, const Stroke& stroke, CPlotInfo& plot)
{
    plot.currentPen = stroke.pen;
    plot.currentLine.SetLineType(stroke.lineType);
    plot.SetLineWidth(stroke.width);
    const Point* end = workload.points.data() + stroke.first + stroke.count;
    for (const Point* p = workload.points.data() + stroke.first; p != end; ++p)
        plot.currentLine.AddPoint(p->x, p->y);
    plot.CheckForClosure();
}

std::uint64_t FeedStrokes(const Workload& workload, CPlotInfo& plot)
{
    for (const Stroke& stroke : workload.strokes)
        FeedStroke(workload, stroke, plot);
    return workload.points.size();
}

void AppendLabels(const Workload& workload, CPlotInfo& plot)
{
    for (const Label& source : workload.labels)
    {
        auto* label = new CLabel();
        try
        {
            label->justification = source.justification;
            label->textHeight = source.textHeight;
            label->directionX = source.directionX;
            label->directionY = source.directionY;
            label->position = CCoord(source.position.x, source.position.y);
            label->text = source.text.c_str();
            plot.looseLabels.AddTail(label);
        }
        catch (...)
        {
            delete label;
            throw;
        }
    }
}

void BuildPlot(const Workload& workload, CPlotInfo& plot)
{
    InitializePlot(workload, plot);
    FeedStrokes(workload, plot);
    AppendLabels(workload, plot);
}

namespace
{

std::uint64_t PointsIn(const CObList& lines)
{
    std::uint64_t total = 0;
    for (POSITION position = lines.GetHeadPosition(); position != nullptr;)
        total += static_cast<std::uint64_t>(
            static_cast<const CLineSeg*>(lines.GetNext(position))->GetPointCount());
    return total;
}

} // namespace

std::uint64_t CountStoredPoints(const CPlotInfo& plot)
{
    std::uint64_t total =
        PointsIn(plot.looseLines) + static_cast<std::uint64_t>(plot.currentLine.GetPointCount());
    for (POSITION position = plot.pieces.GetHeadPosition(); position != nullptr;)
    {
        const auto* piece = static_cast<const CPerim*>(plot.pieces.GetNext(position));
        total +=
            static_cast<std::uint64_t>(piece->GetPointCount()) + PointsIn(piece->nonPerimeterLines);
    }
    return total;
}

} // namespace genplot::bench
