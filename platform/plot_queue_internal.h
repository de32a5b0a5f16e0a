#pragma once

#include "platform/plot_queue.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The parts of the queue client that other platform code and the dispatcher use. The client is
// written once over the primitives of platform/os_internal.h (platform/plot_queue.cpp).

namespace genplot::detail
{

/// Lets the dispatcher refuse a queue file that is the very file it delivers.
struct PlotterQueueAccess
{
    /// When `queue` is connected to the file `file` has open, disconnects it: `responseState`
    /// becomes -EEXIST and nothing can be submitted. True when it did.
    static bool RefuseIfSameFile(CPlotterQueue& queue, std::FILE* file);
};

/// A candidate name suffix. Uniqueness comes from the exclusive create, not from here; mixing
/// in the process id and the clock only keeps two busy submitters from colliding often.
std::uint32_t NextCandidate();

} // namespace genplot::detail
