#include "genplot/plot_dispatch.h"
#include "genplot/plot_queue_access.h"
#include "platform/allocation_internal.h"
#include "support/byte_builder.h"
#include "support/dispatch_sandbox.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace
{

constexpr std::size_t kRecordSize = 134;

struct Queued
{
    int result;
    std::string message;
};

Queued SendToQueue(const std::string& input, const std::string& destination)
{
    CString inputPath(input.c_str());
    CString destinationPath(destination.c_str());
    CString message("stale");
    const int result = SendGenericPlot(inputPath, destinationPath, message, nullptr, 1);
    return {result, message.GetString()};
}

// The submission record as the queue file must hold it, written out from the layout.
std::vector<std::uint8_t> ExpectedRecord(const std::string& fileName, const std::string& baseName)
{
    ByteBuilder record;
    record.Text(fileName).Zeros(22 - fileName.size()); // 0-21 fileName, NUL-terminated
    record.Text(baseName).Zeros(21 - baseName.size()); // 22-42 baseName, byte 42 always 0
    record.Zeros(1);                                   // 43
    record.Bytes({'c', 0});                            // 44-45 "c"
    record.Zeros(3);                                   // 46-48
    record.U8(4);                                      // 49
    record.Zeros(14);                                  // 50-63
    record.U8(1);                                      // 64
    record.Zeros(69);                                  // 65-133
    return record.bytes();
}

// Which of the candidate queue files received the submission.
class QueueChoiceTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        WriteFileBytes(sandbox_.Path("plan.gpf"), PlotFileBytes(400));
    }

    // Sends with the given drive settings and returns the name of the one queue file, below
    // drive C, that holds a record ("" when none does, "several" when more than one does).
    std::string QueueFileUsed(const char* flag, const char* driveText,
                              const std::string& destination)
    {
        sandbox_.SetQueueFlag(flag);
        sandbox_.SetQueueFile(driveText);
        const Queued queued = SendToQueue(sandbox_.Path("plan.gpf"), destination);
        EXPECT_EQ(queued.message, "no error.");
        std::string used;
        for (const std::string& name : ListDirectory(sandbox_.drive()))
        {
            if (name == "userroot")
                continue;
            EXPECT_EQ(ReadFileBytes(sandbox_.drive() + "/" + name).size(), kRecordSize) << name;
            used = used.empty() ? name : "several";
            std::remove((sandbox_.drive() + "/" + name).c_str());
        }
        return used;
    }

    DispatchSandbox sandbox_;
};

TEST_F(QueueChoiceTest, FlagSetPrefersDestinationThenDriveText)
{
    EXPECT_EQ(QueueFileUsed("1", "C:\\t.q", "c:\\dest.que"), "dest.que");
    EXPECT_EQ(QueueFileUsed("1", nullptr, "c:\\dest.que"), "dest.que");
    EXPECT_EQ(QueueFileUsed("1", "C:\\t.q", ""), "t.q");
    // Both empty: the choice is empty, so the default queue file.
    EXPECT_EQ(QueueFileUsed("1", nullptr, ""), "plotque.que");
}

TEST_F(QueueChoiceTest, FlagClearUsesDestinationOnlyWithDriveText)
{
    EXPECT_EQ(QueueFileUsed("0", nullptr, "c:\\dest.que"), "plotque.que");
    EXPECT_EQ(QueueFileUsed(nullptr, "", "c:\\dest.que"), "plotque.que");
    EXPECT_EQ(QueueFileUsed("0", nullptr, ""), "plotque.que");
    EXPECT_EQ(QueueFileUsed("0", "C:\\t.q", "c:\\dest.que"), "dest.que");
    EXPECT_EQ(QueueFileUsed("0", "C:\\t.q", ""), "plotque.que");
}

