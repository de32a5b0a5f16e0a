// The writer against its floors (the same bytes, one fwrite per record, offsets known in
// advance; the points walked from the plot's lists, or taken from one flat array) and against
// GNU libplot writing the same polylines.

#include "bench/bench_support.h"
#include "bench/packed_floor.h"
#include "tests/support/file_contents.h"

#include "genplot/gen_plot.h"
#include "geometry/perim.h"
#include "platform/progress_ctrl.h"
#include "platform/window.h"
#include "plotinfo/plot_config.h"
#include "plotinfo/plot_info.h"

#include <cstdio>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#if defined(GENPLOT_BENCH_HAVE_LIBPLOT)
#include <plot.h>
#endif

namespace genplot::bench
{
namespace
{

constexpr const char* kSourceName = "benchmark-plot";

CPlotConfig WriterConfig()
{
    CPlotConfig config;
    config.configFlag = 1;
    config.configValue1 = 11;
    config.configValue2 = 12;
    config.configValue3 = 13;
    config.configValue4 = 14;
    config.configValue5 = 15;
    config.configValue6 = 16;
    return config;
}

LRESULT ProgressProcedure(HWND, UINT, WPARAM, LPARAM)
{
    return 0;
}

// What a host hands the writer: a live progress bar and a cancel flag that stays 0.
struct HostSide
{
    HWND window = CreateProcedureWindow(&ProgressProcedure, nullptr);
    CProgressCtrl progress{window};
    int cancel = 0;
    ~HostSide()
    {
        DestroyWindow(window);
    }
};

int WriteWithCGenPlot(std::FILE* file, CPlotInfo& plot, HostSide& host)
{
    CPlotConfig config = WriterConfig();
    CGenPlot writer;
    writer.Initialize(kSourceName, &config);
    return writer.write_plot_file(file, &plot, &config, &host.progress, &host.cancel, nullptr);
}

// Written once per process: the floor must produce the writer's bytes, or comparing their
// speed means nothing.
bool FloorMatchesWriter()
{
    static const bool matches = [] {
        CPlotInfo& plot = FinalisedStandardPlot();
        HostSide host;
        std::string ours = ScratchFolder() + "/check-writer.gpf";
        std::string floor = ScratchFolder() + "/check-floor.gpf";
        std::FILE* file = std::fopen(ours.c_str(), "wb");
        int result = file != nullptr ? WriteWithCGenPlot(file, plot, host) : 0;
        if (file != nullptr)
            std::fclose(file);
        const std::vector<unsigned char> written = ReadFileBytes(ours);
        bool same = result == 1;
        const FlatPoints flat = FlattenPoints(plot);
        for (const FlatPoints* points : {static_cast<const FlatPoints*>(nullptr), &flat})
        {
            file = std::fopen(floor.c_str(), "wb");
            if (file != nullptr)
            {
                WritePackedFloor(file, plot, kSourceName, WriterConfig(), points);
                std::fclose(file);
            }
            same = same && ReadFileBytes(floor) == written;
        }
        std::remove(ours.c_str());
        std::remove(floor.c_str());
        return same;
    }();
    return matches;
}

std::string Target(bool nullDevice, const char* name)
{
    return nullDevice ? std::string("/dev/null") : ScratchFolder() + "/" + name;
}

// Opening the file is the host's business and stays out of the time; writing and closing
// (which flushes the stream's buffer) are timed.
void BM_Writer(benchmark::State& state)
{
    bool nullDevice = state.range(0) != 0;
    CPlotInfo& plot = FinalisedStandardPlot();
    if (!FloorMatchesWriter())
        state.SkipWithError("the packed floor and CGenPlot disagree: fix one before timing");
    HostSide host;
    std::string path = Target(nullDevice, "writer.gpf");
    StageClock clock;
    long bytes = 0;
    for (auto _ : state)
    {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr)
        {
            state.SkipWithError("cannot open the output");
            break;
        }
        clock.Start();
        int result = WriteWithCGenPlot(file, plot, host);
        std::fseek(file, 0, SEEK_END);
        bytes = std::ftell(file);
        std::fclose(file);
        state.SetIterationTime(clock.Stop());
        if (result != 1)
        {
            state.SkipWithError("write_plot_file failed");
            break;
        }
    }
    std::uint64_t points = WrittenPoints(plot);
    SetPointRate(state, static_cast<double>(points));
    if (!nullDevice)
        state.counters["bytes_per_point"] =
            static_cast<double>(bytes) / static_cast<double>(points);
    if (!nullDevice)
        std::remove(path.c_str());
}

// The floor, walking the plot's lists (`flat` null) or taking the points from one flat array
// made before the timing starts.
void FloorPackedFwrite(benchmark::State& state, const FlatPoints* flat)
{
    bool nullDevice = state.range(0) != 0;
    CPlotInfo& plot = FinalisedStandardPlot();
    if (!FloorMatchesWriter())
        state.SkipWithError("the packed floor and CGenPlot disagree: fix one before timing");
    std::string path = Target(nullDevice, flat != nullptr ? "flat-floor.gpf" : "floor.gpf");
    StageClock clock;
    std::uint64_t bytes = 0;
    CPlotConfig config = WriterConfig();
    for (auto _ : state)
    {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr)
        {
            state.SkipWithError("cannot open the output");
            break;
        }
        clock.Start();
        bytes = WritePackedFloor(file, plot, kSourceName, config, flat);
        std::fclose(file);
        state.SetIterationTime(clock.Stop());
    }
    std::uint64_t points = WrittenPoints(plot);
    SetPointRate(state, static_cast<double>(points));
    state.counters["bytes_per_point"] = static_cast<double>(bytes) / static_cast<double>(points);
    if (!nullDevice)
        std::remove(path.c_str());
}

