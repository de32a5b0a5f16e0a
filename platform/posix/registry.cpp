// The registry served from a text file in the format regedit exports:
//
//   REGEDIT4                                   (or "Windows Registry Editor Version 5.00")
//
//   [HKEY_LOCAL_MACHINE\Software\Tavrin\Conversion\General]
//   "MiterLimit"="1"                           text: REG_SZ, \\ and \" escaped
//   "Count"=dword:0000000a                     REG_DWORD, stored as 4 little-endian bytes
//   "Raw"=hex:41,42,00                         REG_BINARY; hex(N): gives type N; a line may
//   @="default value"                          continue after a trailing backslash
//   "Old"=-                                    deletes a value; [-KEY] deletes a key and
//                                              everything below it
//
// The file is the one named by genplot::UseRegistryFile, else $GENPLOT_REGISTRY, else
// $XDG_CONFIG_HOME/genplot/registry.reg, else $HOME/.config/genplot/registry.reg. No file (or
// one without the first line) means no keys, and so does anything that is not a regular file
// of at most kMaxRegistryFileSize bytes: a named pipe would block the reader, a device such as
// /dev/zero would never end.
// It is read again at every open, and an open key keeps a snapshot of its own values, so a
// changed file takes effect at the next open and closing a key touches nothing shared.

#include "platform/registry.h"

#include "platform/regular_file_internal.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace
{

constexpr std::uint32_t kKeyMagic = 0x52474B59u;
constexpr std::uint32_t kClosedMagic = 0u;

struct Value
{
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
};

// Values by lower-case name; the default value ("@") has the empty name.
using ValueMap = std::map<std::string, Value>;

} // namespace

// What an HKEY from RegOpenKeyExA points to.
struct HKEY__
{
    std::uint32_t magic = kKeyMagic;
    std::string path; // lower-case, components joined by '\', starting with the root's name
    ValueMap values;
};

