// The program's command line as a newcomer meets it: unknown names get a suggestion, `help`
// is a subcommand, errors inside a subcommand point at its help, 64 means a wrong command line
// and 1 a failed run, `-` is standard input, and verify counts as convert does.

#include "support/dispatch_sandbox.h"
#include "tools/program_runner.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <vector>

#include <gtest/gtest.h>

namespace
{

using genplot::test::LineCount;
using genplot::test::ProgramResult;
using genplot::test::RunGenplot;

const std::string kSample = std::string(GENPLOT_EXAMPLES_DIR) + "/sample.plt";

TEST(CommandLineTest, UnknownNamesAreNamedWithTheNearestSubcommand)
{
    const ProgramResult slip = RunGenplot({"convrt", "x.plt"});
    EXPECT_EQ(slip.exitCode, 64);
    EXPECT_EQ(slip.err, "genplot: unknown subcommand convrt (did you mean convert?)\n");
    EXPECT_EQ(RunGenplot({"rendr"}).err,
              "genplot: unknown subcommand rendr (did you mean render?)\n");
    EXPECT_EQ(RunGenplot({"ver"}).err, "genplot: unknown subcommand ver (did you mean verify?)\n");
    EXPECT_EQ(RunGenplot({"frobnicate"}).err,
              "genplot: unknown subcommand frobnicate (see genplot --help)\n");

    const ProgramResult option = RunGenplot({"--bogus"});
    EXPECT_EQ(option.exitCode, 64);
    EXPECT_EQ(option.err, "genplot: unknown option --bogus (see genplot --help)\n");
}

TEST(CommandLineTest, HelpIsASubcommand)
{
    const ProgramResult overview = RunGenplot({"help"});
    EXPECT_EQ(overview.exitCode, 0);
    EXPECT_EQ(overview.out, RunGenplot({"--help"}).out);
    EXPECT_NE(overview.out.find("convert"), std::string::npos);
    for (const char* command : {"convert", "check", "send", "queue", "dump", "verify", "render"})
    {
        SCOPED_TRACE(command);
        const ProgramResult help = RunGenplot({"help", command});
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_EQ(help.out, RunGenplot({command, "--help"}).out);
    }
    const ProgramResult unknown = RunGenplot({"help", "nope"});
    EXPECT_EQ(unknown.exitCode, 64);
    EXPECT_EQ(LineCount(unknown.err), 1) << unknown.err;
}

TEST(CommandLineTest, ErrorsInsideASubcommandPointAtItsHelp)
{
    struct Case
    {
        std::vector<std::string> args;
        std::string start;
    };
    const Case cases[] = {
        {{"convert"}, "genplot convert: INPUT is required"},
        {{"verify", "a.gpf", "b.gpf"}, "genplot verify: "},
        {{"convert", kSample, "-o", "o.gpf", "--p1p2", "1,2"}, "genplot convert: --p1p2 takes"},
        {{"convert", kSample, "-o", "o.gpf", "--pen-table", "abc"},
         "genplot convert: --pen-table takes"},
        {{"render", "x.gpf", "-o", "x.svg", "--size", "0"}, "genplot render: "},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.args.front() + " " + c.start);
        const ProgramResult result = RunGenplot(c.args);
        EXPECT_EQ(result.exitCode, 64);
        EXPECT_EQ(LineCount(result.err), 1) << result.err;
        EXPECT_EQ(result.err.rfind(c.start, 0), 0u) << result.err;
        const std::string pointer = "(see genplot " + c.args.front() + " --help)\n";
        ASSERT_GE(result.err.size(), pointer.size());
        EXPECT_EQ(result.err.substr(result.err.size() - pointer.size()), pointer);
    }
}

TEST(CommandLineTest, ARegistryFileThatCannotServeIsRefused)
{
    DispatchSandbox box;
    const std::string output = box.Path("o.gpf");
    const ProgramResult device =
        RunGenplot({"convert", kSample, "-o", output, "--registry", "/dev/zero"});
    EXPECT_EQ(device.exitCode, 1);
    EXPECT_EQ(device.err, "genplot convert: --registry /dev/zero: not a regular file\n");
    const ProgramResult missing =
        RunGenplot({"convert", kSample, "-o", output, "--registry", box.Path("none.reg")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err, "genplot convert: --registry " + box.Path("none.reg") +
                               ": No such file or directory\n");
    EXPECT_FALSE(FileExists(output));
}

// Parses "PATH: N pieces, N lines, N labels, N points, " from a summary line into `counts`.
bool Counts(const std::string& line, const std::string& prefix, unsigned long (&counts)[4])
{
    return line.rfind(prefix, 0) == 0 &&
           std::sscanf(line.c_str() + prefix.size(),
                       "%lu pieces, %lu lines, %lu labels, %lu points", &counts[0], &counts[1],
                       &counts[2], &counts[3]) == 4;
}

TEST(CommandLineTest, VerifyCountsWhatConvertWrote)
{
    DispatchSandbox box;
    const std::string plot = box.Path("sample.gpf");
    const ProgramResult converted = RunGenplot({"convert", kSample, "-o", plot});
    ASSERT_EQ(converted.exitCode, 0) << converted.err;
    const ProgramResult verified = RunGenplot({"verify", plot});
    ASSERT_EQ(verified.exitCode, 0) << verified.err;
    unsigned long written[4] = {};
    unsigned long read[4] = {};
    ASSERT_TRUE(Counts(converted.out, plot + ": ", written)) << converted.out;
    ASSERT_TRUE(Counts(verified.out, plot + ": valid plot file: ", read)) << verified.out;
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(read[i], written[i]) << i;
    const std::vector<std::uint8_t> bytes = ReadFileBytes(plot);
    EXPECT_NE(verified.out.find(", " + std::to_string(bytes.size()) + " bytes\n"),
              std::string::npos)
        << verified.out;
}

TEST(CommandLineTest, DashIsStandardInputForConvert)
{
    DispatchSandbox box;
    const std::string fromFile = box.Path("file.gpf");
    const std::string fromStdin = box.Path("stdin.gpf");
    ASSERT_EQ(RunGenplot({"convert", kSample, "-o", fromFile, "--source-name", "stdin"}).exitCode,
              0);
    const int status = std::system(("'" + std::string(GENPLOT_EXE) + "' convert - -o '" +
                                    fromStdin + "' < '" + kSample + "' > /dev/null 2>&1")
                                       .c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFileBytes(fromStdin), ReadFileBytes(fromFile));
    EXPECT_FALSE(FileExists(box.Path("-")));
}

} // namespace
