#pragma once

#include <cstddef>
#include <cstdio>

// Paths reach the library in the host's notation ("c:\userroot\devq\plotter\", "C:\plotque.que")
// as well as natively. Every file the dispatch and queue code opens goes through here, so a
// drive-letter path lands in the same folder whichever of them opens it. On Windows the host's
// notation is the native one: NativePath copies every path unchanged, OpenOutputFile tells files
// apart by volume serial number and file index, and MakeDirectories leaves drive and share
// roots alone (platform/win32/native_path.cpp).

namespace genplot::detail
{

/// Longest native path, NUL included, that the mapping produces.
inline constexpr std::size_t kNativePathSize = 4096;

/// Writes the native spelling of `hostPath` into `out` (`outSize` bytes, NUL included).
/// A path starting with a drive letter and a colon, in either case, becomes the drive's folder
/// (`$GENPLOT_DRIVE_C` for C, else `$XDG_DATA_HOME/genplot/drive_c`, else
/// `~/.local/share/genplot/drive_c`) followed by the rest with every `\` turned into `/`.
/// Any other path is copied unchanged. False, with `out` empty, when `hostPath` is null, no
/// drive folder can be determined, or the result does not fit.
bool NativePath(const char* hostPath, char* out, std::size_t outSize);

/// `std::fopen` on the native spelling of `hostPath`; null when it cannot be mapped or opened.
std::FILE* OpenHostFile(const char* hostPath, const char* mode);

/// Opens `hostPath` for binary writing ("wb": created, or emptied when it exists) unless it is
/// the very file that `input` has open, reached by the same path or any other (a second link,
/// a symbolic link): then it returns null and leaves the file untouched. Null as well when the
/// file cannot be opened.
std::FILE* OpenOutputFile(const char* hostPath, std::FILE* input);

/// Creates `nativeDir` and every missing parent (mode 0777 less the umask). True when the
/// directory exists afterwards.
bool MakeDirectories(const char* nativeDir);

/// The part of NativePath for a path that needs no mapping: copies `hostPath` into `out`
/// (`outSize` bytes, NUL included) as it is. False, with `out` empty where it has room, when
/// `hostPath` is null or does not fit.
bool CopyPathUnchanged(const char* hostPath, char* out, std::size_t outSize);

/// Copies `nativeDir` into `path` for MakeDirectories to cut at each separator, and sets
/// `*length` to its length. False when `nativeDir` is null, empty or does not fit.
bool CopyDirectoryPath(const char* nativeDir, char (&path)[kNativePathSize], std::size_t* length);

} // namespace genplot::detail