TEST_F(QueueChoiceTest, QueueFilePathLongerThan127IsRefusedBeforeAnythingIsMade)
{
    // "c:\" and a name: 127 characters are taken, 128 are not.
    const std::string fits = "c:\\" + std::string(124, 'q');
    const std::string tooLong = "c:\\" + std::string(125, 'q');
    ASSERT_EQ(fits.size(), 127u);
    ASSERT_EQ(tooLong.size(), 128u);
    EXPECT_EQ(QueueFileUsed("1", nullptr, fits), std::string(124, 'q'));

    sandbox_.SetQueueFlag("1");
    const int before = CountOpenDescriptors();
    const Queued queued = SendToQueue(sandbox_.Path("plan.gpf"), tooLong);
    EXPECT_EQ(queued.result, 0);
    EXPECT_EQ(queued.message, "plot queue failed to respond.  Check installation.");
    EXPECT_EQ(CountOpenDescriptors(), before);
    EXPECT_EQ(ListDirectory(sandbox_.queueDirectory()).size(), 1u) << "only the earlier copy";
    EXPECT_FALSE(FileExists(sandbox_.drive() + "/" + std::string(125, 'q')));

    // A long destination that is not chosen does not matter.
    sandbox_.SetQueueFlag("0");
    const Queued unused = SendToQueue(sandbox_.Path("plan.gpf"), tooLong);
    EXPECT_EQ(unused.message, "no error.");
}

class QueueSubmissionTest : public ::testing::Test
{
  protected:
    // Sends `inputName` (below drive C) to the default queue and checks the one copy and the
    // one record against the expected base name.
    void ExpectSubmission(const std::string& inputName, const std::string& baseName)
    {
        const std::vector<std::uint8_t> plot = PlotFileBytes(5000);
        WriteFileBytes(sandbox_.drive() + "/plots/" + inputName, plot);
        const Queued queued = SendToQueue("C:\\plots\\" + inputName, "");
        EXPECT_EQ(queued.result, 1);
        EXPECT_EQ(queued.message, "no error.");

        const std::vector<std::string> copies = ListDirectory(sandbox_.queueDirectory());
        ASSERT_EQ(copies.size(), 1u);
        const std::string& name = copies[0];
        EXPECT_LE(name.size(), 21u);
        EXPECT_EQ(name.rfind("ggt", 0), 0u) << name;
        EXPECT_EQ(ReadFileBytes(sandbox_.queueDirectory() + "/" + name), plot);
        EXPECT_TRUE(SameBytes(ExpectedRecord(name, baseName),
                              ReadFileBytes(sandbox_.drive() + "/plotque.que")));
    }

    void SetUp() override
    {
        ::mkdir((sandbox_.drive() + "/plots").c_str(), 0777);
    }

    DispatchSandbox sandbox_;
};

TEST_F(QueueSubmissionTest, BaseNameOf21CharactersKeepsTwentyAndTheTerminator)
{
    ExpectSubmission("abcdefghijklmnopqrstu.gpf", "abcdefghijklmnopqrst");
}

TEST_F(QueueSubmissionTest, BaseNameOf3CharactersIsNulPaddedThroughByte42)
{
    ExpectSubmission("abc.gpf", "abc");
}

TEST_F(QueueSubmissionTest, UnreachableQueueKeepsTheCopyAndSubmitsNothing)
{
    const std::vector<std::uint8_t> plot = PlotFileBytes(700);
    WriteFileBytes(sandbox_.Path("plan.gpf"), plot);
    sandbox_.SetQueueFlag("1");
    WriteFileBytes(sandbox_.drive() + "/not", {}); // a file where the queue's folder must go
    const Queued queued = SendToQueue(sandbox_.Path("plan.gpf"), "c:\\not\\installed.que");
    EXPECT_EQ(queued.result, 0);
    EXPECT_EQ(queued.message, "plot queue failed to respond.  Check installation.");
    const std::vector<std::string> copies = ListDirectory(sandbox_.queueDirectory());
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(ReadFileBytes(sandbox_.queueDirectory() + "/" + copies[0]), plot);
    EXPECT_EQ(ListDirectory(sandbox_.drive()),
              (std::vector<std::string>{"not", "plots", "userroot"}));
}

