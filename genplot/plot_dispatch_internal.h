#pragma once

#include "platform/cstring.h"
#include "platform/progress_ctrl.h"

#include <cstddef>
#include <cstdio>

namespace genplot::detail
{

/// Message numbers of the library's string table that dispatch reports.
enum DispatchMessage : unsigned
{
    kDispatchNoError = 0,
    kDispatchCannotOpenInput = 200,
    kDispatchCannotOpenOutput = 201,
    kDispatchNoMemory = 202,
    kDispatchCopyFailed = 203,
    kDispatchQueueNotResponding = 204,
    kDispatchAborted = 205,
    kDispatchNotAPlotFile = 206,
};

/// The plotter queue directory, in host notation.
inline constexpr char kPlotQueueDirectory[] = "c:\\userroot\\devq\\plotter\\";
/// The queue file used when no other choice applies, in host notation.
inline constexpr char kDefaultPlotQueueFile[] = "C:\\plotque.que";

/// What the drive-letter answer of cc_get_driveinfo starts as (the answer is not used): a
/// character no drive letter can be, so it never reads as a drive.
inline constexpr char kNoDriveLetter = '!';

/// Bytes moved per read and write of the copy.
inline constexpr std::size_t kCopyBlockSize = 4096;
/// Longest queue file path, in characters, that the queue client is given.
inline constexpr std::size_t kQueueFilePathMax = 127;

/// 1 when `input`, open for binary reading at its start, begins with a whole header record
/// of type 0xEFBE whose body starts with the magic; else 0. The record's length field and
/// everything after the magic are not examined. Leaves `input` positioned at its start.
int CheckPlotFileHeader(std::FILE* input);

/// Whether `input`, a regular file of `size` bytes that passed CheckPlotFileHeader, is a
/// complete plot file: its header in the final state (the piece table's offset set), every
/// piece-table entry pointing into the file, and the end record exactly where the header's
/// counts and offsets say the file ends, as its last four bytes. A cancelled write fails this.
/// @return 1 complete, 0 not complete, -1 when reading failed. Leaves `input` at its start.
int CheckPlotFileComplete(std::FILE* input, long long size);

/// Copies all of `input` from its start to `output` in kCopyBlockSize blocks. With a
/// `progress` control it sets position 0, then after each block the bytes read so far divided
/// by one hundredth of the input's size (sent as computed, even above 100), and finally 100.
/// @return 0 when every byte was read and written, kDispatchCopyFailed when a write fell
/// short, reading failed before the end of the input, or the bytes copied differ from the
/// input's size measured at the start (the file changed during the copy).
int CopyPlotFile(std::FILE* input, std::FILE* output, CProgressCtrl* progress);

/// The queue file for `destination` by the drive's flag and text: `destination` when the flag
/// is set, or when the drive names a queue file of its own; else the drive's text when the flag
/// is set; else, and whenever the choice comes out empty, kDefaultPlotQueueFile. The result
/// points into one of the arguments or is kDefaultPlotQueueFile.
const char* ChooseQueueFile(unsigned char queueFlag, const CString& destination,
                            const char* driveText);

/// Writes the base name of `path` (no drive, no directories, no extension; `\` and `/` both
/// separate directories, the extension starts at the last '.') into `out`, cut to fit
/// `outSize` bytes with its NUL.
void SplitBaseName(const char* path, char* out, std::size_t outSize);

} // namespace genplot::detail
