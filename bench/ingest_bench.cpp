// Ingest and routing, teardown and memory, against a framework-style list of heap points
// built and torn down with nothing else going on.

#include "bench/bench_support.h"
#include "bench/workload.h"

#include "geometry/coord.h"
#include "platform/ob_list.h"
#include "platform/ob_list_delete_internal.h"
#include "plotinfo/plot_info.h"

#include <algorithm>
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>

namespace genplot::bench
{
namespace
{

// Every stroke of the workload through AddPoint and CheckForClosure.
void BM_Ingest(benchmark::State& state)
{
    const Workload& work = StandardWorkload();
    StageClock clock;
    for (auto _ : state)
    {
        auto plot = std::make_unique<CPlotInfo>();
        InitializePlot(work, *plot);
        clock.Start();
        FeedStrokes(work, *plot);
        state.SetIterationTime(clock.Stop());
        benchmark::DoNotOptimize(plot->pieces.GetCount());
    }
    SetPointRate(state, static_cast<double>(work.points.size()));
}

// The floor: a framework application's list of heap points, built with nothing else going on.
// One list per stroke; its nodes come in blocks of 10 as always, and every point is a
// framework object of its own from the system heap (`HeapPoint`, the size of a CCoord).
// The same lists with the library's own CCoord, whose points come from its pool, are measured
// beside it for reference.
class HeapPoint : public CObject
{
  public:
    HeapPoint(std::int32_t xValue, std::int32_t yValue) : x(xValue), y(yValue)
    {
    }
    static void* operator new(std::size_t size)
    {
        return ::operator new(size);
    }
    static void operator delete(void* block, std::size_t size) noexcept
    {
        ::operator delete(block, size);
    }
    std::int32_t x;
    std::int32_t y;
};
static_assert(sizeof(HeapPoint) == sizeof(CCoord));

struct FrameworkLists
{
    std::vector<CObList*> lists;
    ~FrameworkLists()
    {
        for (CObList* list : lists)
        {
            genplot::detail::DeleteAllAndRemove(*list);
            delete list;
        }
    }
};

template <class PointType> void BuildFrameworkLists(const Workload& work, FrameworkLists& out)
{
    const Point* points = work.points.data();
    for (const Stroke& stroke : work.strokes)
    {
        auto* list = new CObList(10);
        out.lists.push_back(list);
        const Point* end = points + stroke.first + stroke.count;
        for (const Point* p = points + stroke.first; p != end; ++p)
            list->AddTail(new PointType(p->x, p->y));
    }
}

template <class PointType> void BM_FrameworkList(benchmark::State& state)
{
    const Workload& work = StandardWorkload();
    StageClock clock;
    for (auto _ : state)
    {
        FrameworkLists built;
        built.lists.reserve(work.strokes.size());
        clock.Start();
        BuildFrameworkLists<PointType>(work, built);
        state.SetIterationTime(clock.Stop());
    }
    SetPointRate(state, static_cast<double>(work.points.size()));
}

void BM_FloorFrameworkList(benchmark::State& state)
{
    BM_FrameworkList<HeapPoint>(state);
}

void BM_PooledFrameworkList(benchmark::State& state)
{
    BM_FrameworkList<CCoord>(state);
}

// Destroying a finalised plot: every piece, line, label and point.
void BM_Teardown(benchmark::State& state)
{
    const Workload& work = StandardWorkload();
    StageClock clock;
    std::uint64_t stored = 0;
    for (auto _ : state)
    {
        auto plot = std::make_unique<CPlotInfo>();
        BuildPlot(work, *plot);
        plot->FinalizePlotInfo();
        stored = CountStoredPoints(*plot);
        clock.Start();
        plot.reset();
        state.SetIterationTime(clock.Stop());
    }
    SetPointRate(state, static_cast<double>(stored));
}

void BM_FloorListTeardown(benchmark::State& state)
{
    const Workload& work = StandardWorkload();
    StageClock clock;
    for (auto _ : state)
    {
        auto built = std::make_unique<FrameworkLists>();
        built->lists.reserve(work.strokes.size());
        BuildFrameworkLists<HeapPoint>(work, *built);
        clock.Start();
        built.reset();
        state.SetIterationTime(clock.Stop());
    }
    SetPointRate(state, static_cast<double>(work.points.size()));
}

// Heap growth from an empty plot to the finalised one, sampled after each stage, per point
// the plot holds at the end. Labels and pieces are included: they are part of what a point
// costs in a real plot.
void BM_MemoryPerPoint(benchmark::State& state)
{
    const Workload& work = StandardWorkload();
    StageClock clock;
    double perPoint = 0;
    double perPointFloor = 0;
    for (auto _ : state)
    {
        clock.Start();
        std::uint64_t before = HeapBytesInUse();
        auto plot = std::make_unique<CPlotInfo>();
        InitializePlot(work, *plot);
        FeedStrokes(work, *plot);
        std::uint64_t peak = HeapBytesInUse();
        AppendLabels(work, *plot);
        peak = std::max(peak, HeapBytesInUse());
        plot->FinalizePlotInfo();
        peak = std::max(peak, HeapBytesInUse());
        std::uint64_t stored = CountStoredPoints(*plot);
        plot.reset();
        perPoint = static_cast<double>(peak - before) / static_cast<double>(stored);

        std::uint64_t floorBefore = HeapBytesInUse();
        {
            FrameworkLists built;
            built.lists.reserve(work.strokes.size());
            std::uint64_t vectorBytes = HeapBytesInUse() - floorBefore;
            BuildFrameworkLists<HeapPoint>(work, built);
            perPointFloor = static_cast<double>(HeapBytesInUse() - floorBefore - vectorBytes) /
                            static_cast<double>(work.points.size());
        }
        state.SetIterationTime(clock.Stop());
    }
    if (HeapBytesInUse() == 0)
        state.SkipWithError("this C library cannot report heap use");
    state.counters["bytes_per_point"] = perPoint;
    state.counters["floor_bytes_per_point"] = perPointFloor;
}

BENCHMARK(BM_Ingest)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorFrameworkList)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PooledFrameworkList)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Teardown)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorListTeardown)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemoryPerPoint)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
} // namespace genplot::bench
