// The spooler's journal and its reading of the queue file, on their own: what survives a crash
// in the middle of a write, and what a reader takes of a record still being appended.

#include "platform/plot_queue.h"
#include "spool/queue_records.h"
#include "spool/spool_files.h"
#include "spool/spool_journal.h"
#include "support/dispatch_sandbox.h"

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace genplot::spool
{
namespace
{

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

TEST(SpoolJournalTest, StepsGiveEachSubmissionItsState)
{
    DispatchSandbox sandbox;
    const std::string path = sandbox.Path("q.que.journal");
    std::string error;
    {
        SpoolJournal journal;
        ASSERT_TRUE(journal.Open(path, error)) << error;
        for (const char* line : {"start 1 aa-1", "job 1 7", "accepted 1 7", "start 2 bb-1",
                                 "start 2 bb-2", "rejected 3 damaged plot: bad record at byte 200",
                                 "start 4 cc-4", "job 4 9", "accepted 4 9", "done 4 9 canceled"})
            ASSERT_TRUE(journal.Append(line, error)) << error;
    }
    SpoolJournal journal;
    ASSERT_TRUE(journal.Load(path, error)) << error;
    EXPECT_TRUE(journal.Found());
    EXPECT_EQ(DescribeState(journal.State(1)), "printing as job 7");
    EXPECT_EQ(journal.State(2).stage, SubmissionStage::Starting);
    EXPECT_EQ(journal.State(2).token, "bb-2");
    EXPECT_EQ(journal.State(2).earlierTokens, std::vector<std::string>{"bb-1"});
    EXPECT_TRUE(journal.State(1).earlierTokens.empty());
    EXPECT_EQ(DescribeState(journal.State(3)), "rejected: damaged plot: bad record at byte 200");
    EXPECT_EQ(DescribeState(journal.State(4)), "done (job 9 canceled)");
    EXPECT_EQ(DescribeState(journal.State(5)), "pending");
    // Record 2 is unfinished, so that is where the spooler goes on.
    EXPECT_EQ(journal.FirstUnfinished(), 2u);
}

TEST(SpoolJournalTest, LineCutShortByCrashNeverCountsAndIsCutOffBeforeTheNextAppend)
{
    DispatchSandbox sandbox;
    const std::string path = sandbox.Path("q.que.journal");
    WriteText(path, "genplot spool journal 1\nstart 1 aa-1\njob 1 7\naccepted 1 ");
    std::string error;
    SpoolJournal reader;
    ASSERT_TRUE(reader.Load(path, error)) << error;
    EXPECT_EQ(reader.State(1).stage, SubmissionStage::JobHeld);
    EXPECT_EQ(reader.FirstUnfinished(), 1u);

    SpoolJournal journal;
    ASSERT_TRUE(journal.Open(path, error)) << error;
    ASSERT_TRUE(journal.Append("accepted 1 7", error)) << error;
    EXPECT_EQ(ReadText(path), "genplot spool journal 1\nstart 1 aa-1\njob 1 7\naccepted 1 7\n");
    EXPECT_EQ(journal.FirstUnfinished(), 2u);
}

TEST(SpoolJournalTest, FirstLineCutShortIsWrittenAgain)
{
    DispatchSandbox sandbox;
    const std::string path = sandbox.Path("q.que.journal");
    WriteText(path, "genplot spo");
    std::string error;
    SpoolJournal journal;
    ASSERT_TRUE(journal.Open(path, error)) << error;
    ASSERT_TRUE(journal.Append("start 1 aa-1", error)) << error;
    EXPECT_EQ(ReadText(path), "genplot spool journal 1\nstart 1 aa-1\n");
}

TEST(SpoolJournalTest, ForeignFileIsNeitherReadNorWritten)
{
    DispatchSandbox sandbox;
    const std::string path = sandbox.Path("q.que.journal");
    WriteText(path, "some notes of mine\nstart 1 x\n");
    std::string error;
    SpoolJournal journal;
    EXPECT_FALSE(journal.Open(path, error));
    EXPECT_NE(error.find("not a spooler journal"), std::string::npos) << error;
    EXPECT_FALSE(journal.Load(path, error));
    EXPECT_EQ(ReadText(path), "some notes of mine\nstart 1 x\n");
}

TEST(SpoolJournalTest, SecondSpoolerOnTheSameQueueIsRefused)
{
    DispatchSandbox sandbox;
    const std::string path = sandbox.Path("q.que.journal");
    std::string error;
    SpoolJournal first;
    ASSERT_TRUE(first.Open(path, error)) << error;
    SpoolJournal second;
    EXPECT_FALSE(second.Open(path, error));
    EXPECT_NE(error.find("another spooler"), std::string::npos) << error;
    // Reading for a listing needs no lock.
    SpoolJournal reader;
    EXPECT_TRUE(reader.Load(path, error)) << error;
    // A queue no spooler has served has no journal: nothing to read, nothing made.
    SpoolJournal none;
    EXPECT_TRUE(none.Load(sandbox.Path("other.que.journal"), error)) << error;
    EXPECT_FALSE(none.Found());
    EXPECT_FALSE(::FileExists(sandbox.Path("other.que.journal")));
}

TEST(QueueRecordsTest, RecordStillBeingAppendedIsLeftForTheNextRead)
{
    DispatchSandbox sandbox;
    const std::string path = sandbox.Path("q.que");
    std::string bytes(kQueueRecordSize * 2 + 50, '\0');
    std::memcpy(&bytes[0], "ggt0000000A", 11);
    std::memcpy(&bytes[22], "first", 5);
    bytes[49] = 4;
    bytes[64] = 2;
    std::memcpy(&bytes[kQueueRecordSize], "ggt0000000B", 11);
    std::memcpy(&bytes[kQueueRecordSize + 22], "second\x01", 7);
    std::memcpy(&bytes[kQueueRecordSize * 2], "ggt0000000C", 11);
    WriteText(path, bytes);

    std::vector<QueueRecord> records;
    std::string error;
    ASSERT_TRUE(ReadQueueRecords(path, 1, 100, records, error)) << error;
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].number, 1u);
    EXPECT_EQ(records[0].fileName, "ggt0000000A");
    EXPECT_EQ(records[0].baseName, "first");
    EXPECT_EQ(records[0].mediaKind, 4u);
    EXPECT_EQ(records[0].copies, 2u);
    EXPECT_EQ(records[1].baseName, "second?");
    EXPECT_FALSE(records[1].nameMangled);
    ASSERT_TRUE(ReadQueueRecords(path, 3, 100, records, error)) << error;
    EXPECT_TRUE(records.empty());
    ASSERT_TRUE(ReadQueueRecords(path, 2, 1, records, error)) << error;
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].number, 2u);
    // No queue file yet: nothing to do.
    ASSERT_TRUE(ReadQueueRecords(sandbox.Path("none.que"), 1, 100, records, error)) << error;
    EXPECT_TRUE(records.empty());
}

TEST(SpoolFilesTest, OnlyPlainNamesNameAFileOfTheQueueDirectory)
{
    EXPECT_TRUE(IsPlainFileName("ggt0123ABCD"));
    for (const char* name : {"", ".", "..", "../etc/passwd", "a/b", "a\\b"})
        EXPECT_FALSE(IsPlainFileName(name)) << name;
}

TEST(SpoolFilesTest, RejectedFileKeepsAnOlderOneOfTheSameName)
{
    DispatchSandbox sandbox;
    const std::string rejected = sandbox.Path("rejected");
    std::string error;
    WriteText(sandbox.Path("ggtA"), "one");
    ASSERT_TRUE(MoveIntoDirectory(sandbox.Path("ggtA"), rejected, error)) << error;
    WriteText(sandbox.Path("ggtA"), "two");
    ASSERT_TRUE(MoveIntoDirectory(sandbox.Path("ggtA"), rejected, error)) << error;
    EXPECT_EQ(ReadText(rejected + "/ggtA"), "one");
    EXPECT_EQ(ReadText(rejected + "/ggtA.1"), "two");
    EXPECT_FALSE(::FileExists(sandbox.Path("ggtA")));
}

} // namespace
} // namespace genplot::spool
