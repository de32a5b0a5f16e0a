#pragma once

#include "platform/registry.h"

#include <map>
#include <string>
#include <vector>

// The registry file's contents as the key API (platform/posix/registry.cpp) reads them, and the
// parser that makes them from a file in the format regedit exports
// (platform/posix/registry_parse.cpp).

namespace genplot::detail
{

/// One value: its type and its bytes as stored (text with its NUL, a dword little-endian).
struct RegistryValue
{
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
};

/// Values by lower-case name; the default value ("@") has the empty name.
using RegistryValueMap = std::map<std::string, RegistryValue>;

/// The whole file as keys (lower-case paths joined by backslashes, starting with the root's
/// canonical name) with their values, after deletions.
struct RegistryContents
{
    std::map<std::string, RegistryValueMap> keys;

    /// True when `path` is a key of the file: a section, or the parent of one.
    bool Exists(const std::string& path) const;
};

/// A predefined root key.
struct RegistryRoot
{
    HKEY handle;
    const char* name; ///< canonical lower-case name, used as the first path component
    const char* shortName;
};

/// The root whose handle is `key`; null when it is none.
const RegistryRoot* FindRegistryRoot(HKEY key);

/// `text` with ASCII letters lower-cased: key and value names compare without regard to case,
/// as on Windows.
std::string LowerAscii(std::string text);

/// Splits a key path at backslashes, dropping empty components, lower-cased.
std::vector<std::string> SplitKeyPath(const std::string& path);

/// The text of a registry file's bytes: UTF-16LE with a byte order mark (as regedit writes
/// version 5 files) becomes UTF-8, a UTF-8 byte order mark is dropped, anything else is kept.
std::string DecodeRegistryText(const std::string& raw);

/// Parses decoded file text. No keys when the first line is not a regedit header; malformed
/// lines are skipped.
RegistryContents ParseRegistry(const std::string& text);

} // namespace genplot::detail
