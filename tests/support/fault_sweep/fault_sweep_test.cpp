// The fault sweep: each file-system call a delivery makes is made to fail in turn, one run per
// call, and every run must end either in complete success with the exact output or in a
// failure that lost nothing: the input as it was, the old destination intact or no file at
// the destination, no temporary file left, and a queue file holding only whole records, each
// naming a complete copy.

#include "fault_shim.h"

#include "genplot/plot_dispatch.h"
#include "support/dispatch_sandbox.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#if defined(GENPLOT_EXE)
#include "tools/program_runner.h"
#endif

#include <gtest/gtest.h>

namespace
{

constexpr std::size_t kRecordSize = 134;
using Bytes = std::vector<std::uint8_t>;

// One run of the thing swept, in a fresh sandbox: true when it reported success.
using Run = std::function<bool(DispatchSandbox&)>;
// Checks the sandbox after a run that reported `succeeded`; `position` names the run.
using Verify = std::function<void(DispatchSandbox&, bool succeeded, const std::string& position)>;
// Counts the file calls of a fault-free run of `run` (and runs it).
using Counted = std::function<long(DispatchSandbox&, long failAt, bool* succeeded)>;

struct SweepCounts
{
    long positions = 0;
    long successes = 0;
};

// The sweep proper: a fault-free run to count the calls, then one run failing at each.
SweepCounts Sweep(const char* name, const std::function<void(DispatchSandbox&)>& setUp,
                  const Counted& run, const Verify& verify)
{
    SweepCounts counts;
    long total = 0;
    {
        DispatchSandbox sandbox;
        setUp(sandbox);
        bool succeeded = false;
        total = run(sandbox, 0, &succeeded);
        EXPECT_TRUE(succeeded) << name << ": the run without a fault must succeed";
        verify(sandbox, succeeded, "no fault");
    }
    EXPECT_GT(total, 0) << name << ": no file call was seen";
    for (long at = 1; at <= total && !::testing::Test::HasFailure(); ++at)
    {
        DispatchSandbox sandbox;
        setUp(sandbox);
        bool succeeded = false;
        run(sandbox, at, &succeeded);
        verify(sandbox, succeeded, "fault at call " + std::to_string(at));
        ++counts.positions;
        counts.successes += succeeded ? 1 : 0;
    }
    std::cout << "fault sweep: " << name << ": " << counts.positions << " positions tried, "
              << counts.successes << " ended in success, " << counts.positions - counts.successes
              << " in a failure that lost nothing\n";
    return counts;
}

// A run in this process, with the shim armed around `run` only.
Counted InProcess(const Run& run)
{
    return [run](DispatchSandbox& sandbox, long failAt, bool* succeeded) {
        genplot_fault_arm(failAt);
        *succeeded = run(sandbox);
        return genplot_fault_disarm();
    };
}

// What a queue holds: the records before the run stay as they were; every record after them
// names a complete copy of `plot` in the queue directory; a successful run added exactly one.
void VerifyQueue(DispatchSandbox& sandbox, const Bytes& oldQueue, const Bytes& plot,
                 const std::string& queueFile, bool succeeded, const std::string& position)
{
    const Bytes queue = ReadFileBytes(queueFile);
    ASSERT_EQ(queue.size() % kRecordSize, 0u) << position;
    ASSERT_GE(queue.size(), oldQueue.size()) << position;
    EXPECT_TRUE(std::equal(oldQueue.begin(), oldQueue.end(), queue.begin())) << position;
    const std::size_t added = (queue.size() - oldQueue.size()) / kRecordSize;
    EXPECT_EQ(added, succeeded ? 1u : 0u) << position;
    for (std::size_t offset = oldQueue.size(); offset < queue.size(); offset += kRecordSize)
    {
        const std::string name(reinterpret_cast<const char*>(&queue[offset]),
                               strnlen(reinterpret_cast<const char*>(&queue[offset]), 22));
        EXPECT_EQ(ReadFileBytes(sandbox.queueDirectory() + "/" + name), plot)
            << position << ": the record names " << name;
    }
    // A copy the queue never got may stay (as after a queue that did not respond), but only
    // whole: never a partial plot in the queue directory.
    for (const std::string& name : ListDirectory(sandbox.queueDirectory()))
        EXPECT_EQ(ReadFileBytes(sandbox.queueDirectory() + "/" + name), plot)
            << position << ": " << name << " in the queue directory";
}

class FaultSweepTest : public ::testing::Test
{
  protected:
    const Bytes plot_ = PlotFileBytes(2 * 4096 + 700);
    const Bytes oldDestination_ = Bytes(3000, 0xEE);
    const Bytes oldQueue_ = Bytes(2 * kRecordSize, 0x41);

