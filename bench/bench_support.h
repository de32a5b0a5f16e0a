#pragma once

// Shared pieces of the benchmarks: a clock for stages that need untimed set-up, the scratch
// folder, heap measurement, and counters named the way bench/run reads them.

#include <chrono>
#include <cstdint>
#include <string>

#include <benchmark/benchmark.h>

class CPlotInfo;

namespace genplot::bench
{

/// Times one stage inside an iteration; the benchmark reports these times (UseManualTime).
class StageClock
{
  public:
    void Start()
    {
        start_ = std::chrono::steady_clock::now();
    }
    /// Seconds since Start.
    double Stop() const
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }

  private:
    std::chrono::steady_clock::time_point start_;
};

/// A folder of our own below $TMPDIR (else /tmp), made on first use and removed at exit.
const std::string& ScratchFolder();

/// Heap bytes in use now: what the system allocator has handed out, less what the library's
/// allocation path holds for reuse. 0 where the C library cannot tell.
std::uint64_t HeapBytesInUse();

/// Pins the settings the library reads from outside, so every run computes the same plot:
/// the registry is a file that does not exist (default miter threshold).
void PinLibrarySettings();

/// A plot built from the standard workload and finalised: the input of the writer benchmarks.
/// Built once per process; never changed after.
CPlotInfo& FinalisedStandardPlot();

/// Points written as polyline records from a finalised plot (outlines and every line of every
/// piece); loose lines are not written.
std::uint64_t WrittenPoints(const CPlotInfo& plot);

/// Rate counters: `items` per second of the reported time, and the figure that bench/run
/// puts in its table.
void SetPointRate(benchmark::State& state, double pointsPerIteration);
void SetByteRate(benchmark::State& state, double bytesPerIteration);

} // namespace genplot::bench
