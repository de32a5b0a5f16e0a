#include "genplot/plot_dispatch.h"
#include "genplot/plot_dispatch_internal.h"
#include "platform/module_state.h"
#include "support/dispatch_sandbox.h"
#include "support/failing_stream.h"
#include "support/read_fault_stream.h"
#include "support/recording_window.h"

#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace
{

struct Sent
{
    int result;
    std::string message;
};

Sent SendToPath(const std::string& input, const std::string& destination,
                CProgressCtrl* progress = nullptr)
{
    CString inputPath(input.c_str());
    CString destinationPath(destination.c_str());
    CString message("stale");
    const int result = SendGenericPlot(inputPath, destinationPath, message, progress, 0);
    return {result, message.GetString()};
}

std::vector<RecordedMessage> Expected(std::initializer_list<long> positions)
{
    // The range set-up comes first: PBM_SETRANGE with 0..100 packed as 0x640000.
    std::vector<RecordedMessage> expected{{PBM_SETRANGE, 0, 0x640000}};
    for (long position : positions)
        expected.push_back({PBM_SETPOS, static_cast<WPARAM>(position), 0});
    return expected;
}

void ExpectMessages(const std::vector<RecordedMessage>& expected,
                    const std::vector<RecordedMessage>& actual)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
    {
        EXPECT_EQ(actual[i].message, expected[i].message) << i;
        EXPECT_EQ(actual[i].wParam, expected[i].wParam) << i;
        EXPECT_EQ(actual[i].lParam, expected[i].lParam) << i;
    }
}

TEST(PlotDispatchTest, CopiesByteForByte)
{
    DispatchSandbox sandbox;
    const std::vector<std::uint8_t> plot = PlotFileBytes(3 * 4096 + 17);
    WriteFileBytes(sandbox.Path("in.gpf"), plot);
    // An existing, longer destination is replaced, not overwritten in front.
    WriteFileBytes(sandbox.Path("out.gpf"), std::vector<std::uint8_t>(20000, 0xEE));

    const Sent sent = SendToPath(sandbox.Path("in.gpf"), sandbox.Path("out.gpf"));
    EXPECT_EQ(sent.result, 1);
    EXPECT_EQ(sent.message, "no error.");
    EXPECT_EQ(ReadFileBytes(sandbox.Path("out.gpf")), plot);
    EXPECT_EQ(ReadFileBytes(sandbox.Path("in.gpf")), plot);
}

TEST(PlotDispatchTest, DriveLetterPathsOnBothSides)
{
    DispatchSandbox sandbox;
    const std::vector<std::uint8_t> plot = PlotFileBytes(500);
    WriteFileBytes(sandbox.drive() + "/in.gpf", plot);
    const Sent sent = SendToPath("C:\\in.gpf", "c:\\out.gpf");
    EXPECT_EQ(sent.result, 1);
    EXPECT_EQ(ReadFileBytes(sandbox.drive() + "/out.gpf"), plot);
}

TEST(PlotDispatchTest, ProgressFor160ByteFile)
{
    DispatchSandbox sandbox;
    WriteFileBytes(sandbox.Path("in.gpf"), PlotFileBytes(160));
    RecordingWindow window;
    const Sent sent =
        SendToPath(sandbox.Path("in.gpf"), sandbox.Path("out.gpf"), window.progress());
    EXPECT_EQ(sent.result, 1);
    // Range set-up, copy start, after the one block (160 / unit 1), the end.
    ExpectMessages(Expected({0, 0, 160, 100}), window.messages());
}

TEST(PlotDispatchTest, ProgressFor8192ByteFile)
{
    DispatchSandbox sandbox;
    WriteFileBytes(sandbox.Path("in.gpf"), PlotFileBytes(8192));
    RecordingWindow window;
    const Sent sent =
        SendToPath(sandbox.Path("in.gpf"), sandbox.Path("out.gpf"), window.progress());
    EXPECT_EQ(sent.result, 1);
    // unit = 81: 4096 / 81 = 50, 8192 / 81 = 101; the third read returns nothing.
    ExpectMessages(Expected({0, 0, 50, 101, 100}), window.messages());
}

TEST(PlotDispatchTest, ProgressRangeIsSetEvenWhenTheInputIsMissing)
{
    DispatchSandbox sandbox;
    RecordingWindow window;
    const Sent sent = SendToPath(sandbox.Path("absent"), sandbox.Path("out"), window.progress());
    EXPECT_EQ(sent.message, "unable to open generic plot file.");
    ExpectMessages(Expected({0}), window.messages());
}

