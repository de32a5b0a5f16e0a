// SendGenericPlot copying a 10 MB plot file, against a plain fread/fwrite copy in blocks of
// 4096 bytes between the same two paths.

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

constexpr long kCopyBytes = 10L * 1024 * 1024;

// The standard plot as written, cut or padded to exactly 10 MiB: the header passes the check,
// and the copy looks at nothing else.
const std::string& TenMegabytePlot()
{
    static const std::string path = [] {
        std::string file = ScratchFolder() + "/copy-source.gpf";
        std::FILE* out = std::fopen(file.c_str(), "wb+");
        if (out == nullptr)
            return std::string();
        CPlotConfig config;
        CGenPlot writer;
        writer.Initialize("copy-source", &config);
        int cancel = 0;
        writer.write_plot_file(out, &FinalisedStandardPlot(), &config, nullptr, &cancel, nullptr);
        std::fseek(out, 0, SEEK_END);
        long size = std::ftell(out);
        std::vector<char> zeros(65536, 0);
        while (size < kCopyBytes)
        {
            long take = std::min<long>(kCopyBytes - size, static_cast<long>(zeros.size()));
            size += static_cast<long>(
                std::fwrite(zeros.data(), 1, static_cast<std::size_t>(take), out));
        }
        std::fclose(out);
        if (size > kCopyBytes && truncate(file.c_str(), kCopyBytes) != 0)
            return std::string();
        return file;
    }();
    return path;
}

LRESULT ProgressProcedure(HWND, UINT, WPARAM, LPARAM)
{
    return 0;
}

// As a host calls it: with a live progress bar, which gets one position per block.
void BM_SendGenericPlotCopy(benchmark::State& state)
{
    const std::string& source = TenMegabytePlot();
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
        clock.Start();
        int result = SendGenericPlot(input, destination, message, &progress, 0);
        state.SetIterationTime(clock.Stop());
        if (result != 1)
        {
            state.SkipWithError(message.GetString());
            break;
        }
    }
    SetByteRate(state, static_cast<double>(kCopyBytes));
    std::remove(destination.GetString());
    DestroyWindow(window);
}

void BM_FloorBlockCopy(benchmark::State& state)
{
    const std::string& source = TenMegabytePlot();
    if (source.empty())
        state.SkipWithError("cannot write the source plot");
    std::string destination = ScratchFolder() + "/copy-floor.gpf";
    StageClock clock;
    for (auto _ : state)
    {
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
    SetByteRate(state, static_cast<double>(kCopyBytes));
    std::remove(destination.c_str());
}

BENCHMARK(BM_SendGenericPlotCopy)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloorBlockCopy)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
} // namespace genplot::bench
