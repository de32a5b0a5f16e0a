#include "plotinfo/settings_key_internal.h"

#include <cstdint>
#include <cstring>

namespace
{

HKEY NoKey()
{
    return reinterpret_cast<HKEY>(static_cast<std::intptr_t>(-1));
}

} // namespace

CSettingsKey::CSettingsKey(HKEY root, const char* path)
    : openKey(NoKey()), rootKey(root), keyPath(path)
{
}

CSettingsKey::~CSettingsKey()
{
    Close();
}

void CSettingsKey::Close()
{
    if (openKey != NoKey())
    {
        RegCloseKey(openKey);
        openKey = NoKey();
    }
}

int CSettingsKey::Open(const char* subKey)
{
    Close();
    HKEY key = nullptr;
    if (RegOpenKeyExA(rootKey, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    if (subKey == nullptr)
    {
        openKey = key;
        return 1;
    }
    HKEY sub = nullptr;
    LONG result = RegOpenKeyExA(key, subKey, 0, KEY_READ, &sub);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return 0;
    openKey = sub;
    return 1;
}

int CSettingsKey::QueryValue(const char* valueName, void* buffer, DWORD size, DWORD* returned)
{
    if (openKey == NoKey())
        return 0;
    DWORD got = size;
    if (RegQueryValueExA(openKey, valueName, nullptr, nullptr, static_cast<BYTE*>(buffer), &got) !=
        ERROR_SUCCESS)
        return 0;
    if (returned != nullptr)
        *returned = got;
    return 1;
}

int CSettingsKey::GetString(const char* valueName, CString& value, const char* defaultText)
{
    char buffer[256] = {};
    DWORD got = 0;
    if (QueryValue(valueName, buffer, sizeof buffer, &got))
    {
        // Whatever the value's type, its bytes are taken as text up to the first NUL.
        std::size_t length = 0;
        while (length < got && buffer[length] != '\0')
            ++length;
        value = CString(buffer, static_cast<int>(length));
        return 1;
    }
    value = defaultText != nullptr ? defaultText : "";
    return 0;
}
