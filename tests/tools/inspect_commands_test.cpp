// `genplot verify` and `genplot dump` run as a user runs them, on plot files spelled out byte
// by byte from the layout: exit status, stdout and stderr.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace
{

using Bytes = std::vector<std::uint8_t>;

// Little-endian record builder for the few files these tests need.
class PlotBytes
{
  public:
    PlotBytes& U8(unsigned v)
    {
        bytes_.push_back(static_cast<std::uint8_t>(v));
        return *this;
    }
    PlotBytes& U16(unsigned v)
    {
        return U8(v & 0xFF).U8((v >> 8) & 0xFF);
    }
    PlotBytes& I32(std::int32_t v)
    {
        const auto bits = static_cast<std::uint32_t>(v);
        return U16(bits & 0xFFFF).U16(bits >> 16);
    }
    PlotBytes& I32s(std::initializer_list<std::int32_t> values)
    {
        for (std::int32_t v : values)
        {
            I32(v);
        }
        return *this;
    }
    PlotBytes& Record(unsigned type, unsigned length)
    {
        return U16(type).U16(length);
    }
    PlotBytes& Text(const std::string& text)
    {
        bytes_.insert(bytes_.end(), text.begin(), text.end());
        return *this;
    }
    // Header record (source "sample", extents (0,0)-(100,100), default text height 10,
    // configuration values 7-11) and the two markers: 152 bytes.
    PlotBytes& Start(unsigned pieces, unsigned loose, unsigned pieceLabels, std::int32_t looseAt,
                     std::int32_t tableAt, std::int32_t pieceLabelsAt)
    {
        Record(0xEFBE, 140).Text(std::string("GENPTV1\0sample", 14));
        for (int i = 0; i < 14 + 2; ++i)
        {
            U8(0); // rest of the name, its terminator, padding
        }
        U16(0).U16(0).I32s({0, 0, 100, 100}).U16(loose).U16(pieceLabels).U16(pieces).U16(0);
        for (int i = 0; i < 12; ++i)
        {
            U8(0);
        }
        I32s({10, 0, 0, 7, 8, 9, 10, 11, 0, 0}).U8(255).U8(255);
        I32s({-1, -1, looseAt, -1, tableAt, pieceLabelsAt, -1});
        return Record(0x01FF, 0).Record(0x02FF, 0);
    }
    PlotBytes& Polyline(std::initializer_list<std::pair<std::int32_t, std::int32_t>> points)
    {
        Record(0x0301, static_cast<unsigned>(10 * points.size() + 4)).U16(0x0100);
        U16(static_cast<unsigned>(points.size()));
        for (const auto& [x, y] : points)
        {
            I32(x).I32(y).U16(0);
        }
        return *this;
    }
    const Bytes& bytes() const
    {
        return bytes_;
    }

  private:
    Bytes bytes_;
};

// One piece with a four-point outline: 241 bytes, the end record at 237.
Bytes OnePiece()
{
    PlotBytes b;
    b.Start(1, 0, 0, -1, 152, -1).Record(0x0300, 20).I32s({0, 0, 100, 100, 176});
    b.Record(0x0400, 0).Record(0x0410, 1).U8(1);
    b.Polyline({{0, 0}, {100, 0}, {100, 100}, {0, 0}});
    b.Record(0x03FF, 0).Record(0xFFFF, 0);
    return b.bytes();
}

// No pieces, one loose annotation at 156: text "A\r\nB", direction (0, 10000), height 25,
// justification 2; record length 30 + 4 + 8 + 4 = 46; the end record at 206.
Bytes LooseLabel()
{
    PlotBytes b;
    b.Start(0, 1, 0, 156, 152, -1).Record(0x0300, 0);
    b.Record(0x0500, 46).U16(4).U8(0x11).U8(0).U8(0).U8(2);
    b.I32s({-20, 100, 5, 160, 50, 60, 0, 10000, 25}).Text("A\r\nB");
    b.Record(0xFFFF, 0);
    return b.bytes();
}

// Two pieces, cancelled after the first line of the second: 347 bytes; the header is the
// first one written (every section offset -1).
Bytes Cancelled()
{
    PlotBytes b;
    b.Start(2, 0, 0, -1, -1, -1).Record(0x0300, 40);
    b.I32s({0, 0, 100, 100, 196, 0, 0, 100, 100, -1});
    b.Record(0x0400, 0).Record(0x0410, 1).U8(1).Polyline({{0, 0}, {100, 0}, {100, 100}, {0, 0}});
    b.Record(0x03FF, 0);
    b.Record(0x0400, 0).Record(0x0410, 1).U8(1).Polyline({{0, 0}, {100, 0}, {100, 100}, {0, 0}});
    b.Record(0x0410, 1).U8(2).Polyline({{10, 10}, {20, 20}});
    return b.bytes();
}

struct CommandResult
{
    int exit = -1;
    std::string out;
    std::string err;
};

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class InspectCommandsTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        const char* base = std::getenv("GENPLOT_TEST_TMP");
        std::string pattern = std::string(base ? base : "/tmp") + "/inspect-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override
    {
        std::system(("rm -rf '" + dir_ + "'").c_str());
    }

    std::string Write(const std::string& name, const Bytes& bytes)
    {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    CommandResult Genplot(const std::string& arguments)
    {
        CommandResult run;
        const std::string out = dir_ + "/stdout";
        const std::string err = dir_ + "/stderr";
        const std::string command =
            std::string("'") + GENPLOT_EXE + "' " + arguments + " >'" + out + "' 2>'" + err + "'";
        const int status = std::system(command.c_str());
        run.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = Slurp(out);
        run.err = Slurp(err);
        return run;
    }

    std::string dir_;
};

} // namespace

