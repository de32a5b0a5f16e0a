#pragma once

#include "platform/cstring.h"
#include "platform/export.h"
#include "platform/progress_ctrl.h"

// Recognising and delivering generic plot files. Every outcome of a delivery is one message
// of the library's string table, loaded into the caller's string:
//
//   0   "no error."                           delivered: the destination, or the copy in the
//                                             queue directory and its queue record, is complete
//   200 "unable to open generic plot file."   the input cannot be opened for reading
//   201 "unable to open output file."         the destination cannot be opened or is the input
//                                             itself (by any path), a named pipe given as the
//                                             destination has no reader, or the unique file in
//                                             the queue directory cannot be created
//   202 "not enough memory to process file."  no memory for the queue client
//   203 "unable to process generic plot file." reading, writing, flushing, closing or renaming
//                                             the copy failed, or the input changed size while
//                                             it was copied; nothing partial is left (the old
//                                             destination is as it was)
//   204 "plot queue failed to respond.  Check installation."
//                                             the queue file cannot be opened, is not a queue
//                                             (not a regular file, or not a whole number of
//                                             134-byte records), is the input itself, or the
//                                             record could not be appended in full; the copy
//                                             stays in the queue directory, no record names it
//   205 "processing of generic plot file aborted."  never produced
//   206 "not a valid generic plot file."      the input is not a regular file, does not start
//                                             with a plot file header, or is not complete (a
//                                             cancelled write, a header never patched, no end
//                                             record where the header says the file ends)

/// 1 when the file at `path` is a regular file that can be opened for reading and starts with
/// a generic plot file header record (type 0xEFBE and the magic "GENPTV1"), else 0. Only the
/// first record is looked at: a cancelled or cut-short file passes. A drive-letter path maps
/// to the drive's folder. A named pipe or a device is refused without waiting on it. The file
/// is closed again before the call returns.
GENPLOT_API int IsGenericPlotFile(CString& path);

/// Delivers the generic plot file at `inputPath`. With `toQueue` 0 it is copied byte for byte
/// to the path `destination`; with `toQueue` non-zero it is copied under a new unique name into
/// the plotter queue directory "c:\userroot\devq\plotter\" and submitted to the plotter queue,
/// for which `destination` may name the queue file.
///
/// Only a complete plot file in a regular file is delivered (206 otherwise, before anything is
/// copied). A regular-file destination is written under a temporary name beside it and takes
/// its place only when the copy is complete; a device or a named pipe is written in place.
///
/// `progress` (may be null; not owned) gets the range 0..100 and the copy's progress in percent.
/// `message` receives the text of the outcome in every case (the table above): "no error." on
/// success. A copy in the queue directory that was not submitted (204) stays there. Runs on
/// the calling thread; the copy cannot be cancelled.
/// @return 1 when the file was delivered, else 0.
GENPLOT_API int SendGenericPlot(CString& inputPath, CString& destination, CString& message,
                                CProgressCtrl* progress, int toQueue);

/// How DeliverGenericPlot sends a plot.
enum PlotDeliveryMode : int
{
    /// Copied to the path `target`: SendGenericPlot with `toQueue` 0.
    kDeliverToPath = 0,
    /// Into the plotter queue, `target` taking part in the choice of the queue file as the
    /// destination of SendGenericPlot with `toQueue` non-zero does.
    kDeliverToQueue = 1,
    /// Into the plotter queue, submitted to the queue file `target` as given, whatever the
    /// drive information says; an empty `target` gives the choice made for no destination.
    kDeliverToQueueFile = 2,
};

/// What DeliverGenericPlot did, in more detail than its message.
struct GENPLOT_API CPlotDelivery
{
    /// The message number of the outcome: 0, or 200 to 206 (the table above).
    int messageId = 0;
    /// The errno value of the system call behind a failure where there was one, else 0.
    int systemError = 0;
    /// The destination path, or the queue file that was chosen (host notation).
    CString target;
    /// The name of the copy in the plotter queue directory; empty when none was made, or when
    /// a failed copy was removed again.
    CString spooledName;
};

/// SendGenericPlot with the choice of `mode` (a PlotDeliveryMode) and an account of where the
/// plot went or where it stopped in `delivery` (may be null). Same messages and result.
GENPLOT_API int DeliverGenericPlot(CString& inputPath, const CString& target, int mode,
                                   CString& message, CProgressCtrl* progress,
                                   CPlotDelivery* delivery);
