#pragma once

#include "render/render.h"
#include "spool/cups_destination.h"
#include "spool/print_language.h"
#include "spool/spool_journal.h"

#include <csignal>
#include <cstdint>
#include <functional>
#include <string>

// The queue server: takes the submissions of a plotter queue file in order and hands each to a
// CUPS destination exactly once. Per submission, the steps and what the journal says first:
//
//   1. the plot file is read and checked; a damaged or missing plot is set aside (rejected)
//   2. "start N TOKEN"      then a held job marked TOKEN is made
//   3. "job N ID"           then the plot goes to job ID, and the job is released
//   4. "accepted N ID"      then the plot file is removed from the queue directory
//   5. "done N ID STATE"    once the destination reports the job ended
//
// After a crash, a submission at step 2 or 3 is settled with the destination before anything
// is sent again: a job released already counts as handed over, a held one with the whole plot
// is released, and any other is cancelled (it never printed) and the hand-over starts afresh.
// The journal is locked, so one spooler serves a queue at a time.

namespace genplot::spool
{

struct QueueRecord;

/// How the spooler is set up.
struct SpoolOptions
{
    /// The queue file, native path.
    std::string queueFile;
    /// The folder the queue's plot files lie in, native path.
    std::string queueDirectory;
    /// The CUPS destination.
    std::string printer;
    /// What the destination is sent.
    PrintLanguage language = PrintLanguage::Hpgl2;
    /// The PDF page.
    render::RenderOptions page;
    /// Receives one line for each submission handed over, set aside or held back.
    std::function<void(const std::string&)> report;
};

/// How a pass over the queue ended.
enum class PassOutcome
{
    /// Every submission there was handed over or set aside.
    Drained,
    /// A submission could not be handed over now (mostly: the destination could not take
    /// it); it and the ones after it are pending.
    DestinationFailed,
    /// A stop was asked for; the submission in hand was finished first.
    Stopped,
    /// The journal or the queue could not be read or written: the spooler cannot go on.
    Failed,
};

class Spooler
{
  public:
    explicit Spooler(SpoolOptions options);

    /// Opens and locks the journal and tidies up after a crash. False with `error` set (also
    /// when another spooler serves the queue).
    bool Open(std::string& error);

    /// Hands over every submission the queue file holds now, in order, then asks the
    /// destination which accepted jobs have ended. Checks `*stop` between submissions.
    PassOutcome RunPass(const volatile std::sig_atomic_t* stop);

    /// Serves the queue until `*stop` is set: a pass whenever the queue file changes (or every
    /// few seconds), retrying a failed destination with a growing pause. False with `error`
    /// set when the spooler cannot go on.
    bool Follow(const volatile std::sig_atomic_t* stop, std::string& error);

    /// Why the last pass did not drain the queue.
    const std::string& Problem() const
    {
        return problem_;
    }

    /// Submissions set aside since the spooler was opened.
    int RejectedCount() const
    {
        return rejected_;
    }

    /// Submissions handed over since the spooler was opened.
    int HandedOverCount() const
    {
        return handedOver_;
    }

  private:
    enum class Step
    {
        HandedOver,
        Rejected,
        /// Not handed over now (the destination failed, the plot could not be read): kept.
        Retry,
        Failed,
    };

    Step Handle(const QueueRecord& record);
    Step Settle(const QueueRecord& record, bool* settled);
    Step HandOver(const QueueRecord& record);
    bool CancelJobsMarked(const std::string& token, std::string& error);
    Step Reject(const QueueRecord& record, const std::string& path, const std::string& reason,
                bool move);
    bool Write(const std::string& line);
    void RemovePlot(const QueueRecord& record);
    void RemoveLeftoverPlot();
    bool TrackJobs();
    bool QueueStillMatchesJournal();
    bool Mismatch(std::uint64_t records, std::uint64_t highest);
    void Report(const std::string& line) const;

    SpoolOptions options_;
    SpoolJournal journal_;
    CupsDestination destination_;
    std::string problem_;
    int rejected_ = 0;
    int handedOver_ = 0;
};

} // namespace genplot::spool
