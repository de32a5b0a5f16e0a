#include "platform/native_path_internal.h"

#include <cstring>

// The parts of the path layer that do not depend on how the platform spells a path.

namespace genplot::detail
{

bool CopyPathUnchanged(const char* hostPath, char* out, std::size_t outSize)
{
    if (outSize == 0)
        return false;
    out[0] = '\0';
    if (hostPath == nullptr)
        return false;
    const std::size_t length = std::strlen(hostPath);
    if (length >= outSize)
        return false;
    std::memcpy(out, hostPath, length + 1);
    return true;
}

std::FILE* OpenHostFile(const char* hostPath, const char* mode)
{
    char native[kNativePathSize];
    if (!NativePath(hostPath, native, sizeof native))
        return nullptr;
    return std::fopen(native, mode);
}

bool CopyDirectoryPath(const char* nativeDir, char (&path)[kNativePathSize], std::size_t* length)
{
    if (nativeDir == nullptr || nativeDir[0] == '\0')
        return false;
    *length = std::strlen(nativeDir);
    if (*length >= sizeof path)
        return false;
    std::memcpy(path, nativeDir, *length + 1);
    return true;
}

} // namespace genplot::detail
