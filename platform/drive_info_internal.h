#pragma once

#include <cstddef>

// cc_get_driveinfo reads the same two settings on every platform; only how a variable is read
// differs (platform/posix/drive_info.cpp, platform/win32/drive_info.cpp). The back end supplies
// ReadQueueFlag and ReadQueueFile; the rest is shared (platform/drive_info_common.cpp).

namespace genplot::detail
{

/// Reads GENPLOT_QUEUE_FLAG into `*flag` (0 when unset or empty); false when it is set but not a
/// whole number. Supplied by the back end.
bool ReadQueueFlag(unsigned char* flag);

/// Copies GENPLOT_QUEUE_FILE into `out` (empty when unset); false when it is too long to be
/// given whole. Supplied by the back end.
bool ReadQueueFile(char* out);

/// Parses a GENPLOT_QUEUE_FLAG value (null: not set) into `*flag`, which is 0 when the text is
/// null or empty and 1 when the number is outside 0..255; false when the text is not a whole
/// number.
bool ParseQueueFlag(const char* text, unsigned char* flag);

/// Copies a GENPLOT_QUEUE_FILE value of `length` characters (null: not set) into `out`, which
/// is left empty when the text is null; false when it does not fit kDriveInfoTextSize bytes.
bool CopyQueueFile(const char* text, std::size_t length, char* out);

/// The body of cc_get_driveinfo: fills whichever outputs are given; 0 when every setting read
/// was usable, -1 otherwise.
int FillDriveInfo(char* driveLetter, unsigned char* queueFlag, char* volumeText, char* queueFile);

} // namespace genplot::detail
