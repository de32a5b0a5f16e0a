#include "platform/native_path_internal.h"
#include "platform/regular_file_internal.h"
#include "support/file_contents.h"
#include "support/test_folder.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

// The file handling written once over both back ends: these cases run on POSIX and on Windows.

namespace
{

namespace fs = std::filesystem;
using namespace genplot::detail;

class OutputFileTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        Write("in.gpf", "plot bytes");
        input_ = std::fopen(Path("in.gpf").c_str(), "rb");
        ASSERT_NE(input_, nullptr);
    }
    void TearDown() override
    {
        if (input_ != nullptr)
            std::fclose(input_);
    }
    std::string Path(const std::string& name) const
    {
        return folder_.Path(name);
    }
    void Write(const std::string& name, const std::string& text) const
    {
        std::ofstream(Path(name), std::ios::binary) << text;
    }
    std::string Read(const std::string& name) const
    {
        return ReadFileText(Path(name));
    }
    std::size_t Entries() const
    {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(root_), fs::directory_iterator()));
    }

    TestFolder folder_{"output-file"};
    const fs::path root_ = folder_.path();
    std::FILE* input_ = nullptr;
};

TEST_F(OutputFileTest, NewDestinationAppearsOnlyWhenCommitted)
{
    OutputFile output;
    ASSERT_TRUE(OpenOutputFile(Path("out.gpf").c_str(), input_, &output));
    EXPECT_TRUE(output.replaces);
    std::fputs("copy", output.stream);
    EXPECT_FALSE(fs::exists(Path("out.gpf")));
    EXPECT_EQ(CommitOutputFile(&output), 0);
    EXPECT_EQ(Read("out.gpf"), "copy");
    EXPECT_EQ(Entries(), 2u) << "in.gpf and out.gpf, no temporary file";
}

TEST_F(OutputFileTest, DiscardKeepsTheOldDestinationAndLeavesNoTemporaryFile)
{
    Write("out.gpf", "old contents");
    OutputFile output;
    ASSERT_TRUE(OpenOutputFile(Path("out.gpf").c_str(), input_, &output));
    std::fputs("half", output.stream);
    std::fflush(output.stream);
    EXPECT_EQ(Entries(), 3u) << "the copy is written beside the destination";
    EXPECT_EQ(Read("out.gpf"), "old contents");
    DiscardOutputFile(&output);
    EXPECT_EQ(Read("out.gpf"), "old contents");
    EXPECT_EQ(Entries(), 2u);
}

TEST_F(OutputFileTest, InputIsRefusedUnderAnotherNameAndLeftWhole)
{
    fs::create_hard_link(Path("in.gpf"), Path("link.gpf"));
    OutputFile output;
    for (const std::string& same : {Path("in.gpf"), Path("link.gpf")})
    {
        errno = 0;
        EXPECT_FALSE(OpenOutputFile(same.c_str(), input_, &output)) << same;
        EXPECT_EQ(errno, EEXIST) << same;
    }
    EXPECT_EQ(Read("in.gpf"), "plot bytes");
    EXPECT_EQ(Entries(), 2u);
}

TEST_F(OutputFileTest, FailedReplacementIsReportedAndCleanedUp)
{
    Write("out.gpf", "old");
    OutputFile output;
    ASSERT_TRUE(OpenOutputFile(Path("out.gpf").c_str(), input_, &output));
    std::fputs("new", output.stream);
    // A folder takes the destination's name meanwhile: no file can be moved over it.
    fs::remove(Path("out.gpf"));
    fs::create_directory(Path("out.gpf"));
    EXPECT_NE(CommitOutputFile(&output), 0);
    EXPECT_TRUE(fs::is_directory(Path("out.gpf")));
    EXPECT_EQ(Entries(), 2u) << "the temporary file is gone";
}

TEST_F(OutputFileTest, ReplacementKeepsThePermissionsOfTheFileItReplaces)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Windows files have no permission bits to keep";
#else
    Write("out.gpf", "old");
    const auto kept = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(Path("out.gpf"), kept);
    OutputFile output;
    ASSERT_TRUE(OpenOutputFile(Path("out.gpf").c_str(), input_, &output));
    EXPECT_EQ(CommitOutputFile(&output), 0);
    EXPECT_EQ(fs::status(Path("out.gpf")).permissions(), kept);
#endif
}

TEST_F(OutputFileTest, TemporaryNameIsHiddenBesideTheDestinationAndCutWhenLong)
{
    char temporary[kNativePathSize];
    ASSERT_TRUE(TemporaryPathFor(Path("plot.gpf").c_str(), temporary));
    const std::string prefix = Path(".plot.gpf.");
    EXPECT_EQ(std::string(temporary).substr(0, prefix.size()), prefix);
    EXPECT_EQ(std::string(temporary).size(), prefix.size() + 8) << "eight hex digits";

    const std::string longName(300, 'n');
    ASSERT_TRUE(TemporaryPathFor(Path(longName).c_str(), temporary));
    EXPECT_EQ(fs::path(temporary).parent_path(), root_);
    EXPECT_LE(fs::path(temporary).filename().string().size(), 255u);
}

TEST_F(OutputFileTest, MakeParentDirectoriesCreatesEveryMissingLevel)
{
    const std::string file = (root_ / "a" / "b" / "c" / "file.que").string();
    EXPECT_TRUE(MakeParentDirectories(file.c_str()));
    EXPECT_TRUE(fs::is_directory(root_ / "a" / "b" / "c"));
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(MakeParentDirectories("in-the-current-folder.que"));
    // A file where a folder must go cannot be made into one.
    EXPECT_FALSE(MakeParentDirectories((root_ / "in.gpf" / "below" / "x").string().c_str()));
}

TEST_F(OutputFileTest, OnlyRegularFilesAreOpenedForReading)
{
    RegularFile file = OpenRegularFile(Path("in.gpf").c_str());
    ASSERT_NE(file.stream, nullptr);
    EXPECT_EQ(file.size, 10u);
    std::fclose(file.stream);

    fs::create_directory(Path("folder"));
    file = OpenRegularFile(Path("folder").c_str());
    EXPECT_EQ(file.stream, nullptr);
    EXPECT_TRUE(file.notRegular || file.error != 0) << "a folder is never read";

    file = OpenRegularFile(Path("missing").c_str());
    EXPECT_EQ(file.stream, nullptr);
    EXPECT_FALSE(file.notRegular);
    EXPECT_EQ(file.error, ENOENT);
}

} // namespace
