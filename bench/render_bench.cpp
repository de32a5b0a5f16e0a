// Drawing a large plot file: the standard plot written by the library and read back, drawn as
// PDF, PNG and SVG and exported as HP-GL/2. Each row gives plot points per second, the peak
// heap the drawing takes beyond the decoded plot per plot point, and the peak heap of the
// whole path from the file on disk to the output (reading and decoding included) per plot
// point and per byte of the plot file: for the pictures the path `genplot render` takes,
// reading the file piece by piece, and for comparison loading the whole file first.

#if defined(GENPLOT_BENCH_HAVE_RENDER)

#include "bench/bench_support.h"

#include "genplot/gen_plot.h"
#include "genplot/plot_file_reader.h"
#include "plotinfo/plot_config.h"
#include "plotinfo/plot_info.h"
#include "render/hpgl_export.h"
#include "render/render.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include <benchmark/benchmark.h>

namespace genplot::bench
{
namespace
{

const std::string& StandardPlotPath()
{
    static const std::string path = ScratchFolder() + "/render-standard.gpf";
    return path;
}

// The standard plot as a decoded file, made once per process.
const PlotFile& StandardPlotFile()
{
    static const PlotFile plot = [] {
        CPlotInfo& info = FinalisedStandardPlot();
        const std::string& path = StandardPlotPath();
        CPlotConfig config;
        CGenPlot writer;
        writer.Initialize("benchmark-plot", &config);
        std::FILE* file = std::fopen(path.c_str(), "w+b");
        if (file == nullptr ||
            writer.write_plot_file(file, &info, &config, nullptr, nullptr, nullptr) != 1)
        {
            std::fprintf(stderr, "render bench: cannot write %s\n", path.c_str());
        }
        if (file != nullptr)
        {
            std::fclose(file);
        }
        return LoadPlotFile(path);
    }();
    return plot;
}

std::uint64_t PlotPoints(const PlotFile& plot)
{
    std::uint64_t points = 0;
    for (const PlotFilePiece& piece : plot.pieces)
    {
        for (const PlotPieceRecord& record : piece.records)
        {
            points += record.points.size();
        }
    }
    return points;
}

// Samples the heap every half millisecond while `work` runs; returns the highest reading less
// the reading before.
template <class Work> std::uint64_t PeakHeapDuring(Work work)
{
    const std::uint64_t before = HeapBytesInUse();
    std::atomic<bool> done{false};
    std::atomic<std::uint64_t> peak{before};
    std::thread sampler([&] {
        while (!done.load())
        {
            const std::uint64_t now = HeapBytesInUse();
            std::uint64_t seen = peak.load();
            while (now > seen && !peak.compare_exchange_weak(seen, now))
            {
            }
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });
    work();
    done.store(true);
    sampler.join();
    const std::uint64_t after = HeapBytesInUse();
    const std::uint64_t highest = std::max(peak.load(), after);
    return highest > before ? highest - before : 0;
}

void SetPathCounters(benchmark::State& state, std::uint64_t peak, double points,
                     const PlotFile& plot)
{
    state.counters["path_heap_bytes_per_point"] = static_cast<double>(peak) / points;
    state.counters["path_heap_bytes_per_file_byte"] =
        static_cast<double>(peak) / static_cast<double>(plot.size);
    state.counters["plot_points"] = points;
    state.counters["plot_file_bytes"] = static_cast<double>(plot.size);
}

void Draw(benchmark::State& state, render::Format format)
{
    const PlotFile& plot = StandardPlotFile();
    const double points = static_cast<double>(PlotPoints(plot));
    const std::string path = ScratchFolder() + "/render-out";
    render::RenderOptions options;
    options.sizePixels = 2000;
    std::string error;
    std::uint64_t peak = 0;
    for (auto _ : state)
    {
        peak = std::max(peak, PeakHeapDuring([&] {
                            if (!render::RenderPlotToPath(plot, options, format, path, &error))
                            {
                                state.SkipWithError(error.c_str());
                            }
                        }));
    }
    SetPointRate(state, points);
    state.counters["heap_bytes_per_point"] = static_cast<double>(peak) / points;
    // Once more from the file on disk, as `genplot render` goes: a survey of the file, then
    // the drawing reading it again piece by piece.
    const std::uint64_t pathPeak = PeakHeapDuring([&] {
        const render::PlotSurvey survey = render::SurveyPlotFile(StandardPlotPath());
        std::FILE* out = std::fopen(path.c_str(), "wb");
        if (out == nullptr || render::RenderPlotFile(survey, StandardPlotPath(), options, format,
                                                     out, &error) != render::RenderOutcome::Drawn)
        {
            state.SkipWithError(error.c_str());
        }
        if (out != nullptr)
        {
            std::fclose(out);
        }
    });
    SetPathCounters(state, pathPeak, points, plot);
    // And with the whole file decoded before drawing.
    const std::uint64_t loadedPeak = PeakHeapDuring([&] {
        const PlotFile loaded = LoadPlotFile(StandardPlotPath());
        render::RenderPlotToPath(loaded, options, format, path, &error);
    });
    state.counters["loaded_path_heap_bytes_per_point"] = static_cast<double>(loadedPeak) / points;
    std::remove(path.c_str());
}

void BM_RenderPdf(benchmark::State& state)
{
    Draw(state, render::Format::Pdf);
}
void BM_RenderPng(benchmark::State& state)
{
    Draw(state, render::Format::Png);
}
void BM_RenderSvg(benchmark::State& state)
{
    Draw(state, render::Format::Svg);
}

void BM_ExportHpgl2(benchmark::State& state)
{
    const PlotFile& plot = StandardPlotFile();
    const double points = static_cast<double>(PlotPoints(plot));
    const std::string path = ScratchFolder() + "/export-out.plt";
    std::uint64_t peak = 0;
    for (auto _ : state)
    {
        peak = std::max(peak, PeakHeapDuring([&] {
                            std::FILE* out = std::fopen(path.c_str(), "wb");
                            if (out == nullptr ||
                                !render::ExportHpgl(plot, out, render::HpglDialect::Hpgl2))
                            {
                                state.SkipWithError("export failed");
                            }
                            if (out != nullptr)
                            {
                                std::fclose(out);
                            }
                        }));
    }
    SetPointRate(state, points);
    state.counters["heap_bytes_per_point"] = static_cast<double>(peak) / points;
    const std::uint64_t pathPeak = PeakHeapDuring([&] {
        const PlotFile loaded = LoadPlotFile(StandardPlotPath());
        std::FILE* out = std::fopen(path.c_str(), "wb");
        if (out != nullptr)
        {
            render::ExportHpgl(loaded, out, render::HpglDialect::Hpgl2);
            std::fclose(out);
        }
    });
    SetPathCounters(state, pathPeak, points, plot);
    std::remove(path.c_str());
}

BENCHMARK(BM_RenderPdf)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderPng)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderSvg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportHpgl2)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace genplot::bench

#endif
