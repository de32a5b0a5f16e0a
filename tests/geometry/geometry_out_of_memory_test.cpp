#include "geometry/line_seg.h"
#include "support/allocation_faults.h"

#include <memory>

#include <gtest/gtest.h>

namespace
{

TEST(GeometryOutOfMemoryTest, AddPointLeavesOnlyLivePoints)
{
    int failures = FailEachAllocation(
        [] {
            auto line = std::make_unique<CLineSeg>();
            for (int i = 0; i < 10; ++i) // a full node block: the next point needs a new block
                line->AddPoint(i, 0);
            return line;
        },
        [](CLineSeg& line) { line.AddPoint(100, 0); },
        [](CLineSeg& line, bool failed) {
            EXPECT_EQ(line.GetPointCount(), failed ? 10 : 11);
            EXPECT_EQ(line.GetLastPoint()->x, failed ? 9 : 100);
        });
    EXPECT_EQ(failures, 2); // the point, then the node block
}

TEST(GeometryOutOfMemoryTest, CopyLineSegKeepsThePointsCopiedBeforeTheFailure)
{
    CLineSeg src;
    for (int i = 0; i < 25; ++i)
        src.AddPoint(i, i);
    int failures =
        FailEachAllocation([] { return std::make_unique<CLineSeg>(); },
                           [&src](CLineSeg& copy) { copy.CopyLineSeg(&src, -1, -1); },
                           [](CLineSeg& copy, bool failed) {
                               if (!failed)
                               {
                                   EXPECT_EQ(copy.GetPointCount(), 25);
                               }
                               // Whatever was copied is a prefix of the source, in order.
                               int i = 0;
                               for (POSITION p = copy.GetHeadPosition(); p != nullptr; ++i)
                                   EXPECT_EQ(copy.GetNextPoint(p)->x, i);
                           });
    EXPECT_GT(failures, 25);
}

} // namespace
