#include "bench/bench_support.h"

#include "bench/workload.h"

#include "geometry/perim.h"
#include "platform/allocation_internal.h"
#include "plotinfo/plot_info.h"

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <system_error>

#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <unistd.h>

namespace genplot::bench
{
namespace
{

struct Scratch
{
    std::string path;
    Scratch()
    {
        const char* base = std::getenv("TMPDIR");
        std::filesystem::path folder = base != nullptr && *base != '\0' ? base : "/tmp";
        folder /= "genplot-bench-" + std::to_string(static_cast<long>(getpid()));
        std::error_code ignored;
        std::filesystem::create_directories(folder, ignored);
        path = folder.string();
    }
    ~Scratch()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

} // namespace

const std::string& ScratchFolder()
{
    static Scratch scratch;
    return scratch.path;
}

std::uint64_t HeapBytesInUse()
{
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
    struct mallinfo2 info = mallinfo2();
    std::uint64_t used = static_cast<std::uint64_t>(info.uordblks) + info.hblkhd;
    std::uint64_t held = genplot::detail::PooledFreeBytes();
    return used > held ? used - held : 0;
#else
    return 0;
#endif
}

void PinLibrarySettings()
{
    std::string missing = ScratchFolder() + "/no-such-registry.reg";
    setenv("GENPLOT_REGISTRY", missing.c_str(), 1);
}

CPlotInfo& FinalisedStandardPlot()
{
    static std::unique_ptr<CPlotInfo> plot = [] {
        auto built = std::make_unique<CPlotInfo>();
        BuildPlot(StandardWorkload(), *built);
        built->FinalizePlotInfo();
        return built;
    }();
    return *plot;
}

std::uint64_t WrittenPoints(const CPlotInfo& plot)
{
    std::uint64_t total = 0;
    for (POSITION position = plot.pieces.GetHeadPosition(); position != nullptr;)
    {
        const auto* piece = static_cast<const CPerim*>(plot.pieces.GetNext(position));
        total += static_cast<std::uint64_t>(piece->GetPointCount());
        for (POSITION at = piece->nonPerimeterLines.GetHeadPosition(); at != nullptr;)
            total += static_cast<std::uint64_t>(
                static_cast<const CLineSeg*>(piece->nonPerimeterLines.GetNext(at))
                    ->GetPointCount());
    }
    return total;
}

void SetPointRate(benchmark::State& state, double pointsPerIteration)
{
    state.counters["points_per_second"] =
        benchmark::Counter(pointsPerIteration, benchmark::Counter::kIsIterationInvariantRate);
}

void SetByteRate(benchmark::State& state, double bytesPerIteration)
{
    state.counters["bytes_per_second"] =
        benchmark::Counter(bytesPerIteration, benchmark::Counter::kIsIterationInvariantRate);
}

} // namespace genplot::bench
