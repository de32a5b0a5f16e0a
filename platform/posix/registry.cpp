// The registry key API over the registry file (parsed by platform/posix/registry_parse.cpp).
//
// The file is the one named by genplot::UseRegistryFile, else $GENPLOT_REGISTRY, else
// $XDG_CONFIG_HOME/genplot/registry.reg, else $HOME/.config/genplot/registry.reg. No file (or
// one without the first line) means no keys, and so does anything that is not a regular file
// of at most kMaxRegistryFileSize bytes: a named pipe would block the reader, a device such as
// /dev/zero would never end.
// It is read again at every open, and an open key keeps a snapshot of its own values, so a
// changed file takes effect at the next open and closing a key touches nothing shared.

#include "platform/registry.h"

#include "platform/posix/registry_file_internal.h"
#include "platform/regular_file_internal.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <utility>

namespace
{

constexpr std::uint32_t kKeyMagic = 0x52474B59u;
constexpr std::uint32_t kClosedMagic = 0u;

} // namespace

// What an HKEY from RegOpenKeyExA points to.
struct HKEY__
{
    std::uint32_t magic = kKeyMagic;
    std::string path; // lower-case, components joined by '\', starting with the root's name
    genplot::detail::RegistryValueMap values;
};

namespace
{

using genplot::detail::FindRegistryRoot;
using genplot::detail::LowerAscii;
using genplot::detail::RegistryRoot;
using genplot::detail::SplitKeyPath;

// An open key, or null for a predefined root, a null handle or anything that is not ours.
HKEY__* OpenedKey(HKEY key)
{
    if (key == nullptr || FindRegistryRoot(key) != nullptr ||
        key == reinterpret_cast<HKEY>(static_cast<std::intptr_t>(-1)))
        return nullptr;
    if (reinterpret_cast<std::uintptr_t>(key) % alignof(HKEY__) != 0)
        return nullptr;
    return key->magic == kKeyMagic ? key : nullptr;
}

// ---- Locating and reading the file --------------------------------------------------------

std::string NonEmptyEnv(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

// The file chosen with UseRegistryFile; empty when none is.
std::mutex chosenFileLock;
std::string chosenFile;

std::string RegistryFilePath()
{
    {
        std::lock_guard<std::mutex> hold(chosenFileLock);
        if (!chosenFile.empty())
            return chosenFile;
    }
    std::string path = NonEmptyEnv("GENPLOT_REGISTRY");
    if (!path.empty())
        return path;
    std::string config = NonEmptyEnv("XDG_CONFIG_HOME");
    if (config.empty())
    {
        std::string home = NonEmptyEnv("HOME");
        if (home.empty())
            return std::string();
        config = home + "/.config";
    }
    return config + "/genplot/registry.reg";
}

// Opens `path` when it can serve as the registry file; errno-style error otherwise (EINVAL:
// not a regular file, EFBIG: too large).
int OpenRegistryFile(const std::string& path, genplot::detail::RegularFile& file)
{
    file = genplot::detail::OpenRegularFile(path.c_str());
    if (file.notRegular)
        return EINVAL;
    if (file.stream == nullptr)
        return file.error != 0 ? file.error : ENOENT;
    if (file.size > genplot::kMaxRegistryFileSize)
    {
        std::fclose(file.stream);
        file.stream = nullptr;
        return EFBIG;
    }
    return 0;
}

bool ReadWholeFile(const std::string& path, std::string& contents)
{
    if (path.empty())
        return false;
    genplot::detail::RegularFile file;
    if (OpenRegistryFile(path, file) != 0)
        return false;
    // The size measured at the open bounds the read: a file that grows meanwhile is read no
    // further.
    contents.resize(static_cast<std::size_t>(file.size));
    const std::size_t got = std::fread(contents.data(), 1, contents.size(), file.stream);
    contents.resize(got);
    const bool ok = std::ferror(file.stream) == 0;
    std::fclose(file.stream);
    return ok;
}

// Reads the file and fills `key` with the values of `path`; false when the key does not exist.
bool LoadKey(const std::string& path, HKEY__& key)
{
    std::string raw;
    bool rootOnly = path.find('\\') == std::string::npos;
    genplot::detail::RegistryContents registry;
    if (ReadWholeFile(RegistryFilePath(), raw))
        registry = genplot::detail::ParseRegistry(genplot::detail::DecodeRegistryText(raw));
    if (!rootOnly && !registry.Exists(path))
        return false;
    key.path = path;
    auto it = registry.keys.find(path);
    if (it != registry.keys.end())
        key.values = std::move(it->second);
    return true;
}

} // namespace

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD /*options*/, REGSAM /*access*/, PHKEY result)
{
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::string path;
    if (const RegistryRoot* root = FindRegistryRoot(key))
        path = root->name;
    else if (HKEY__* parent = OpenedKey(key))
        path = parent->path;
    else
        return ERROR_INVALID_HANDLE;
    if (subKey != nullptr && subKey[0] == '\\')
        return ERROR_BAD_PATHNAME;
    try
    {
        if (subKey != nullptr)
        {
            for (const std::string& part : SplitKeyPath(subKey))
                path += '\\' + part;
        }
        auto* opened = new HKEY__;
        if (!LoadKey(path, *opened))
        {
            delete opened;
            return ERROR_FILE_NOT_FOUND;
        }
        *result = opened;
        return ERROR_SUCCESS;
    }
    catch (...)
    {
        // Only allocation can fail here; the registry API reports, it never throws.
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD dataSize)
{
    if (reserved != nullptr || (data != nullptr && dataSize == nullptr))
        return ERROR_INVALID_PARAMETER;
    try
    {
        // A predefined root is not opened first, so its values are read from the file now.
        HKEY__ rootKey;
        const HKEY__* source = OpenedKey(key);
        if (source == nullptr)
        {
            const RegistryRoot* root = FindRegistryRoot(key);
            if (root == nullptr)
                return ERROR_INVALID_HANDLE;
            LoadKey(root->name, rootKey);
            source = &rootKey;
        }
        auto it = source->values.find(LowerAscii(valueName != nullptr ? valueName : ""));
        if (it == source->values.end())
            return ERROR_FILE_NOT_FOUND;
        const genplot::detail::RegistryValue& value = it->second;
        if (type != nullptr)
            *type = value.type;
        DWORD size = static_cast<DWORD>(value.bytes.size());
        if (data != nullptr && *dataSize < size)
        {
            *dataSize = size;
            return ERROR_MORE_DATA;
        }
        if (data != nullptr && size > 0)
            std::memcpy(data, value.bytes.data(), size);
        if (dataSize != nullptr)
            *dataSize = size;
        return ERROR_SUCCESS;
    }
    catch (...)
    {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

LONG RegCloseKey(HKEY key)
{
    if (FindRegistryRoot(key) != nullptr)
        return ERROR_SUCCESS;
    HKEY__* opened = OpenedKey(key);
    if (opened == nullptr)
        return ERROR_INVALID_HANDLE;
    opened->magic = kClosedMagic;
    delete opened;
    return ERROR_SUCCESS;
}

namespace genplot
{

bool UseRegistryFile(const char* path)
{
    if (path == nullptr || path[0] == '\0')
    {
        std::lock_guard<std::mutex> hold(chosenFileLock);
        chosenFile.clear();
        return true;
    }
    detail::RegularFile file;
    const int error = OpenRegistryFile(path, file);
    if (error != 0)
    {
        errno = error;
        return false;
    }
    std::fclose(file.stream);
    try
    {
        std::lock_guard<std::mutex> hold(chosenFileLock);
        chosenFile = path;
    }
    catch (...)
    {
        errno = ENOMEM;
        return false;
    }
    return true;
}

} // namespace genplot
