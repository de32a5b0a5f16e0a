// The spooler end to end: plots queued with genplot send arrive at a CUPS device, in the
// language asked for, once each; a stopped destination and a damaged plot hold nothing up.

#include "tests/spool/spool_fixture.h"

#include "spool/spool_files.h"
#include "spool/spool_journal.h"

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace genplot::test
{
namespace
{

TEST_F(SpoolTest, QueuedPlotArrivesAsTheExportersHpgl2)
{
    Submit("bracket");
    const ProgramResult spooled = Spool();
    ASSERT_EQ(spooled.exitCode, 0) << spooled.err;

    const std::vector<CapturedJob> jobs = cups_.WaitForCaptured(1, 20);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].title, "bracket");
    EXPECT_EQ(jobs[0].copies, 1);
    EXPECT_EQ(jobs[0].contentType, "application/vnd.cups-raw");
    EXPECT_EQ(jobs[0].bytes, ExpectedHpgl2());
    // The same bytes as the program's own export of the plot.
    const ProgramResult exported = RunGenplot({"export", plot_, "-o", "-"});
    ASSERT_EQ(exported.exitCode, 0) << exported.err;
    EXPECT_EQ(jobs[0].bytes, exported.out);
    // Handed over: the spooled copy is gone, and the listing says which job prints it.
    EXPECT_TRUE(ListDirectory(sandbox_.queueDirectory()).empty());
    const ProgramResult listed = RunGenplot({"queue", Queue()});
    EXPECT_EQ(listed.exitCode, 0);
    EXPECT_NE(listed.out.find("bracket  media 4  copies 1  "), std::string::npos) << listed.out;
    EXPECT_TRUE(
        listed.out.find("printing as job " + std::to_string(jobs[0].jobId)) != std::string::npos ||
        listed.out.find("done (job " + std::to_string(jobs[0].jobId) + ")") != std::string::npos)
        << listed.out;

    // A second run finds nothing new to print, and notes the job as done once it is.
    for (int i = 0; i < 100 && cups_.UnfinishedJobs() != 0; ++i)
        usleep(50000);
    EXPECT_EQ(Spool().exitCode, 0);
    EXPECT_EQ(cups_.Captured().size(), 1u);
    EXPECT_NE(
        RunGenplot({"queue", Queue()}).out.find("done (job " + std::to_string(jobs[0].jobId) + ")"),
        std::string::npos);
}

TEST_F(SpoolTest, QueuedPlotArrivesAsPdf)
{
    Submit("panel");
    const ProgramResult spooled = Spool({"--once", "--language", "pdf", "--paper", "A4"});
    ASSERT_EQ(spooled.exitCode, 0) << spooled.err;
    const std::vector<CapturedJob> jobs = cups_.WaitForCaptured(1, 20);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].title, "panel");
    EXPECT_EQ(jobs[0].contentType, "application/pdf");
    ASSERT_GT(jobs[0].bytes.size(), 100u);
    EXPECT_EQ(jobs[0].bytes.compare(0, 5, "%PDF-"), 0);
    EXPECT_NE(jobs[0].bytes.find("%%EOF", jobs[0].bytes.size() - 16), std::string::npos);
}

TEST_F(SpoolTest, QueuedPlotArrivesAsPlainHpglForOlderPlotters)
{
    Submit("gasket");
    const ProgramResult spooled = Spool({"--once", "--language", "hpgl"});
    ASSERT_EQ(spooled.exitCode, 0) << spooled.err;
    const std::vector<CapturedJob> jobs = cups_.WaitForCaptured(1, 20);
    ASSERT_EQ(jobs.size(), 1u);
    const ProgramResult exported = RunGenplot({"export", plot_, "--hpgl1", "-o", "-"});
    ASSERT_EQ(exported.exitCode, 0) << exported.err;
    EXPECT_EQ(jobs[0].bytes, exported.out);
    EXPECT_EQ(jobs[0].contentType, "application/vnd.cups-raw");
}

