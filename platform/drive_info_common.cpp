#include "platform/drive_info.h"
#include "platform/drive_info_internal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace genplot::detail
{

namespace
{

// The queue directory "c:\userroot\devq\plotter\" is on drive C.
constexpr char kQueueDrive = 'C';

} // namespace

bool ParseQueueFlag(const char* text, unsigned char* flag)
{
    *flag = 0;
    if (text == nullptr || text[0] == '\0')
        return true;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (end == text)
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

bool CopyQueueFile(const char* text, std::size_t length, char* out)
{
    out[0] = '\0';
    if (text == nullptr)
        return true;
    if (length >= static_cast<std::size_t>(kDriveInfoTextSize))
        return false;
    std::memcpy(out, text, length + 1);
    return true;
}

int FillDriveInfo(char* driveLetter, unsigned char* queueFlag, char* volumeText, char* queueFile)
{
    bool clean = true;
    if (driveLetter != nullptr)
        *driveLetter = kQueueDrive;
    if (queueFlag != nullptr)
        clean = ReadQueueFlag(queueFlag) && clean;
    if (volumeText != nullptr)
        volumeText[0] = '\0';
    if (queueFile != nullptr)
        clean = ReadQueueFile(queueFile) && clean;
    return clean ? 0 : -1;
}

} // namespace genplot::detail
