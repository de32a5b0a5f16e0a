#include "platform/os_internal.h"
#include "platform/win_types.h"

// The process primitives over Win32.

namespace genplot::detail
{

bool ReadEnvironment(const char* name, std::string& value)
{
    // GetEnvironmentVariableA reads the process environment, which a host changes with
    // SetEnvironmentVariableA. The C runtime's getenv keeps a copy taken at start-up and would
    // not see such a change.
    value.clear();
    char firstTry[64];
    SetLastError(ERROR_SUCCESS);
    DWORD length = GetEnvironmentVariableA(name, firstTry, sizeof firstTry);
    if (length == 0)
        return GetLastError() != ERROR_ENVVAR_NOT_FOUND; // an empty value counts as set
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

std::string HomeFolder()
{
    std::string home;
    ReadEnvironment("USERPROFILE", home);
    return home;
}

std::uint64_t ProcessAndClockBits()
{
    LARGE_INTEGER ticks{};
    QueryPerformanceCounter(&ticks);
    return (static_cast<std::uint64_t>(GetCurrentProcessId()) << 32) ^
           static_cast<std::uint64_t>(ticks.QuadPart);
}

// Windows processes do not fork: a new process starts with nothing of this one's memory.
void InstallForkHandlers(void (*)(), void (*)(), void (*)())
{
}

} // namespace genplot::detail