TEST_F(InspectCommandsTest, VerifyPassesSoundFilesWithASummary)
{
    const CommandResult run = Genplot("verify '" + Write("one.gpf", OnePiece()) + "'");
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_NE(run.out.find("valid plot file: pieces 1, lines 1"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("bytes 241"), std::string::npos) << run.out;
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
        {"truncated", 0, 0, 200, "185: "}, // inside the outline polyline
        {"entry", 172, 177, 241, "172: "}, // piece-table offset one past the section
        {"count", 58, 2, 241, "58: "},     // pieceCount 2 for one entry
        {"length", 187, 45, 241, "185: "}, // polyline length 45 for 4 points
        {"end", 0, 0, 237, "237: "},       // no end record
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
        const CommandResult run =
            Genplot("verify '" + Write(std::string(c.name) + ".gpf", bytes) + "'");
        EXPECT_EQ(run.exit, 1);
        EXPECT_EQ(run.err.rfind(c.prefix, 0), 0u) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(run.out, "");
    }
}

TEST_F(InspectCommandsTest, VerifyTellsCancelledFilesApart)
{
    const CommandResult run = Genplot("verify '" + Write("cancelled.gpf", Cancelled()) + "'");
    EXPECT_EQ(run.exit, 2);
    EXPECT_EQ(run.err.rfind("347: cancelled", 0), 0u) << run.err;
}

TEST_F(InspectCommandsTest, VerifyRefusesWhatIsNotAPlotFile)
{
    const CommandResult text =
        Genplot("verify '" + Write("text.plt", Bytes{'I', 'N', ';', 'S', 'P', '1'}) + "'");
    EXPECT_EQ(text.exit, 1);
    EXPECT_EQ(text.err.rfind("0: not a generic plot file", 0), 0u) << text.err;

    const CommandResult missing = Genplot("verify '" + dir_ + "/missing.gpf'");
    EXPECT_EQ(missing.exit, 3);
    EXPECT_NE(missing.err.find("cannot open"), std::string::npos) << missing.err;

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
    EXPECT_EQ(run.err.rfind("185: ", 0), 0u) << run.err;

    const CommandResult cancelled = Genplot("dump '" + Write("cancelled.gpf", Cancelled()) + "'");
    EXPECT_EQ(cancelled.exit, 2);
    EXPECT_NE(cancelled.out.find("319 polyline type=0x0301 length=24 piece=1 points=2\n"),
              std::string::npos)
        << cancelled.out;
}
