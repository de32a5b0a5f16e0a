// SendGenericPlot copying the standard plot's file (a complete plot of several megabytes: the
// library refuses anything less), against a plain fread/fwrite copy in blocks of 4096 bytes
// between the same two paths. Both are timed the same strict way: from opening the input to
// closing the output, into a destination that does not exist before the iteration (removing
// an old copy is left outside the clock, since freeing its pages is the file system's cost,
// not the copy's).

#include "bench/bench_support.h"

#include "genplot/gen_plot.h"
#include "genplot/plot_dispatch.h"
#include "platform/cstring.h"
#include "platform/progress_ctrl.h"
#include "platform/window.h"
#include "plotinfo/plot_config.h"
#include "plotinfo/plot_info.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#include <benchmark/benchmark.h>

namespace genplot::bench
{
namespace
{

// The standard plot as the writer leaves it, complete; its size in *bytes.
const std::string& StandardPlotFile(long* bytes)
{
    static long size = 0;
    static const std::string path = [] {
        std::string file = ScratchFolder() + "/copy-source.gpf";
        std::FILE* out = std::fopen(file.c_str(), "wb+");
        if (out == nullptr)
            return std::string();
        CPlotConfig config;
        CGenPlot writer;
        writer.Initialize("copy-source", &config);
        int cancel = 0;
        const int written = writer.write_plot_file(out, &FinalisedStandardPlot(), &config, nullptr,
                                                   &cancel, nullptr);
        std::fseek(out, 0, SEEK_END);
        size = std::ftell(out);
        if (std::fclose(out) != 0 || written != 1)
            return std::string();
        return file;
    }();
    *bytes = size;
    return path;
}

LRESULT ProgressProcedure(HWND, UINT, WPARAM, LPARAM)
{
    return 0;
}

// As a host calls it: with a live progress bar, which gets one position per block.
void BM_SendGenericPlotCopy(benchmark::State& state)
{
    long bytes = 0;
    const std::string& source = StandardPlotFile(&bytes);
    if (source.empty())
        state.SkipWithError("cannot write the source plot");
    HWND window = CreateProcedureWindow(&ProgressProcedure, nullptr);
    CProgressCtrl progress(window);
    CString input(source.c_str());
    CString destination((ScratchFolder() + "/copy-dispatch.gpf").c_str());
    CString message;
    StageClock clock;
    for (auto _ : state)
    {
        std::remove(destination.GetString());
        clock.Start();
        int result = SendGenericPlot(input, destination, message, &progress, 0);
        state.SetIterationTime(clock.Stop());
        if (result != 1)
        {
            state.SkipWithError(message.GetString());
            break;
        }
    }
    SetByteRate(state, static_cast<double>(bytes));
    std::remove(destination.GetString());
    DestroyWindow(window);
}

void BM_FloorBlockCopy(benchmark::State& state)
{
    long bytes = 0;
    const std::string& source = StandardPlotFile(&bytes);
    if (source.empty())
        state.SkipWithError("cannot write the source plot");
    std::string destination = ScratchFolder() + "/copy-floor.gpf";
    StageClock clock;
    for (auto _ : state)
    {
        std::remove(destination.c_str());
        clock.Start();
        std::FILE* in = std::fopen(source.c_str(), "rb");
        std::FILE* out = std::fopen(destination.c_str(), "wb");
        if (in == nullptr || out == nullptr)
        {
            state.SkipWithError("cannot open the files");
            break;
        }
        char block[4096];
        std::size_t got;
        while ((got = std::fread(block, 1, sizeof block, in)) > 0)
        {
            if (std::fwrite(block, 1, got, out) != got)
                break;
        }
        std::fclose(out);
        std::fclose(in);
        state.SetIterationTime(clock.Stop());
    }
    SetByteRate(state, static_cast<double>(bytes));
    std::remove(destination.c_str());
}

BENCHMARK(BM_SendGenericPlotCopy)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorBlockCopy)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
} // namespace genplot::bench