namespace
{

struct Root
{
    HKEY handle;
    const char* name; // canonical lower-case name, used as the first path component
    const char* shortName;
};

const Root kRoots[] = {
    {HKEY_CLASSES_ROOT, "hkey_classes_root", "hkcr"},
    {HKEY_CURRENT_USER, "hkey_current_user", "hkcu"},
    {HKEY_LOCAL_MACHINE, "hkey_local_machine", "hklm"},
    {HKEY_USERS, "hkey_users", "hku"},
    {HKEY_CURRENT_CONFIG, "hkey_current_config", "hkcc"},
};

// Key and value names compare without regard to ASCII case, as on Windows.
std::string Lower(std::string text)
{
    for (char& c : text)
    {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

const Root* FindRoot(HKEY key)
{
    for (const Root& root : kRoots)
    {
        if (root.handle == key)
            return &root;
    }
    return nullptr;
}

const Root* FindRootByName(const std::string& lowerName)
{
    for (const Root& root : kRoots)
    {
        if (lowerName == root.name || lowerName == root.shortName)
            return &root;
    }
    return nullptr;
}

// An open key, or null for a predefined root, a null handle or anything that is not ours.
HKEY__* OpenedKey(HKEY key)
{
    if (key == nullptr || FindRoot(key) != nullptr ||
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

void AppendUtf8(std::string& out, unsigned long code)
{
    if (code < 0x80)
        out += static_cast<char>(code);
    else if (code < 0x800)
    {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
    else if (code < 0x10000)
    {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
    else
    {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// regedit writes version 5 files as UTF-16LE with a byte order mark; text values then come
// back as UTF-8. A UTF-8 byte order mark is dropped; anything else is taken byte for byte.
std::string DecodeText(const std::string& raw)
{
    auto byte = [&raw](std::size_t i) { return static_cast<unsigned char>(raw[i]); };
    if (raw.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF)
        return raw.substr(3);
    if (raw.size() < 2 || byte(0) != 0xFF || byte(1) != 0xFE)
        return raw;
    std::string out;
    out.reserve(raw.size() / 2);
    for (std::size_t i = 2; i + 1 < raw.size(); i += 2)
    {
        unsigned long unit = byte(i) | (static_cast<unsigned long>(byte(i + 1)) << 8);
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < raw.size())
        {
            unsigned long low = byte(i + 2) | (static_cast<unsigned long>(byte(i + 3)) << 8);
            if (low >= 0xDC00 && low < 0xE000)
            {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        AppendUtf8(out, unit);
    }
    return out;
}

// ---- Parsing ------------------------------------------------------------------------------

std::string Trim(const std::string& text)
{
    std::size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
        return std::string();
    std::size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

// Splits a key path at backslashes, dropping empty components, lower-cased.
std::vector<std::string> SplitPath(const std::string& path)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size())
    {
        std::size_t end = path.find('\\', start);
        if (end == std::string::npos)
            end = path.size();
        if (end > start)
            parts.push_back(Lower(path.substr(start, end - start)));
        start = end + 1;
    }
    return parts;
}

// "hkey_local_machine\software\..." for a section's text, or empty for an unknown root.
std::string CanonicalSection(const std::string& text)
{
    std::vector<std::string> parts = SplitPath(text);
    if (parts.empty())
        return std::string();
    const Root* root = FindRootByName(parts[0]);
    if (root == nullptr)
        return std::string();
    std::string path = root->name;
    for (std::size_t i = 1; i < parts.size(); ++i)
        path += '\\' + parts[i];
    return path;
}

bool IsBelowOrSame(const std::string& path, const std::string& ancestor)
{
    return path.size() >= ancestor.size() && path.compare(0, ancestor.size(), ancestor) == 0 &&
           (path.size() == ancestor.size() || path[ancestor.size()] == '\\');
}

// Reads a quoted string starting at text[pos] == '"'; on success `pos` is past the closing
// quote. Only \\ and \" are escapes; any other backslash stands for itself.
bool ParseQuoted(const std::string& text, std::size_t& pos, std::string& out)
{
    for (std::size_t i = pos + 1; i < text.size(); ++i)
    {
        char c = text[i];
        if (c == '"')
        {
            pos = i + 1;
            return true;
        }
        if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"'))
            c = text[++i];
        out += c;
    }
    return false;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool StartsWithNoCase(const std::string& text, std::size_t pos, const char* prefix)
{
    std::size_t length = std::strlen(prefix);
    return text.size() - pos >= length && Lower(text.substr(pos, length)) == prefix;
}

// "41,42, 00": one or two hex digits per byte, commas between, blanks anywhere.
bool ParseHexBytes(const std::string& text, std::vector<BYTE>& bytes)
{
    std::string rest = Trim(text);
    if (rest.empty())
        return true;
    std::size_t pos = 0;
    for (;;)
    {
        while (pos < rest.size() && (rest[pos] == ' ' || rest[pos] == '\t'))
            ++pos;
        int value = 0;
        int digits = 0;
        while (pos < rest.size() && digits < 2 && HexDigit(rest[pos]) >= 0)
        {
            value = value * 16 + HexDigit(rest[pos++]);
            ++digits;
        }
        if (digits == 0)
            return false;
        bytes.push_back(static_cast<BYTE>(value));
        while (pos < rest.size() && (rest[pos] == ' ' || rest[pos] == '\t'))
            ++pos;
        if (pos == rest.size())
            return true;
        if (rest[pos] != ',')
            return false;
        ++pos;
    }
}

// The data after '=': a quoted string, dword:, hex: or hex(N):. False for anything else.
bool ParseData(const std::string& data, Value& value)
{
    if (!data.empty() && data[0] == '"')
    {
        std::size_t pos = 0;
        std::string text;
        if (!ParseQuoted(data, pos, text) || !Trim(data.substr(pos)).empty())
            return false;
        value.type = REG_SZ;
        value.bytes.assign(text.begin(), text.end());
        value.bytes.push_back(0);
        return true;
    }
    if (StartsWithNoCase(data, 0, "dword:"))
    {
        std::string digits = Trim(data.substr(6));
        if (digits.empty() || digits.size() > 8)
            return false;
        std::uint32_t number = 0;
        for (char c : digits)
        {
            if (HexDigit(c) < 0)
                return false;
            number = number * 16 + static_cast<std::uint32_t>(HexDigit(c));
        }
        value.type = REG_DWORD;
        value.bytes = {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8),
                       static_cast<BYTE>(number >> 16), static_cast<BYTE>(number >> 24)};
        return true;
    }
    if (StartsWithNoCase(data, 0, "hex:"))
    {
        value.type = REG_BINARY;
        return ParseHexBytes(data.substr(4), value.bytes);
    }
    if (StartsWithNoCase(data, 0, "hex("))
    {
        std::size_t close = data.find(')', 4);
        if (close == std::string::npos || close == 4 || close > 12 || close + 1 >= data.size() ||
            data[close + 1] != ':')
            return false;
        DWORD type = 0;
        for (std::size_t i = 4; i < close; ++i)
        {
            if (HexDigit(data[i]) < 0)
                return false;
            type = type * 16 + static_cast<DWORD>(HexDigit(data[i]));
        }
        value.type = type;
        return ParseHexBytes(data.substr(close + 2), value.bytes);
    }
    return false;
}

// The whole file as keys (lower-case paths) with their values, after deletions.
struct Registry
{
    std::map<std::string, ValueMap> keys;

    bool Exists(const std::string& path) const
    {
        if (keys.count(path) != 0)
            return true;
        // A key named only as the parent of a section exists too, as after an import. Keys
        // below `path` sort together, from the first one that starts with `path\`.
        std::string below = path + '\\';
        auto it = keys.lower_bound(below);
        return it != keys.end() && it->first.compare(0, below.size(), below) == 0;
    }
};

void DeleteTree(Registry& registry, const std::string& path)
{
    auto it = registry.keys.lower_bound(path);
    while (it != registry.keys.end() && it->first.compare(0, path.size(), path) == 0)
    {
        if (IsBelowOrSame(it->first, path))
            it = registry.keys.erase(it);
        else
            ++it;
    }
}

void ParseValueLine(const std::string& line, ValueMap& values)
{
    std::string name;
    std::size_t pos = 0;
    if (line[0] == '@')
        pos = 1;
    else if (!ParseQuoted(line, pos, name))
        return;
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
        ++pos;
    if (pos == line.size() || line[pos] != '=')
        return;
    std::string data = Trim(line.substr(pos + 1));
    std::string key = Lower(name);
    if (data == "-")
    {
        values.erase(key);
        return;
    }
    Value value;
    if (ParseData(data, value))
        values[key] = std::move(value);
}

// Malformed lines are skipped, as if they were not there: a reader of settings falls back to
// its defaults for a value it cannot see.
Registry ParseRegistry(const std::string& text)
{
    Registry registry;
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size())
    {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(Trim(text.substr(start, end - start)));
        start = end + 1;
    }
    if (lines.empty() ||
        (lines[0] != "REGEDIT4" && lines[0] != "Windows Registry Editor Version 5.00"))
        return registry;

    ValueMap* section = nullptr;
    for (std::size_t i = 1; i < lines.size(); ++i)
    {
        std::string line = lines[i];
        if (line.empty() || line[0] == ';')
            continue;
        if (line[0] == '[')
        {
            section = nullptr;
            std::size_t close = line.rfind(']');
            if (close == std::string::npos)
                continue;
            std::string inner = line.substr(1, close - 1);
            bool remove = !inner.empty() && inner[0] == '-';
            std::string path = CanonicalSection(remove ? inner.substr(1) : inner);
            if (path.empty())
                continue;
            if (remove)
                DeleteTree(registry, path);
            else
                section = &registry.keys[path];
            continue;
        }
        // Long hex data runs on over lines that end in a backslash.
        while (!line.empty() && line.back() == '\\' && i + 1 < lines.size())
        {
            line.pop_back();
            line += lines[++i];
        }
        if (section != nullptr && !line.empty() && (line[0] == '"' || line[0] == '@'))
            ParseValueLine(line, *section);
    }
    return registry;
}

// Reads the file and fills `key` with the values of `path`; false when the key does not exist.
bool LoadKey(const std::string& path, HKEY__& key)
{
    std::string raw;
    bool rootOnly = path.find('\\') == std::string::npos;
    Registry registry;
    if (ReadWholeFile(RegistryFilePath(), raw))
        registry = ParseRegistry(DecodeText(raw));
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
    if (const Root* root = FindRoot(key))
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
            for (const std::string& part : SplitPath(subKey))
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
            const Root* root = FindRoot(key);
            if (root == nullptr)
                return ERROR_INVALID_HANDLE;
            LoadKey(root->name, rootKey);
            source = &rootKey;
        }
        auto it = source->values.find(Lower(valueName != nullptr ? valueName : ""));
        if (it == source->values.end())
            return ERROR_FILE_NOT_FOUND;
        const Value& value = it->second;
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
    if (FindRoot(key) != nullptr)
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
