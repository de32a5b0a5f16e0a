#include "spool/queue_records.h"

#include "platform/plot_queue.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace genplot::spool
{
namespace
{

// A fixed text field up to its NUL, within `width`; bytes outside printable ASCII become '?'.
std::string Field(const unsigned char* field, std::size_t width, bool* mangled)
{
    std::string text;
    for (std::size_t i = 0; i < width && field[i] != 0; ++i)
    {
        const unsigned char c = field[i];
        const bool printable = c >= 0x20 && c < 0x7F;
        if (!printable && mangled != nullptr)
            *mangled = true;
        text += printable ? static_cast<char>(c) : '?';
    }
    return text;
}

} // namespace

QueueRecord DecodeQueueRecord(const unsigned char* bytes, std::uint64_t number)
{
    QueueRecord record;
    record.number = number;
    record.fileName = Field(bytes + 0, kQueueFileNameMax + 1, &record.nameMangled);
    record.baseName = Field(bytes + 22, kQueueBaseNameMax + 1, nullptr);
    record.mediaKind = bytes[49];
    record.copies = bytes[64];
    return record;
}

bool ReadQueueRecords(const std::string& path, std::uint64_t first, std::size_t limit,
                      std::vector<QueueRecord>& records, std::string& error)
{
    records.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
    {
        if (errno == ENOENT)
            return true;
        error = "cannot open queue file " + path + ": " + std::strerror(errno);
        return false;
    }
    std::uint64_t number = first == 0 ? 1 : first;
    off_t offset = static_cast<off_t>((number - 1) * kQueueRecordSize);
    unsigned char bytes[kQueueRecordSize * 64];
    bool ok = true;
    while (records.size() < limit)
    {
        const std::size_t wanted =
            std::min(sizeof bytes, (limit - records.size()) * kQueueRecordSize);
        const ssize_t got = pread(fd, bytes, wanted, offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
        {
            error = "cannot read queue file " + path + ": " + std::strerror(errno);
            ok = false;
            break;
        }
        // A record still being appended shows as a partial one at the end: it is taken on
        // the next read, once it is whole.
        const std::size_t whole = static_cast<std::size_t>(got) / kQueueRecordSize;
        for (std::size_t i = 0; i < whole; ++i)
            records.push_back(DecodeQueueRecord(bytes + i * kQueueRecordSize, number++));
        if (whole == 0)
            break;
        offset += static_cast<off_t>(whole * kQueueRecordSize);
    }
    close(fd);
    return ok;
}

} // namespace genplot::spool
