#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The spooler's journal: a text file beside the queue file, one line per step, appended and
// flushed to disk before the spooler acts on it, so that after a crash at any moment the
// journal tells how far each submission got:
//
//   genplot spool journal 1              first line
//   start N TOKEN                        record N: a hand-over begins; TOKEN marks its jobs
//                                        (a record tried again has one line per try)
//   job N ID                             the destination made job ID for it, held
//   accepted N ID                        job ID holds the whole plot and was released
//   done N ID completed|canceled|aborted job ID ended so at the destination
//   done N ID gone                       the destination forgot job ID (history purged)
//   rejected N REASON...                 the plot was set aside, not printed
//
// Records are numbered from 1 in queue-file order. A crash can leave a last line cut short;
// it never counts, and the next writer cuts it off before appending.

namespace genplot::spool
{

/// How far a submission got.
enum class SubmissionStage
{
    /// Nothing done yet.
    Pending,
    /// A hand-over began; the destination may or may not have made a job.
    Starting,
    /// The destination made a job and holds it until the whole plot is there.
    JobHeld,
    /// The destination took the job: it prints or has printed it.
    Accepted,
    /// The destination reports the job as ended.
    Done,
    /// The plot was damaged or missing and was not printed.
    Rejected,
};

/// One submission's entry in the journal.
struct SubmissionState
{
    SubmissionStage stage = SubmissionStage::Pending;
    /// The token of the latest hand-over (Starting and later).
    std::string token;
    /// The tokens of the hand-overs begun before it. Each was given up before its job was
    /// noted (or after that job was cancelled), so a job the destination made under one of
    /// them was never sent its plot nor released: it is held, and is swept before another try.
    std::vector<std::string> earlierTokens;
    /// The destination's job (JobHeld and later), 0 when none.
    int jobId = 0;
    /// Done: "completed", "canceled", "aborted" or "gone". Rejected: why.
    std::string detail;
};

/// The journal as read: the state of every submission it names.
class SpoolJournal
{
  public:
    /// Reads the journal at `path`; a missing file is an empty journal. False with `error`
    /// set when it cannot be read or is not a journal.
    bool Load(const std::string& path, std::string& error);

    /// True when the last Load or Open found a journal: a spooler has served the queue.
    bool Found() const
    {
        return found_;
    }

    /// Opens the journal at `path` for appending, created (and its folder flushed) when
    /// missing, and reads it. A last line cut short by a crash is removed. False with `error`.
    bool Open(const std::string& path, std::string& error);

    /// Appends `line` (no newline) and flushes it to disk, then applies it. False with `error`
    /// set when it was not written in full.
    bool Append(const std::string& line, std::string& error);

    /// The state of record `number`.
    SubmissionState State(std::uint64_t number) const;

    /// The first record number the journal has not finished with: every record before it is
    /// accepted, done or rejected.
    std::uint64_t FirstUnfinished() const;

    /// Every record the journal names, by number.
    const std::map<std::uint64_t, SubmissionState>& States() const
    {
        return states_;
    }

    SpoolJournal() = default;
    ~SpoolJournal();
    SpoolJournal(const SpoolJournal&) = delete;
    SpoolJournal& operator=(const SpoolJournal&) = delete;

  private:
    bool Parse(const std::string& text, std::size_t* usedLength, std::string& error);
    void Apply(const std::string& line);

    std::map<std::uint64_t, SubmissionState> states_;
    std::uint64_t firstUnfinished_ = 1;
    int fd_ = -1;
    bool found_ = false;
};

/// One line of text for a submission's state, as the queue listing shows it: "pending",
/// "printing as job N", "done (job N)", "rejected: REASON"...
std::string DescribeState(const SubmissionState& state);

} // namespace genplot::spool