TEST_F(QueueSubmissionTest, NoMemoryForTheClientMakesNothing)
{
    WriteFileBytes(sandbox_.Path("plan.gpf"), PlotFileBytes(700));
    const int before = CountOpenDescriptors();
    CString input(sandbox_.Path("plan.gpf").c_str());
    CString destination;
    CString message;
    genplot::detail::FailAllocationAfter(1); // the client is the first allocation of the call
    const int result = SendGenericPlot(input, destination, message, nullptr, 1);
    genplot::detail::FailAllocationAfter(0);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(message, "not enough memory to process file.");
    EXPECT_EQ(CountOpenDescriptors(), before);
    EXPECT_EQ(ListDirectory(sandbox_.drive()), std::vector<std::string>{"plots"});
}

TEST_F(QueueSubmissionTest, QueueDirectoryThatCannotBeMadeGives201)
{
    WriteFileBytes(sandbox_.Path("plan.gpf"), PlotFileBytes(700));
    WriteFileBytes(sandbox_.drive() + "/userroot", {0}); // a file where a folder must go
    const int before = CountOpenDescriptors();
    const Queued queued = SendToQueue(sandbox_.Path("plan.gpf"), "");
    EXPECT_EQ(queued.result, 0);
    EXPECT_EQ(queued.message, "unable to open output file.");
    EXPECT_EQ(CountOpenDescriptors(), before);
    EXPECT_EQ(ReadFileBytes(sandbox_.drive() + "/plotque.que").size(), 0u) << "nothing submitted";
}

