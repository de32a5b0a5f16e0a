// What SendGenericPlot delivers and what it refuses: only complete plot files from regular
// files, a destination replaced only by a complete copy, a queue that is really a queue, and
// no call that waits for ever on a named pipe.

#include "genplot/gen_plot.h"
#include "genplot/plot_dispatch.h"
#include "plotinfo/plot_config.h"
#include "support/dispatch_sandbox.h"
#include "support/recording_window.h"
#include "support/writer_fixtures.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace
{

constexpr std::size_t kRecordSize = 134;
constexpr const char* kNotAPlot = "not a valid generic plot file.";
constexpr const char* kQueueDown = "plot queue failed to respond.  Check installation.";
constexpr const char* kCopyFailed = "unable to process generic plot file.";

struct Sent
{
    int result;
    std::string message;
};

Sent Send(const std::string& input, const std::string& destination, int toQueue,
          CProgressCtrl* progress = nullptr)
{
    CString inputPath(input.c_str());
    CString destinationPath(destination.c_str());
    CString message("stale");
    const int result = SendGenericPlot(inputPath, destinationPath, message, progress, toQueue);
    return {result, message.GetString()};
}

// Runs `body` in a child process that is killed after 10 seconds; its exit status, or -1 when
// it did not end by itself. Used where the fault being guarded against is a call that blocks,
// or where the child changes process-wide limits.
int InChild(const std::function<int()>& body)
{
    const pid_t child = fork();
    if (child == 0)
    {
        alarm(10);
        _exit(body());
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child)
        return -2;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// 0 when the send in the child gave result 0 with `message`, 1 when it delivered, 2 otherwise.
int ExpectFailure(const std::string& input, const std::string& destination, int toQueue,
                  const char* message)
{
    const Sent sent = Send(input, destination, toQueue);
    if (sent.result == 1)
        return 1;
    return sent.message == message ? 0 : 2;
}

// Lowers the file size limit to `bytes` with SIGXFSZ ignored, so a write past it fails with
// EFBIG as on a full quota. Only for a child process.
void LimitFileSize(rlim_t bytes)
{
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{bytes, bytes};
    setrlimit(RLIMIT_FSIZE, &limit);
}

std::vector<std::uint8_t> Records(int count)
{
    std::vector<std::uint8_t> bytes(count * kRecordSize, 0);
    for (int i = 0; i < count; ++i)
        std::memcpy(&bytes[i * kRecordSize], "ggt0000000A", 11);
    return bytes;
}

// A plot written by the library's own writer: two pieces with lines and labels, so the end
// record follows the piece annotation section. With `cancel` the writer stops after the first
// line, as a user's cancel leaves the file.
std::vector<std::uint8_t> WrittenPlot(bool cancel)
{
    CPlotInfo plot;
    CPerim* small = AddPiece(plot, {{0, 0}, {10, 0}, {10, 10}, {0, 0}}, 0, 0, 10, 10);
    AddLine(small, {{1, 1}, {2, 2}});
    AddLine(small, {{3, 3}, {4, -1}});
    CPerim* large = AddPiece(plot, {{0, 0}, {90, 0}, {90, 90}, {0, 0}}, 0, 0, 90, 90, 2);
    AddLine(large, {{5, 5}, {6, 6}}, 2, 1);
    small->labels.AddTail(MakeLabel("first", 1, 1, 5000));
    large->labels.AddTail(MakeLabel("second", 20, 20, 300, 0, 10000));
    plot.extents.lowerLeft = CCoord(0, 0);
    plot.extents.upperRight = CCoord(90, 90);
    TempFile file = MakeTempFile();
    CGenPlot writer;
    CPlotConfig config;
    writer.Initialize("drawing", &config);
    int cancelFlag = cancel ? 1 : 0;
    writer.write_plot_file(file.get(), &plot, &config, nullptr, &cancelFlag, nullptr);
    std::fflush(file.get());
    std::vector<std::uint8_t> bytes;
    std::rewind(file.get());
    int c;
    while ((c = std::fgetc(file.get())) != EOF)
        bytes.push_back(static_cast<std::uint8_t>(c));
    return bytes;
}

TEST(PlotDeliveryTest, OnlyCompletePlotFilesAreDelivered)
{
    DispatchSandbox sandbox;
    const std::vector<std::uint8_t> written = WrittenPlot(false);
    std::vector<std::uint8_t> unpatched = PlotFileBytes(1000);
    unpatched[132] = unpatched[133] = unpatched[134] = unpatched[135] = 0xFF; // table offset -1
    std::vector<std::uint8_t> extra = written;
    extra.push_back(0);

    struct Case
    {
        const char* what;
        std::vector<std::uint8_t> bytes;
    };
    const Case cases[] = {
        {"cancelled by the writer", WrittenPlot(true)},
        {"header never patched", unpatched},
        {"end record cut off", {written.begin(), written.end() - 4}},
        {"cut inside a record", {written.begin(), written.end() - 9}},
        {"a byte after the end record", extra},
    };
    for (const Case& c : cases)
    {
        WriteFileBytes(sandbox.Path("in.gpf"), c.bytes);
        CString path(sandbox.Path("in.gpf").c_str());
        EXPECT_EQ(IsGenericPlotFile(path), 1) << c.what << ": the type test only reads the start";
        const Sent copied = Send(sandbox.Path("in.gpf"), sandbox.Path("out.gpf"), 0);
        EXPECT_EQ(copied.result, 0) << c.what;
        EXPECT_EQ(copied.message, kNotAPlot) << c.what;
        const Sent queued = Send(sandbox.Path("in.gpf"), "", 1);
        EXPECT_EQ(queued.message, kNotAPlot) << c.what;
        EXPECT_EQ(ListDirectory(sandbox.root()), (std::vector<std::string>{"drive_c", "in.gpf"}))
            << c.what << ": nothing copied";
        EXPECT_TRUE(ListDirectory(sandbox.drive()).empty()) << c.what;
    }

    // The writer's own complete files go through, whatever their last section.
    for (const std::vector<std::uint8_t>& good : {written, PlotFileBytes(160), PlotFileBytes(5000)})
    {
        WriteFileBytes(sandbox.Path("in.gpf"), good);
        EXPECT_EQ(Send(sandbox.Path("in.gpf"), sandbox.Path("out.gpf"), 0).result, 1);
        EXPECT_EQ(ReadFileBytes(sandbox.Path("out.gpf")), good);
    }
}

TEST(PlotDeliveryTest, InputThatChangesSizeDuringTheCopyIsNotDelivered)
{
    DispatchSandbox sandbox;
    const std::vector<std::uint8_t> plot = PlotFileBytes(3 * 4096 + 17);
    const std::vector<std::uint8_t> old(100, 0xEE);
    for (long newSize : {0L, 50L, 1000L, 3L * 4096 + 17 + 4096})
    {
        WriteFileBytes(sandbox.Path("in.gpf"), plot);
        WriteFileBytes(sandbox.Path("out.gpf"), old);
        RecordingWindow window;
        // The second position message is the copy's start: the input changes right then.
        int positions = 0;
        window.OnMessage([&](const RecordedMessage& m) {
            if (m.message == PBM_SETPOS && ++positions == 2)
            {
                ASSERT_EQ(truncate(sandbox.Path("in.gpf").c_str(), newSize), 0);
            }
        });
        const Sent sent =
            Send(sandbox.Path("in.gpf"), sandbox.Path("out.gpf"), 0, window.progress());
        EXPECT_EQ(sent.result, 0) << newSize;
        EXPECT_EQ(sent.message, kCopyFailed) << newSize;
        EXPECT_EQ(ReadFileBytes(sandbox.Path("out.gpf")), old) << newSize;
        EXPECT_EQ(ListDirectory(sandbox.root()),
                  (std::vector<std::string>{"drive_c", "in.gpf", "out.gpf"}))
            << newSize << ": no temporary file left";
    }
}

TEST(PlotDeliveryTest, FailedCopyLeavesTheOldDestinationAndNoPartialFile)
{
    DispatchSandbox sandbox;
    const std::vector<std::uint8_t> plot = PlotFileBytes(5000);
    const std::vector<std::uint8_t> old(700, 0xEE);
    WriteFileBytes(sandbox.Path("in.gpf"), plot);
    WriteFileBytes(sandbox.Path("old.gpf"), old);
    const int status = InChild([&] {
        LimitFileSize(1024);
        return ExpectFailure(sandbox.Path("in.gpf"), sandbox.Path("old.gpf"), 0, kCopyFailed);
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadFileBytes(sandbox.Path("old.gpf")), old);
    EXPECT_EQ(ListDirectory(sandbox.root()),
              (std::vector<std::string>{"drive_c", "in.gpf", "old.gpf"}));
}

TEST(PlotDeliveryTest, ReplacedDestinationKeepsItsModeAndLinksStayLinks)
{
    DispatchSandbox sandbox;
    const std::vector<std::uint8_t> plot = PlotFileBytes(700);
    WriteFileBytes(sandbox.Path("in.gpf"), plot);
    ASSERT_EQ(mkdir(sandbox.Path("real").c_str(), 0777), 0);
    WriteFileBytes(sandbox.Path("real/target.gpf"), {1, 2, 3});
    ASSERT_EQ(chmod(sandbox.Path("real/target.gpf").c_str(), 0640), 0);
    ASSERT_EQ(symlink("real/target.gpf", sandbox.Path("link.gpf").c_str()), 0);

    EXPECT_EQ(Send(sandbox.Path("in.gpf"), sandbox.Path("link.gpf"), 0).result, 1);
    struct stat info;
    ASSERT_EQ(lstat(sandbox.Path("link.gpf").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    ASSERT_EQ(stat(sandbox.Path("real/target.gpf").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadFileBytes(sandbox.Path("real/target.gpf")), plot);
    EXPECT_EQ(ListDirectory(sandbox.Path("real")), std::vector<std::string>{"target.gpf"});
}

TEST(PlotDeliveryTest, DevicesAndPipesAreWrittenInPlaceWithoutWaiting)
{
    DispatchSandbox sandbox;
    const std::vector<std::uint8_t> plot = PlotFileBytes(3000);
    WriteFileBytes(sandbox.Path("in.gpf"), plot);

    // A device stays the device.
    EXPECT_EQ(Send(sandbox.Path("in.gpf"), "/dev/null", 0).result, 1);
    struct stat info;
    ASSERT_EQ(stat("/dev/null", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));

    // A pipe nobody reads: refused at once.
    const std::string fifo = sandbox.Path("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(InChild([&] {
                  return ExpectFailure(sandbox.Path("in.gpf"), fifo, 0,
                                       "unable to open output file.");
              }),
              0);

    // A pipe with a reader gets the plot.
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(Send(sandbox.Path("in.gpf"), fifo, 0).result, 1);
    std::vector<std::uint8_t> got(plot.size() + 10);
    EXPECT_EQ(read(reader, got.data(), got.size()), static_cast<ssize_t>(plot.size()));
    got.resize(plot.size());
    EXPECT_EQ(got, plot);
    close(reader);
    ASSERT_EQ(lstat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

TEST(PlotDeliveryTest, InputsThatAreNotRegularFilesAreRefusedWithoutWaiting)
{
    DispatchSandbox sandbox;
    const std::string fifo = sandbox.Path("pipe.gpf");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& input : {fifo, std::string("/dev/zero"), sandbox.drive()})
    {
        const int status = InChild([&] {
            CString path(input.c_str());
            if (IsGenericPlotFile(path) != 0)
                return 1;
            return ExpectFailure(input, sandbox.Path("out.gpf"), 0, kNotAPlot);
        });
        EXPECT_EQ(status, 0) << input;
        EXPECT_FALSE(FileExists(sandbox.Path("out.gpf"))) << input;
    }
}

TEST(PlotDeliveryTest, SubmissionThatFailsIsNotDelivered)
{
    DispatchSandbox sandbox;
    const std::vector<std::uint8_t> plot = PlotFileBytes(300);
    WriteFileBytes(sandbox.Path("plan.gpf"), plot);
    const std::vector<std::uint8_t> queue = Records(3);
    WriteFileBytes(sandbox.drive() + "/plotque.que", queue);
    // The copy (300 bytes) fits under the limit; the fourth record would not.
    const int status = InChild([&] {
        LimitFileSize(queue.size());
        return ExpectFailure(sandbox.Path("plan.gpf"), "", 1, kQueueDown);
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadFileBytes(sandbox.drive() + "/plotque.que"), queue);
    // The copy stays, as for a queue that did not respond.
    const std::vector<std::string> copies = ListDirectory(sandbox.queueDirectory());
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(ReadFileBytes(sandbox.queueDirectory() + "/" + copies[0]), plot);
}

TEST(PlotDeliveryTest, QueueFileThatIsNotAQueueGetsNoRecord)
{
    DispatchSandbox sandbox;
    sandbox.SetQueueFlag("1");
    // The input itself, of a size that is a whole number of records.
    const std::vector<std::uint8_t> victim = PlotFileBytes(3 * kRecordSize);
    const std::string input = sandbox.Path("victim.gpf");
    WriteFileBytes(input, victim);
    ASSERT_EQ(mkdir(sandbox.Path("folder.que").c_str(), 0777), 0);
    ASSERT_EQ(mkfifo(sandbox.Path("pipe.que").c_str(), 0600), 0);
    const std::vector<std::uint8_t> partial(kRecordSize + 1, 7);
    WriteFileBytes(sandbox.Path("partial.que"), partial);

    for (const std::string& queueFile :
         {input, sandbox.Path("folder.que"), sandbox.Path("pipe.que"), sandbox.Path("partial.que"),
          std::string("/dev/null")})
    {
        EXPECT_EQ(InChild([&] { return ExpectFailure(input, queueFile, 1, kQueueDown); }), 0)
            << queueFile;
    }
    EXPECT_EQ(ReadFileBytes(input), victim);
    EXPECT_EQ(ReadFileBytes(sandbox.Path("partial.que")), partial);
    struct stat info;
    ASSERT_EQ(stat("/dev/null", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
}

TEST(PlotDeliveryTest, FirstSubmissionCreatesTheQueueFilesFolder)
{
    DispatchSandbox sandbox;
    sandbox.SetQueueFlag("1");
    WriteFileBytes(sandbox.Path("plan.gpf"), PlotFileBytes(400));
    const Sent sent = Send(sandbox.Path("plan.gpf"), "c:\\spool\\site\\q.que", 1);
    EXPECT_EQ(sent.result, 1);
    EXPECT_EQ(sent.message, "no error.");
    EXPECT_EQ(ReadFileBytes(sandbox.drive() + "/spool/site/q.que").size(), kRecordSize);
}

TEST(PlotDeliveryTest, DeliveryTellsWhereThePlotWent)
{
    DispatchSandbox sandbox;
    const std::vector<std::uint8_t> plot = PlotFileBytes(400);
    WriteFileBytes(sandbox.Path("plan.gpf"), plot);
    CString input(sandbox.Path("plan.gpf").c_str());
    CString message;
    CPlotDelivery delivery;

    // An explicit queue file needs no drive setting.
    CString queueFile(sandbox.Path("mine.que").c_str());
    EXPECT_EQ(
        DeliverGenericPlot(input, queueFile, kDeliverToQueueFile, message, nullptr, &delivery), 1);
    EXPECT_EQ(delivery.messageId, 0);
    EXPECT_EQ(delivery.target, queueFile);
    const std::vector<std::string> copies = ListDirectory(sandbox.queueDirectory());
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(delivery.spooledName, copies[0].c_str());
    EXPECT_EQ(ReadFileBytes(sandbox.Path("mine.que")).size(), kRecordSize);

    CString missing(sandbox.Path("no/such/out.gpf").c_str());
    EXPECT_EQ(DeliverGenericPlot(input, missing, kDeliverToPath, message, nullptr, &delivery), 0);
    EXPECT_EQ(delivery.messageId, 201);
    EXPECT_EQ(delivery.systemError, ENOENT);
    EXPECT_EQ(delivery.target, missing);
    EXPECT_EQ(message, "unable to open output file.");
}

} // namespace
