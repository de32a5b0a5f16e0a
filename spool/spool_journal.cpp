#include "spool/spool_journal.h"

#include "spool/spool_files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace genplot::spool
{
namespace
{

constexpr const char* kFirstLine = "genplot spool journal 1";
// A journal holds a few dozen bytes per submission; anything far larger is not ours.
constexpr off_t kMaxJournalSize = off_t{1} << 30;

bool IsFinished(SubmissionStage stage)
{
    return stage == SubmissionStage::Accepted || stage == SubmissionStage::Done ||
           stage == SubmissionStage::Rejected;
}

bool ReadWhole(int fd, std::string& text)
{
    struct stat info;
    if (fstat(fd, &info) != 0)
        return false;
    if (!S_ISREG(info.st_mode) || info.st_size > kMaxJournalSize)
    {
        errno = EINVAL;
        return false;
    }
    text.resize(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < text.size())
    {
        const ssize_t got = pread(fd, &text[done], text.size() - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    text.resize(done);
    return true;
}

} // namespace

SpoolJournal::~SpoolJournal()
{
    if (fd_ >= 0)
        close(fd_);
}

bool SpoolJournal::Parse(const std::string& text, std::size_t* usedLength, std::string& error)
{
    states_.clear();
    firstUnfinished_ = 1;
    std::size_t start = 0;
    bool first = true;
    while (start < text.size())
    {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            break; // cut short by a crash: never acted on
        const std::string line = text.substr(start, end - start);
        if (first)
        {
            if (line != kFirstLine)
            {
                error = "not a spooler journal";
                return false;
            }
            first = false;
        }
        else
        {
            Apply(line);
        }
        start = end + 1;
    }
    if (first && !text.empty() && text.find('\n') == std::string::npos &&
        std::string(kFirstLine).compare(0, text.size(), text) != 0)
    {
        error = "not a spooler journal";
        return false;
    }
    *usedLength = first ? 0 : start;
    return true;
}

void SpoolJournal::Apply(const std::string& line)
{
    std::istringstream in(line);
    std::string verb;
    std::uint64_t number = 0;
    if (!(in >> verb >> number) || number == 0)
        return;
    SubmissionState& state = states_[number];
    if (verb == "start")
    {
        if (!state.token.empty())
            state.earlierTokens.push_back(state.token);
        in >> state.token;
        state.stage = SubmissionStage::Starting;
        state.jobId = 0;
    }
    else if (verb == "job" || verb == "accepted" || verb == "done")
    {
        in >> state.jobId;
        if (verb == "done")
            in >> state.detail;
        state.stage = verb == "job"        ? SubmissionStage::JobHeld
                      : verb == "accepted" ? SubmissionStage::Accepted
                                           : SubmissionStage::Done;
    }
    else if (verb == "rejected")
    {
        std::getline(in >> std::ws, state.detail);
        state.stage = SubmissionStage::Rejected;
    }
    while (IsFinished(State(firstUnfinished_).stage))
        ++firstUnfinished_;
}

bool SpoolJournal::Load(const std::string& path, std::string& error)
{
    found_ = false;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
    {
        states_.clear();
        firstUnfinished_ = 1;
        if (errno == ENOENT)
            return true;
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string text;
    const bool read = ReadWhole(fd, text);
    const int saved = errno;
    close(fd);
    if (!read)
    {
        error = "cannot read " + path + ": " + std::strerror(saved);
        return false;
    }
    std::size_t used = 0;
    if (!Parse(text, &used, error))
    {
        error = path + ": " + error;
        return false;
    }
    found_ = true;
    return true;
}

bool SpoolJournal::Open(const std::string& path, std::string& error)
{
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    bool created = false;
    int journal = fd;
    if (fd < 0 && errno == ENOENT)
    {
        journal = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        created = journal >= 0;
    }
    if (journal < 0)
    {
        error = "cannot open journal " + path + ": " + std::strerror(errno);
        return false;
    }
    // One spooler to a queue: two would hand the same submission over twice.
    if (flock(journal, LOCK_EX | LOCK_NB) != 0)
    {
        error = errno == EWOULDBLOCK ? "another spooler serves this queue (" + path + " is locked)"
                                     : "cannot lock journal " + path + ": " + std::strerror(errno);
        close(journal);
        return false;
    }
    std::string text;
    std::size_t used = 0;
    if (!ReadWhole(journal, text))
    {
        error = "cannot read journal " + path + ": " + std::strerror(errno);
        close(journal);
        return false;
    }
    if (!Parse(text, &used, error))
    {
        error = path + ": " + error;
        close(journal);
        return false;
    }
    // The first line is written whole or is cut off here with whatever line a crash left
    // half-written, so every append starts on a line of its own.
    bool ok = true;
    if (used != text.size())
        ok = ftruncate(journal, static_cast<off_t>(used)) == 0 && fsync(journal) == 0;
    if (ok && used == 0)
    {
        const std::string first = std::string(kFirstLine) + "\n";
        ok = pwrite(journal, first.data(), first.size(), 0) == static_cast<ssize_t>(first.size()) &&
             fsync(journal) == 0;
    }
    if (ok && created)
        ok = SyncDirectory(ParentDirectory(path));
    if (!ok)
    {
        error = "cannot write journal " + path + ": " + std::strerror(errno);
        close(journal);
        return false;
    }
    if (lseek(journal, 0, SEEK_END) < 0)
    {
        error = "cannot write journal " + path + ": " + std::strerror(errno);
        close(journal);
        return false;
    }
    if (fd_ >= 0)
        close(fd_);
    fd_ = journal;
    found_ = true;
    return true;
}

bool SpoolJournal::Append(const std::string& line, std::string& error)
{
    const std::string bytes = line + "\n";
    const off_t before = lseek(fd_, 0, SEEK_END);
    std::size_t done = 0;
    while (before >= 0 && done < bytes.size())
    {
        const ssize_t written = write(fd_, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            break;
        done += static_cast<std::size_t>(written);
    }
    if (before < 0 || done != bytes.size() || fdatasync(fd_) != 0)
    {
        error = std::string("cannot write the journal: ") + std::strerror(errno != 0 ? errno : EIO);
        // A line half on disk would be read as cut short; take it off so the next append
        // does not run on from it.
        if (before >= 0 && ftruncate(fd_, before) == 0)
            fdatasync(fd_);
        return false;
    }
    Apply(line);
    return true;
}

SubmissionState SpoolJournal::State(std::uint64_t number) const
{
    const auto found = states_.find(number);
    return found == states_.end() ? SubmissionState{} : found->second;
}

std::uint64_t SpoolJournal::FirstUnfinished() const
{
    return firstUnfinished_;
}

std::string DescribeState(const SubmissionState& state)
{
    switch (state.stage)
    {
    case SubmissionStage::Pending:
        return "pending";
    case SubmissionStage::Starting:
    case SubmissionStage::JobHeld:
        return "pending (hand-over under way)";
    case SubmissionStage::Accepted:
        return "printing as job " + std::to_string(state.jobId);
    case SubmissionStage::Done:
        if (state.detail == "completed")
            return "done (job " + std::to_string(state.jobId) + ")";
        if (state.detail == "gone")
            return "done (job " + std::to_string(state.jobId) + ", no longer known to the printer)";
        return "done (job " + std::to_string(state.jobId) + " " + state.detail + ")";
    case SubmissionStage::Rejected:
        return "rejected: " + state.detail;
    }
    return "pending";
}

} // namespace genplot::spool
