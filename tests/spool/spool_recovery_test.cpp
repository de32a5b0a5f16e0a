// Exactly once across crashes: a spooler killed at any moment and started again neither loses
// a submission nor prints one twice. The crash points are laid out one by one (journal and
// scheduler left as a crash there leaves them), then hit at random with kill -9.

#include "tests/spool/spool_fixture.h"

#include "spool/cups_destination.h"
#include "spool/spool_files.h"
#include "spool/spool_journal.h"
#include "spool/spooler.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <iostream>
#include <random>
#include <thread>

namespace genplot::test
{
namespace
{

class SpoolRecoveryTest : public SpoolTest
{
  protected:
    /// Writes `lines` to the queue's journal, as a spooler that crashed after them left it.
    void Journal(const std::vector<std::string>& lines)
    {
        spool::SpoolJournal journal;
        std::string error;
        ASSERT_TRUE(journal.Open(spool::JournalPath(Queue()), error)) << error;
        for (const std::string& line : lines)
            ASSERT_TRUE(journal.Append(line, error)) << error;
    }

    /// One pass of a spooler started afresh on the queue.
    spool::PassOutcome Restart()
    {
        spool::SpoolOptions options;
        options.queueFile = Queue();
        options.queueDirectory = sandbox_.queueDirectory();
        options.printer = PrivateCups::Printer();
        spool::Spooler spooler(options);
        std::string error;
        EXPECT_TRUE(spooler.Open(error)) << error;
        return spooler.RunPass(nullptr);
    }

    int JobState(int job)
    {
        spool::CupsDestination destination(PrivateCups::Printer());
        spool::JobStatus status;
        std::string error;
        EXPECT_TRUE(destination.Query(job, status, error)) << error;
        return status.state;
    }

    spool::CupsDestination destination_{PrivateCups::Printer()};
    std::string error_;
};

TEST_F(SpoolRecoveryTest, JobMadeBeforeItsIdWasNotedIsCancelledAndPrintedOnce)
{
    Submit("lost");
    Journal({"start 1 feed-1"});
    const int stale = destination_.CreateHeldJob("lost", "feed-1", 1, error_);
    ASSERT_GT(stale, 0) << error_;
    ASSERT_TRUE(destination_.SendDocument(stale, "application/vnd.cups-raw", "STALE", error_));

    EXPECT_EQ(Restart(), spool::PassOutcome::Drained);
    const std::vector<CapturedJob> jobs = cups_.WaitForCaptured(1, 20);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_NE(jobs[0].jobId, stale);
    EXPECT_EQ(jobs[0].bytes, ExpectedHpgl2());
    EXPECT_EQ(JobState(stale), spool::kJobCanceled);
}

TEST_F(SpoolRecoveryTest, HeldJobWithTheWholePlotIsReleasedNotMadeAgain)
{
    Submit("held");
    const int job = destination_.CreateHeldJob("held", "feed-1", 1, error_);
    ASSERT_GT(job, 0) << error_;
    ASSERT_TRUE(
        destination_.SendDocument(job, "application/vnd.cups-raw", ExpectedHpgl2(), error_));
    Journal({"start 1 feed-1", "job 1 " + std::to_string(job)});

    EXPECT_EQ(Restart(), spool::PassOutcome::Drained);
    const std::vector<CapturedJob> jobs = cups_.WaitForCaptured(1, 20);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].jobId, job);
    EXPECT_TRUE(ListDirectory(sandbox_.queueDirectory()).empty());
    EXPECT_EQ(cups_.WaitForCaptured(2, 1).size(), 1u);
}