TEST_F(SpoolTest, ManySubmittersAtOnceArriveExactlyOnceEach)
{
    GenplotProcess spooler({"spool", Queue(), "--printer", PrivateCups::Printer(), "--follow"});
    ASSERT_TRUE(spooler.Started());

    // Five processes queue ten plots each while the spooler reads the queue.
    constexpr int kSubmitters = 5;
    constexpr int kEach = 10;
    for (int i = 0; i < kEach; ++i)
        WriteFileBytes(sandbox_.Path("p" + std::to_string(i) + ".gpf"), ReadFileBytes(plot_));
    std::vector<pid_t> submitters;
    for (int s = 0; s < kSubmitters; ++s)
    {
        const pid_t child = fork();
        if (child == 0)
        {
            int failures = 0;
            for (int i = 0; i < kEach; ++i)
            {
                const std::string name = "s" + std::to_string(s) + "n" + std::to_string(i);
                const std::string copy = sandbox_.Path(name + ".gpf");
                WriteFileBytes(copy, ReadFileBytes(plot_));
                failures += RunGenplot({"send", copy, "--queue", Queue()}).exitCode != 0;
            }
            _exit(failures);
        }
        submitters.push_back(child);
    }
    for (pid_t child : submitters)
    {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    const std::vector<CapturedJob> jobs = cups_.WaitForCaptured(kSubmitters * kEach, 60);
    spooler.Signal(SIGTERM);
    const ProgramResult stopped = spooler.Wait();
    EXPECT_EQ(stopped.exitCode, 0) << stopped.err;

    const std::map<std::string, int> counts = TitleCounts(jobs);
    EXPECT_EQ(jobs.size(), static_cast<std::size_t>(kSubmitters * kEach));
    EXPECT_EQ(counts.size(), static_cast<std::size_t>(kSubmitters * kEach));
    for (const auto& [title, count] : counts)
        EXPECT_EQ(count, 1) << title;
    const std::string expected = ExpectedHpgl2();
    for (const CapturedJob& job : jobs)
        EXPECT_EQ(job.bytes, expected) << job.title;
    EXPECT_TRUE(ListDirectory(sandbox_.queueDirectory()).empty());
}

TEST_F(SpoolTest, StoppedDestinationKeepsSubmissionsPendingUntilEnabled)
{
    ASSERT_TRUE(cups_.SetEnabled(false));
    Submit("first");
    Submit("second");
    const ProgramResult held = Spool();
    EXPECT_EQ(held.exitCode, 3) << held.err;
    EXPECT_NE(held.err.find("stopped"), std::string::npos) << held.err;
    EXPECT_EQ(ListDirectory(sandbox_.queueDirectory()).size(), 2u);
    const ProgramResult listed = RunGenplot({"queue", Queue()});
    EXPECT_NE(listed.out.find("first  media 4  copies 1  pending\n"), std::string::npos)
        << listed.out;
    EXPECT_NE(listed.out.find("second  media 4  copies 1  pending\n"), std::string::npos);

    // A following spooler retries on its own and prints them once the destination is back.
    GenplotProcess spooler({"spool", Queue(), "--printer", PrivateCups::Printer(), "--follow"});
    ASSERT_TRUE(spooler.Started());
    usleep(1500000);
    EXPECT_TRUE(cups_.Captured().empty());
    ASSERT_TRUE(cups_.SetEnabled(true));
    const std::vector<CapturedJob> jobs = cups_.WaitForCaptured(2, 30);
    spooler.Signal(SIGTERM);
    const ProgramResult stopped = spooler.Wait();
    EXPECT_EQ(stopped.exitCode, 0) << stopped.err;
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0].title, "first");
    EXPECT_EQ(jobs[1].title, "second");
}

