// `genplot check`, `genplot send` and `genplot queue` run as a user runs them, with the drive
// and queue settings of a private sandbox.

#include "support/dispatch_sandbox.h"
#include "tools/program_runner.h"

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace
{

using genplot::test::LineCount;
using genplot::test::ProgramResult;
using genplot::test::RunGenplot;

constexpr std::size_t kRecordSize = 134;

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string Field(const std::vector<std::uint8_t>& record, std::size_t offset, std::size_t width)
{
    std::string text;
    for (std::size_t i = offset; i < offset + width && record[i] != 0; ++i)
        text += static_cast<char>(record[i]);
    return text;
}

// Checks one submission record against its layout: the unique name, the plot's base name,
// the drive "c", media kind 4 and one copy, every other byte 0.
void ExpectSubmission(const std::vector<std::uint8_t>& record, const std::string& baseName,
                      std::string& uniqueName)
{
    ASSERT_EQ(record.size(), kRecordSize);
    uniqueName = Field(record, 0, 22);
    EXPECT_TRUE(uniqueName.size() == 11 && uniqueName.compare(0, 3, "ggt") == 0 &&
                uniqueName.find_first_not_of("0123456789abcdefABCDEF", 3) == std::string::npos)
        << uniqueName;
    EXPECT_EQ(Field(record, 22, 21), baseName);
    EXPECT_EQ(record[44], 'c');
    EXPECT_EQ(record[49], 4);
    EXPECT_EQ(record[64], 1);
    for (std::size_t i = 22 + baseName.size(); i < kRecordSize; ++i)
    {
        if (i != 44 && i != 49 && i != 64)
        {
            EXPECT_EQ(record[i], 0) << "byte " << i;
        }
    }
}

TEST(CheckCommandTest, AnswersByExitStatus)
{
    DispatchSandbox box;
    WriteFileBytes(box.Path("plot.gpf"), PlotFileBytes(200));
    WriteText(box.Path("text.txt"), "IN;PU;");
    const ProgramResult plot = RunGenplot({"check", box.Path("plot.gpf")});
    EXPECT_EQ(plot.exitCode, 0);
    EXPECT_EQ(plot.out, box.Path("plot.gpf") + ": generic plot file\n");
    const ProgramResult text = RunGenplot({"check", box.Path("text.txt")});
    EXPECT_EQ(text.exitCode, 1);
    EXPECT_EQ(text.out, box.Path("text.txt") + ": not a generic plot file\n");
    const ProgramResult quiet = RunGenplot({"check", "-q", box.Path("missing.gpf")});
    EXPECT_EQ(quiet.exitCode, 1);
    EXPECT_EQ(quiet.out + quiet.err, "");
}

TEST(SendCommandTest, CopiesToAPathAndPrintsTheMessage)
{
    DispatchSandbox box;
    const std::vector<std::uint8_t> bytes = PlotFileBytes(10000);
    WriteFileBytes(box.Path("plot.gpf"), bytes);
    const ProgramResult result = RunGenplot(
        {"send", box.Path("plot.gpf"), "--to", box.Path("copy.gpf"), "--progress", "always"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out,
              "no error.\n" + box.Path("plot.gpf") + ": copied to " + box.Path("copy.gpf") + "\n");
    EXPECT_EQ(ReadFileBytes(box.Path("copy.gpf")), bytes);
    // The bar went up to the end of the copy.
    EXPECT_NE(result.err.find("sending ["), std::string::npos);
    EXPECT_NE(result.err.find("100%"), std::string::npos);
}

TEST(SendCommandTest, FailuresAreOneLineWithTheLibraryMessage)
{
    DispatchSandbox box;
    WriteText(box.Path("text.txt"), "not a plot file at all, but long enough to be read in full "
                                    "by the header check, which wants 144 bytes before it looks "
                                    "at the type and the magic of the first record.");
    const ProgramResult notPlot = RunGenplot({"send", box.Path("text.txt"), "--to", box.Path("x")});
    EXPECT_EQ(notPlot.exitCode, 1);
    EXPECT_EQ(notPlot.out, "");
    EXPECT_EQ(notPlot.err,
              "genplot send: " + box.Path("text.txt") + ": not a valid generic plot file.\n");
    EXPECT_FALSE(FileExists(box.Path("x")));

    WriteFileBytes(box.Path("plot.gpf"), PlotFileBytes(300));
    const ProgramResult noFolder =
        RunGenplot({"send", box.Path("plot.gpf"), "--to", box.Path("no/such/copy.gpf")});
    EXPECT_EQ(noFolder.exitCode, 1);
    // The line names the destination and why it cannot be made.
    EXPECT_EQ(noFolder.err, "genplot send: " + box.Path("no/such/copy.gpf") +
                                ": unable to open output file: No such file or directory\n");

    const ProgramResult nowhere = RunGenplot({"send", box.Path("plot.gpf")});
    EXPECT_EQ(nowhere.exitCode, 64);
    EXPECT_EQ(LineCount(nowhere.err), 1) << nowhere.err;
    EXPECT_EQ(RunGenplot({"send", box.Path("plot.gpf"), "--to", "a", "--queue"}).exitCode, 64);
}

TEST(SendCommandTest, SubmitsToTheDefaultQueueAndListsIt)
{
    DispatchSandbox box;
    const std::vector<std::uint8_t> bytes = PlotFileBytes(500);
    WriteFileBytes(box.Path("my plot.v2.gpf"), bytes);
    const ProgramResult sent = RunGenplot({"send", box.Path("my plot.v2.gpf"), "--queue"});
    EXPECT_EQ(sent.exitCode, 0) << sent.err;

    // "C:\plotque.que" lies in the drive's folder; the copy lies in the queue directory.
    const std::vector<std::uint8_t> queue = ReadFileBytes(box.drive() + "/plotque.que");
    std::string unique;
    ExpectSubmission(queue, "my plot.v2", unique);
    EXPECT_EQ(sent.out, "no error.\n" + box.Path("my plot.v2.gpf") +
                            ": submitted to C:\\plotque.que (" + box.drive() + "/plotque.que) as " +
                            unique + " in c:\\userroot\\devq\\plotter\\ (" + box.queueDirectory() +
                            "/)\n");
    EXPECT_EQ(ListDirectory(box.queueDirectory()), (std::vector<std::string>{unique}));
    EXPECT_EQ(ReadFileBytes(box.queueDirectory() + "/" + unique), bytes);

    const ProgramResult listed = RunGenplot({"queue"});
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_EQ(listed.out,
              "C:\\plotque.que: 1 submission\n1  " + unique + "  my plot.v2  media 4  copies 1\n");
}

TEST(SendCommandTest, QueueFileNamedOnTheCommandLine)
{
    DispatchSandbox box;
    WriteFileBytes(box.Path("a.gpf"), PlotFileBytes(200));
    WriteFileBytes(box.Path("b.gpf"), PlotFileBytes(300));
    const std::string queueFile = box.Path("mine.que");
    ASSERT_EQ(RunGenplot({"send", box.Path("a.gpf"), "--queue", queueFile}).exitCode, 0);
    ASSERT_EQ(RunGenplot({"send", box.Path("b.gpf"), "--queue", queueFile}).exitCode, 0);
    EXPECT_FALSE(FileExists(box.drive() + "/plotque.que"));

    const std::vector<std::uint8_t> queue = ReadFileBytes(queueFile);
    ASSERT_EQ(queue.size(), 2 * kRecordSize);
    std::string first;
    std::string second;
    ExpectSubmission({queue.begin(), queue.begin() + kRecordSize}, "a", first);
    ExpectSubmission({queue.begin() + kRecordSize, queue.end()}, "b", second);
    EXPECT_NE(first, second);

    const ProgramResult listed = RunGenplot({"queue", queueFile});
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_EQ(listed.out, queueFile + ": 2 submissions\n1  " + first +
                              "  a  media 4  copies 1\n2  " + second + "  b  media 4  copies 1\n");
}

TEST(QueueCommandTest, MissingAndDamagedQueueFiles)
{
    DispatchSandbox box;
    const ProgramResult missing = RunGenplot({"queue", box.Path("none.que")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(LineCount(missing.err), 1) << missing.err;

    // One whole record and 10 bytes of a second one.
    std::vector<std::uint8_t> bytes(kRecordSize + 10, 0);
    const std::string name = "ggt0000abcd";
    std::copy(name.begin(), name.end(), bytes.begin());
    bytes[22] = 'p';
    bytes[64] = 1;
    bytes[49] = 4;
    WriteFileBytes(box.Path("cut.que"), bytes);
    const ProgramResult cut = RunGenplot({"queue", box.Path("cut.que")});
    EXPECT_EQ(cut.exitCode, 1);
    EXPECT_EQ(cut.out, "") << "nothing listed from a file that is no queue";
    EXPECT_EQ(cut.err, "genplot queue: " + box.Path("cut.que") +
                           ": not a queue file: 144 bytes is not a whole number of 134-byte "
                           "records\n");
}

TEST(QueueCommandTest, FileThatIsNotAQueueIsOneLine)
{
    DispatchSandbox box;
    // A plot file whose size happens to be whole records: its first record names no file.
    WriteFileBytes(box.Path("plot.gpf"), PlotFileBytes(27 * kRecordSize));
    const ProgramResult plot = RunGenplot({"queue", box.Path("plot.gpf")});
    EXPECT_EQ(plot.exitCode, 1);
    EXPECT_EQ(plot.out, "");
    EXPECT_EQ(plot.err, "genplot queue: " + box.Path("plot.gpf") +
                            ": not a queue file: record 1 is not a submission\n");

    const ProgramResult folder = RunGenplot({"queue", box.drive()});
    EXPECT_EQ(folder.exitCode, 1);
    EXPECT_EQ(folder.err,
              "genplot queue: " + box.drive() + ": not a queue file: not a regular file\n");
}

TEST(SendCommandTest, FirstQueueSendOnAFreshHomeWorks)
{
    DispatchSandbox box;
    // The drive's folder itself is not there yet, as on a new account.
    ScopedEnvVar drive("GENPLOT_DRIVE_C", box.Path("home/share/drive_c").c_str());
    WriteFileBytes(box.Path("plot.gpf"), PlotFileBytes(400));
    const ProgramResult sent = RunGenplot({"send", box.Path("plot.gpf"), "--queue"});
    EXPECT_EQ(sent.exitCode, 0) << sent.err;
    EXPECT_EQ(ReadFileBytes(box.Path("home/share/drive_c/plotque.que")).size(), kRecordSize);
    EXPECT_EQ(ListDirectory(box.Path("home/share/drive_c/userroot/devq/plotter")).size(), 1u);
}

TEST(SendCommandTest, QueueFileThatIsThePlotIsRefusedAndKept)
{
    DispatchSandbox box;
    const std::vector<std::uint8_t> bytes = PlotFileBytes(3 * kRecordSize);
    WriteFileBytes(box.Path("victim.gpf"), bytes);
    const ProgramResult sent =
        RunGenplot({"send", box.Path("victim.gpf"), "--queue", box.Path("victim.gpf")});
    EXPECT_EQ(sent.exitCode, 1);
    EXPECT_EQ(LineCount(sent.err), 1) << sent.err;
    EXPECT_EQ(sent.err.rfind("genplot send: " + box.Path("victim.gpf") +
                                 ": plot queue failed to respond.  Check installation: it is the "
                                 "plot being sent; the copy stays in the queue directory as ggt",
                             0),
              0u)
        << sent.err;
    EXPECT_EQ(ReadFileBytes(box.Path("victim.gpf")), bytes);
}

TEST(CheckCommandTest, MissingFileIsAnErrorNotAnAnswer)
{
    DispatchSandbox box;
    const ProgramResult missing = RunGenplot({"check", box.Path("missing.gpf")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "genplot check: " + box.Path("missing.gpf") +
                               ": cannot open: No such file or directory\n");
}

} // namespace
