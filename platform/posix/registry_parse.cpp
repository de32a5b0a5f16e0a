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
// Malformed lines are skipped, as if they were not there: a reader of settings falls back to its
// defaults for a value it cannot see.

#include "platform/posix/registry_file_internal.h"

#include <cstdint>
#include <cstring>
#include <utility>

namespace genplot::detail
{
namespace
{

const RegistryRoot kRoots[] = {
    {HKEY_CLASSES_ROOT, "hkey_classes_root", "hkcr"},
    {HKEY_CURRENT_USER, "hkey_current_user", "hkcu"},
    {HKEY_LOCAL_MACHINE, "hkey_local_machine", "hklm"},
    {HKEY_USERS, "hkey_users", "hku"},
    {HKEY_CURRENT_CONFIG, "hkey_current_config", "hkcc"},
};

const RegistryRoot* FindRootByName(const std::string& lowerName)
{
    for (const RegistryRoot& root : kRoots)
    {
        if (lowerName == root.name || lowerName == root.shortName)
            return &root;
    }
    return nullptr;
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

// ---- Parsing ------------------------------------------------------------------------------

std::string Trim(const std::string& text)
{
    std::size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
        return std::string();
    std::size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

// "hkey_local_machine\software\..." for a section's text, or empty for an unknown root.
std::string CanonicalSection(const std::string& text)
{
    std::vector<std::string> parts = SplitKeyPath(text);
    if (parts.empty())
        return std::string();
    const RegistryRoot* root = FindRootByName(parts[0]);
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
    return text.size() - pos >= length && LowerAscii(text.substr(pos, length)) == prefix;
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
bool ParseData(const std::string& data, RegistryValue& value)
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

void DeleteTree(RegistryContents& registry, const std::string& path)
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

void ParseValueLine(const std::string& line, RegistryValueMap& values)
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
    std::string key = LowerAscii(name);
    if (data == "-")
    {
        values.erase(key);
        return;
    }
    RegistryValue value;
    if (ParseData(data, value))
        values[key] = std::move(value);
}

} // namespace

std::string LowerAscii(std::string text)
{
    for (char& c : text)
    {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

const RegistryRoot* FindRegistryRoot(HKEY key)
{
    for (const RegistryRoot& root : kRoots)
    {
        if (root.handle == key)
            return &root;
    }
    return nullptr;
}

std::string DecodeRegistryText(const std::string& raw)
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

std::vector<std::string> SplitKeyPath(const std::string& path)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size())
    {
        std::size_t end = path.find('\\', start);
        if (end == std::string::npos)
            end = path.size();
        if (end > start)
            parts.push_back(LowerAscii(path.substr(start, end - start)));
        start = end + 1;
    }
    return parts;
}

bool RegistryContents::Exists(const std::string& path) const
{
    if (keys.count(path) != 0)
        return true;
    // A key named only as the parent of a section exists too, as after an import. Keys below
    // `path` sort together, from the first one that starts with `path\`.
    std::string below = path + '\\';
    auto it = keys.lower_bound(below);
    return it != keys.end() && it->first.compare(0, below.size(), below) == 0;
}

RegistryContents ParseRegistry(const std::string& text)
{
    RegistryContents registry;
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

    RegistryValueMap* section = nullptr;
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

} // namespace genplot::detail
