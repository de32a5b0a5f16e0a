// `genplot export` checked by our own importer: converting what export wrote from a converted
// file must give the same plot file, byte for byte, for every HP-GL file the project holds
// (generated drawings go the same way in process, tests/render). Plain HP-GL has no label origins,
// so there the labels come back at the left ends of their baselines: the same texts, heights,
// directions and extents, other anchors.

#include "support/file_contents.h"
#include "tools/program_runner.h"
#include "tools/scratch_folder.h"

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace
{

using genplot::test::ProgramResult;
using genplot::test::RunGenplot;

class HpglExportRoundTripTest : public genplot::test::ScratchFolderTest
{
  protected:
    // The records of a plot file as `genplot dump --points` lists them.
    std::string Dump(const std::string& path)
    {
        const ProgramResult dump = RunGenplot({"dump", path, "--points"});
        EXPECT_EQ(dump.exitCode, 0) << dump.err;
        return dump.out;
    }

    // Converts `hpgl`, exports the plot, converts the export with the same source name.
    // Returns false (with a failure) when a step fails; `first` and `second` get the two plot
    // files' paths.
    bool RoundTrip(const std::string& hpgl, const std::string& name, bool plain)
    {
        first_ = dir_ + "/first.gpf";
        second_ = dir_ + "/second.gpf";
        const std::string exported = dir_ + "/exported.plt";
        const ProgramResult convert =
            RunGenplot({"convert", hpgl, "-o", first_, "--source-name", name});
        if (convert.exitCode != 0)
        {
            return false; // nothing to export: the importer refuses the file
        }
        std::vector<std::string> exportArgs = {"export", first_, "-o", exported};
        if (plain)
        {
            exportArgs.push_back("--hpgl1");
        }
        const ProgramResult exportRun = RunGenplot(exportArgs);
        EXPECT_EQ(exportRun.exitCode, 0) << exportRun.err;
        const ProgramResult again =
            RunGenplot({"convert", exported, "-o", second_, "--source-name", name});
        EXPECT_EQ(again.exitCode, 0) << again.err;
        return exportRun.exitCode == 0 && again.exitCode == 0;
    }

    std::string first_;
    std::string second_;
};

std::vector<std::string> ProjectHpglFiles()
{
    const std::filesystem::path root = std::filesystem::path(GENPLOT_EXAMPLES_DIR).parent_path();
    std::vector<std::string> files;
    for (const char* folder : {"examples", "tests"})
    {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root / folder))
        {
            const std::string extension = entry.path().extension().string();
            if (entry.is_regular_file() &&
                (extension == ".plt" || extension == ".hpgl" || extension == ".hpg"))
            {
                files.push_back(entry.path().string());
            }
        }
    }
    return files;
}

// The dump with each annotation's anchor and origin code left out.
std::string WithoutAnchors(const std::string& dump)
{
    static const std::regex anchor(" justification=[0-9]+| position=\\([-0-9]+,[-0-9]+\\)");
    return std::regex_replace(dump, anchor, "");
}

} // namespace

TEST_F(HpglExportRoundTripTest, EveryProjectHpglFileComesBackByteForByte)
{
    const std::vector<std::string> files = ProjectHpglFiles();
    ASSERT_GE(files.size(), 2u);
    int tripped = 0;
    for (const std::string& file : files)
    {
        const std::string name = std::filesystem::path(file).filename().string();
        if (!RoundTrip(file, name, false))
        {
            continue;
        }
        ++tripped;
        const bool same = ReadFileText(first_) == ReadFileText(second_);
        EXPECT_TRUE(same) << file;
        if (!same)
        {
            ADD_FAILURE() << Dump(first_).substr(0, 4000) << "---\n"
                          << Dump(second_).substr(0, 4000);
        }
    }
    EXPECT_GE(tripped, 10) << "most project files convert";
}

TEST_F(HpglExportRoundTripTest, PlainHpglKeepsStrokesPiecesAndLabelExtents)
{
    for (const std::string& file : ProjectHpglFiles())
    {
        const std::string name = std::filesystem::path(file).filename().string();
        if (!RoundTrip(file, name, true))
        {
            continue;
        }
        // Plain HP-GL has no pen widths, so the strokes of wide lines go out as they are;
        // this file's reach past the importer's range (+-268435455 plot units) and are
        // clamped on the way back.
        if (name == "big_numbers.plt")
        {
            continue;
        }
        EXPECT_TRUE(WithoutAnchors(Dump(first_)) == WithoutAnchors(Dump(second_))) << file;
    }
}
