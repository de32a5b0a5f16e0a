// Where `convert` and `render` put their output: never over their own input, whatever path
// names it; named pipes, devices and standard output written in place, never renamed over.

#include "support/dispatch_sandbox.h"
#include "tools/program_runner.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace
{

using genplot::test::LineCount;
using genplot::test::ProgramResult;
using genplot::test::RunGenplot;

const std::string kSample = std::string(GENPLOT_EXAMPLES_DIR) + "/sample.plt";

std::string AsText(const std::vector<std::uint8_t>& bytes)
{
    return {bytes.begin(), bytes.end()};
}

bool IsFifo(const std::string& path)
{
    struct stat info;
    return lstat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode);
}

// Reads what is waiting in a non-blocking descriptor.
std::string Drain(int fd)
{
    std::string text;
    char buffer[4096];
    for (;;)
    {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got > 0)
            text.append(buffer, static_cast<std::size_t>(got));
        else if (got < 0 && errno == EINTR)
            continue;
        else
            return text;
    }
}

class OutputSafetyTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        input_ = box_.Path("drawing.plt");
        WriteFileBytes(input_, ReadFileBytes(kSample));
        plot_ = box_.Path("drawing.gpf");
        ASSERT_EQ(RunGenplot({"convert", input_, "-o", plot_}).exitCode, 0);
        original_ = ReadFileBytes(input_);
        originalPlot_ = ReadFileBytes(plot_);
        // Everything here fits a pipe's buffer, so a reader can collect it afterwards.
        ASSERT_LT(originalPlot_.size(), 60000u);
    }

    DispatchSandbox box_;
    std::string input_;
    std::string plot_;
    std::vector<std::uint8_t> original_;
    std::vector<std::uint8_t> originalPlot_;
};

TEST_F(OutputSafetyTest, ConvertRefusesToWriteOverItsInputByAnyName)
{
    ASSERT_EQ(symlink(input_.c_str(), box_.Path("symbolic.plt").c_str()), 0);
    ASSERT_EQ(link(input_.c_str(), box_.Path("hard.plt").c_str()), 0);
    ASSERT_EQ(chdir(box_.root().c_str()), 0);
    for (const std::string& output :
         {input_, std::string("./drawing.plt"), box_.Path("symbolic.plt"), box_.Path("hard.plt"),
          box_.root() + "/../" + box_.root().substr(box_.root().rfind('/') + 1) + "/drawing.plt"})
    {
        SCOPED_TRACE(output);
        const ProgramResult result = RunGenplot({"convert", input_, "-o", output});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(LineCount(result.err), 1) << result.err;
        EXPECT_EQ(result.err.rfind("genplot convert: " + output + ": is the input file", 0), 0u)
            << result.err;
        EXPECT_EQ(ReadFileBytes(input_), original_);
    }
    // The links are still links, and nothing else was left in the folder.
    struct stat info;
    ASSERT_EQ(lstat(box_.Path("symbolic.plt").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(ListDirectory(box_.root()),
              (std::vector<std::string>{"drawing.gpf", "drawing.plt", "drive_c", "hard.plt",
                                        "symbolic.plt"}));
}

TEST_F(OutputSafetyTest, RenderRefusesToWriteOverItsInput)
{
    ASSERT_EQ(link(plot_.c_str(), box_.Path("other.gpf").c_str()), 0);
    for (const std::string& output : {plot_, box_.Path("other.gpf")})
    {
        SCOPED_TRACE(output);
        const ProgramResult result = RunGenplot({"render", plot_, "--format", "svg", "-o", output});
        EXPECT_NE(result.exitCode, 0);
        EXPECT_NE(result.err.find(output + ": is the input file"), std::string::npos) << result.err;
        EXPECT_EQ(ReadFileBytes(plot_), originalPlot_);
    }
}

TEST_F(OutputSafetyTest, NamedPipesAreWrittenInPlace)
{
    const std::string pipe = box_.Path("pipe");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);

    // No reader: refused at once instead of waiting for one, and the pipe stays a pipe.
    const ProgramResult alone = RunGenplot({"convert", input_, "-o", pipe});
    EXPECT_EQ(alone.exitCode, 1);
    EXPECT_NE(alone.err.find("no process is reading"), std::string::npos) << alone.err;
    EXPECT_TRUE(IsFifo(pipe));

    // With a reader, the plot goes through the pipe exactly as it would into a file.
    const int reader = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const ProgramResult converted = RunGenplot({"convert", input_, "-o", pipe});
    EXPECT_EQ(converted.exitCode, 0) << converted.err;
    EXPECT_EQ(Drain(reader), AsText(originalPlot_));
    const ProgramResult rendered = RunGenplot({"render", plot_, "--format", "svg", "-o", pipe});
    EXPECT_EQ(rendered.exitCode, 0) << rendered.err;
    EXPECT_EQ(Drain(reader).rfind("<?xml", 0), 0u);
    close(reader);
    EXPECT_TRUE(IsFifo(pipe));
    EXPECT_EQ(ListDirectory(box_.root()),
              (std::vector<std::string>{"drawing.gpf", "drawing.plt", "drive_c", "pipe"}));
}

TEST_F(OutputSafetyTest, StandardOutputAndDevicesAreWrittenInPlace)
{
    // "-" and /dev/stdout: the plot alone on stdout, the summary on stderr.
    for (const char* output : {"-", "/dev/stdout"})
    {
        SCOPED_TRACE(output);
        const ProgramResult result = RunGenplot({"convert", input_, "-o", output});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out, AsText(originalPlot_));
        EXPECT_NE(result.err.find(std::string(output) + ": 8 pieces"), std::string::npos)
            << result.err;
    }
    const ProgramResult svg = RunGenplot({"render", plot_, "--format", "svg", "-o", "-"});
    EXPECT_EQ(svg.exitCode, 0) << svg.err;
    EXPECT_EQ(svg.out.rfind("<?xml", 0), 0u) << svg.out.substr(0, 80);
    EXPECT_NE(svg.out.find("</svg>"), std::string::npos);
    EXPECT_FALSE(FileExists("-"));

    // A character device is opened, not replaced (as root a rename would replace the node).
    struct stat before;
    ASSERT_EQ(stat("/dev/null", &before), 0);
    const ProgramResult null = RunGenplot({"convert", input_, "-o", "/dev/null"});
    EXPECT_EQ(null.exitCode, 0) << null.err;
    EXPECT_EQ(RunGenplot({"render", plot_, "--format", "svg", "-o", "/dev/null"}).exitCode, 0);
    struct stat after;
    ASSERT_EQ(stat("/dev/null", &after), 0);
    EXPECT_TRUE(S_ISCHR(after.st_mode));
    EXPECT_EQ(after.st_ino, before.st_ino);

    // A folder is not a file to write.
    const ProgramResult folder = RunGenplot({"convert", input_, "-o", box_.root()});
    EXPECT_EQ(folder.exitCode, 1);
    EXPECT_NE(folder.err.find(box_.root() + ": is a folder"), std::string::npos) << folder.err;
}

} // namespace
