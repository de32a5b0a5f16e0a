// `genplot verify` and `genplot dump` run as a user runs them, on plot files spelled out byte
// by byte from the layout: exit status, stdout and stderr.

#include "support/byte_builder.h"
#include "support/file_contents.h"
#include "support/test_folder.h"
#include "support/writer_fixtures.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace
{

using Bytes = std::vector<std::uint8_t>;

// Header record and markers as these files start (the sample header with these counts and
// offsets); 152 bytes.
ByteBuilder Start(std::uint16_t pieces, std::uint16_t loose, std::int32_t looseAt,
                  std::int32_t tableAt)
{
    ExpectedHeader h = SampleHeader();
    h.pieceCount = pieces;
    h.looseAnnotationCount = loose;
    h.looseAnnotationOffset = looseAt;
    h.pieceTableOffset = tableAt;
    ByteBuilder b;
    AppendHeaderRecord(b, h).Record(0x01FF, 0).Record(0x02FF, 0);
    return b;
}

// Pen mode, line type 1 and a four-point outline: 4 + 5 + 48 bytes.
ByteBuilder& Outline(ByteBuilder& b)
{
    b.Record(0x0400, 0).Record(0x0410, 1).U8(1).Record(0x0301, 44).U16(0x0100).U16(4);
    return b.Point(0, 0).Point(100, 0).Point(100, 100).Point(0, 0);
}

// One piece with a four-point outline: 241 bytes, the end record at 237.
Bytes OnePiece()
{
    ByteBuilder b = Start(1, 0, -1, 152);
    b.Record(0x0300, 20).I32(0).I32(0).I32(100).I32(100).I32(176);
    Outline(b).Record(0x03FF, 0).Record(0xFFFF, 0);
    return b.bytes();
}

// No pieces, one loose annotation at 156: text "A\r\nB", direction (0, 10000), height 25,
// justification 2; record length 30 + 4 + 8 + 4 = 46; the end record at 206.
Bytes LooseLabel()
{
    ByteBuilder b = Start(0, 1, 156, 152);
    b.Record(0x0300, 0).Record(0x0500, 46).U16(4).U8(0x11).U8(0).U8(0).U8(2);
    b.I32(-20).I32(100).I32(5).I32(160).I32(50).I32(60).I32(0).I32(10000).I32(25).Text("A\r\nB");
    b.Record(0xFFFF, 0);
    return b.bytes();
}

// Two pieces, cancelled after the first line of the second: 347 bytes; the header is the
// first one written (every section offset -1).
Bytes Cancelled()
{
    ByteBuilder b = Start(2, 0, -1, -1);
    b.Record(0x0300, 40).I32(0).I32(0).I32(100).I32(100).I32(196);
    b.I32(0).I32(0).I32(100).I32(100).I32(-1);
    Outline(b).Record(0x03FF, 0);
    Outline(b).Record(0x0410, 1).U8(2);
    b.Record(0x0301, 24).U16(0x0100).U16(2).Point(10, 10).Point(20, 20);
    return b.bytes();
}

struct CommandResult
{
    int exit = -1;
    std::string out;
    std::string err;
};

class InspectCommandsTest : public ::testing::Test
{
  protected:
    std::string Write(const std::string& name, const Bytes& bytes)
    {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    // Runs genplot with `arguments` through the shell, `prefix` before it.
    CommandResult Genplot(const std::string& arguments, const std::string& prefix = "")
    {
        CommandResult run;
        const std::string out = dir_ + "/stdout";
        const std::string err = dir_ + "/stderr";
        const std::string command =
            prefix + "'" + GENPLOT_EXE + "' " + arguments + " >'" + out + "' 2>'" + err + "'";
        const int status = std::system(command.c_str());
        run.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = ReadFileText(out);
        run.err = ReadFileText(err);
        return run;
    }

    TestFolder folder_{"inspect"};
    const std::string dir_ = folder_.path().string();
};

} // namespace

TEST_F(InspectCommandsTest, VerifyPassesSoundFilesWithASummary)
{
    const CommandResult run = Genplot("verify '" + Write("one.gpf", OnePiece()) + "'");
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(run.out, dir_ + "/one.gpf: valid plot file: 1 pieces, 0 lines, 0 labels, 4 points, "
                              "241 bytes\n");
    EXPECT_EQ(run.err, "");

    EXPECT_EQ(Genplot("verify '" + Write("label.gpf", LooseLabel()) + "'").exit, 0);
}

TEST_F(InspectCommandsTest, VerifyReportsTheFirstProblemAtItsOffset)
{
    struct Case
    {
        const char* name;
        std::size_t at;
        std::uint8_t value;
        std::size_t keep;
        const char* prefix;
    };
    const Case cases[] = {
        {"truncated", 0, 0, 200, ".gpf: 185: "}, // inside the outline polyline
        {"entry", 172, 177, 241, ".gpf: 172: "}, // piece-table offset one past the section
        {"count", 58, 2, 241, ".gpf: 58: "},     // pieceCount 2 for one entry
        {"length", 187, 45, 241, ".gpf: 185: "}, // polyline length 45 for 4 points
        {"end", 0, 0, 237, ".gpf: 237: "},       // no end record
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        Bytes bytes = OnePiece();
        if (c.at != 0)
        {
            bytes[c.at] = c.value;
        }
        bytes.resize(c.keep);
        const std::string path = Write(std::string(c.name) + ".gpf", bytes);
        const CommandResult run = Genplot("verify '" + path + "'");
        EXPECT_EQ(run.exit, 1);
        EXPECT_EQ(run.err.rfind("genplot verify: " + dir_ + "/" + c.name + c.prefix, 0), 0u)
            << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(run.out, "");
    }
}

TEST_F(InspectCommandsTest, VerifyTellsCancelledFilesApart)
{
    const CommandResult run = Genplot("verify '" + Write("cancelled.gpf", Cancelled()) + "'");
    EXPECT_EQ(run.exit, 2);
    EXPECT_EQ(run.err.rfind("genplot verify: " + dir_ + "/cancelled.gpf: 347: cancelled", 0), 0u)
        << run.err;
}

TEST_F(InspectCommandsTest, VerifyRefusesWhatIsNotAPlotFile)
{
    const CommandResult text =
        Genplot("verify '" + Write("text.plt", Bytes{'I', 'N', ';', 'S', 'P', '1'}) + "'");
    EXPECT_EQ(text.exit, 1);
    // Named, said without an offset, and with a hint for what HP-GL looks like.
    EXPECT_EQ(text.err, "genplot verify: " + dir_ +
                            "/text.plt: not a generic plot file: first record type is 0x4E49, "
                            "expected the header record 0xEFBE (an HP-GL drawing? try genplot "
                            "convert)\n");

    const CommandResult missing = Genplot("verify '" + dir_ + "/missing.gpf'");
    EXPECT_EQ(missing.exit, 3);
    EXPECT_EQ(missing.err.rfind("genplot verify: cannot open " + dir_ + "/missing.gpf: ", 0), 0u)
        << missing.err;

    EXPECT_NE(Genplot("verify").exit, 0); // no FILE: a usage error
}

TEST_F(InspectCommandsTest, DumpPrintsEveryRecordInFileOrder)
{
    const CommandResult run = Genplot("dump '" + Write("one.gpf", OnePiece()) + "'");
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(run.out, "0 header type=0xEFBE length=140 magic=\"GENPTV1\" sourceName=\"sample\" "
                       "configFlag=0 extents=(0,0)-(100,100) looseAnnotationCount=0 "
                       "pieceAnnotationCount=0 pieceCount=1 defaultTextHeight=10 "
                       "configValues=7,8,9,10,11 sectionOffsets=-1,-1,-1,-1,152,-1,-1\n"
                       "144 marker type=0x01FF length=0\n"
                       "148 marker type=0x02FF length=0\n"
                       "152 piece-table type=0x0300 length=20 entries=1\n"
                       "156 entry piece=0 box=(0,0)-(100,100) recordOffset=176\n"
                       "176 pen-mode type=0x0400 length=0 piece=0\n"
                       "180 line-type type=0x0410 length=1 piece=0 code=1 style=solid\n"
                       "185 polyline type=0x0301 length=44 piece=0 points=4\n"
                       "233 piece-end type=0x03FF length=0 piece=0\n"
                       "237 end type=0xFFFF length=0\n");

    const CommandResult points = Genplot("dump --points '" + dir_ + "/one.gpf'");
    EXPECT_NE(points.out.find("185 polyline type=0x0301 length=44 piece=0 points=4 "
                              "[(0,0) (100,0) (100,100) (0,0)]\n"),
              std::string::npos)
        << points.out;
}

TEST_F(InspectCommandsTest, DumpDecodesAnnotationFieldsAndEscapesText)
{
    const CommandResult run = Genplot("dump '" + Write("label.gpf", LooseLabel()) + "'");
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_NE(run.out.find("156 annotation type=0x0500 length=46 section=loose flags=0x11 "
                           "justification=2 extent=(-20,100)-(5,160) position=(50,60) "
                           "direction=(0,10000) textHeight=25 textLength=4 "
                           "text=\"A\\r\\nB\"\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("206 end"), std::string::npos) << run.out;
}

TEST_F(InspectCommandsTest, DumpOfADamagedFileStopsAtTheProblem)
{
    Bytes bytes = OnePiece();
    bytes.resize(200);
    const CommandResult run = Genplot("dump '" + Write("cut.gpf", bytes) + "'");
    EXPECT_EQ(run.exit, 1);
    EXPECT_NE(run.out.find("180 line-type"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("185 "), std::string::npos) << run.out;
    EXPECT_EQ(run.err.rfind("genplot dump: " + dir_ + "/cut.gpf: 185: ", 0), 0u) << run.err;

    const CommandResult cancelled = Genplot("dump '" + Write("cancelled.gpf", Cancelled()) + "'");
    EXPECT_EQ(cancelled.exit, 2);
    EXPECT_NE(cancelled.out.find("319 polyline type=0x0301 length=24 piece=1 points=2\n"),
              std::string::npos)
        << cancelled.out;
}

TEST_F(InspectCommandsTest, DevicesAndNamedPipesAreUnreadableAtOnce)
{
    // /dev/zero would never end and a pipe without a writer would wait forever; `timeout`
    // turns a hang into a failure (exit 124) instead of a stuck test.
    const std::string pipe = dir_ + "/pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    for (const std::string& path : {std::string("/dev/zero"), pipe})
    {
        for (const std::string command : {"verify", "dump", "render"})
        {
            SCOPED_TRACE(command + " " + path);
            const std::string output = command == "render" ? " -o '" + dir_ + "/out.svg'" : "";
            const CommandResult run =
                Genplot("'" + command + "' '" + path + "'" + output, "timeout 20 ");
            EXPECT_EQ(run.exit, 3);
            EXPECT_EQ(run.err,
                      "genplot " + command + ": cannot read " + path + ": not a regular file\n");
        }
    }
}

TEST_F(InspectCommandsTest, ACancelledFileGetsOneLineFromRender)
{
    const std::string path = Write("cancelled.gpf", Cancelled());
    const CommandResult refused = Genplot("render '" + path + "' -o '" + dir_ + "/c.svg'");
    EXPECT_EQ(refused.exit, 2);
    EXPECT_EQ(refused.err, "genplot render: " + path +
                               ": 347: cancelled: the write stopped inside piece 1, with 1 of 2 "
                               "pieces complete and no annotations; not drawn (--allow-cancelled "
                               "draws what was written)\n");
    const CommandResult drawn =
        Genplot("render '" + path + "' -o '" + dir_ + "/c.svg' --allow-cancelled");
    EXPECT_EQ(drawn.exit, 0);
    EXPECT_EQ(std::count(drawn.err.begin(), drawn.err.end(), '\n'), 1) << drawn.err;
}
