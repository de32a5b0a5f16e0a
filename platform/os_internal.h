#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// The operating system as the rest of platform/ sees it: the few primitives in which POSIX and
// Win32 really differ, implemented once in platform/posix/ and once in platform/win32/. The
// queue client, the output and input files, the mapping of host paths and the drive
// information are written once above them.
//
// Files are C runtime descriptors on both systems, so a failure is an errno value on both.

namespace genplot::detail
{

// ---- Process --------------------------------------------------------------------------------

/// Reads the environment variable `name` into `value`. False, with `value` empty, when it is
/// not set (set to the empty text is set). On Windows this is the process environment, which a
/// host changes with SetEnvironmentVariableA (the C runtime's getenv keeps a copy taken at
/// start-up). Throws std::bad_alloc when the value cannot be copied.
bool ReadEnvironment(const char* name, std::string& value);

/// The user's home folder (an absolute path: $HOME or the password entry's on POSIX,
/// %USERPROFILE% on Windows), or empty when there is none to be had.
std::string HomeFolder();

/// Bits that differ from process to process and from moment to moment (process id, clock).
std::uint64_t ProcessAndClockBits();

/// Runs `prepare` before a fork in the forking thread, `parent` and `child` after it in each
/// process; nothing where processes do not fork.
void InstallForkHandlers(void (*prepare)(), void (*parent)(), void (*child)());

// ---- Paths ----------------------------------------------------------------------------------

/// True where a host path with a drive letter is already a native path (Windows); elsewhere
/// each drive letter stands for a folder (see NativePath).
bool DriveLettersAreNative();

/// True for a character that separates folders in a native path.
bool IsSeparator(char c);

/// The system's own folder separator, put between a folder and a name.
char PreferredSeparator();

/// Length of the start of the native `path` that names a root and cannot be created: "/" on
/// POSIX; "c:\", "c:", "\\server\share\", "\\?\c:\" or a leading "\" on Windows; 0 for a
/// relative path.
std::size_t RootLength(const char* path);

/// True when `text` can be used as (part of) a file name: it names no folder, and on Windows
/// no drive or stream either.
bool IsPlainName(const char* text);

/// Tries to create the folder `path` (its parent must exist). Whether it exists afterwards, made
/// here or before, is for the caller to check with IsFolder.
void MakeFolder(const char* path);

/// True when `path` names a folder.
bool IsFolder(const char* path);

/// Writes the path of the file `path` names, with symbolic links resolved, into `out`; on
/// Windows the path itself. False, with errno set, when it cannot be resolved or does not fit.
bool ResolvedPath(const char* path, char* out, std::size_t outSize);

/// Moves the file `from` over `to`, replacing a file there in one step. 0, or an errno value.
int RenameOver(const char* from, const char* to);

// ---- Descriptors ----------------------------------------------------------------------------

/// The identity of a file, whatever path names it: device and inode on POSIX; volume serial
/// number and file index on Windows (on ReFS the index is the low half of a 128-bit id, so two
/// files could in principle share one: that only makes a destination be refused, never lets
/// the input be emptied).
struct FileIdentity
{
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
};

/// True when `a` and `b` are the identity of one file. A file the system gives no identity
/// (all 0) is never the same as another.
inline bool SameFile(const FileIdentity& a, const FileIdentity& b)
{
    return (a.volume != 0 || a.index != 0) && a.volume == b.volume && a.index == b.index;
}

/// What the rest of the layer needs to know about a file.
struct FileFacts
{
    /// A regular file on a disk (not a folder, a device, a named pipe or a console).
    bool regular = false;
    std::uint64_t size = 0;
    /// All 0 where the system gives none (a device on Windows).
    FileIdentity identity;
    /// POSIX permission bits (0 on Windows), for a replacement to keep.
    unsigned permissions = 0;
};

/// Describes the file open on `fd`. False, with errno set, when the system cannot say.
bool DescribeOpenFile(int fd, FileFacts* facts);

/// Describes what the native `path` names, as a destination about to be written: 0, ENOENT when
/// nothing is there, else the errno of the look. Windows looks by opening the path for writing,
/// so there a file that cannot be written is refused here already.
int DescribeDestination(const char* path, FileFacts* facts);

/// Opens the native `path` for reading without waiting on it (a named pipe without a writer,
/// a device) and without making a terminal the controlling one: a descriptor that does not
/// block until EndNonBlocking, or -1 with errno set.
int OpenForReading(const char* path);

/// Opens the native `path` for writing in place, without waiting for a named pipe's reader
/// (none: -1 with errno ENXIO): a descriptor that does not block until EndNonBlocking.
int OpenForWritingInPlace(const char* path);

/// Opens the native `path` for appending only, created (empty) when missing if `create`,
/// without waiting on a named pipe: a descriptor that does not block until EndNonBlocking, or
/// -1 with errno set.
int OpenForAppending(const char* path, bool create);

/// How a file is opened: what an fopen mode asks for.
struct OpenMode
{
    bool read = false;
    bool write = false;
    bool append = false;
    /// Text translation (Windows only; "b" turns it off).
    bool text = true;
};

/// Creates the native `path`, which must not exist yet, and opens it as `mode` says: a
/// descriptor, or -1 with errno set, EEXIST whenever the name is taken (on Windows also by a
/// file still being deleted). With `like`, the new file takes its permissions.
int CreateExclusive(const char* path, const OpenMode& mode, const FileFacts* like = nullptr);

/// Makes reads and writes on `fd` wait again. False, with errno set, when it cannot.
bool EndNonBlocking(int fd);

/// A stream with fopen mode `mode` over `fd`, which it then owns; on failure `fd` is closed
/// and null returned with errno set.
std::FILE* StreamFromDescriptor(int fd, const char* mode);

/// The descriptor a stream reads or writes.
int DescriptorOf(std::FILE* stream);

/// Closes a descriptor.
void CloseDescriptor(int fd);

/// One write of up to `size` bytes: how many were written, or -1 with errno set (an
/// interrupted call is repeated, not reported).
long WriteSome(int fd, const unsigned char* bytes, std::size_t size);

/// Cuts the file open on `fd` back to `size` bytes. False, with errno set, when it cannot.
bool TruncateFile(int fd, std::uint64_t size);

/// Takes the lock that submitters to a queue file hold while they append (`exclusive`), or the
/// one under which its size is measured. Waits for it. 0, or an errno value. On Windows, whose
/// locks are mandatory, it is one byte far past any data, taken exclusively either way, so it
/// excludes submitters from each other and never fails a reader's ReadFile.
int LockQueueFile(int fd, bool exclusive);

/// Releases the lock LockQueueFile took.
void UnlockQueueFile(int fd);

} // namespace genplot::detail