TEST_F(SpoolTest, DamagedSpooledPlotIsSetAsideAndTheQueueMovesOn)
{
    Submit("good1");
    Submit("broken");
    Submit("good2");
    // The second spooled file loses its tail: no end record any more.
    const ProgramResult before = RunGenplot({"queue", Queue()});
    const std::size_t at = before.out.find("\n2  ");
    ASSERT_NE(at, std::string::npos) << before.out;
    const std::string brokenName = before.out.substr(at + 4, before.out.find(' ', at + 4) - at - 4);
    std::vector<std::uint8_t> bytes = ReadFileBytes(plot_);
    bytes.resize(bytes.size() - 10);
    WriteFileBytes(sandbox_.queueDirectory() + "/" + brokenName, bytes);

    const ProgramResult spooled = Spool();
    EXPECT_EQ(spooled.exitCode, 2) << spooled.err;
    EXPECT_NE(spooled.err.find("rejected #2 broken"), std::string::npos) << spooled.err;
    const std::vector<CapturedJob> jobs = cups_.WaitForCaptured(2, 20);
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0].title, "good1");
    EXPECT_EQ(jobs[1].title, "good2");
    EXPECT_EQ(ListDirectory(sandbox_.Path("rejected")), std::vector<std::string>{brokenName});
    EXPECT_TRUE(ListDirectory(sandbox_.queueDirectory()).empty());
    const ProgramResult listed = RunGenplot({"queue", Queue()});
    EXPECT_NE(listed.out.find("broken  media 4  copies 1  rejected: "), std::string::npos)
        << listed.out;

    // Set aside for good: a later run neither prints it nor reports it again.
    const ProgramResult again = Spool();
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(cups_.WaitForCaptured(3, 1).size(), 2u);
}

TEST(SpoolWithoutSchedulerTest, UnreachableSchedulerKeepsEverythingQueued)
{
    DispatchSandbox sandbox;
    ScopedEnvVar server("CUPS_SERVER", sandbox.Path("no-scheduler.sock").c_str());
    const std::string plot = sandbox.Path("lonely.gpf");
    ASSERT_EQ(RunGenplot({"convert", std::string(GENPLOT_EXAMPLES_DIR) + "/sample.plt", "-o", plot})
                  .exitCode,
              0);
    const std::string queue = sandbox.Path("plots.que");
    ASSERT_EQ(RunGenplot({"send", plot, "--queue", queue}).exitCode, 0);

    const ProgramResult spooled =
        RunGenplot({"spool", queue, "--printer", "capture", "--once", "--language", "pdf"});
    EXPECT_EQ(spooled.exitCode, 3) << spooled.err;
    EXPECT_NE(spooled.err.find("the rest stays queued"), std::string::npos) << spooled.err;
    EXPECT_EQ(ListDirectory(sandbox.queueDirectory()).size(), 1u);
    const ProgramResult listed = RunGenplot({"queue", queue});
    EXPECT_NE(listed.out.find("lonely  media 4  copies 1  pending\n"), std::string::npos)
        << listed.out;
}

TEST(SpoolWithoutSchedulerTest, QueueFileCutShortIsRefusedRatherThanSkipped)
{
    DispatchSandbox sandbox;
    ScopedEnvVar server("CUPS_SERVER", sandbox.Path("no-scheduler.sock").c_str());
    const std::string queue = sandbox.Path("plots.que");
    {
        spool::SpoolJournal journal;
        std::string error;
        ASSERT_TRUE(journal.Open(spool::JournalPath(queue), error)) << error;
        for (const char* line :
             {"start 1 a-1", "job 1 5", "accepted 1 5", "start 2 b-2", "job 2 6", "accepted 2 6"})
            ASSERT_TRUE(journal.Append(line, error)) << error;
    }
    // Emptied by hand, then one new submission: it is record 1 again, which the journal
    // counts as printed.
    WriteFileBytes(queue, std::vector<std::uint8_t>(134, 0));
    const ProgramResult spooled = RunGenplot({"spool", queue, "--printer", "capture"});
    EXPECT_EQ(spooled.exitCode, 1);
    EXPECT_NE(spooled.err.find("holds 1 submissions but the journal has reached #2"),
              std::string::npos)
        << spooled.err;
}

} // namespace
} // namespace genplot::test
