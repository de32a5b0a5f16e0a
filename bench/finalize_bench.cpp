// Finalisation, whole and in its stages: placement of loose lines and labels, the fat-line
// pass alone (against Clipper offsetting the same wide lines), and the box update. The stages
// are the library's own, reached through the tests' access class and its internal header.

#include "bench/bench_support.h"
#include "bench/workload.h"
#include "tests/support/plot_info_test_access.h"

#include "geometry/perim.h"
#include "plotinfo/plot_info.h"
#include "plotinfo/routing_internal.h"

#include <memory>
#include <vector>

#include <benchmark/benchmark.h>

#if defined(GENPLOT_BENCH_HAVE_CLIPPER)
#include <polyclipping/clipper.hpp>
#endif

namespace genplot::bench
{
namespace
{

// A built plot with its last stroke ended, lines and labels still loose where routing left
// them: what FinalizePlotInfo receives.
std::unique_ptr<CPlotInfo> BuiltPlot(const Workload& work)
{
    auto plot = std::make_unique<CPlotInfo>();
    BuildPlot(work, *plot);
    plot->CheckForClosure();
    return plot;
}

std::uint64_t WideInputPoints(const CPlotInfo& plot)
{
    std::uint64_t total = 0;
    auto count = [&](const CLineSeg* line) {
        if (line->geometryType == 0 && line->lineWidth > plot.fatLineSpacing)
            total += static_cast<std::uint64_t>(line->GetPointCount());
    };
    for (POSITION position = plot.pieces.GetHeadPosition(); position != nullptr;)
    {
        const auto* piece = static_cast<const CPerim*>(plot.pieces.GetNext(position));
        count(&piece->outline);
        for (POSITION at = piece->nonPerimeterLines.GetHeadPosition(); at != nullptr;)
            count(static_cast<const CLineSeg*>(piece->nonPerimeterLines.GetNext(at)));
    }
    return total;
}

void BM_Finalize(benchmark::State& state)
{
    const Workload& work = StandardWorkload();
    StageClock clock;
    for (auto _ : state)
    {
        auto plot = BuiltPlot(work);
        clock.Start();
        plot->FinalizePlotInfo();
        state.SetIterationTime(clock.Stop());
    }
    SetPointRate(state, static_cast<double>(work.points.size()));
}

void BM_Placement(benchmark::State& state)
{
    const Workload& work = StandardWorkload();
    StageClock clock;
    for (auto _ : state)
    {
        auto plot = BuiltPlot(work);
        clock.Start();
        plot->AssignLooseLinesToPieces();
        plot->AssignLooseLabelsToPieces();
        state.SetIterationTime(clock.Stop());
    }
    SetPointRate(state, static_cast<double>(work.points.size()));
}

// Per input point of the lines it thickens, the figure Clipper is held to.
void BM_FatLinePass(benchmark::State& state)
{
    const Workload& work = StandardWorkload();
    StageClock clock;
    std::uint64_t widePoints = 0;
    for (auto _ : state)
    {
        auto plot = BuiltPlot(work);
        plot->AssignLooseLinesToPieces();
        widePoints = WideInputPoints(*plot);
        clock.Start();
        PlotInfoTestAccess::MakeFatLines(*plot);
        state.SetIterationTime(clock.Stop());
    }
    SetPointRate(state, static_cast<double>(widePoints));
}

void BM_Boxes(benchmark::State& state)
{
    const Workload& work = StandardWorkload();
    StageClock clock;
    std::uint64_t stored = 0;
    for (auto _ : state)
    {
        auto plot = BuiltPlot(work);
        plot->AssignLooseLinesToPieces();
        PlotInfoTestAccess::MakeFatLines(*plot);
        plot->AssignLooseLabelsToPieces();
        stored = CountStoredPoints(*plot);
        clock.Start();
        genplot::detail::GrowPieceBoxes(plot->pieces, plot->extents);
        state.SetIterationTime(clock.Stop());
    }
    SetPointRate(state, static_cast<double>(stored));
}

#if defined(GENPLOT_BENCH_HAVE_CLIPPER)
// Clipper offsetting every wide line of the workload on its own, miter joins, open ends cut
// square, by half the line's width.
void BM_ClipperOffset(benchmark::State& state)
{
    const Workload& work = StandardWorkload();
    std::vector<ClipperLib::Path> paths;
    std::vector<double> deltas;
    std::uint64_t inputPoints = 0;
    for (const Stroke& stroke : work.strokes)
    {
        if (stroke.kind != StrokeKind::Wide)
            continue;
        ClipperLib::Path path;
        for (std::uint32_t i = 0; i < stroke.count; ++i)
        {
            const Point& p = work.points[stroke.first + i];
            path.emplace_back(p.x, p.y);
        }
        paths.push_back(std::move(path));
        deltas.push_back(static_cast<double>(stroke.width / 2));
        inputPoints += stroke.count;
    }
    StageClock clock;
    std::uint64_t outputPoints = 0;
    for (auto _ : state)
    {
        outputPoints = 0;
        clock.Start();
        ClipperLib::ClipperOffset offset;
        ClipperLib::Paths solution;
        for (std::size_t i = 0; i < paths.size(); ++i)
        {
            offset.Clear();
            offset.AddPath(paths[i], ClipperLib::jtMiter, ClipperLib::etOpenButt);
            offset.Execute(solution, deltas[i]);
            for (const ClipperLib::Path& path : solution)
                outputPoints += path.size();
        }
        state.SetIterationTime(clock.Stop());
    }
    SetPointRate(state, static_cast<double>(inputPoints));
    state.counters["output_points"] = static_cast<double>(outputPoints);
}
BENCHMARK(BM_ClipperOffset)->UseManualTime()->Unit(benchmark::kMillisecond);
#endif

BENCHMARK(BM_Finalize)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Placement)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FatLinePass)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Boxes)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
} // namespace genplot::bench
