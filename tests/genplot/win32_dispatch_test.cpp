// Dispatch on Windows: message texts from the DLL's string resource, a real progress bar, and
// a queue submission into the real "c:\userroot\devq\plotter\". Built only for Windows.

#include "genplot/plot_dispatch.h"
#include "platform/cstring.h"
#include "platform/native_path_internal.h"
#include "platform/plot_queue.h"
#include "platform/progress_ctrl.h"
#include "platform/window.h"
#include "support/complete_plot_bytes.h"
#include "support/file_contents.h"
#include "support/test_folder.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace
{

using Bytes = std::vector<unsigned char>;

// A complete plot file of `size` bytes.
Bytes PlotFile(std::size_t size)
{
    const std::vector<std::uint8_t> bytes = CompletePlotBytes(size);
    return Bytes(bytes.begin(), bytes.end());
}

void WriteAll(const std::string& path, const Bytes& bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

HWND CreateProgressBar()
{
    HMODULE comctl = LoadLibraryA("comctl32.dll");
    if (comctl == nullptr)
        return nullptr;
    using InitFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    auto init = reinterpret_cast<InitFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(comctl, "InitCommonControlsEx")));
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_PROGRESS_CLASS};
    if (init == nullptr || !init(&classes))
        return nullptr;
    // Message-only: the control works without a desktop, as under a headless wine.
    return CreateWindowExA(0, PROGRESS_CLASSA, "", 0, 0, 0, 200, 20, HWND_MESSAGE, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

class Win32DispatchTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        bar_ = CreateProgressBar();
    }
    void TearDown() override
    {
        if (bar_ != nullptr)
            DestroyWindow(bar_);
    }
    std::string Path(const std::string& name) const
    {
        return folder_.Path(name);
    }

    TestFolder folder_{"win32-dispatch"};
    const fs::path& root_ = folder_.path();
    HWND bar_ = nullptr;
};

} // namespace

TEST_F(Win32DispatchTest, CopyReportsFromTheStringResourceAndFillsTheProgressBar)
{
    ASSERT_NE(bar_, nullptr);
    CProgressCtrl progress(bar_);
    const Bytes plot = PlotFile(10000);
    WriteAll(Path("in.gpf"), plot);
    CString input = Path("in.gpf").c_str();
    CString destination = Path("out.gpf").c_str();
    CString message;

    EXPECT_EQ(SendGenericPlot(input, destination, message, &progress, 0), 1);
    EXPECT_EQ(message, "no error.");
    EXPECT_EQ(ReadFileBytes(Path("out.gpf")), plot);
    EXPECT_EQ(SendMessageA(bar_, PBM_GETPOS, 0, 0), 100);
    EXPECT_EQ(SendMessageA(bar_, PBM_GETRANGE, FALSE, 0), 100);

    CString missing = Path("missing.gpf").c_str();
    EXPECT_EQ(SendGenericPlot(missing, destination, message, &progress, 0), 0);
    EXPECT_EQ(message, "unable to open generic plot file.");

    // The destination is the input under another name: refused, and the input stays whole.
    CString sameFile = Path("IN.GPF").c_str();
    EXPECT_EQ(SendGenericPlot(input, sameFile, message, nullptr, 0), 0);
    EXPECT_EQ(message, "unable to open output file.");
    EXPECT_EQ(ReadFileBytes(Path("in.gpf")), plot);
}

TEST_F(Win32DispatchTest, QueueCopyLandsInThePlotterFolderAndIsSubmitted)
{
    // The folder is the real one; a machine that does not let this user make it cannot run
    // the test.
    if (!genplot::detail::MakeDirectories("c:\\userroot\\devq\\plotter\\"))
        GTEST_SKIP() << "c:\\userroot\\devq\\plotter cannot be created here";
    const Bytes plot = PlotFile(300);
    WriteAll(Path("My Drawing.v2.gpf"), plot);
    SetEnvironmentVariableA("GENPLOT_QUEUE_FLAG", "1");
    CString input = Path("My Drawing.v2.gpf").c_str();
    CString queueFile = Path("plotque.que").c_str();
    CString message;

    const int result = SendGenericPlot(input, queueFile, message, nullptr, 1);
    SetEnvironmentVariableA("GENPLOT_QUEUE_FLAG", nullptr);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(message, "no error.");

    const Bytes record = ReadFileBytes(Path("plotque.que"));
    ASSERT_EQ(record.size(), kQueueRecordSize);
    const std::string name(reinterpret_cast<const char*>(record.data()));
    ASSERT_EQ(name.size(), 11u) << name; // "ggt" and 8 hexadecimal digits
    EXPECT_EQ(name.compare(0, 3, "ggt"), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(record.data() + 22)), "My Drawing.v2");
    const std::string copy = "c:\\userroot\\devq\\plotter\\" + name;
    EXPECT_EQ(ReadFileBytes(copy), plot);
    std::remove(copy.c_str());
}