void BM_FloorPackedFwrite(benchmark::State& state)
{
    FloorPackedFwrite(state, nullptr);
}

void BM_FloorPackedFlatFwrite(benchmark::State& state)
{
    const FlatPoints flat = FlattenPoints(FinalisedStandardPlot());
    FloorPackedFwrite(state, &flat);
}

// The lowest floor: the file's records already encoded, in one flat byte array, handed to the
// stream one fwrite per record. Only the stream's own cost is left.
void BM_FloorRecordsFwrite(benchmark::State& state)
{
    bool nullDevice = state.range(0) != 0;
    CPlotInfo& plot = FinalisedStandardPlot();
    if (!FloorMatchesWriter())
        state.SkipWithError("the packed floor and CGenPlot disagree: fix one before timing");
    std::vector<unsigned char> records;
    {
        std::string encoded = ScratchFolder() + "/records.gpf";
        std::FILE* file = std::fopen(encoded.c_str(), "wb");
        if (file != nullptr)
        {
            WritePackedFloor(file, plot, kSourceName, WriterConfig());
            std::fclose(file);
        }
        records = ReadFileBytes(encoded);
        std::remove(encoded.c_str());
    }
    std::string path = Target(nullDevice, "records.gpf");
    StageClock clock;
    for (auto _ : state)
    {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr)
        {
            state.SkipWithError("cannot open the output");
            break;
        }
        clock.Start();
        // Every record is its 4-byte header and the payload length the header gives.
        for (std::size_t at = 0; at + 4 <= records.size();)
        {
            std::size_t size =
                4 + (records[at + 2] | static_cast<std::size_t>(records[at + 3]) << 8);
            std::fwrite(records.data() + at, 1, size, file);
            at += size;
        }
        std::fclose(file);
        state.SetIterationTime(clock.Stop());
    }
    SetPointRate(state, static_cast<double>(WrittenPoints(plot)));
    if (!nullDevice)
        std::remove(path.c_str());
}

#if defined(GENPLOT_BENCH_HAVE_LIBPLOT)
// libplot drawing every polyline the writer writes (outline and lines of every piece), in
// the same order, as move + cont ... + endpath, into the output stream.
void DrawWithLibplot(plPlotter* plotter, const CPlotInfo& plot)
{
    for (POSITION position = plot.pieces.GetHeadPosition(); position != nullptr;)
    {
        const auto* piece = static_cast<const CPerim*>(plot.pieces.GetNext(position));
        auto draw = [plotter](const CLineSeg& line) {
            POSITION at = line.GetHeadPosition();
            if (at == nullptr)
                return;
            const CCoord* first = line.GetNextPoint(at);
            pl_move_r(plotter, first->x, first->y);
            while (at != nullptr)
            {
                const CCoord* point = line.GetNextPoint(at);
                pl_cont_r(plotter, point->x, point->y);
            }
            pl_endpath_r(plotter);
        };
        draw(piece->outline);
        for (POSITION at = piece->nonPerimeterLines.GetHeadPosition(); at != nullptr;)
            draw(*static_cast<const CLineSeg*>(piece->nonPerimeterLines.GetNext(at)));
    }
}

void BM_LibplotDriver(benchmark::State& state, const char* driver)
{
    CPlotInfo& plot = FinalisedStandardPlot();
    StageClock clock;
    for (auto _ : state)
    {
        std::FILE* file = std::fopen("/dev/null", "wb");
        if (file == nullptr)
        {
            state.SkipWithError("cannot open /dev/null");
            break;
        }
        clock.Start();
        plPlotterParams* params = pl_newplparams();
        plPlotter* plotter = pl_newpl_r(driver, nullptr, file, nullptr, params);
        if (plotter == nullptr || pl_openpl_r(plotter) < 0)
        {
            state.SkipWithError("libplot refused to open the plotter");
            break;
        }
        pl_space_r(plotter, plot.extents.lowerLeft.x, plot.extents.lowerLeft.y,
                   plot.extents.upperRight.x, plot.extents.upperRight.y);
        DrawWithLibplot(plotter, plot);
        pl_closepl_r(plotter);
        pl_deletepl_r(plotter);
        pl_deleteplparams(params);
        std::fclose(file);
        state.SetIterationTime(clock.Stop());
    }
    SetPointRate(state, static_cast<double>(WrittenPoints(plot)));
}
BENCHMARK_CAPTURE(BM_LibplotDriver, metafile, "meta")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LibplotDriver, hpgl, "hpgl")->UseManualTime()->Unit(benchmark::kMillisecond);
#endif

BENCHMARK(BM_Writer)->ArgName("null")->Arg(0)->Arg(1)->UseManualTime()->Unit(
    benchmark::kMillisecond);
BENCHMARK(BM_FloorPackedFwrite)
    ->ArgName("null")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorRecordsFwrite)
    ->ArgName("null")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorPackedFlatFwrite)
    ->ArgName("null")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace genplot::bench
