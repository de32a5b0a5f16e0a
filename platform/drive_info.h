#pragma once

#include "platform/export.h"

/// Size of each of the two text buffers of cc_get_driveinfo, NUL included.
inline constexpr int kDriveInfoTextSize = 8;

/// Reports the plotter drive's queue settings. Every pointer may be null; what it would
/// receive is then skipped.
///
/// - `driveLetter` receives 'C', the drive that holds the plotter queue directory.
/// - `queueFlag` receives the integer in `GENPLOT_QUEUE_FLAG`: 0 when the variable is unset,
///   empty or not a whole number; a number outside 0..255 gives 1, so a non-zero setting
///   never reads as 0.
/// - `volumeText` (8 bytes) receives an empty text; it is reserved.
/// - `queueFile` (8 bytes) receives the text of `GENPLOT_QUEUE_FILE`, NUL-terminated: empty
///   when unset. A value longer than 7 characters does not fit; it is not cut (a shortened
///   path would name another file) but reported as an empty text.
///
/// On Windows both variables are read from the process environment (GetEnvironmentVariableA),
/// so a value the host sets with SetEnvironmentVariableA counts.
///
/// @return 0, or -1 when one of the two variables is set to a value that was ignored.
GENPLOT_API int cc_get_driveinfo(char* driveLetter, unsigned char* queueFlag, char* volumeText,
                                 char* queueFile);
