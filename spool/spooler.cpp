#include "spool/spooler.h"

#include "genplot/plot_file_reader.h"
#include "platform/plot_queue.h"
#include "spool/queue_records.h"
#include "spool/spool_files.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace genplot::spool
{
namespace
{

// The media kind the library's dispatcher writes for a generic plot file.
constexpr unsigned kGenericPlotMedia = 4;
// Records read from the queue file at a time.
constexpr std::size_t kBatch = 256;

// A token no other hand-over has: 64 random bits and the record's number.
std::string NewToken(std::uint64_t number)
{
    std::uint64_t bits = 0;
    if (getrandom(&bits, sizeof bits, 0) != static_cast<ssize_t>(sizeof bits))
        bits = static_cast<std::uint64_t>(getpid()) * 0x9E3779B97F4A7C15ull ^
               static_cast<std::uint64_t>(std::time(nullptr));
    char text[48];
    std::snprintf(text, sizeof text, "%016" PRIx64 "-%" PRIu64, bits, number);
    return text;
}

const char* EndName(int state)
{
    return state == kJobCompleted ? "completed" : state == kJobCanceled ? "canceled" : "aborted";
}

std::string Describe(const QueueRecord& record)
{
    return "#" + std::to_string(record.number) + " " +
           (record.baseName.empty() ? record.fileName : record.baseName);
}

} // namespace

Spooler::Spooler(SpoolOptions options)
    : options_(std::move(options)), destination_(options_.printer)
{
}

void Spooler::Report(const std::string& line) const
{
    if (options_.report)
        options_.report(line);
}

bool Spooler::Write(const std::string& line)
{
    std::string error;
    if (journal_.Append(line, error))
        return true;
    problem_ = error;
    return false;
}

bool Spooler::Open(std::string& error)
{
    if (!journal_.Open(JournalPath(options_.queueFile), error))
        return false;
    RemoveLeftoverPlot();
    return true;
}

// A crash between "accepted" and the removal of the plot file leaves the file behind. Only the
// last submission handed over can be in that state; its file is removed unless a later
// submission has been given the same name since.
void Spooler::RemoveLeftoverPlot()
{
    std::uint64_t last = 0;
    for (const auto& [number, state] : journal_.States())
        if (state.stage == SubmissionStage::Accepted || state.stage == SubmissionStage::Done)
            last = number;
    if (last == 0)
        return;
    std::vector<QueueRecord> records;
    std::string error;
    if (!ReadQueueRecords(options_.queueFile, last, 1, records, error) || records.empty())
        return;
    const QueueRecord handed = records.front();
    for (std::uint64_t next = last + 1;; next += kBatch)
    {
        if (!ReadQueueRecords(options_.queueFile, next, kBatch, records, error))
            return;
        for (const QueueRecord& later : records)
            if (later.fileName == handed.fileName)
                return;
        if (records.size() < kBatch)
            break;
    }
    RemovePlot(handed);
}

void Spooler::RemovePlot(const QueueRecord& record)
{
    if (record.nameMangled || !IsPlainFileName(record.fileName))
        return;
    const std::string path = options_.queueDirectory + "/" + record.fileName;
    if (unlink(path.c_str()) == 0)
        SyncDirectory(options_.queueDirectory);
}

Spooler::Step Spooler::Reject(const QueueRecord& record, const std::string& path,
                              const std::string& reason, bool move)
{
    // Set aside first, then noted: a crash in between leaves a submission whose file is gone,
    // which the next pass rejects as missing.
    std::string error;
    std::string detail = reason;
    if (move && !MoveIntoDirectory(path, RejectedDirectory(options_.queueFile), error))
        detail += " (left in place: " + error + ")";
    for (char& c : detail)
        if (c == '\n' || c == '\r')
            c = ' ';
    if (!Write("rejected " + std::to_string(record.number) + " " + detail))
        return Step::Failed;
    ++rejected_;
    Report("rejected " + Describe(record) + " (" + record.fileName + "): " + detail);
    return Step::Rejected;
}

// Cancels every job the destination made under `token`; false with `error` set when it could
// not list or cancel them.
bool Spooler::CancelJobsMarked(const std::string& token, std::string& error)
{
    std::vector<int> jobs;
    if (!destination_.FindByToken(token, jobs, error))
        return false;
    for (int job : jobs)
        if (!destination_.Cancel(job, error))
            return false;
    return true;
}

// Settles a submission whose hand-over was under way when the spooler stopped, with the
// destination; `*settled` is true when it turned out handed over already.
Spooler::Step Spooler::Settle(const QueueRecord& record, bool* settled)
{
    *settled = false;
    const SubmissionState state = journal_.State(record.number);
    const std::string number = std::to_string(record.number);
    std::string error;
    // A try given up because its job seemed not to be made may still have made one, late:
    // held and empty, it would wait at the destination for ever.
    for (const std::string& earlier : state.earlierTokens)
        if (!CancelJobsMarked(earlier, problem_))
            return Step::Retry;
    if (state.stage == SubmissionStage::JobHeld)
    {
        JobStatus status;
        if (!destination_.Query(state.jobId, status, error))
        {
            problem_ = error;
            return Step::Retry;
        }
        if (status.exists && !status.released && status.state == kJobHeld && status.documents > 0)
        {
            if (!destination_.Release(state.jobId, error))
            {
                problem_ = error;
                return Step::Retry;
            }
            status.released = true;
        }
        if (status.exists && status.released)
        {
            if (!Write("accepted " + number + " " + std::to_string(state.jobId)))
                return Step::Failed;
            *settled = true;
            return Step::HandedOver;
        }
        if (status.exists && !destination_.Cancel(state.jobId, error))
        {
            problem_ = error;
            return Step::Retry;
        }
        return Step::HandedOver;
    }
    if (state.stage == SubmissionStage::Starting)
    {
        // The job may have been made without its id reaching the journal; it is held, so it
        // has printed nothing and is cancelled.
        if (!CancelJobsMarked(state.token, problem_))
            return Step::Retry;
    }
    return Step::HandedOver;
}

Spooler::Step Spooler::HandOver(const QueueRecord& record)
{
    const std::string path = options_.queueDirectory + "/" + record.fileName;
    if (record.nameMangled || !IsPlainFileName(record.fileName))
        return Reject(record, path, "the record names no file of the queue directory", false);
    if (record.mediaKind != kGenericPlotMedia)
        return Reject(record, path,
                      "media kind " + std::to_string(record.mediaKind) + " is not a plot file",
                      false);
    struct stat info;
    if (lstat(path.c_str(), &info) != 0)
        return Reject(record, path, "the plot file is missing", false);
    if (!S_ISREG(info.st_mode))
        return Reject(record, path, "the plot file is not a regular file", false);
    const PlotFile plot = LoadPlotFile(path);
    switch (plot.status)
    {
    case PlotFileStatus::Valid:
        break;
    case PlotFileStatus::Cancelled:
        return Reject(record, path, "incomplete plot (its write was cancelled)", true);
    case PlotFileStatus::Invalid:
        return Reject(record, path,
                      "damaged plot: " + plot.problem + " at byte " +
                          std::to_string(plot.problemOffset),
                      true);
    case PlotFileStatus::Unreadable:
        // Perhaps a passing fault of the disk or of permissions: kept and tried again.
        problem_ = "cannot read " + path + ": " + plot.problem;
        return Step::Retry;
    }

    std::string why;
    if (!destination_.Ready(why))
    {
        problem_ = why;
        return Step::Retry;
    }
    std::string bytes;
    if (!ConvertPlot(plot, options_.language, options_.page, bytes, why))
        return Reject(record, path, why, true);

    const std::string number = std::to_string(record.number);
    const std::string token = NewToken(record.number);
    if (!Write("start " + number + " " + token))
        return Step::Failed;
    const std::string name = record.baseName.empty() ? record.fileName : record.baseName;
    const int copies = record.copies == 0 ? 1 : static_cast<int>(record.copies);
    const int job = destination_.CreateHeldJob(name, token, copies, why);
    if (job <= 0)
    {
        problem_ = why;
        return Step::Retry;
    }
    if (!Write("job " + number + " " + std::to_string(job)))
        return Step::Failed;
    if (!destination_.SendDocument(job, DocumentFormat(options_.language), bytes, why) ||
        !destination_.Release(job, why))
    {
        // The held job is settled on the next try: released if it holds the plot, else
        // cancelled and made anew.
        problem_ = why;
        return Step::Retry;
    }
    if (!Write("accepted " + number + " " + std::to_string(job)))
        return Step::Failed;
    return Step::HandedOver;
}

Spooler::Step Spooler::Handle(const QueueRecord& record)
{
    const SubmissionStage stage = journal_.State(record.number).stage;
    if (stage == SubmissionStage::Accepted || stage == SubmissionStage::Done ||
        stage == SubmissionStage::Rejected)
        return Step::HandedOver;
    bool settled = false;
    if (stage == SubmissionStage::Starting || stage == SubmissionStage::JobHeld)
    {
        const Step step = Settle(record, &settled);
        if (step != Step::HandedOver)
            return step;
    }
    if (!settled)
    {
        const Step step = HandOver(record);
        if (step != Step::HandedOver)
            return step;
    }
    RemovePlot(record);
    ++handedOver_;
    Report("handed over " + Describe(record) + " as job " +
           std::to_string(journal_.State(record.number).jobId) + " on " + options_.printer);
    return Step::HandedOver;
}

bool Spooler::TrackJobs()
{
    std::vector<std::pair<std::uint64_t, int>> open;
    for (const auto& [number, state] : journal_.States())
        if (state.stage == SubmissionStage::Accepted)
            open.emplace_back(number, state.jobId);
    for (const auto& [number, job] : open)
    {
        // A job made late under a try given up earlier may show only after the try that
        // succeeded; while the plot prints, it is looked for again (on failure, next pass).
        std::string error;
        for (const std::string& earlier : journal_.State(number).earlierTokens)
            if (!CancelJobsMarked(earlier, error))
                break;
        JobStatus status;
        if (!destination_.Query(job, status, error))
            return true; // asked again on the next pass
        // A job the destination no longer knows was purged from its history after it ended.
        if (!status.exists || status.state == kJobCompleted || status.state == kJobCanceled ||
            status.state == kJobAborted)
        {
            if (!Write("done " + std::to_string(number) + " " + std::to_string(job) + " " +
                       (status.exists ? EndName(status.state) : "gone")))
                return false;
        }
    }
    return true;
}

// Records are never rewritten, so a queue file with fewer records than the journal names was
// replaced or cut short. Its new records would carry numbers the journal counts as printed;
// rather than skip them, the spooler stops and says so.
bool Spooler::QueueStillMatchesJournal()
{
    const std::uint64_t highest = journal_.States().empty() ? 0 : journal_.States().rbegin()->first;
    if (highest == 0)
        return true;
    struct stat info;
    if (stat(options_.queueFile.c_str(), &info) != 0)
        return errno != ENOENT || Mismatch(0, highest); // other errors: the read reports them
    const std::uint64_t records = static_cast<std::uint64_t>(info.st_size) / kQueueRecordSize;
    return records >= highest || Mismatch(records, highest);
}

bool Spooler::Mismatch(std::uint64_t records, std::uint64_t highest)
{
    problem_ = options_.queueFile + " holds " + std::to_string(records) +
               " submissions but the journal has reached #" + std::to_string(highest) +
               ": the queue file was replaced or cut short; move " +
               JournalPath(options_.queueFile) + " away to serve it afresh";
    return false;
}

PassOutcome Spooler::RunPass(const volatile std::sig_atomic_t* stop)
{
    problem_.clear();
    if (!QueueStillMatchesJournal())
        return PassOutcome::Failed;
    std::vector<QueueRecord> records;
    for (;;)
    {
        const std::uint64_t first = journal_.FirstUnfinished();
        if (!ReadQueueRecords(options_.queueFile, first, kBatch, records, problem_))
            return PassOutcome::Failed;
        if (records.empty())
            break;
        for (const QueueRecord& record : records)
        {
            if (stop != nullptr && *stop != 0)
                return PassOutcome::Stopped;
            switch (Handle(record))
            {
            case Step::HandedOver:
            case Step::Rejected:
                break;
            case Step::Retry:
                TrackJobs();
                return PassOutcome::DestinationFailed;
            case Step::Failed:
                return PassOutcome::Failed;
            }
        }
    }
    return TrackJobs() ? PassOutcome::Drained : PassOutcome::Failed;
}

} // namespace genplot::spool
