#pragma once

#include "platform/cstring.h"
#include "platform/export.h"
#include "platform/progress_ctrl.h"

/// 1 when the file at `path` can be opened for reading and starts with a generic plot file
/// header record (type 0xEFBE and the magic "GENPTV1"), else 0. A drive-letter path maps to
/// the drive's folder. The file is closed again before the call returns.
GENPLOT_API int IsGenericPlotFile(CString& path);

/// Delivers the generic plot file at `inputPath`. With `toQueue` 0 it is copied byte for byte
/// to the path `destination`; with `toQueue` non-zero it is copied under a new unique name into
/// the plotter queue directory "c:\userroot\devq\plotter\" and submitted to the plotter queue,
/// for which `destination` may name the queue file.
///
/// `progress` (may be null; not owned) gets the range 0..100 and the copy's progress in percent.
/// `message` receives the text of the outcome in every case: "no error." on success.
/// Files already written stay where they are on failure. Runs on the calling thread; the copy
/// cannot be cancelled.
/// @return 1 when the file was delivered, else 0.
/// @warning A destination that is the input file itself, by any path, is refused ("unable to
/// open output file."); the input is never opened for writing.
GENPLOT_API int SendGenericPlot(CString& inputPath, CString& destination, CString& message,
                                CProgressCtrl* progress, int toQueue);