TEST(PlotDispatchTest, OutputInMissingDirectoryLeavesInputClosed)
{
    DispatchSandbox sandbox;
    WriteFileBytes(sandbox.Path("in.gpf"), PlotFileBytes(300));
    const int before = CountOpenDescriptors();
    const Sent sent = SendToPath(sandbox.Path("in.gpf"), sandbox.Path("no/such/dir/out.gpf"));
    EXPECT_EQ(sent.result, 0);
    EXPECT_EQ(sent.message, "unable to open output file.");
    EXPECT_EQ(CountOpenDescriptors(), before);
    EXPECT_FALSE(FileExists(sandbox.Path("no")));
}

TEST(PlotDispatchTest, DestinationThatIsTheInputIsRefusedAndInputKept)
{
    DispatchSandbox sandbox;
    const std::vector<std::uint8_t> plot = PlotFileBytes(5000);
    const std::string input = sandbox.Path("in.gpf");
    WriteFileBytes(input, plot);
    ASSERT_EQ(symlink(input.c_str(), sandbox.Path("alias.gpf").c_str()), 0);
    ASSERT_EQ(link(input.c_str(), sandbox.Path("hard.gpf").c_str()), 0);
    WriteFileBytes(sandbox.drive() + "/in.gpf", plot);
    ASSERT_EQ(symlink((sandbox.drive() + "/in.gpf").c_str(), sandbox.Path("to_drive.gpf").c_str()),
              0);

    struct Case
    {
        std::string input;
        std::string destination;
    };
    const Case cases[] = {
        {input, input},                               // the same path
        {input, sandbox.Path("alias.gpf")},           // a symbolic link to it
        {sandbox.Path("alias.gpf"), input},           // reached through the link
        {input, sandbox.Path("hard.gpf")},            // a second name
        {input, sandbox.root() + "/./sub/../in.gpf"}, // another spelling
        {sandbox.Path("to_drive.gpf"), "C:\\in.gpf"}, // the drive mapping of the same file
    };
    ASSERT_EQ(::mkdir(sandbox.Path("sub").c_str(), 0777), 0);
    const int before = CountOpenDescriptors();
    for (const Case& c : cases)
    {
        const Sent sent = SendToPath(c.input, c.destination);
        EXPECT_EQ(sent.result, 0) << c.destination;
        EXPECT_EQ(sent.message, "unable to open output file.") << c.destination;
        EXPECT_EQ(ReadFileBytes(input), plot) << c.destination;
        EXPECT_EQ(ReadFileBytes(sandbox.drive() + "/in.gpf"), plot) << c.destination;
    }
    EXPECT_EQ(CountOpenDescriptors(), before);
}

TEST(PlotDispatchTest, FailedCloseOfTheOutputIsNotSuccess)
{
    DispatchSandbox sandbox;
    const std::vector<std::uint8_t> plot = PlotFileBytes(160);
    WriteFileBytes(sandbox.Path("in.gpf"), plot);
    // 160 bytes fit the output's buffer: only the flush at close meets the full disk.
    const Sent sent = SendToPath(sandbox.Path("in.gpf"), "/dev/full");
    EXPECT_EQ(sent.result, 0);
    EXPECT_EQ(sent.message, "unable to process generic plot file.");
    EXPECT_EQ(ReadFileBytes(sandbox.Path("in.gpf")), plot);
}

TEST(PlotDispatchTest, FailedBlockWriteIsNotSuccess)
{
    DispatchSandbox sandbox;
    WriteFileBytes(sandbox.Path("in.gpf"), PlotFileBytes(3 * 4096));
    RecordingWindow window;
    const Sent sent = SendToPath(sandbox.Path("in.gpf"), "/dev/full", window.progress());
    EXPECT_EQ(sent.message, "unable to process generic plot file.");
    // The position still reaches 100 after the failed write.
    ASSERT_FALSE(window.Positions().empty());
    EXPECT_EQ(window.Positions().back(), 100);
}

