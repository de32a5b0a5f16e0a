#pragma once

// The read-only registry vocabulary the library is written against. On Windows these are the
// real Win32 declarations; elsewhere the same names are served from a text file in the format
// that regedit exports (see platform/posix/registry.cpp for where the file is looked up).

#include "platform/export.h"

#include <cstdint>

namespace genplot
{

/// Largest registry file read, in bytes (16 MiB); a larger file counts as no file.
inline constexpr std::uint64_t kMaxRegistryFileSize = std::uint64_t{16} << 20;

/// Names the registry file (a native path, regedit format) this process reads its settings
/// from, in place of $GENPLOT_REGISTRY and the configuration folders; null or empty goes back
/// to those. The file is checked now and read again at every open of a key. Returns false,
/// with errno set and the choice unchanged, when the file cannot serve: the errno of a failed
/// open, EINVAL when it is not a regular file (a folder, a named pipe, a device), EFBIG when it
/// is larger than kMaxRegistryFileSize. On Windows, where settings come from the system
/// registry, it changes nothing and returns false with errno ENOSYS.
GENPLOT_API bool UseRegistryFile(const char* path);

} // namespace genplot

#if defined(_WIN32)

// RegOpenKeyExA, RegQueryValueExA and RegCloseKey are advapi32's own.
#include "platform/win_types.h"

#else

#include "platform/win_types.h"

/// Handle to an open registry key, or one of the predefined root keys below.
typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;
/// Access rights asked for when opening a key; only read access exists here.
typedef DWORD REGSAM;
typedef const char* LPCSTR;
typedef DWORD* LPDWORD;
typedef BYTE* LPBYTE;

// Predefined roots, with the Win32 values (sign-extended on 64-bit targets, as on Windows).
#define HKEY_CLASSES_ROOT ((HKEY)(std::intptr_t)(LONG)0x80000000)
#define HKEY_CURRENT_USER ((HKEY)(std::intptr_t)(LONG)0x80000001)
#define HKEY_LOCAL_MACHINE ((HKEY)(std::intptr_t)(LONG)0x80000002)
#define HKEY_USERS ((HKEY)(std::intptr_t)(LONG)0x80000003)
#define HKEY_CURRENT_CONFIG ((HKEY)(std::intptr_t)(LONG)0x80000005)

// Access rights. Every right is granted: the back end only reads.
#define KEY_QUERY_VALUE 0x0001
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_READ 0x20019

// Value types, as stored in the file and reported by RegQueryValueExA.
#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_DWORD_BIG_ENDIAN 5
#define REG_LINK 6
#define REG_MULTI_SZ 7
#define REG_QWORD 11

// Results (Win32 system error codes).
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_MORE_DATA 234L

/// Opens `subKey` (backslash-separated, case-insensitive; null or empty: `key` itself) below
/// an open or predefined `key`. On success stores a handle the caller must close with
/// RegCloseKey. ERROR_FILE_NOT_FOUND when no such key exists, ERROR_BAD_PATHNAME when
/// `subKey` starts with a backslash. `options` and `access` are accepted and ignored.
GENPLOT_API LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);

/// Reads the value `valueName` (null or empty: the key's default value) of `key`. Stores the
/// type through `type` when not null. With `data` null, only the size in bytes is stored
/// through `dataSize`; otherwise `*dataSize` is the buffer size on entry and the number of
/// bytes stored on return, and ERROR_MORE_DATA (with the needed size) when it is too small.
/// Bytes come back as stored: text with its terminating NUL, a dword as 4 little-endian bytes.
/// `reserved` must be null.
GENPLOT_API LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                                  LPBYTE data, LPDWORD dataSize);

/// Closes a handle from RegOpenKeyExA; closing a predefined root does nothing.
/// @warning A handle must be closed exactly once, and not used after it is closed.
GENPLOT_API LONG RegCloseKey(HKEY key);

#endif
