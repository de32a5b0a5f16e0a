#include "platform/os_internal.h"

#include <cstdlib>
#include <ctime>
#include <pthread.h>
#include <pwd.h>
#include <unistd.h>

// The process primitives over POSIX.

namespace genplot::detail
{

bool ReadEnvironment(const char* name, std::string& value)
{
    const char* text = std::getenv(name);
    if (text == nullptr)
    {
        value.clear();
        return false;
    }
    value = text;
    return true;
}

std::string HomeFolder()
{
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return home;
    // A service started without HOME still has a password entry.
    const passwd* entry = getpwuid(getuid());
    return entry != nullptr && entry->pw_dir != nullptr && entry->pw_dir[0] == '/'
               ? std::string(entry->pw_dir)
               : std::string();
}

std::uint64_t ProcessAndClockBits()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return (static_cast<std::uint64_t>(getpid()) << 32) ^ static_cast<std::uint64_t>(now.tv_nsec) ^
           (static_cast<std::uint64_t>(now.tv_sec) << 20);
}

void InstallForkHandlers(void (*prepare)(), void (*parent)(), void (*child)())
{
    // Registration fails only when the C library runs out of memory; the pools then simply
    // go without the guard, as before.
    (void)pthread_atfork(prepare, parent, child);
}

} // namespace genplot::detail
