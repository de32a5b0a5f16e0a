#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Reading the submissions of a plotter queue file. Clients append whole 134-byte records under
// their lock while the spooler reads, and never rewrite one, so a record is known by its
// number (1 for the first) and the reader takes only the whole records that are there.

namespace genplot::spool
{

/// One submission, as the queue file holds it.
struct QueueRecord
{
    /// Position in the queue file, 1 for the first record.
    std::uint64_t number = 0;
    /// Name of the plot file in the queue directory (printable characters only; others as '?').
    std::string fileName;
    /// The plot's name, for the job (printable characters only; others as '?').
    std::string baseName;
    /// The media kind byte (4: a generic plot file).
    unsigned mediaKind = 0;
    /// Copies to print.
    unsigned copies = 0;
    /// True when the file name field held a byte that is not printable: such a record names
    /// no file of the queue directory.
    bool nameMangled = false;
};

/// Reads the whole records of the native queue file `path` from record number `first` on
/// (at most `limit` of them) into `records`, replacing its contents. A missing queue file has
/// no records. False with `error` set when the file cannot be read.
bool ReadQueueRecords(const std::string& path, std::uint64_t first, std::size_t limit,
                      std::vector<QueueRecord>& records, std::string& error);

/// Decodes one stored 134-byte record.
QueueRecord DecodeQueueRecord(const unsigned char* bytes, std::uint64_t number);

} // namespace genplot::spool
