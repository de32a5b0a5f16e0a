#include "platform/registry.h"

#include <cerrno>

// Settings come from the system registry on Windows; there is no file to name.

namespace genplot
{

bool UseRegistryFile(const char* path)
{
    (void)path;
    errno = ENOSYS;
    return false;
}

} // namespace genplot
