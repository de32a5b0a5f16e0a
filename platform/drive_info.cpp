#include "platform/drive_info.h"

#include "platform/os_internal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace genplot::detail
{
namespace
{

// The queue directory "c:\userroot\devq\plotter\" is on drive C.
constexpr char kQueueDrive = 'C';

// Reads GENPLOT_QUEUE_FLAG into `*flag`: 0 when unset or empty, 1 when the number is outside
// 0..255, so a non-zero setting never reads as 0. False (and 0) when it is set but not a whole
// number.
bool ReadQueueFlag(unsigned char* flag)
{
    *flag = 0;
    std::string text;
    if (!ReadEnvironment("GENPLOT_QUEUE_FLAG", text) || text.empty())
        return true;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str())
        return false;
    while (*end == ' ' || *end == '\t')
        ++end;
    if (*end != '\0')
        return false;
    if (errno == ERANGE || value < 0 || value > 255)
        *flag = 1;
    else
        *flag = static_cast<unsigned char>(value);
    return true;
}

// Copies GENPLOT_QUEUE_FILE into `out` (empty when unset). False, and empty, when it is too
// long to be given whole: a shortened path would name another file.
bool ReadQueueFile(char* out)
{
    out[0] = '\0';
    std::string text;
    if (!ReadEnvironment("GENPLOT_QUEUE_FILE", text))
        return true;
    // An environment value holds no NUL, so its length is the text's.
    if (text.size() >= static_cast<std::size_t>(kDriveInfoTextSize))
        return false;
    std::memcpy(out, text.c_str(), text.size() + 1);
    return true;
}

} // namespace
} // namespace genplot::detail

int cc_get_driveinfo(char* driveLetter, unsigned char* queueFlag, char* volumeText, char* queueFile)
{
    bool clean = true;
    if (driveLetter != nullptr)
        *driveLetter = genplot::detail::kQueueDrive;
    if (volumeText != nullptr)
        volumeText[0] = '\0';
    try
    {
        if (queueFlag != nullptr)
            clean = genplot::detail::ReadQueueFlag(queueFlag) && clean;
        if (queueFile != nullptr)
            clean = genplot::detail::ReadQueueFile(queueFile) && clean;
    }
    catch (const std::bad_alloc&)
    {
        // Only a value too long to copy can fail here; it is ignored like any unusable value.
        if (queueFlag != nullptr)
            *queueFlag = 0;
        if (queueFile != nullptr)
            queueFile[0] = '\0';
        return -1;
    }
    return clean ? 0 : -1;
}
