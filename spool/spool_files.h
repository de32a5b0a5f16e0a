#pragma once

#include <string>

// File-system helpers of the spooler: where the queue's files lie and durable writes.

namespace genplot::spool
{

/// The native spelling of a host path: "c:\..." (any drive letter, either case) lies in
/// $GENPLOT_DRIVE_C (else $XDG_DATA_HOME/genplot/drive_c, else
/// ~/.local/share/genplot/drive_c), with "\" turned into "/"; other paths are native already.
/// Empty when the drive's folder cannot be told.
std::string NativeQueuePath(const std::string& host);

/// The native folder the plotter queue keeps its plot files in.
std::string QueueDirectory();

/// The spooler's journal beside the native queue file `queueFile`.
std::string JournalPath(const std::string& queueFile);

/// The folder beside the native queue file `queueFile` that damaged plots are moved to.
std::string RejectedDirectory(const std::string& queueFile);

/// The folder part of a native path ("." when it has none).
std::string ParentDirectory(const std::string& path);

/// Flushes the folder `directory` to disk, so a file created, renamed or removed in it
/// survives a crash. False, with errno set, when it cannot be opened or flushed.
bool SyncDirectory(const std::string& directory);

/// Moves the file `from` into the folder `toDirectory` (made when missing) under its own
/// name, or under that name with a suffix when one is there already; the folders are flushed.
/// Across file systems the file is copied, flushed and then removed. False with `error` set.
bool MoveIntoDirectory(const std::string& from, const std::string& toDirectory, std::string& error);

/// True when `name` can only name a file directly inside a folder: not empty, no separator,
/// not "." or "..".
bool IsPlainFileName(const std::string& name);

} // namespace genplot::spool
