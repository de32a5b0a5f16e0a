#include "platform/allocation_internal.h"
#include "platform/drive_info.h"
#include "platform/exception.h"
#include "platform/plot_queue.h"
#include "support/byte_builder.h"
#include "support/dispatch_sandbox.h"

#include <cstring>
#include <memory>
#include <set>
#include <string>

#include <gtest/gtest.h>

namespace
{

struct DriveInfoResult
{
    int result;
    char letter;
    unsigned char flag;
    char volume[8];
    char text[16]; // 8 bytes handed over, 8 guard bytes behind them
};

DriveInfoResult GetDriveInfo()
{
    DriveInfoResult info;
    info.letter = '!';
    info.flag = 0xAA;
    std::memset(info.volume, 'v', sizeof info.volume);
    std::memset(info.text, 'g', sizeof info.text);
    info.result = cc_get_driveinfo(&info.letter, &info.flag, info.volume, info.text);
    return info;
}

bool GuardIntact(const DriveInfoResult& info)
{
    for (int i = 8; i < 16; ++i)
    {
        if (info.text[i] != 'g')
            return false;
    }
    return true;
}

TEST(DriveInfoTest, UnsetVariablesGiveFlagZeroAndEmptyText)
{
    DispatchSandbox sandbox;
    const DriveInfoResult info = GetDriveInfo();
    EXPECT_EQ(info.result, 0);
    EXPECT_EQ(info.letter, 'C');
    EXPECT_EQ(info.flag, 0);
    EXPECT_STREQ(info.volume, "");
    EXPECT_STREQ(info.text, "");
    EXPECT_TRUE(GuardIntact(info));
}

TEST(DriveInfoTest, ReadsFlagAndQueueFileFromTheEnvironment)
{
    DispatchSandbox sandbox;
    sandbox.SetQueueFlag("1");
    sandbox.SetQueueFile("C:\\q.qu"); // exactly 7 characters
    DriveInfoResult info = GetDriveInfo();
    EXPECT_EQ(info.result, 0);
    EXPECT_EQ(info.flag, 1);
    EXPECT_STREQ(info.text, "C:\\q.qu");
    EXPECT_TRUE(GuardIntact(info));

    sandbox.SetQueueFlag("0");
    EXPECT_EQ(GetDriveInfo().flag, 0);
    sandbox.SetQueueFlag("255");
    EXPECT_EQ(GetDriveInfo().flag, 255);
}

TEST(DriveInfoTest, OutOfRangeFlagStaysNonZeroAndGarbageReadsAsZero)
{
    DispatchSandbox sandbox;
    for (const char* value : {"256", "-1", "99999999999999999999"})
    {
        sandbox.SetQueueFlag(value);
        const DriveInfoResult info = GetDriveInfo();
        EXPECT_EQ(info.flag, 1) << value;
        EXPECT_EQ(info.result, 0) << value;
    }
    for (const char* value : {"yes", "1x", " "})
    {
        sandbox.SetQueueFlag(value);
        const DriveInfoResult info = GetDriveInfo();
        EXPECT_EQ(info.flag, 0) << value;
        EXPECT_EQ(info.result, -1) << value;
    }
}

TEST(DriveInfoTest, OverlongQueueFileIsDroppedNotCut)
{
    DispatchSandbox sandbox;
    sandbox.SetQueueFile("C:\\qq.que"); // 8 characters: one too many
    const DriveInfoResult info = GetDriveInfo();
    EXPECT_EQ(info.result, -1);
    EXPECT_STREQ(info.text, "");
    EXPECT_TRUE(GuardIntact(info));
}

TEST(DriveInfoTest, NullPointersAreSkipped)
{
    DispatchSandbox sandbox;
    sandbox.SetQueueFlag("3");
    unsigned char flag = 0;
    EXPECT_EQ(cc_get_driveinfo(nullptr, &flag, nullptr, nullptr), 0);
    EXPECT_EQ(flag, 3);
}

TEST(CreateUniqueFileNameTest, CreatesTheDirectoryAndAnEmptyFileNamedFromTheTag)
{
    DispatchSandbox sandbox;
    char name[256];
    std::memset(name, 'x', sizeof name);
    std::FILE* file =
        CreateUniqueFileName("c:\\userroot\\devq\\plotter\\", nullptr, "ggt", name, "wb");
    ASSERT_NE(file, nullptr);
    const std::string created = name;
    ASSERT_EQ(created.size(), 11u);
    EXPECT_EQ(created.substr(0, 3), "ggt");
    EXPECT_EQ(created.find_first_not_of("0123456789ABCDEF", 3), std::string::npos) << created;
    EXPECT_EQ(ListDirectory(sandbox.queueDirectory()), std::vector<std::string>{created});

    const char bytes[] = "plot";
    EXPECT_EQ(std::fwrite(bytes, 1, 4, file), 4u);
    EXPECT_EQ(std::fclose(file), 0);
    EXPECT_EQ(ReadFileBytes(sandbox.queueDirectory() + "/" + created),
              (std::vector<std::uint8_t>{'p', 'l', 'o', 't'}));
}

TEST(CreateUniqueFileNameTest, EveryCallGetsANewName)
{
    DispatchSandbox sandbox;
    std::set<std::string> names;
    for (int i = 0; i < 200; ++i)
    {
        char name[256];
        std::FILE* file = CreateUniqueFileName(sandbox.root().c_str(), "plt", "ggt", name, "w+b");
        ASSERT_NE(file, nullptr);
        std::fclose(file);
        EXPECT_EQ(std::string(name).size(), 15u);
        EXPECT_EQ(std::string(name).substr(11), ".plt");
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 200u);
    EXPECT_EQ(ListDirectory(sandbox.root()).size(), 201u); // plus drive_c
}

TEST(CreateUniqueFileNameTest, RefusesNamesThatWouldNotFitTheRecord)
{
    DispatchSandbox sandbox;
    char name[256] = "stale";
    // 13 + 8 = 21 characters fit; one more does not.
    std::FILE* file =
        CreateUniqueFileName(sandbox.root().c_str(), nullptr, "abcdefghijklm", name, "wb");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    EXPECT_EQ(std::strlen(name), kQueueFileNameMax);

    std::strcpy(name, "stale");
    EXPECT_EQ(CreateUniqueFileName(sandbox.root().c_str(), nullptr, "abcdefghijklmn", name, "wb"),
              nullptr);
    EXPECT_STREQ(name, "");
    EXPECT_EQ(CreateUniqueFileName(sandbox.root().c_str(), "longext", "ggtggtggt", name, "wb"),
              nullptr);
    EXPECT_EQ(CreateUniqueFileName(sandbox.root().c_str(), nullptr, "../ggt", name, "wb"), nullptr);
    EXPECT_EQ(CreateUniqueFileName(sandbox.root().c_str(), nullptr, "ggt", name, "q"), nullptr);
}

TEST(CreateUniqueFileNameTest, FailsWhenTheDirectoryCannotBeMade)
{
    DispatchSandbox sandbox;
    WriteFileBytes(sandbox.drive() + "/userroot", {0});
    char name[256] = "stale";
    EXPECT_EQ(CreateUniqueFileName("c:\\userroot\\devq\\plotter\\", nullptr, "ggt", name, "wb"),
              nullptr);
    EXPECT_STREQ(name, "");
}

std::vector<std::uint8_t> ExpectedRecord(const std::string& fileName, const std::string& baseName,
                                         std::uint8_t kind, std::uint8_t copies)
{
    ByteBuilder record;
    record.Text(fileName).Zeros(22 - fileName.size());       // 0-21
    record.Text(baseName).Zeros(21 - baseName.size());       // 22-42
    record.Zeros(1);                                         // 43
    record.Text("c").Zeros(1);                               // 44-45
    record.Zeros(3).U8(kind).Zeros(14).U8(copies).Zeros(69); // 46-133
    EXPECT_EQ(record.size(), 134u);
    return record.bytes();
}

tag_ti_namelist_both MakeRecord(const char* fileName, const char* baseName, std::uint8_t copies)
{
    tag_ti_namelist_both record;
    std::memset(&record, 0, sizeof record);
    std::strcpy(record.fileName, fileName);
    std::strcpy(record.baseName, baseName);
    record.driveName[0] = 'c';
    record.mediaKind = 4;
    record.copies = copies;
    return record;
}

TEST(PlotterQueueTest, AppendsEachSubmissionAsOneRecord)
{
    DispatchSandbox sandbox;
    auto queue = std::make_unique<CPlotterQueue>("C:\\plotque.que", 1);
    EXPECT_EQ(queue->responseState, 0);
    EXPECT_EQ(queue->completionCode, 0);
    EXPECT_EQ(ReadFileBytes(sandbox.drive() + "/plotque.que").size(), 0u) << "created empty";

    tag_ti_namelist_both first = MakeRecord("ggt0000ABCD", "plan", 1);
    tag_ti_namelist_both second = MakeRecord("ggtFFFFFFFFFFFFFFFFFF", "abcdefghijklmnopqrst", 2);
    EXPECT_EQ(queue->MsgSubmitMedia(&first), 0);
    EXPECT_EQ(queue->MsgSubmitMedia(&second), 0);
    queue.reset();

    std::vector<std::uint8_t> expected = ExpectedRecord("ggt0000ABCD", "plan", 4, 1);
    const std::vector<std::uint8_t> more =
        ExpectedRecord("ggtFFFFFFFFFFFFFFFFFF", "abcdefghijklmnopqrst", 4, 2);
    expected.insert(expected.end(), more.begin(), more.end());
    EXPECT_TRUE(SameBytes(expected, ReadFileBytes(sandbox.drive() + "/plotque.que")));

    // A second client appends behind what is there.
    CPlotterQueue again("C:\\plotque.que", 0);
    EXPECT_EQ(again.responseState, 0);
    EXPECT_EQ(again.MsgSubmitMedia(&first), 0);
    EXPECT_EQ(ReadFileBytes(sandbox.drive() + "/plotque.que").size(), 3 * 134u);
}

TEST(PlotterQueueTest, UnreachableQueueReportsNegativeStateAndTakesNothing)
{
    DispatchSandbox sandbox;
    tag_ti_namelist_both record = MakeRecord("ggt1", "x", 1);
    WriteFileBytes(sandbox.drive() + "/nowhere", {}); // a file where the folder must go
    {
        CPlotterQueue missingFolder("c:\\nowhere\\plotque.que", 1);
        EXPECT_LT(missingFolder.responseState, 0);
        EXPECT_LT(missingFolder.MsgSubmitMedia(&record), 0);
    }
    {
        CPlotterQueue mustExist("c:\\plotque.que", 0);
        EXPECT_LT(mustExist.responseState, 0);
        EXPECT_LT(mustExist.MsgSubmitMedia(&record), 0);
    }
    EXPECT_EQ(ListDirectory(sandbox.drive()), std::vector<std::string>{"nowhere"});

    CPlotterQueue connected("c:\\plotque.que", 1);
    EXPECT_EQ(connected.MsgSubmitMedia(nullptr), -EINVAL);
}

TEST(PlotterQueueTest, FileThatIsNotAQueueIsRefusedUntouched)
{
    DispatchSandbox sandbox;
    tag_ti_namelist_both record = MakeRecord("ggt1", "x", 1);
    {
        CPlotterQueue device("/dev/full", 0);
        EXPECT_EQ(device.responseState, -EINVAL);
        EXPECT_LT(device.MsgSubmitMedia(&record), 0);
    }
    const std::vector<std::uint8_t> partial(2 * 134 + 5, 9);
    WriteFileBytes(sandbox.Path("partial.que"), partial);
    {
        CPlotterQueue cut(sandbox.Path("partial.que").c_str(), 1);
        EXPECT_EQ(cut.responseState, -EILSEQ);
        EXPECT_LT(cut.MsgSubmitMedia(&record), 0);
    }
    EXPECT_EQ(ReadFileBytes(sandbox.Path("partial.que")), partial);

    // A queue damaged after the client connected gets nothing appended either.
    WriteFileBytes(sandbox.Path("q.que"), {});
    CPlotterQueue queue(sandbox.Path("q.que").c_str(), 0);
    ASSERT_EQ(queue.responseState, 0);
    WriteFileBytes(sandbox.Path("q.que"), {1, 2, 3});
    EXPECT_EQ(queue.MsgSubmitMedia(&record), -EILSEQ);
    EXPECT_EQ(ReadFileBytes(sandbox.Path("q.que")), (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST(PlotterQueueTest, FirstUseCreatesTheQueueFilesFolders)
{
    DispatchSandbox sandbox;
    tag_ti_namelist_both record = MakeRecord("ggt1", "x", 1);
    CPlotterQueue queue("c:\\fresh\\home\\plotque.que", 1);
    ASSERT_EQ(queue.responseState, 0);
    EXPECT_EQ(queue.MsgSubmitMedia(&record), 0);
    EXPECT_EQ(ReadFileBytes(sandbox.drive() + "/fresh/home/plotque.que").size(), 134u);
}

TEST(PlotterQueueTest, AllocationFailureThrowsMemoryException)
{
    DispatchSandbox sandbox;
    genplot::detail::FailAllocationAfter(1);
    CPlotterQueue* queue = nullptr;
    try
    {
        queue = new CPlotterQueue("C:\\plotque.que", 1);
        ADD_FAILURE() << "allocation did not fail";
    }
    catch (CMemoryException* error)
    {
        error->Delete();
    }
    delete queue;
    genplot::detail::FailAllocationAfter(0);
    EXPECT_FALSE(FileExists(sandbox.drive() + "/plotque.que")) << "no client, no connection";
}

} // namespace
