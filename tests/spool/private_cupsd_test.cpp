// scripts/private_cupsd, the throw-away scheduler that the spooler's tests and the sample share:
// it goes when whoever started it goes, however that happens, and where it cannot run it says
// why in one line and leaves nothing behind.

#include "tests/spool/private_cups.h"
#include "tests/spool/script_process.h"

#include "support/dispatch_sandbox.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

namespace genplot::test
{
namespace
{

const std::string kScript = GENPLOT_PRIVATE_CUPSD;

bool Exists(const std::string& path)
{
    struct stat info
    {
    };
    return lstat(path.c_str(), &info) == 0;
}

// Waits up to `seconds` until nothing of the scheduler in `folder` is left.
bool GoneWithin(const std::string& folder, double seconds)
{
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    while (Exists(folder) || AnyProcessMentions(folder))
    {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

std::string FolderOf(const std::string& socket)
{
    return socket.substr(0, socket.rfind('/'));
}

TEST(PrivateSchedulerTest, GoesWithTheProcessThatStartedItEvenAKilledOne)
{
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    const pid_t owner = fork();
    ASSERT_GE(owner, 0);
    if (owner == 0)
    {
        close(report[0]);
        PrivateCups cups;
        const std::string line =
            (cups.Running() ? "socket " + cups.Socket() : "problem " + cups.Problem()) + "\n";
        if (write(report[1], line.data(), line.size()) < 0)
            _exit(1);
        pause();
        _exit(0);
    }
    close(report[1]);
    std::string line;
    char c = 0;
    while (read(report[0], &c, 1) == 1 && c != '\n')
        line += c;
    close(report[0]);
    kill(owner, SIGKILL);
    waitpid(owner, nullptr, 0);
    if (line.rfind("socket ", 0) != 0)
    {
        if (RunningUnderCi())
            FAIL() << "no private CUPS scheduler: " << line;
        GTEST_SKIP() << "no private CUPS scheduler: " << line;
    }

    // Killed without a chance to stop it: the end of the script's input stops it all the same.
    const std::string folder = FolderOf(line.substr(7));
    EXPECT_TRUE(GoneWithin(folder, 40)) << folder;
}

TEST(PrivateSchedulerTest, TermStopsTheSchedulerAndRemovesItsFolder)
{
    DispatchSandbox sandbox;
    ScriptProcess script({kScript, "first", "second"}, {}, sandbox.Path("stderr"));
    std::string line;
    std::string socket;
    std::vector<std::string> captures;
    while (script.ReadLine(&line, 60) && line != "ready")
    {
        if (line.rfind("socket ", 0) == 0)
            socket = line.substr(7);
        else if (line.rfind("capture ", 0) == 0)
            captures.push_back(line.substr(8));
        else if (line.rfind("unavailable: ", 0) == 0 && !RunningUnderCi())
            GTEST_SKIP() << line;
    }
    ASSERT_EQ(line, "ready") << ::testing::PrintToString(script.Lines());
    const std::string folder = FolderOf(socket);
    ASSERT_EQ(captures.size(), 2u);
    EXPECT_EQ(captures[0], "first " + folder + "/capture/first");
    EXPECT_EQ(captures[1], "second " + folder + "/capture/second");
    EXPECT_TRUE(Exists(folder + "/capture/second"));

    // The script alone, as a service manager stops a service's main process.
    kill(script.Pid(), SIGTERM);
    EXPECT_EQ(script.Finish(40), 0);
    EXPECT_TRUE(GoneWithin(folder, 0));
}

// A stand-in for cupsd that notes its configuration folder, then fails as a scheduler does
// that cannot start.
constexpr const char* kFailingCupsd = R"(#!/bin/sh
echo "$3" > "$(dirname "$0")/configuration"
echo "no scheduler today" >&2
exit 1
)";

TEST(PrivateSchedulerTest, SaysWhyItCannotRunInOneLineAndLeavesNothing)
{
    DispatchSandbox sandbox;
    const std::string err = sandbox.Path("stderr");
    {
        ScriptProcess script({kScript, "capture"}, {{"GENPLOT_CUPSD", sandbox.Path("none")}}, err);
        EXPECT_EQ(script.Finish(30), 3);
        EXPECT_EQ(script.Lines(), std::vector<std::string>{"unavailable: cupsd or lpadmin is not "
                                                           "installed (Debian: cups-daemon, "
                                                           "cups-client)"});
    }
    {
        ScriptProcess script({kScript, "no/slashes"}, {}, err);
        EXPECT_EQ(script.Finish(30), 64);
        EXPECT_TRUE(script.Lines().empty());
    }
    if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0 ||
        access("/usr/sbin/cupsd", X_OK) != 0)
        GTEST_SKIP() << "the remaining cases need root, setpriv and cupsd";
    {
        ScriptProcess script({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                              "--clear-groups", kScript, "capture"},
                             {}, err);
        EXPECT_EQ(script.Finish(30), 3);
        EXPECT_EQ(script.Lines(),
                  std::vector<std::string>{"unavailable: the scheduler runs its jobs as user lp "
                                           "and needs to be started as root"});
    }
    {
        const std::string fake = sandbox.Path("cupsd");
        WriteFileBytes(fake, std::vector<std::uint8_t>(kFailingCupsd,
                                                       kFailingCupsd + std::strlen(kFailingCupsd)));
        ASSERT_EQ(chmod(fake.c_str(), 0755), 0);
        ScriptProcess script({kScript, "capture"}, {{"GENPLOT_CUPSD", fake}}, err);
        EXPECT_EQ(script.Finish(60), 1);
        ASSERT_EQ(script.Lines().size(), 1u);
        EXPECT_EQ(script.Lines()[0].rfind("failed: cupsd exited: no scheduler today", 0), 0u)
            << script.Lines()[0];
        const std::vector<std::uint8_t> noted = ReadFileBytes(sandbox.Path("configuration"));
        const std::string configuration(noted.begin(), noted.end());
        ASSERT_NE(configuration.find("/conf/cupsd.conf"), std::string::npos) << configuration;
        EXPECT_FALSE(Exists(configuration.substr(0, configuration.find("/conf/"))));
    }
}

} // namespace
} // namespace genplot::test
