#pragma once

#include "platform/export.h"

#include <cstdint>

/// The host's configuration. The library only reads it: `CPlotInfo::Initialize` the two
/// scale doubles, `CGenPlot::Initialize` the seven integers after them. The values mean
/// whatever the host says; the library carries them into the plot file unchanged.
struct CPlotConfig
{
    double scaleDivisor = 1.0;
    double scaleMultiplier = 1.0;
    std::int32_t configFlag = 0;
    std::int32_t configValue1 = 0;
    std::int32_t configValue2 = 0;
    std::int32_t configValue3 = 0;
    std::int32_t configValue4 = 0;
    std::int32_t configValue5 = 0;
    /// The file's default text height until the writer replaces it with the plot's own.
    std::int32_t configValue6 = 0;
};