TEST_F(QueueSubmissionTest, TwoProcessesSubmittingAtOnceGetDistinctNamesAndWholeRecords)
{
    constexpr int kPerProcess = 50;
    const std::vector<std::uint8_t> plot = PlotFileBytes(4096 + 300);
    WriteFileBytes(sandbox_.drive() + "/plots/first.gpf", plot);
    WriteFileBytes(sandbox_.drive() + "/plots/second.gpf", plot);

    // Both children wait on the pipe until the parent closes it, then submit flat out.
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    pid_t children[2];
    const char* inputs[2] = {"C:\\plots\\first.gpf", "C:\\plots\\second.gpf"};
    for (int i = 0; i < 2; ++i)
    {
        children[i] = fork();
        ASSERT_GE(children[i], 0);
        if (children[i] == 0)
        {
            close(gate[1]);
            char byte;
            while (read(gate[0], &byte, 1) < 0)
            {
            }
            int failures = 0;
            for (int n = 0; n < kPerProcess; ++n)
            {
                CString input(inputs[i]);
                CString destination;
                CString message;
                if (SendGenericPlot(input, destination, message, nullptr, 1) != 1)
                    ++failures;
            }
            _exit(failures == 0 ? 0 : 1);
        }
    }
    close(gate[0]);
    close(gate[1]);
    for (pid_t child : children)
    {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    const std::vector<std::string> copies = ListDirectory(sandbox_.queueDirectory());
    EXPECT_EQ(copies.size(), 2u * kPerProcess);
    const std::vector<std::uint8_t> queue = ReadFileBytes(sandbox_.drive() + "/plotque.que");
    ASSERT_EQ(queue.size(), 2u * kPerProcess * kRecordSize);

    std::set<std::string> named;
    int fromFirst = 0;
    for (std::size_t offset = 0; offset < queue.size(); offset += kRecordSize)
    {
        const char* fileName = reinterpret_cast<const char*>(&queue[offset]);
        const std::string name(fileName, strnlen(fileName, 22));
        ASSERT_LT(name.size(), 22u);
        const std::string base = std::string(reinterpret_cast<const char*>(&queue[offset + 22]));
        fromFirst += base == "first" ? 1 : 0;
        const std::vector<std::uint8_t> record(queue.begin() + offset,
                                               queue.begin() + offset + kRecordSize);
        EXPECT_TRUE(SameBytes(ExpectedRecord(name, base), record)) << offset;
        EXPECT_EQ(ReadFileBytes(sandbox_.queueDirectory() + "/" + name), plot) << name;
        named.insert(name);
    }
    EXPECT_EQ(named.size(), 2u * kPerProcess) << "every record names its own file";
    EXPECT_EQ(fromFirst, kPerProcess);
    EXPECT_EQ(std::set<std::string>(copies.begin(), copies.end()), named);
}

TEST(PlotQueueAccessTest, ChoiceAndMappingAreTheDispatchersOwn)
{
    DispatchSandbox sandbox;
    EXPECT_STREQ(GetDefaultPlotQueueFile(), "C:\\plotque.que");
    EXPECT_STREQ(GetPlotQueueDirectory(), "c:\\userroot\\devq\\plotter\\");
    CString queueFile;
    ChoosePlotQueueFile(CString("c:\\dest.que"), queueFile);
    EXPECT_EQ(queueFile, "C:\\plotque.que") << "the flag is not set";
    sandbox.SetQueueFlag("1");
    // The destination and the result may be one string.
    CString same("c:\\dest.que");
    ChoosePlotQueueFile(same, same);
    EXPECT_EQ(same, "c:\\dest.que");
    sandbox.SetQueueFile("C:\\t.q");
    ChoosePlotQueueFile(CString(), queueFile);
    EXPECT_EQ(queueFile, "C:\\t.q");

    CString native;
    EXPECT_EQ(GetNativePath(CString("c:\\a\\b.que"), native), 1);
    EXPECT_EQ(native, (sandbox.drive() + "/a/b.que").c_str());
    EXPECT_EQ(GetNativePath(CString("/x/y"), native), 1);
    EXPECT_EQ(native, "/x/y");
}

void Collect(const tag_ti_namelist_both& record, std::size_t number, void* context)
{
    auto* names = static_cast<std::vector<std::string>*>(context);
    names->push_back(std::to_string(number) + ":" + record.fileName + ":" + record.baseName);
}

TEST(PlotQueueAccessTest, ReadPlotQueueHandsOverAllRecordsOrNone)
{
    DispatchSandbox sandbox;
    std::vector<std::uint8_t> queue = ExpectedRecord("ggt00000001", "first");
    const std::vector<std::uint8_t> second = ExpectedRecord("ggt00000002", "second");
    queue.insert(queue.end(), second.begin(), second.end());
    WriteFileBytes(sandbox.Path("q.que"), queue);
    std::vector<std::string> names;
    CPlotQueueReport report;
    EXPECT_EQ(ReadPlotQueue(CString(sandbox.Path("q.que").c_str()), Collect, &names, &report),
              kPlotQueueRead);
    EXPECT_EQ(report.recordCount, 2u);
    EXPECT_EQ(names, (std::vector<std::string>{"1:ggt00000001:first", "2:ggt00000002:second"}));

    // A second record that names no file: nothing is handed over.
    std::fill(queue.begin() + kRecordSize, queue.begin() + kRecordSize + 22, 0);
    WriteFileBytes(sandbox.Path("q.que"), queue);
    names.clear();
    EXPECT_EQ(ReadPlotQueue(CString(sandbox.Path("q.que").c_str()), Collect, &names, &report),
              kPlotQueueNotRecords);
    EXPECT_EQ(report.badRecord, 2u);
    EXPECT_TRUE(names.empty());

    queue.push_back(0);
    WriteFileBytes(sandbox.Path("q.que"), queue);
    EXPECT_EQ(ReadPlotQueue(CString(sandbox.Path("q.que").c_str()), Collect, &names, &report),
              kPlotQueuePartialRecord);
    EXPECT_EQ(report.size, static_cast<long long>(2 * kRecordSize + 1));
    EXPECT_EQ(ReadPlotQueue(CString(sandbox.Path("none.que").c_str()), Collect, &names, &report),
              kPlotQueueCannotOpen);
    EXPECT_EQ(report.systemError, ENOENT);
    EXPECT_TRUE(names.empty());
}

} // namespace
