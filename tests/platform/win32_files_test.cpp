// The Windows back end's files: the queue spool and its lock, unique names made with an
// exclusive create, output files told apart by volume and file index, folders, and the drive
// settings read from the process environment. Built only for Windows.

#include "platform/drive_info.h"
#include "platform/native_path_internal.h"
#include "platform/plot_queue.h"
#include "support/file_contents.h"
#include "support/test_folder.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using genplot::detail::CommitOutputFile;
using genplot::detail::DiscardOutputFile;
using genplot::detail::MakeDirectories;
using genplot::detail::OpenOutputFile;
using genplot::detail::OutputFile;

namespace
{

using Bytes = std::vector<unsigned char>;

void WriteAll(const std::string& path, const std::string& text)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

Bytes BytesOf(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

// A fresh folder for each test, below $GENPLOT_TEST_TMP when set, removed afterwards.
class Win32FilesTest : public ::testing::Test
{
  protected:
    std::string Path(const std::string& name) const
    {
        return folder_.Path(name);
    }

    TestFolder folder_{"win32"};
    const fs::path& root_ = folder_.path();
};

// Sets an environment variable with SetEnvironmentVariableA (null: removes it) for one scope.
class ScopedWin32Env
{
  public:
    ScopedWin32Env(const char* name, const char* value) : name_(name)
    {
        char old[256];
        const DWORD length = GetEnvironmentVariableA(name, old, sizeof old);
        hadValue_ = length > 0 && length < sizeof old;
        if (hadValue_)
            old_ = old;
        SetEnvironmentVariableA(name, value);
    }
    ~ScopedWin32Env()
    {
        SetEnvironmentVariableA(name_.c_str(), hadValue_ ? old_.c_str() : nullptr);
    }
    ScopedWin32Env(const ScopedWin32Env&) = delete;
    ScopedWin32Env& operator=(const ScopedWin32Env&) = delete;

  private:
    std::string name_;
    std::string old_;
    bool hadValue_ = false;
};

tag_ti_namelist_both Submission(const char* fileName, const char* baseName)
{
    tag_ti_namelist_both record{};
    std::snprintf(record.fileName, sizeof record.fileName, "%s", fileName);
    std::snprintf(record.baseName, sizeof record.baseName, "%s", baseName);
    record.driveName[0] = 'c';
    record.mediaKind = 4;
    record.copies = 1;
    return record;
}

// The stored record, written out from the layout in plot_queue.h.
Bytes ExpectedRecord(const std::string& fileName, const std::string& baseName)
{
    Bytes bytes(134, 0);
    for (std::size_t i = 0; i < fileName.size(); ++i)
        bytes[0 + i] = static_cast<unsigned char>(fileName[i]);
    for (std::size_t i = 0; i < baseName.size(); ++i)
        bytes[22 + i] = static_cast<unsigned char>(baseName[i]);
    bytes[44] = 'c';
    bytes[49] = 4;
    bytes[64] = 1;
    return bytes;
}

bool IsUniqueName(const std::string& name, const std::string& tag, const std::string& suffix)
{
    if (name.size() != tag.size() + 8 + suffix.size() || name.compare(0, tag.size(), tag) != 0 ||
        name.compare(tag.size() + 8, suffix.size(), suffix) != 0)
        return false;
    for (std::size_t i = tag.size(); i < tag.size() + 8; ++i)
    {
        if (!std::isxdigit(static_cast<unsigned char>(name[i])))
            return false;
    }
    return true;
}

} // namespace

TEST_F(Win32FilesTest, UniqueNamesAreNewFilesInAFolderMadeOnDemand)
{
    // Backslashes, a forward slash and a trailing separator, as hosts write folders.
    const std::string folder = Path("a") + "\\b/c\\";
    std::set<std::string> names;
    for (int i = 0; i < 20; ++i)
    {
        char name[256] = "junk";
        std::FILE* file = CreateUniqueFileName(folder.c_str(), nullptr, "ggt", name, "wb");
        ASSERT_NE(file, nullptr) << i;
        EXPECT_TRUE(IsUniqueName(name, "ggt", "")) << name;
        std::fputc('x', file);
        std::fclose(file);
        EXPECT_EQ(ReadFileBytes(Path("a") + "\\b\\c\\" + name), BytesOf("x"));
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 20u);

    char name[256];
    std::FILE* file = CreateUniqueFileName(folder.c_str(), "plt", "ggt", name, "wb");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    EXPECT_TRUE(IsUniqueName(name, "ggt", ".plt")) << name;
}

TEST_F(Win32FilesTest, UniqueNameRefusesWhatCannotBeMade)
{
    char name[256] = "junk";
    EXPECT_EQ(CreateUniqueFileName(Path("q").c_str(), nullptr, "ggt", name, "x"), nullptr);
    EXPECT_STREQ(name, "");
    EXPECT_EQ(CreateUniqueFileName(Path("q").c_str(), nullptr, "g\\t", name, "wb"), nullptr);
    EXPECT_EQ(CreateUniqueFileName(Path("q").c_str(), nullptr, "fourteen-chars", name, "wb"),
              nullptr); // 14 + 8 > 21
    EXPECT_EQ(errno, EINVAL);

    // A file stands where the folder would be made.
    WriteAll(Path("file"), "x");
    std::strcpy(name, "junk");
    EXPECT_EQ(CreateUniqueFileName((Path("file") + "\\sub").c_str(), nullptr, "ggt", name, "wb"),
              nullptr);
    EXPECT_STREQ(name, "");
}

TEST_F(Win32FilesTest, QueueAppendsWholeRecordsAtTheirOffsets)
{
    const std::string queueFile = Path("plotque.que");
    CPlotterQueue queue(queueFile.c_str(), 1);
    ASSERT_EQ(queue.responseState, 0);
    tag_ti_namelist_both first = Submission("ggt0000ABCD", "drawing");
    tag_ti_namelist_both second = Submission("ggt12345678", "twenty-characters-xx");
    EXPECT_EQ(queue.MsgSubmitMedia(&first), 0);
    EXPECT_EQ(queue.MsgSubmitMedia(&second), 0);
    EXPECT_EQ(queue.MsgSubmitMedia(nullptr), -EINVAL);

    Bytes expected = ExpectedRecord("ggt0000ABCD", "drawing");
    const Bytes next = ExpectedRecord("ggt12345678", "twenty-characters-xx");
    expected.insert(expected.end(), next.begin(), next.end());
    EXPECT_EQ(ReadFileBytes(queueFile), expected);
}

TEST_F(Win32FilesTest, QueueWithoutCreateModeNeedsAnExistingFileAndCreateModeMakesItsFolders)
{
    CPlotterQueue missing(Path("missing.que").c_str(), 0);
    EXPECT_EQ(missing.responseState, -ENOENT);
    tag_ti_namelist_both record = Submission("ggt00000001", "x");
    EXPECT_EQ(missing.MsgSubmitMedia(&record), -ENOENT);
    EXPECT_FALSE(fs::exists(Path("missing.que")));

    // Creating makes the file and, on first use, the folders it lies in.
    CPlotterQueue fresh((Path("fresh") + "\\home\\plotque.que").c_str(), 1);
    ASSERT_EQ(fresh.responseState, 0);
    EXPECT_EQ(fresh.MsgSubmitMedia(&record), 0);
    EXPECT_EQ(ReadFileBytes(Path("fresh") + "\\home\\plotque.que").size(), 134u);
}

TEST_F(Win32FilesTest, ConcurrentSubmittersNeverInterleaveRecords)
{
    const std::string queueFile = Path("plotque.que");
    constexpr int kThreads = 4;
    constexpr int kEach = 40;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
    {
        threads.emplace_back([&queueFile, t] {
            // One client per thread: each has its own handle, so the lock is what orders them.
            CPlotterQueue queue(queueFile.c_str(), 1);
            const std::string name = "ggt0000000" + std::to_string(t);
            tag_ti_namelist_both record = Submission(name.c_str(), "plot");
            for (int i = 0; i < kEach; ++i)
                EXPECT_EQ(queue.MsgSubmitMedia(&record), 0);
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    const Bytes bytes = ReadFileBytes(queueFile);
    ASSERT_EQ(bytes.size(), 134u * kThreads * kEach);
    int counts[kThreads] = {};
    for (std::size_t at = 0; at < bytes.size(); at += 134)
    {
        const Bytes record(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                           bytes.begin() + static_cast<std::ptrdiff_t>(at + 134));
        const int t = record[10] - '0';
        ASSERT_TRUE(t >= 0 && t < kThreads) << "record at " << at;
        EXPECT_EQ(record, ExpectedRecord("ggt0000000" + std::to_string(t), "plot"));
        ++counts[t];
    }
    for (int count : counts)
        EXPECT_EQ(count, kEach);
}

TEST_F(Win32FilesTest, OutputFileRefusesTheInputUnderAnyName)
{
    const std::string input = Path("in.gpf");
    WriteAll(input, "plot bytes");
    ASSERT_TRUE(CreateHardLinkA(Path("link.gpf").c_str(), input.c_str(), nullptr));
    std::FILE* in = std::fopen(input.c_str(), "rb");
    ASSERT_NE(in, nullptr);

    std::string otherSpelling = Path("IN.GPF");
    for (char& c : otherSpelling)
        c = c == '\\' ? '/' : c;
    OutputFile output;
    for (const std::string& same : {input, otherSpelling, Path("link.gpf")})
        EXPECT_FALSE(OpenOutputFile(same.c_str(), in, &output)) << same;
    EXPECT_EQ(ReadFileBytes(input), BytesOf("plot bytes"));

    // Another file keeps its contents until the complete copy takes its place.
    WriteAll(Path("out.gpf"), "old contents");
    ASSERT_TRUE(OpenOutputFile(Path("out.gpf").c_str(), in, &output));
    EXPECT_TRUE(output.replaces);
    std::fputs("ab", output.stream);
    EXPECT_EQ(ReadFileBytes(Path("out.gpf")), BytesOf("old contents"));
    EXPECT_EQ(CommitOutputFile(&output), 0);
    EXPECT_EQ(ReadFileBytes(Path("out.gpf")), BytesOf("ab"));

    // A discarded output leaves the destination and no temporary file.
    ASSERT_TRUE(OpenOutputFile(Path("out.gpf").c_str(), in, &output));
    std::fputs("cd", output.stream);
    DiscardOutputFile(&output);
    EXPECT_EQ(ReadFileBytes(Path("out.gpf")), BytesOf("ab"));
    std::size_t entries = 0;
    for (const auto& entry : fs::directory_iterator(root_))
        entries += entry.path().filename().string()[0] == '.' ? 100 : 1;
    EXPECT_EQ(entries, 3u) << "in.gpf, link.gpf, out.gpf";

    // A device has no file index, is never the input, and is written in place.
    ASSERT_TRUE(OpenOutputFile("NUL", in, &output));
    EXPECT_FALSE(output.replaces);
    EXPECT_EQ(CommitOutputFile(&output), 0);
    EXPECT_FALSE(OpenOutputFile((Path("none") + "\\out.gpf").c_str(), in, &output));
    std::fclose(in);
}

TEST_F(Win32FilesTest, MakeDirectoriesCreatesEveryLevel)
{
    const std::string nested = Path("x") + "\\y/z";
    EXPECT_TRUE(MakeDirectories(nested.c_str()));
    EXPECT_TRUE(fs::is_directory(root_ / "x" / "y" / "z"));
    EXPECT_TRUE(MakeDirectories(nested.c_str())); // already there
    EXPECT_TRUE(MakeDirectories("C:\\"));

    WriteAll(Path("file"), "x");
    EXPECT_FALSE(MakeDirectories(Path("file").c_str()));
    EXPECT_FALSE(MakeDirectories((Path("file") + "\\below").c_str()));
    EXPECT_FALSE(MakeDirectories(""));
}

TEST(Win32DriveInfoTest, ReadsTheProcessEnvironment)
{
    // Set with SetEnvironmentVariableA, which the C runtime's getenv copy does not see.
    ScopedWin32Env flag("GENPLOT_QUEUE_FLAG", "7");
    ScopedWin32Env file("GENPLOT_QUEUE_FILE", "q.que");
    char drive = '!';
    unsigned char queueFlag = 0;
    char volume[8] = "junk";
    char queueFile[8] = "junk";
    EXPECT_EQ(cc_get_driveinfo(&drive, &queueFlag, volume, queueFile), 0);
    EXPECT_EQ(drive, 'C');
    EXPECT_EQ(queueFlag, 7);
    EXPECT_STREQ(volume, "");
    EXPECT_STREQ(queueFile, "q.que");

    SetEnvironmentVariableA("GENPLOT_QUEUE_FLAG", "300");
    SetEnvironmentVariableA("GENPLOT_QUEUE_FILE", "12345678"); // one character too many
    EXPECT_EQ(cc_get_driveinfo(nullptr, &queueFlag, nullptr, queueFile), -1);
    EXPECT_EQ(queueFlag, 1);
    EXPECT_STREQ(queueFile, "");

    SetEnvironmentVariableA("GENPLOT_QUEUE_FLAG", "x");
    SetEnvironmentVariableA("GENPLOT_QUEUE_FILE", nullptr);
    EXPECT_EQ(cc_get_driveinfo(nullptr, &queueFlag, nullptr, queueFile), -1);
    EXPECT_EQ(queueFlag, 0);
    EXPECT_STREQ(queueFile, "");

    SetEnvironmentVariableA("GENPLOT_QUEUE_FLAG", nullptr);
    const std::string longFlag(300, '0'); // longer than the first read's buffer
    SetEnvironmentVariableA("GENPLOT_QUEUE_FLAG", (longFlag + "5").c_str());
    EXPECT_EQ(cc_get_driveinfo(nullptr, &queueFlag, nullptr, nullptr), 0);
    EXPECT_EQ(queueFlag, 5);
}