    void SetUpPath(DispatchSandbox& sandbox) const
    {
        WriteFileBytes(sandbox.Path("in.gpf"), plot_);
        WriteFileBytes(sandbox.Path("out.gpf"), oldDestination_);
    }

    void VerifyPath(DispatchSandbox& sandbox, bool succeeded, const std::string& position) const
    {
        EXPECT_EQ(ReadFileBytes(sandbox.Path("in.gpf")), plot_) << position;
        EXPECT_EQ(ReadFileBytes(sandbox.Path("out.gpf")), succeeded ? plot_ : oldDestination_)
            << position;
        EXPECT_EQ(ListDirectory(sandbox.root()),
                  (std::vector<std::string>{"drive_c", "in.gpf", "out.gpf"}))
            << position << ": nothing else left behind";
    }

    // A fresh home: the queue directory is not there yet, the queue file already holds two
    // records.
    void SetUpQueue(DispatchSandbox& sandbox) const
    {
        WriteFileBytes(sandbox.Path("in.gpf"), plot_);
        WriteFileBytes(sandbox.drive() + "/plotque.que", oldQueue_);
    }

    void VerifyQueued(DispatchSandbox& sandbox, bool succeeded, const std::string& position) const
    {
        EXPECT_EQ(ReadFileBytes(sandbox.Path("in.gpf")), plot_) << position;
        VerifyQueue(sandbox, oldQueue_, plot_, sandbox.drive() + "/plotque.que", succeeded,
                    position);
    }
};

bool SendInProcess(DispatchSandbox& sandbox, const std::string& destination, int toQueue)
{
    CString input(sandbox.Path("in.gpf").c_str());
    CString target(destination.c_str());
    CString message;
    const int result = SendGenericPlot(input, target, message, nullptr, toQueue);
    // The message agrees with the result on every path.
    EXPECT_EQ(result == 1, message == "no error.") << message.GetString();
    return result == 1;
}

TEST_F(FaultSweepTest, SendGenericPlotToAPath)
{
    const SweepCounts counts = Sweep(
        "SendGenericPlot to a path", [this](DispatchSandbox& s) { SetUpPath(s); },
        InProcess([](DispatchSandbox& s) { return SendInProcess(s, s.Path("out.gpf"), 0); }),
        [this](DispatchSandbox& s, bool ok, const std::string& at) { VerifyPath(s, ok, at); });
    EXPECT_GT(counts.positions, 5);
}

TEST_F(FaultSweepTest, SendGenericPlotToTheQueue)
{
    const SweepCounts counts = Sweep(
        "SendGenericPlot to the queue", [this](DispatchSandbox& s) { SetUpQueue(s); },
        InProcess([](DispatchSandbox& s) { return SendInProcess(s, "", 1); }),
        [this](DispatchSandbox& s, bool ok, const std::string& at) { VerifyQueued(s, ok, at); });
    EXPECT_GT(counts.positions, 10);
}

#if defined(GENPLOT_EXE)

// The genplot program run with the shim preloaded: the N-th file call of the whole process
// fails, start-up and messages included.
Counted Program(const std::function<std::vector<std::string>(DispatchSandbox&)>& arguments)
{
    return [arguments](DispatchSandbox& sandbox, long failAt, bool* succeeded) {
        const std::string countFile = sandbox.Path("fault-count");
        long calls = 0;
        {
            ScopedEnvVar preload("LD_PRELOAD", GENPLOT_FAULT_SHIM);
            ScopedEnvVar at("GENPLOT_FAULT_AT", std::to_string(failAt).c_str());
            ScopedEnvVar report("GENPLOT_FAULT_COUNT_FILE", countFile.c_str());
            ScopedEnvVar registry("GENPLOT_REGISTRY", sandbox.Path("no-registry").c_str());
            genplot::test::GenplotProcess process(arguments(sandbox));
            const bool finished = process.ReadUntil([](const std::string&) { return false; },
                                                    std::chrono::seconds(30));
            if (!finished)
                process.Signal(SIGKILL);
            const genplot::test::ProgramResult result = process.Wait();
            *succeeded = result.exitCode == 0;
            EXPECT_TRUE(result.exitCode >= 0)
                << "ended by signal " << result.signal << " at " << failAt << "\n"
                << result.err;
        }
        const Bytes count = ReadFileBytes(countFile);
        calls = std::strtol(std::string(count.begin(), count.end()).c_str(), nullptr, 10);
        std::remove(countFile.c_str());
        return calls;
    };
}

TEST_F(FaultSweepTest, ProgramSendToAPath)
{
    Sweep(
        "genplot send --to", [this](DispatchSandbox& s) { SetUpPath(s); },
        Program([](DispatchSandbox& s) {
            return std::vector<std::string>{"send", s.Path("in.gpf"), "--to", s.Path("out.gpf")};
        }),
        [this](DispatchSandbox& s, bool ok, const std::string& at) { VerifyPath(s, ok, at); });
}

TEST_F(FaultSweepTest, ProgramSendToTheQueue)
{
    Sweep(
        "genplot send --queue", [this](DispatchSandbox& s) { SetUpQueue(s); },
        Program([](DispatchSandbox& s) {
            return std::vector<std::string>{"send", s.Path("in.gpf"), "--queue"};
        }),
        [this](DispatchSandbox& s, bool ok, const std::string& at) { VerifyQueued(s, ok, at); });
}

TEST(FaultSweepProgramTest, ConvertKeepsTheOldOutputOrWritesTheWholePlot)
{
    const std::string hpgl = "IN;SP1;PU0,0;PD1000,0,1000,1000,0,1000,0,0;PU200,200;"
                             "PD800,200,800,800;PU300,300;LBfirst\x03;SP2;PU100,900;"
                             "PD900,100;PU2000,2000;PD2500,2000,2500,2500,2000,2000;";
    const Bytes input(hpgl.begin(), hpgl.end());
    const Bytes old(500, 0xEE);
    auto setUp = [&](DispatchSandbox& s) {
        WriteFileBytes(s.Path("in.plt"), input);
        WriteFileBytes(s.Path("out.gpf"), old);
    };
    // The output of a run without faults is the exact output every successful run must give.
    Bytes expected;
    auto verify = [&](DispatchSandbox& s, bool ok, const std::string& at) {
        EXPECT_EQ(ReadFileBytes(s.Path("in.plt")), input) << at;
        const Bytes output = ReadFileBytes(s.Path("out.gpf"));
        if (expected.empty() && ok)
            expected = output;
        EXPECT_EQ(output, ok ? expected : old) << at;
        EXPECT_EQ(ListDirectory(s.root()),
                  (std::vector<std::string>{"drive_c", "in.plt", "out.gpf"}))
            << at << ": nothing else left behind";
    };
    Sweep("genplot convert", setUp, Program([](DispatchSandbox& s) {
              return std::vector<std::string>{"convert", s.Path("in.plt"), "-o", s.Path("out.gpf")};
          }),
          verify);
    EXPECT_GT(expected.size(), 160u);
}

#endif

} // namespace
