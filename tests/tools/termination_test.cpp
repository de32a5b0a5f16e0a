// Signals that end `genplot convert` while it writes: each removes the temporary file, and so
// does a second Ctrl-C; nothing appears under the output's name.

#include "support/dispatch_sandbox.h"
#include "tools/program_runner.h"

#include <csignal>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace
{

using genplot::test::GenplotProcess;
using genplot::test::LargeDrawing;
using genplot::test::ProgramResult;

// Runs convert on ever larger drawings until `signals` arrive while the write is under way
// (the bar shows), and returns that run's result; exit status 0 means the write always won.
ProgramResult SignalDuringTheWrite(const DispatchSandbox& box, const std::vector<int>& signals)
{
    const std::string input = box.Path("large.plt");
    const std::string output = box.Path("large.gpf");
    ProgramResult result;
    int lines = 100000;
    for (int attempt = 0; attempt < 5; ++attempt, lines *= 2)
    {
        std::remove(output.c_str());
        std::ofstream(input, std::ios::binary) << LargeDrawing(lines);
        GenplotProcess process({"convert", input, "-o", output, "--progress", "always"});
        EXPECT_TRUE(process.Started());
        const bool barShown = process.ReadUntil(
            [](const std::string& err) { return err.find("writing [") != std::string::npos; },
            std::chrono::minutes(5));
        if (barShown)
        {
            for (int signal : signals)
                process.Signal(signal);
        }
        result = process.Wait();
        if (result.exitCode != 0)
            break;
    }
    return result;
}

TEST(TerminationTest, EveryTerminatingSignalRemovesTheTemporaryFile)
{
    for (int signal : {SIGTERM, SIGHUP, SIGQUIT})
    {
        SCOPED_TRACE(signal);
        DispatchSandbox box;
        const ProgramResult result = SignalDuringTheWrite(box, {signal});
        ASSERT_NE(result.exitCode, 0) << "every write finished before the signal arrived";
        // The program dies of the signal itself, as a shell expects.
        EXPECT_EQ(result.signal, signal) << result.err;
        EXPECT_EQ(ListDirectory(box.root()), (std::vector<std::string>{"drive_c", "large.plt"}));
    }
}

TEST(TerminationTest, ASecondInterruptRemovesTheTemporaryFileToo)
{
    DispatchSandbox box;
    const ProgramResult result = SignalDuringTheWrite(box, {SIGINT, SIGINT});
    ASSERT_NE(result.exitCode, 0) << "every write finished before the interrupt arrived";
    EXPECT_EQ(result.exitCode, 130) << result.err;
    EXPECT_NE(result.err.find("genplot convert: interrupted; " + box.Path("large.gpf") +
                              " was not written\n"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(ListDirectory(box.root()), (std::vector<std::string>{"drive_c", "large.plt"}));
}

} // namespace
