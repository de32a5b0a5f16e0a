// The bulk append the fat-line pass gives its strokes points with: the same points as
// AddPoint one at a time, made in runs that lie in order in memory, and the same guarantees
// when memory runs out.

#include "geometry/line_seg.h"
#include "geometry/line_seg_internal.h"
#include "platform/allocation_internal.h"
#include "support/allocation_faults.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace
{

using genplot::detail::AppendPoints;
using genplot::detail::PlotPoint;

using Coords = std::vector<std::pair<long, long>>;

Coords Forward(const CLineSeg& line)
{
    Coords coords;
    for (POSITION position = line.GetHeadPosition(); position != nullptr;)
    {
        const CCoord* point = line.GetNextPoint(position);
        coords.emplace_back(point->x, point->y);
    }
    return coords;
}

Coords Backward(const CLineSeg& line)
{
    Coords coords;
    for (POSITION position = line.points.GetTailPosition(); position != nullptr;)
    {
        const CCoord* point = line.GetPrevPoint(position);
        coords.emplace_back(point->x, point->y);
    }
    return Coords(coords.rbegin(), coords.rend());
}

// Points from a small range, so repeats in a row are common.
std::vector<PlotPoint> RandomPoints(std::mt19937& random, int count)
{
    std::uniform_int_distribution<int> coordinate(0, 2);
    std::vector<PlotPoint> points;
    for (int i = 0; i < count; ++i)
        points.push_back({coordinate(random), coordinate(random)});
    return points;
}

TEST(LineSegAppendTest, AppendsWhatAddPointWouldOneAtATime)
{
    std::mt19937 random(7);
    for (int round = 0; round < 300; ++round)
    {
        CLineSeg bulk;
        CLineSeg single;
        // Lines that start empty or with a point the first appended one may repeat.
        for (int i = 0; i < round % 3; ++i)
        {
            bulk.AddPoint(1, 1);
            single.AddPoint(1, 1);
        }
        for (int batch = 0; batch < 1 + round % 4; ++batch)
        {
            std::vector<PlotPoint> points =
                RandomPoints(random, 1 + static_cast<int>(random() % genplot::detail::kMaxAppend));
            AppendPoints(bulk, points.data(), static_cast<int>(points.size()));
            for (const PlotPoint& point : points)
                single.AddPoint(point.x, point.y);
        }
        ASSERT_EQ(Forward(bulk), Forward(single)) << "round " << round;
        ASSERT_EQ(Backward(bulk), Forward(single)) << "round " << round;
        ASSERT_EQ(bulk.GetPointCount(), single.GetPointCount());
    }
}

TEST(LineSegAppendTest, AnAppendOfNothingOrOfRepeatsAddsNothing)
{
    CLineSeg line;
    AppendPoints(line, nullptr, 0);
    EXPECT_EQ(line.GetPointCount(), 0);
    line.AddPoint(5, 6);
    PlotPoint repeats[3] = {{5, 6}, {5, 6}, {5, 6}};
    AppendPoints(line, repeats, 3);
    EXPECT_EQ(Forward(line), (Coords{{5, 6}}));
}

TEST(LineSegAppendTest, PointsOfOneAppendLieInOrderInMemory)
{
    if (genplot::detail::PoolPageCount() == 0)
    {
        CLineSeg probe;
        probe.AddPoint(0, 0);
        if (genplot::detail::PoolPageCount() == 0)
            GTEST_SKIP() << "the pools are off in this build";
    }
    // Many appends, so some runs meet the end of a page: a run may break there, nowhere else.
    int breaks = 0;
    int steps = 0;
    for (int line = 0; line < 200; ++line)
    {
        CLineSeg stroke;
        std::vector<PlotPoint> points;
        for (int i = 0; i < genplot::detail::kMaxAppend; ++i)
            points.push_back({i, line});
        AppendPoints(stroke, points.data(), static_cast<int>(points.size()));
        const CCoord* previous = nullptr;
        for (POSITION position = stroke.GetHeadPosition(); position != nullptr;)
        {
            const CCoord* point = stroke.GetNextPoint(position);
            if (previous != nullptr)
            {
                ++steps;
                if (point != previous + 1)
                    ++breaks;
            }
            previous = point;
        }
    }
    // 200 runs of 64 points take about 13,000 blocks of 16 bytes: a few pages.
    EXPECT_LE(breaks, 8) << "of " << steps;
}

TEST(LineSegAppendTest, AFailedAllocationKeepsTheLeadingPointsAndLosesNothing)
{
    std::vector<PlotPoint> points;
    for (int i = 0; i < genplot::detail::kMaxAppend; ++i)
        points.push_back({i, i % 2 == 0 ? i : i - 1}); // some in a row repeat their x only
    CLineSeg expected;
    expected.AddPoint(-1, -1);
    for (const PlotPoint& point : points)
        expected.AddPoint(point.x, point.y);
    Coords all = Forward(expected);
    auto lineWithOnePoint = [] {
        auto line = std::make_unique<CLineSeg>();
        line->AddPoint(-1, -1);
        return line;
    };
    auto append = [&points](CLineSeg& line) {
        AppendPoints(line, points.data(), static_cast<int>(points.size()));
    };
    // Every allocation a complete append makes (points and node blocks) is a place to fail.
    unsigned long allocations = 0;
    {
        auto line = lineWithOnePoint();
        allocations = AllocationsMadeBy([&] { append(*line); });
    }
    ASSERT_GT(allocations, points.size());

    const long failures = FailEachAllocation(
        lineWithOnePoint, append,
        [&all](CLineSeg& line, bool failed) {
            Coords kept = Forward(line);
            ASSERT_EQ(Backward(line), kept);
            ASSERT_LE(kept.size(), all.size());
            ASSERT_TRUE(std::equal(kept.begin(), kept.end(), all.begin()));
            if (!failed)
            {
                EXPECT_EQ(kept, all);
                return;
            }
            // The line goes on taking points after the failure.
            line.AddPoint(1000, 1000);
            ASSERT_EQ(Forward(line).back(), (std::pair<long, long>(1000, 1000)));
        },
        1000);
    EXPECT_EQ(static_cast<unsigned long>(failures), allocations);
}

// A point type of the host's own, put into a line's list directly.
struct CountedPoint : CCoord
{
    explicit CountedPoint(int* counter) : CCoord(9, 9), destroyed(counter)
    {
    }
    ~CountedPoint() override
    {
        ++*destroyed;
    }
    int* destroyed;
};

TEST(LineSegAppendTest, RemovingPointsDeletesEachAsWhatItIs)
{
    int destroyed = 0;
    {
        CLineSeg line;
        PlotPoint run[3] = {{1, 1}, {2, 2}, {3, 3}};
        AppendPoints(line, run, 3);
        line.points.AddTail(new CountedPoint(&destroyed));
        line.AddPoint(4, 4);
        line.points.AddTail(new CountedPoint(&destroyed));
        line.points.AddTail(nullptr); // a host may append one: there is nothing to delete
        EXPECT_EQ(line.RemovePointsInLineSeg(), 1);
        EXPECT_EQ(destroyed, 2);
        EXPECT_EQ(line.GetPointCount(), 0);
        EXPECT_EQ(line.GetHeadPosition(), nullptr);
        line.AddPoint(5, 5); // the line is usable again
        line.points.AddTail(new CountedPoint(&destroyed));
    }
    EXPECT_EQ(destroyed, 3);
}

} // namespace
