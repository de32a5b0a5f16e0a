// `genplot export` as a user runs it: standard output, the two dialects, and its failures.

#include "support/file_contents.h"
#include "tools/program_runner.h"
#include "tools/scratch_folder.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace
{

using genplot::test::LineCount;
using genplot::test::ProgramResult;
using genplot::test::RunGenplot;

class ExportCommandTest : public genplot::test::ScratchFolderTest
{
  protected:
    void SetUp() override
    {
        ScratchFolderTest::SetUp();
        plot_ = dir_ + "/sample.gpf";
        const ProgramResult convert =
            RunGenplot({"convert", std::string(GENPLOT_EXAMPLES_DIR) + "/sample.plt", "-o", plot_});
        ASSERT_EQ(convert.exitCode, 0) << convert.err;
    }
    std::string plot_;
};

} // namespace

TEST_F(ExportCommandTest, DashWritesToStandardOutputTheSameBytesAsAFile)
{
    const std::string file = dir_ + "/sample.plt";
    const ProgramResult toFile = RunGenplot({"export", plot_, "-o", file});
    ASSERT_EQ(toFile.exitCode, 0) << toFile.err;
    const ProgramResult toStdout = RunGenplot({"export", plot_, "-o", "-"});
    ASSERT_EQ(toStdout.exitCode, 0) << toStdout.err;
    EXPECT_EQ(toStdout.out, ReadFileText(file));
    EXPECT_EQ(toStdout.out.rfind("BP;IN;\nPS", 0), 0u);
    EXPECT_NE(toStdout.out.find("PE<="), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/-"));

    const ProgramResult plain = RunGenplot({"export", plot_, "-o", "-", "--hpgl1"});
    ASSERT_EQ(plain.exitCode, 0) << plain.err;
    EXPECT_EQ(plain.out.rfind("IN;\n", 0), 0u);
    // Every command starts a line (label texts follow LB on theirs).
    for (const char* hpgl2Only : {"BP", "PS", "PE", "LO"})
    {
        EXPECT_EQ(("\n" + plain.out).find(std::string("\n") + hpgl2Only), std::string::npos)
            << hpgl2Only;
    }
}

TEST_F(ExportCommandTest, FailuresAreOneLineWithTheirExitStatus)
{
    const ProgramResult missing = RunGenplot({"export", dir_ + "/missing.gpf", "-o", "-"});
    EXPECT_EQ(missing.exitCode, 3);
    EXPECT_EQ(missing.err.rfind("genplot export: ", 0), 0u) << missing.err;
    EXPECT_NE(missing.err.find("missing.gpf"), std::string::npos) << missing.err;

    const std::string damaged = dir_ + "/damaged.gpf";
    std::string bytes = ReadFileText(plot_);
    std::ofstream(damaged, std::ios::binary) << bytes.substr(0, bytes.size() - 10);
    const ProgramResult invalid = RunGenplot({"export", damaged, "-o", dir_ + "/out.plt"});
    EXPECT_EQ(invalid.exitCode, 1);
    EXPECT_EQ(invalid.err.rfind("genplot export: " + damaged + ": ", 0), 0u) << invalid.err;
    EXPECT_EQ(LineCount(invalid.err), 1) << invalid.err;
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/out.plt"));

    const ProgramResult noFolder = RunGenplot({"export", plot_, "-o", dir_ + "/no/out.plt"});
    EXPECT_EQ(noFolder.exitCode, 4);
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/no"));

    const ProgramResult noOutput = RunGenplot({"export", plot_});
    EXPECT_EQ(noOutput.exitCode, 64);
}
