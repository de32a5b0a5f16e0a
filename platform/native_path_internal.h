#pragma once

#include <cstddef>
#include <cstdio>

// Paths reach the library in the host's notation ("c:\userroot\devq\plotter\", "C:\plotque.que")
// as well as natively. Every file the dispatch and queue code opens goes through here, so a
// drive-letter path lands in the same folder whichever of them opens it. On Windows the host's
// notation is the native one: NativePath copies every path unchanged, and MakeDirectories leaves
// drive and share roots alone. Written once (platform/native_path.cpp, regular_file.cpp,
// output_file.cpp) over the primitives of platform/os_internal.h.

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

/// Opens `hostPath` for binary reading without waiting on it: a named pipe with no writer or
/// a device does not block the call. Only a regular file is kept open: the stream, with the
/// file's size in `*size`. Otherwise null, with `*notRegular` true when the path names
/// something that is not a regular file (a folder, a pipe, a device) and errno set.
std::FILE* OpenInputFile(const char* hostPath, bool* notRegular, long long* size);

/// An output being written. A regular file (or a path where nothing is yet) is written under
/// a temporary name in the destination's folder and takes the destination's place only in
/// CommitOutputFile, so a failed copy leaves the old destination as it was and no partial
/// file. Anything else (a device, a named pipe) is written in place.
struct OutputFile
{
    std::FILE* stream = nullptr;
    /// True when `stream` writes `temporaryPath`, to be renamed to `finalPath`.
    bool replaces = false;
    char temporaryPath[kNativePathSize] = {};
    char finalPath[kNativePathSize] = {};
};

/// Opens `hostPath` as an output for a copy of the file that `input` has open. Refused (false,
/// errno EEXIST) when it is that very file, reached by the same path or any other (a second
/// link, a symbolic link); the file is left untouched. A named pipe is opened without waiting
/// for a reader: with none, the open fails (errno ENXIO). False, with errno set, when the
/// output cannot be opened.
bool OpenOutputFile(const char* hostPath, std::FILE* input, OutputFile* output);

/// Closes the output and, for a replacing one, renames it over the destination. 0 when the
/// destination now holds everything written; otherwise an errno value, the temporary file is
/// gone and the destination is as it was.
int CommitOutputFile(OutputFile* output);

/// Closes the output and removes its temporary file; the destination is as it was.
void DiscardOutputFile(OutputFile* output);

/// Writes `FOLDER.NAME.XXXXXXXX` for the destination `finalPath` (FOLDER up to and including
/// its last separator, or its root) into `path`: the hidden temporary name a replacing output
/// is written under, with a fresh suffix each call. A long NAME is cut so the result stays a
/// legal file name. False when it does not fit.
bool TemporaryPathFor(const char* finalPath, char (&path)[kNativePathSize]);

/// True when the descriptor `fd` and the stream `file` are open on the same file.
bool SameOpenFile(int fd, std::FILE* file);

/// Creates the folder that holds the native path `nativeFile`, with every missing parent.
/// True when it exists afterwards (a path without a folder part has one: the current folder).
bool MakeParentDirectories(const char* nativeFile);

/// Creates `nativeDir` and every missing parent (mode 0777 less the umask). True when the
/// directory exists afterwards.
bool MakeDirectories(const char* nativeDir);

/// The part of NativePath for a path that needs no mapping: copies `hostPath` into `out`
/// (`outSize` bytes, NUL included) as it is. False, with `out` empty where it has room, when
/// `hostPath` is null or does not fit.
bool CopyPathUnchanged(const char* hostPath, char* out, std::size_t outSize);

} // namespace genplot::detail
