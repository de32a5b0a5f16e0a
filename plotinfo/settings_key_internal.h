#pragma once

#include "platform/cstring.h"
#include "platform/registry.h"

/// A small read-only reader of one registry key and, optionally, one subkey below it.
/// Closes whatever it opened when destroyed.
class CSettingsKey
{
  public:
    /// Keeps the root and the path; opens nothing yet.
    CSettingsKey(HKEY root, const char* path);
    ~CSettingsKey();
    CSettingsKey(const CSettingsKey&) = delete;
    CSettingsKey& operator=(const CSettingsKey&) = delete;

    /// Opens `keyPath` below `rootKey` and then `subKey` below it (null: the key itself),
    /// closing any key opened before. 1 on success, else 0 with no key open.
    int Open(const char* subKey);
    /// Reads the value's bytes into `buffer` (`size` bytes). 1 on success, else 0; a value
    /// that does not fit counts as missing. `returned`, when not null, gets the byte count.
    int QueryValue(const char* valueName, void* buffer, DWORD size, DWORD* returned = nullptr);
    /// Reads the value as text (at most 256 bytes with its NUL, up to its first NUL) into
    /// `value` and gives 1; else `value` takes `defaultText` (null: empty) and the result is 0.
    /// May throw CMemoryException* while building the string.
    int GetString(const char* valueName, CString& value, const char* defaultText);

    /// The open key, or the all-bits-set handle when none is.
    HKEY openKey;
    HKEY rootKey;
    CString keyPath;

  private:
    void Close();
};
