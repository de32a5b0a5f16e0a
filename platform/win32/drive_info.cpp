#include "platform/drive_info.h"

#include "platform/win_types.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

// The same settings as on POSIX, read with GetEnvironmentVariableA: the process environment,
// which a host changes with SetEnvironmentVariableA. The C runtime's getenv keeps a copy taken
// at start-up and would not see such a change.

namespace
{

// The queue directory "c:\userroot\devq\plotter\" is on drive C.
constexpr char kQueueDrive = 'C';

// False when the variable is not set (an empty value counts as set).
bool ReadVariable(const char* name, std::string& value)
{
    value.clear();
    char firstTry[64];
    SetLastError(ERROR_SUCCESS);
    DWORD length = GetEnvironmentVariableA(name, firstTry, sizeof firstTry);
    if (length == 0)
        return GetLastError() != ERROR_ENVVAR_NOT_FOUND;
    if (length < sizeof firstTry)
    {
        value.assign(firstTry, length);
        return true;
    }
    // Too long for the firstTry buffer: `length` is the size needed, NUL included. The value may
    // change in between, so read again until it fits.
    for (;;)
    {
        value.resize(length);
        const DWORD got = GetEnvironmentVariableA(name, &value[0], length);
        if (got == 0)
        {
            value.clear();
            return GetLastError() != ERROR_ENVVAR_NOT_FOUND;
        }
        if (got < length)
        {
            value.resize(got);
            return true;
        }
        length = got;
    }
}

// Parses GENPLOT_QUEUE_FLAG; false when it is set but not a whole number.
bool ReadQueueFlag(unsigned char* flag)
{
    *flag = 0;
    std::string text;
    if (!ReadVariable("GENPLOT_QUEUE_FLAG", text) || text.empty())
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

// Copies GENPLOT_QUEUE_FILE; false when it is too long to be given whole.
bool ReadQueueFile(char* out)
{
    out[0] = '\0';
    std::string text;
    if (!ReadVariable("GENPLOT_QUEUE_FILE", text))
        return true;
    // An embedded NUL cannot occur in an environment value, so the length is the text's.
    if (text.size() >= static_cast<std::size_t>(kDriveInfoTextSize))
        return false;
    std::memcpy(out, text.c_str(), text.size() + 1);
    return true;
}

} // namespace

int cc_get_driveinfo(char* driveLetter, unsigned char* queueFlag, char* volumeText, char* queueFile)
{
    bool clean = true;
    try
    {
        if (driveLetter != nullptr)
            *driveLetter = kQueueDrive;
        if (queueFlag != nullptr)
            clean = ReadQueueFlag(queueFlag) && clean;
        if (volumeText != nullptr)
            volumeText[0] = '\0';
        if (queueFile != nullptr)
            clean = ReadQueueFile(queueFile) && clean;
    }
    catch (...)
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