TEST_F(SpoolRecoveryTest, HeldJobWithoutItsPlotIsCancelledAndMadeAnew)
{
    Submit("empty");
    const int job = destination_.CreateHeldJob("empty", "feed-1", 1, error_);
    ASSERT_GT(job, 0) << error_;
    Journal({"start 1 feed-1", "job 1 " + std::to_string(job)});

    EXPECT_EQ(Restart(), spool::PassOutcome::Drained);
    const std::vector<CapturedJob> jobs = cups_.WaitForCaptured(1, 20);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_NE(jobs[0].jobId, job);
    EXPECT_EQ(jobs[0].bytes, ExpectedHpgl2());
    EXPECT_EQ(JobState(job), spool::kJobCanceled);
}

// A try is given up when the destination does not answer its create request, but the
// destination may make that job later all the same: held, empty, waiting for ever. It is
// cancelled whenever the record is looked at again, before or after the try that succeeds.
TEST_F(SpoolRecoveryTest, JobMadeLateForATryGivenUpIsCancelledBeforeTheNextTry)
{
    Submit("retried");
    Journal({"start 1 feed-1", "start 1 feed-2"});
    const int late = destination_.CreateHeldJob("retried", "feed-1", 1, error_);
    ASSERT_GT(late, 0) << error_;

    EXPECT_EQ(Restart(), spool::PassOutcome::Drained);
    const std::vector<CapturedJob> jobs = cups_.WaitForCaptured(1, 20);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_NE(jobs[0].jobId, late);
    EXPECT_EQ(jobs[0].bytes, ExpectedHpgl2());
    EXPECT_EQ(JobState(late), spool::kJobCanceled);
}

TEST_F(SpoolRecoveryTest, JobMadeLateForATryGivenUpIsCancelledWhileThePlotPrints)
{
    Submit("retried");
    const int printing = destination_.CreateHeldJob("retried", "feed-2", 1, error_);
    ASSERT_GT(printing, 0) << error_;
    ASSERT_TRUE(
        destination_.SendDocument(printing, "application/vnd.cups-raw", ExpectedHpgl2(), error_));
    ASSERT_TRUE(destination_.Release(printing, error_)) << error_;
    const std::string id = std::to_string(printing);
    Journal({"start 1 feed-1", "start 1 feed-2", "job 1 " + id, "accepted 1 " + id});
    const int late = destination_.CreateHeldJob("retried", "feed-1", 1, error_);
    ASSERT_GT(late, 0) << error_;

    EXPECT_EQ(Restart(), spool::PassOutcome::Drained);
    EXPECT_EQ(JobState(late), spool::kJobCanceled);
    const std::vector<CapturedJob> jobs = cups_.WaitForCaptured(1, 20);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].jobId, printing);
}

TEST_F(SpoolRecoveryTest, ReleasedJobCountsAsHandedOverAndItsPlotIsRemoved)
{
    Submit("released");
    const int job = destination_.CreateHeldJob("released", "feed-1", 1, error_);
    ASSERT_GT(job, 0) << error_;
    ASSERT_TRUE(
        destination_.SendDocument(job, "application/vnd.cups-raw", ExpectedHpgl2(), error_));
    ASSERT_TRUE(destination_.Release(job, error_)) << error_;
    Journal({"start 1 feed-1", "job 1 " + std::to_string(job)});

    EXPECT_EQ(Restart(), spool::PassOutcome::Drained);
    EXPECT_EQ(cups_.WaitForCaptured(2, 2).size(), 1u);
    EXPECT_TRUE(ListDirectory(sandbox_.queueDirectory()).empty());
    spool::SpoolJournal journal;
    ASSERT_TRUE(journal.Load(spool::JournalPath(Queue()), error_));
    EXPECT_EQ(journal.State(1).jobId, job);
}

TEST_F(SpoolRecoveryTest, PlotLeftBehindAfterTheHandOverIsRemovedOnRestart)
{
    Submit("leftover");
    Journal({"start 1 feed-1", "job 1 41", "accepted 1 41"});
    ASSERT_EQ(ListDirectory(sandbox_.queueDirectory()).size(), 1u);
    EXPECT_EQ(Restart(), spool::PassOutcome::Drained);
    EXPECT_TRUE(ListDirectory(sandbox_.queueDirectory()).empty());
    EXPECT_TRUE(cups_.Captured().empty());
}

