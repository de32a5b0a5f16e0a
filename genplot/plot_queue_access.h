#pragma once

#include "platform/cstring.h"
#include "platform/export.h"
#include "platform/plot_queue.h"

#include <cstddef>

// The plotter queue as a host or a tool sees it: where the copies go, which queue file a
// delivery submits to, where a host path lies on this system, and what a queue file holds.

/// The plotter queue directory the copies are made in, in host notation:
/// "c:\userroot\devq\plotter\".
GENPLOT_API const char* GetPlotQueueDirectory();

/// The queue file used when no other choice applies, in host notation: "C:\plotque.que".
GENPLOT_API const char* GetDefaultPlotQueueFile();

/// Sets `queueFile` to the queue file SendGenericPlot (with `toQueue` non-zero) submits to for
/// `destination`, by the drive information in force now (GENPLOT_QUEUE_FLAG and
/// GENPLOT_QUEUE_FILE on POSIX). An empty `destination` gives the queue file of a send that
/// names none.
GENPLOT_API void ChoosePlotQueueFile(const CString& destination, CString& queueFile);

/// Sets `nativePath` to where the host path `hostPath` lies on this system: a drive-letter
/// path ("c:\..." ) maps to the drive's folder on POSIX ($GENPLOT_DRIVE_C, else
/// $XDG_DATA_HOME/genplot/drive_c, else ~/.local/share/genplot/drive_c); any other path, and
/// every path on Windows, is its own native path. @return 1, or 0 (and an empty `nativePath`)
/// when no folder can be found for the drive or the path is too long.
GENPLOT_API int GetNativePath(const CString& hostPath, CString& nativePath);

/// What ReadPlotQueue found.
enum PlotQueueState : int
{
    /// A queue file: every record was handed to the visitor.
    kPlotQueueRead = 0,
    /// The file cannot be opened for reading (`systemError` says why).
    kPlotQueueCannotOpen = 1,
    /// Not a regular file (a folder, a device, a named pipe).
    kPlotQueueNotRegular = 2,
    /// Its size is not a whole number of 134-byte records.
    kPlotQueuePartialRecord = 3,
    /// A record that is no submission: its file name is empty, unterminated, not printable or
    /// names a folder, or its plot name is unterminated (`badRecord` says which).
    kPlotQueueNotRecords = 4,
    /// Reading failed part way (`systemError` says why).
    kPlotQueueReadFailed = 5,
};

/// The account ReadPlotQueue gives of a queue file.
struct GENPLOT_API CPlotQueueReport
{
    /// A PlotQueueState.
    int state = kPlotQueueCannotOpen;
    /// The errno value behind kPlotQueueCannotOpen and kPlotQueueReadFailed, else 0.
    int systemError = 0;
    /// The file's size in bytes, when it could be opened.
    long long size = 0;
    /// The number of whole records in the file.
    std::size_t recordCount = 0;
    /// The number (from 1) of the first record that is no submission, else 0.
    std::size_t badRecord = 0;
};

/// Receives one record of a queue file; `number` counts from 1.
using PlotQueueVisitor = void (*)(const tag_ti_namelist_both& record, std::size_t number,
                                  void* context);

/// Reads the queue file `queueFile` (host notation). Every record is checked before any is
/// handed over, so `visit` (may be null) sees either all records of a sound queue file or
/// none. A named pipe or a device is refused without waiting on it; nothing is written.
/// @return the state, as also put in `report` (may be null).
GENPLOT_API int ReadPlotQueue(const CString& queueFile, PlotQueueVisitor visit, void* context,
                              CPlotQueueReport* report);