TEST(PlotDispatchTest, MessageTextsComeFromTheLibrarysOwnModule)
{
    DispatchSandbox sandbox;
    WriteFileBytes(sandbox.Path("in.gpf"), PlotFileBytes(160));
    AFX_MODULE_STATE* const host = AfxGetModuleState();
    ASSERT_NE(host, AfxGetStaticModuleState());
    RecordingWindow window;
    std::vector<AFX_MODULE_STATE*> seen;
    window.OnMessage([&](const RecordedMessage&) { seen.push_back(AfxGetModuleState()); });

    SendToPath(sandbox.Path("in.gpf"), sandbox.Path("out.gpf"), window.progress());
    SendToPath(sandbox.Path("absent"), sandbox.Path("out.gpf"), window.progress());
    ASSERT_EQ(seen.size(), 7u); // 5 for the copy, 2 before the missing input
    for (AFX_MODULE_STATE* state : seen)
        EXPECT_EQ(state, AfxGetStaticModuleState());
    EXPECT_EQ(AfxGetModuleState(), host) << "the host's state is back after each call";
}

TEST(CopyPlotFileTest, ReadErrorInTheMiddleIsNotSuccess)
{
    const std::vector<std::uint8_t> plot = PlotFileBytes(8192);
    ReadFaultStream input(plot, 5000);
    ASSERT_NE(input.file(), nullptr);
    FailingStream output(StreamFaults{});
    RecordingWindow window;
    EXPECT_EQ(genplot::detail::CopyPlotFile(input.file(), output.file(), window.progress()),
              genplot::detail::kDispatchCopyFailed);
    EXPECT_GT(input.failedReads(), 0);
    ASSERT_FALSE(window.Positions().empty());
    EXPECT_EQ(window.Positions().back(), 100);
}

TEST(CopyPlotFileTest, SameStreamWithoutFaultCopiesEverything)
{
    const std::vector<std::uint8_t> plot = PlotFileBytes(8192);
    ReadFaultStream input(plot, plot.size());
    FailingStream output(StreamFaults{});
    EXPECT_EQ(genplot::detail::CopyPlotFile(input.file(), output.file(), nullptr), 0);
    std::fflush(output.file());
    EXPECT_EQ(output.bytes(), plot);
    EXPECT_EQ(input.failedReads(), 0);
}

TEST(CopyPlotFileTest, ShortWriteStopsTheCopy)
{
    const std::vector<std::uint8_t> plot = PlotFileBytes(4 * 4096);
    ReadFaultStream input(plot, plot.size());
    StreamFaults faults;
    faults.writeBytesBeforeFailure = 4096;
    FailingStream output(faults);
    RecordingWindow window;
    EXPECT_EQ(genplot::detail::CopyPlotFile(input.file(), output.file(), window.progress()),
              genplot::detail::kDispatchCopyFailed);
    // Start, the first block (4096 / 163 = 25), then straight to the end.
    EXPECT_EQ(window.Positions(), (std::vector<long>{0, 25, 100}));
    EXPECT_GE(output.failedWrites(), 1);
}

TEST(CopyPlotFileTest, StreamThatCannotRewindIsNotCopied)
{
    // Over a pipe the header check cannot seek back, so its 144 bytes are gone.
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const std::vector<std::uint8_t> plot = PlotFileBytes(300);
    ASSERT_EQ(write(pipeEnds[1], plot.data(), plot.size()), 300);
    close(pipeEnds[1]);
    std::FILE* input = fdopen(pipeEnds[0], "rb");
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(genplot::detail::CheckPlotFileHeader(input), 1);
    FailingStream output(StreamFaults{});
    RecordingWindow window;
    EXPECT_EQ(genplot::detail::CopyPlotFile(input, output.file(), window.progress()),
              genplot::detail::kDispatchCopyFailed);
    EXPECT_TRUE(output.bytes().empty());
    EXPECT_EQ(window.Positions(), (std::vector<long>{0, 100}));
    std::fclose(input);
}

TEST(SplitBaseNameTest, DropsDriveDirectoriesAndTheLastExtension)
{
    struct Case
    {
        const char* path;
        const char* base;
    };
    const Case cases[] = {
        {"c:\\plots\\site/plan.v2.gpf", "plan.v2"},
        {"plan", "plan"},
        {"C:plan.gpf", "plan"},
        {"/srv/plots.d/plan", "plan"},
        {"dir\\", ""},
        {".hidden", ""},
    };
    for (const Case& c : cases)
    {
        char out[256];
        genplot::detail::SplitBaseName(c.path, out, sizeof out);
        EXPECT_STREQ(out, c.base) << c.path;
    }
    char small[5];
    genplot::detail::SplitBaseName("/x/abcdefgh.gpf", small, sizeof small);
    EXPECT_STREQ(small, "abcd");
}

} // namespace