TEST_F(SpoolRecoveryTest, KilledAtRandomMomentsThenRestartedPrintsEachPlotOnce)
{
    constexpr int kTrials = 20;
    constexpr int kPerTrial = 3;
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::vector<std::string> spoolArgs = {"spool", Queue(), "--printer", PrivateCups::Printer(),
                                          "--once"};

    // Undisturbed runs set the span the kills fall in: from about when a spooler with nothing
    // to do would be done starting (so few kills land before it reads the queue) to a little
    // past the end of one with work.
    for (int k = 0; k < kPerTrial; ++k)
        Submit("warm" + std::to_string(k));
    const auto Timed = [&spoolArgs] {
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(RunGenplot(spoolArgs).exitCode, 0);
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now() - started)
            .count();
    };
    const long long busy = Timed();
    const long long idle = Timed();
    // The machine's load changes while the trials run: a kill that finds the spooler already
    // ended narrows the span, one that lands in time widens it again, so most kills keep
    // landing while it works whatever the load does.
    long long low = idle * 4 / 5;
    long long high = std::max(busy + busy / 10, idle + 1);

    int killedEarly = 0;
    int midHandOver = 0;
    for (int trial = 0; trial < kTrials; ++trial)
    {
        for (int k = 0; k < kPerTrial; ++k)
            Submit("t" + std::to_string(trial) + "p" + std::to_string(k));
        GenplotProcess victim(spoolArgs);
        ASSERT_TRUE(victim.Started());
        std::uniform_int_distribution<long long> delay(low, high);
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        victim.Signal(SIGKILL);
        const ProgramResult killed = victim.Wait();
        if (killed.signal == SIGKILL)
        {
            ++killedEarly;
            high += high / 10;
        }
        else
        {
            high = std::max(high * 3 / 4, 2LL);
            low = std::min(low, high / 2);
        }
        {
            // How many kills caught a hand-over between its first and last journal step.
            spool::SpoolJournal journal;
            std::string error;
            ASSERT_TRUE(journal.Load(spool::JournalPath(Queue()), error)) << error;
            for (const auto& [number, state] : journal.States())
                midHandOver += state.stage == spool::SubmissionStage::Starting ||
                               state.stage == spool::SubmissionStage::JobHeld;
        }
        const ProgramResult restarted = RunGenplot(spoolArgs);
        ASSERT_EQ(restarted.exitCode, 0) << "trial " << trial << ": " << restarted.err;
    }
    // Kills must land while the spooler works, or the test proves little.
    EXPECT_GE(killedEarly, kTrials / 4);
    std::cout << killedEarly << " of " << kTrials << " kills before the spooler ended, "
              << midHandOver << " in the middle of a hand-over\n";

    const std::size_t expected = (kTrials + 1) * kPerTrial;
    const std::vector<CapturedJob> jobs = cups_.WaitForCaptured(expected, 60);
    for (int i = 0; i < 200 && cups_.UnfinishedJobs() != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // Nothing held back either: every job the crashes left was released or cancelled.
    EXPECT_EQ(cups_.UnfinishedJobs(), 0);
    const std::vector<CapturedJob> settled = cups_.Captured();
    EXPECT_EQ(settled.size(), expected);
    const std::map<std::string, int> counts = TitleCounts(settled);
    EXPECT_EQ(counts.size(), expected);
    for (const auto& [title, count] : counts)
        EXPECT_EQ(count, 1) << title;
    const std::string bytes = ExpectedHpgl2();
    for (const CapturedJob& job : settled)
        EXPECT_EQ(job.bytes, bytes) << job.title;
    EXPECT_TRUE(ListDirectory(sandbox_.queueDirectory()).empty());
}

} // namespace
} // namespace genplot::test
