// How the cost per point grows with the plot: ingest, finalisation and writing at 10 to 2,991
// pieces and 10 k to 10 M stroke points, and the routing goal (the same kind of strokes cost
// about the same per point whether they land among 10 pieces or among 2,991).

#include "bench/bench_support.h"
#include "bench/workload.h"

#include "genplot/gen_plot.h"
#include "platform/progress_ctrl.h"
#include "platform/window.h"
#include "plotinfo/piece_index_internal.h"
#include "plotinfo/plot_config.h"
#include "plotinfo/plot_info.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <utility>

#include <benchmark/benchmark.h>

namespace genplot::bench
{
namespace
{

// Times a stage by the CPU time of the calling thread: the rows compare stages across a wide
// range of sizes, and on a machine shared with other work a wall clock counts the waits for a
// core as well. Everything timed here runs on one thread and waits for nothing else.
class CpuClock
{
  public:
    void Start()
    {
        start_ = Now();
    }
    /// Seconds of this thread's CPU time since Start.
    double Stop() const
    {
        return Now() - start_;
    }

  private:
    static double Now()
    {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
    }
    double start_ = 0;
};

// The most pieces closure makes.
constexpr std::int64_t kMostPieces = 2991;
// Beyond the smoke run: a 10 M point plot takes seconds to build for every iteration.
constexpr std::int64_t kLargestPlot = 10000000;

// A plot of `pieces` outlines and about `points` stroke points: strokes of 10 points inside a
// randomly chosen outline, one wide line of 25 points per 1,000 points and one label per 200.
// With `plain`, the strokes alone: no wide lines and no labels.
WorkloadShape Shape(std::int64_t pieces, std::int64_t points, bool plain)
{
    WorkloadShape shape;
    shape.outlines = static_cast<int>(pieces);
    shape.wideLines = plain ? 0 : static_cast<int>(points / 1000);
    shape.widePoints = 25;
    shape.interiorPoints = 10;
    shape.interiorStrokes =
        static_cast<int>((points - std::int64_t{shape.wideLines} * shape.widePoints) / 10);
    shape.labels = plain ? 0 : static_cast<int>(points / 200);
    return shape;
}

// Generated once per process and shape: a 10 M point plot takes a while to generate.
const Workload& ScaledWorkload(std::int64_t pieces, std::int64_t points, bool plain = false)
{
    static std::map<std::pair<std::int64_t, std::int64_t>, std::unique_ptr<Workload>> made[2];
    auto& slot = made[plain ? 1 : 0][{pieces, points}];
    if (!slot)
        slot = std::make_unique<Workload>(MakeWorkload(Shape(pieces, points, plain)));
    return *slot;
}

// Feeds the workload's strokes of one side: the outlines (`outlines` true) or all the others,
// each in workload order. Returns the points sent.
std::uint64_t Feed(const Workload& work, CPlotInfo& plot, bool outlines)
{
    std::uint64_t sent = 0;
    for (const Stroke& stroke : work.strokes)
    {
        if ((stroke.kind == StrokeKind::Outline) != outlines)
            continue;
        FeedStroke(work, stroke, plot);
        sent += stroke.count;
    }
    return sent;
}

// Ingest of the strokes into a plot whose pieces are all made: each stroke is routed among
// every piece of the plot. The outlines are fed untimed first.
void IngestAmongPieces(benchmark::State& state, const Workload& work)
{
    PinLibrarySettings();
    CpuClock clock;
    std::uint64_t sent = 0;
    for (auto _ : state)
    {
        auto plot = std::make_unique<CPlotInfo>();
        InitializePlot(work, *plot);
        Feed(work, *plot, true);
        clock.Start();
        sent = Feed(work, *plot, false);
        state.SetIterationTime(clock.Stop());
        benchmark::DoNotOptimize(plot->looseLines.GetCount());
    }
    SetPointRate(state, static_cast<double>(sent));
}

void BM_ScaleIngest(benchmark::State& state)
{
    IngestAmongPieces(state, ScaledWorkload(state.range(0), state.range(1)));
}

// The routing goal's measure: 20,000 strokes of 10 points, nothing else.
void BM_RoutingGoal(benchmark::State& state)
{
    IngestAmongPieces(state, ScaledWorkload(state.range(0), 200000, true));
}

// The same with routing scanning the list of pieces, as it does for short lists: the
// reference the index is measured against.
void BM_RoutingGoalScan(benchmark::State& state)
{
    long saved = genplot::detail::PieceIndexThreshold();
    genplot::detail::SetPieceIndexThreshold(LONG_MAX);
    IngestAmongPieces(state, ScaledWorkload(state.range(0), 200000, true));
    genplot::detail::SetPieceIndexThreshold(saved);
}

// Finalisation of the whole plot, sent as a host sends it (outlines and strokes interleaved),
// per point it holds afterwards.
void BM_ScaleFinalize(benchmark::State& state)
{
    PinLibrarySettings();
    const Workload& work = ScaledWorkload(state.range(0), state.range(1));
    CpuClock clock;
    std::uint64_t stored = 0;
    for (auto _ : state)
    {
        auto plot = std::make_unique<CPlotInfo>();
        BuildPlot(work, *plot);
        clock.Start();
        plot->FinalizePlotInfo();
        state.SetIterationTime(clock.Stop());
        stored = CountStoredPoints(*plot);
    }
    SetPointRate(state, static_cast<double>(stored));
}

LRESULT ProgressProcedure(HWND, UINT, WPARAM, LPARAM)
{
    return 0;
}

// Writing the finalised plot to /dev/null, so the table shows the writer's own growth rather
// than the disk's; per point written.
void BM_ScaleWrite(benchmark::State& state)
{
    PinLibrarySettings();
    const Workload& work = ScaledWorkload(state.range(0), state.range(1));
    auto plot = std::make_unique<CPlotInfo>();
    BuildPlot(work, *plot);
    plot->FinalizePlotInfo();

    HWND window = CreateProcedureWindow(&ProgressProcedure, nullptr);
    CProgressCtrl progress(window);
    int cancel = 0;
    CPlotConfig config;
    CpuClock clock;
    for (auto _ : state)
    {
        clock.Start();
        std::FILE* file = std::fopen("/dev/null", "wb");
        if (file == nullptr)
        {
            state.SkipWithError("cannot open /dev/null");
            break;
        }
        CGenPlot writer;
        writer.Initialize("scaling-plot", &config);
        int result = writer.write_plot_file(file, plot.get(), &config, &progress, &cancel, nullptr);
        std::fclose(file);
        state.SetIterationTime(clock.Stop());
        if (result != 1)
        {
            state.SkipWithError("the writer did not finish");
            break;
        }
    }
    DestroyWindow(window);
    SetPointRate(state, static_cast<double>(WrittenPoints(*plot)));
}

bool SmokeRun()
{
    const char* smoke = std::getenv("GENPLOT_BENCH_SMOKE");
    return smoke != nullptr && std::strcmp(smoke, "1") == 0;
}

// The table's grid; the 10 M point column only outside the smoke run.
void Grid(benchmark::internal::Benchmark* benchmark)
{
    benchmark->ArgNames({"pieces", "points"});
    for (std::int64_t pieces :
         {std::int64_t{10}, std::int64_t{100}, std::int64_t{1000}, kMostPieces})
    {
        for (std::int64_t points :
             {std::int64_t{10000}, std::int64_t{100000}, std::int64_t{1000000}, kLargestPlot})
        {
            if (points == kLargestPlot && SmokeRun())
                continue;
            benchmark->Args({pieces, points});
        }
    }
}

BENCHMARK(BM_ScaleIngest)->Apply(Grid)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScaleFinalize)->Apply(Grid)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScaleWrite)->Apply(Grid)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoutingGoal)
    ->ArgName("pieces")
    ->Arg(10)
    ->Arg(kMostPieces)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoutingGoalScan)
    ->ArgName("pieces")
    ->Arg(kMostPieces)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace genplot::bench
