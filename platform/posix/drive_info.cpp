#include "platform/drive_info.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace
{

// The queue directory "c:\userroot\devq\plotter\" is on drive C.
constexpr char kQueueDrive = 'C';

// Parses GENPLOT_QUEUE_FLAG; false when it is set but not a whole number.
bool ReadQueueFlag(unsigned char* flag)
{
    *flag = 0;
    const char* text = std::getenv("GENPLOT_QUEUE_FLAG");
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

// Copies GENPLOT_QUEUE_FILE; false when it is too long to be given whole.
bool ReadQueueFile(char* out)
{
    out[0] = '\0';
    const char* text = std::getenv("GENPLOT_QUEUE_FILE");
    if (text == nullptr)
        return true;
    const std::size_t length = std::strlen(text);
    if (length >= static_cast<std::size_t>(kDriveInfoTextSize))
        return false;
    std::memcpy(out, text, length + 1);
    return true;
}

} // namespace

int cc_get_driveinfo(char* driveLetter, unsigned char* queueFlag, char* volumeText, char* queueFile)
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
