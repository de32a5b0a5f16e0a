#include "platform/drive_info.h"

#include "platform/drive_info_internal.h"
#include "platform/win_types.h"

#include <string>

// The same settings as on POSIX, read with GetEnvironmentVariableA: the process environment,
// which a host changes with SetEnvironmentVariableA. The C runtime's getenv keeps a copy taken
// at start-up and would not see such a change.

namespace
{

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

} // namespace

namespace genplot::detail
{

bool ReadQueueFlag(unsigned char* flag)
{
    std::string text;
    const bool set = ReadVariable("GENPLOT_QUEUE_FLAG", text);
    return ParseQueueFlag(set ? text.c_str() : nullptr, flag);
}

bool ReadQueueFile(char* out)
{
    std::string text;
    const bool set = ReadVariable("GENPLOT_QUEUE_FILE", text);
    // An embedded NUL cannot occur in an environment value, so the length is the text's.
    return CopyQueueFile(set ? text.c_str() : nullptr, text.size(), out);
}

} // namespace genplot::detail

int cc_get_driveinfo(char* driveLetter, unsigned char* queueFlag, char* volumeText, char* queueFile)
{
    try
    {
        return genplot::detail::FillDriveInfo(driveLetter, queueFlag, volumeText, queueFile);
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
}
