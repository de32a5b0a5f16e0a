// `genplot convert` run as a user runs it: the summary, the file it leaves (or does not
// leave), one-line failures, the notes about what was skipped, and Ctrl-C during the write.

#include "support/dispatch_sandbox.h"
#include "tools/program_runner.h"

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace
{

using genplot::test::GenplotProcess;
using genplot::test::LargeDrawing;
using genplot::test::LineCount;
using genplot::test::ProgramResult;
using genplot::test::RunGenplot;

const std::string kSample = std::string(GENPLOT_EXAMPLES_DIR) + "/sample.plt";

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::uint8_t> Bytes(const std::string& text)
{
    return {text.begin(), text.end()};
}

int Exit(int status)
{
    return status == -1 ? -1 : WEXITSTATUS(status);
}

// A queue file name made by the queue client: "ggt" and 8 hexadecimal digits.
bool IsUniqueName(const std::string& name)
{
    return name.size() == 11 && name.compare(0, 3, "ggt") == 0 &&
           name.find_first_not_of("0123456789abcdefABCDEF", 3) == std::string::npos;
}

struct Summary
{
    std::string path;
    unsigned long pieces = 0;
    unsigned long lines = 0;
    unsigned long labels = 0;
    unsigned long points = 0;
    unsigned long thickening = 0;
    unsigned long bytes = 0;
};

// Parses "PATH: N pieces, N lines, N labels, N points, N strokes added by thickening,
// N bytes, T s" and its newline; false when the line has any other form.
bool ParseSummary(const std::string& text, const std::string& path, Summary& summary)
{
    if (text.compare(0, path.size() + 2, path + ": ") != 0)
        return false;
    summary.path = path;
    double seconds = 0.0;
    int used = -1;
    const int fields =
        std::sscanf(text.c_str() + path.size() + 2,
                    "%lu pieces, %lu lines, %lu labels, %lu points, %lu strokes added by "
                    "thickening, %lu bytes, %lf s\n%n",
                    &summary.pieces, &summary.lines, &summary.labels, &summary.points,
                    &summary.thickening, &summary.bytes, &seconds, &used);
    return fields == 7 && used >= 0 &&
           static_cast<std::size_t>(used) == text.size() - path.size() - 2;
}

bool HaveTool(const char* name)
{
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

TEST(ConvertCommandTest, ConvertsTheSampleAndPrintsOneSummaryLine)
{
    DispatchSandbox box;
    const std::string output = box.Path("sample.gpf");
    const ProgramResult result = RunGenplot({"convert", kSample, "-o", output});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    Summary summary;
    ASSERT_TRUE(ParseSummary(result.out, output, summary)) << result.out;
    // The sample has eight closed outlines (three garment pieces, a pocket, two buttons, a
    // notch and a label rectangle), nine label lines, and two wide lines of one stroke pair
    // each (3 mm and 5 mm).
    EXPECT_EQ(summary.pieces, 8u);
    EXPECT_EQ(summary.labels, 9u);
    EXPECT_EQ(summary.thickening, 4u);
    const std::vector<std::uint8_t> bytes = ReadFileBytes(output);
    EXPECT_EQ(bytes.size(), summary.bytes);
    // Header record: type 0xEFBE, length 140, magic "GENPTV1" and a NUL.
    ASSERT_GE(bytes.size(), 12u);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 12),
              Bytes(std::string("\xBE\xEF\x8C\x00GENPTV1\0", 12)));
    // Nothing else is left in the folder: the temporary file became the output.
    EXPECT_EQ(ListDirectory(box.root()), (std::vector<std::string>{"drive_c", "sample.gpf"}));
}

TEST(ConvertCommandTest, ConvertVerifyRenderSendAndQueue)
{
    DispatchSandbox box;
    const std::string plot = box.Path("sample.gpf");
    ASSERT_EQ(RunGenplot({"convert", kSample, "-o", plot}).exitCode, 0);
    EXPECT_EQ(RunGenplot({"check", plot}).exitCode, 0);
    const ProgramResult verified = RunGenplot({"verify", plot});
    EXPECT_EQ(verified.exitCode, 0) << verified.err;

    const std::string svg = box.Path("sample.svg");
    const ProgramResult rendered = RunGenplot({"render", plot, "-o", svg});
    EXPECT_EQ(rendered.exitCode, 0) << rendered.err;
    if (HaveTool("xmllint") && HaveTool("rsvg-convert"))
    {
        EXPECT_EQ(Exit(std::system(("xmllint --noout '" + svg + "'").c_str())), 0);
        EXPECT_EQ(Exit(std::system(
                      ("rsvg-convert '" + svg + "' -o '" + box.Path("sample.png") + "'").c_str())),
                  0);
    }

    const std::string copy = box.Path("copy.gpf");
    const ProgramResult sent = RunGenplot({"send", plot, "--to", copy});
    EXPECT_EQ(sent.exitCode, 0) << sent.err;
    EXPECT_EQ(sent.out.rfind("no error.\n", 0), 0u) << sent.out; // then where it went
    EXPECT_EQ(ReadFileBytes(copy), ReadFileBytes(plot));

    const ProgramResult queued = RunGenplot({"send", plot, "--queue"});
    EXPECT_EQ(queued.exitCode, 0) << queued.err;
    EXPECT_EQ(queued.out.rfind("no error.\n", 0), 0u) << queued.out;
    const ProgramResult listed = RunGenplot({"queue"});
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    const std::string head = "C:\\plotque.que: 1 submission\n1  ";
    const std::string tail = "  sample  media 4  copies 1\n";
    ASSERT_EQ(listed.out.size(), head.size() + 11 + tail.size()) << listed.out;
    EXPECT_EQ(listed.out.substr(0, head.size()), head);
    EXPECT_TRUE(IsUniqueName(listed.out.substr(head.size(), 11))) << listed.out;
    EXPECT_EQ(listed.out.substr(head.size() + 11), tail);
}

TEST(ConvertCommandTest, RefusesBinaryInputWithOneLineAndLeavesTheOutputAlone)
{
    DispatchSandbox box;
    std::string binary;
    for (int i = 0; i < 4096; ++i)
        binary += static_cast<char>((i * 131 + 7) & 0xFF);
    WriteText(box.Path("picture.png"), binary);
    const std::string output = box.Path("out.gpf");
    WriteText(output, "previous contents");
    const ProgramResult result = RunGenplot({"convert", box.Path("picture.png"), "-o", output});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(LineCount(result.err), 1) << result.err;
    EXPECT_NE(result.err.find("not an HP-GL file: it holds binary data"), std::string::npos)
        << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(ReadFileBytes(output), Bytes("previous contents"));
}

TEST(ConvertCommandTest, RefusesAnEmptyFile)
{
    DispatchSandbox box;
    WriteText(box.Path("empty.plt"), "");
    const ProgramResult result =
        RunGenplot({"convert", box.Path("empty.plt"), "-o", box.Path("o.gpf")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "genplot convert: " + box.Path("empty.plt") + ": the input is empty\n");
    EXPECT_FALSE(FileExists(box.Path("o.gpf")));
}

TEST(ConvertCommandTest, CommandLineAndOutputFolderFailures)
{
    DispatchSandbox box;
    // A missing input is a failed run (1); an option that cannot be parsed is a wrong command
    // line (64), with a pointer at the subcommand's help.
    const ProgramResult missing =
        RunGenplot({"convert", box.Path("nothing.plt"), "-o", box.Path("o.gpf")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err, "genplot convert: cannot open " + box.Path("nothing.plt") +
                               ": No such file or directory\n");

    const ProgramResult noFolder =
        RunGenplot({"convert", kSample, "-o", box.Path("no/such/folder/o.gpf")});
    EXPECT_EQ(noFolder.exitCode, 1);
    EXPECT_EQ(LineCount(noFolder.err), 1) << noFolder.err;
    EXPECT_NE(noFolder.err.find("cannot create a file in"), std::string::npos) << noFolder.err;

    const ProgramResult badOption =
        RunGenplot({"convert", kSample, "-o", box.Path("o.gpf"), "--pen-table", "2=x"});
    EXPECT_EQ(badOption.exitCode, 64);
    EXPECT_EQ(LineCount(badOption.err), 1) << badOption.err;
    EXPECT_NE(badOption.err.find("(see genplot convert --help)"), std::string::npos)
        << badOption.err;
    EXPECT_FALSE(FileExists(box.Path("o.gpf")));
}

TEST(ConvertCommandTest, ReportsSkippedCommandsOnceAtTheEnd)
{
    DispatchSandbox box;
    WriteText(box.Path("in.plt"), "IN;VS10;SP1;PU0,0;ZZ;PD100,0,100,100,0,0;ZZ1;PU;");
    const ProgramResult result =
        RunGenplot({"convert", box.Path("in.plt"), "-o", box.Path("o.gpf")});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err,
              "genplot convert: note: skipped 3 commands not implemented: VS (1), ZZ (2)\n");
}

TEST(ConvertCommandTest, PenTableSelectsThePenModeRecords)
{
    // A square piece drawn with pen 1 and a line inside it with pen 2. The piece section
    // starts at 176 (header 144, markers 8, piece table 4 + 20): pen mode (4 bytes), line
    // type (5) and the five-point outline (4 + 4 + 50) bring the inside line to 243.
    DispatchSandbox box;
    WriteText(box.Path("in.plt"), "SP1;PU0,0;PD100,0,100,100,0,100,0,0;SP2;PU10,10;PD20,20;PU;");
    ASSERT_EQ(RunGenplot({"convert", box.Path("in.plt"), "-o", box.Path("plain.gpf")}).exitCode, 0);
    ASSERT_EQ(RunGenplot({"convert", box.Path("in.plt"), "-o", box.Path("table.gpf"), "--pen-table",
                          "2=0"})
                  .exitCode,
              0);
    const std::vector<std::uint8_t> plain = ReadFileBytes(box.Path("plain.gpf"));
    const std::vector<std::uint8_t> table = ReadFileBytes(box.Path("table.gpf"));
    ASSERT_GE(plain.size(), 247u);
    ASSERT_GE(table.size(), 247u);
    EXPECT_EQ(std::vector<std::uint8_t>(plain.begin() + 176, plain.begin() + 180),
              (std::vector<std::uint8_t>{0x00, 0x04, 0x00, 0x00}));
    // Without a table the line follows directly; with it, pen 2 gets the pen-mode-off record.
    EXPECT_EQ(std::vector<std::uint8_t>(plain.begin() + 243, plain.begin() + 245),
              (std::vector<std::uint8_t>{0x01, 0x03}));
    EXPECT_EQ(std::vector<std::uint8_t>(table.begin() + 243, table.begin() + 247),
              (std::vector<std::uint8_t>{0x01, 0x04, 0x00, 0x00}));
}

TEST(ConvertCommandTest, CloseToleranceSourceNameAndRegistryOptions)
{
    DispatchSandbox box;
    // No registry file unless the option names one.
    ScopedEnvVar registry("GENPLOT_REGISTRY", box.Path("none.reg").c_str());
    // Two outlines that end 5 units short of their start.
    WriteText(box.Path("in.plt"), "PU0,0;PD100,0,100,100,5,5;PU200,0;PD300,0,300,100,205,5;PU;");
    const auto run = [&](std::vector<std::string> extra) {
        std::vector<std::string> args{"convert", box.Path("in.plt"), "-o", box.Path("o.gpf")};
        args.insert(args.end(), extra.begin(), extra.end());
        const ProgramResult result = RunGenplot(args);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        Summary summary;
        EXPECT_TRUE(ParseSummary(result.out, box.Path("o.gpf"), summary)) << result.out;
        return summary;
    };
    // Without a tolerance neither closes: the first becomes the one piece, the second its line.
    EXPECT_EQ(run({}).pieces, 1u);
    EXPECT_EQ(run({}).lines, 1u);
    EXPECT_EQ(run({"--close-tolerance", "5"}).pieces, 2u);
    EXPECT_EQ(run({"--close-tolerance", "5"}).lines, 0u);

    // The header's source name: the input's file name, or the option cut to 20 bytes.
    const std::vector<std::uint8_t> named = ReadFileBytes(box.Path("o.gpf"));
    ASSERT_GE(named.size(), 32u);
    EXPECT_EQ(std::string(named.begin() + 12, named.begin() + 32),
              std::string("in.plt\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 20));
    run({"--source-name", "ABCDEFGHIJKLMNOPQRSTUVWXYZ"});
    const std::vector<std::uint8_t> cut = ReadFileBytes(box.Path("o.gpf"));
    ASSERT_GE(cut.size(), 33u);
    EXPECT_EQ(std::string(cut.begin() + 12, cut.begin() + 33),
              std::string("ABCDEFGHIJKLMNOPQRST\0", 21));

    // A 5 mm line (one stroke pair) turning by 26.6 degrees: mitred by default (one point per
    // stroke at the vertex), bevelled when the registry's MiterLimit is 2 (two points).
    WriteText(box.Path("in.plt"), "PW5;PU0,0;PD4000,0,8000,2000;PU;");
    EXPECT_EQ(run({}).points, 9u);
    WriteText(box.Path("miter.reg"),
              "REGEDIT4\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Tavrin\\Conversion\\General]\r\n"
              "\"MiterLimit\"=\"2\"\r\n");
    EXPECT_EQ(run({"--registry", box.Path("miter.reg")}).points, 11u);
}

TEST(ConvertCommandTest, HelpVersionAndUsage)
{
    for (const char* command : {"convert", "check", "send", "queue", "dump", "verify", "render"})
    {
        const ProgramResult help = RunGenplot({command, "--help"});
        EXPECT_EQ(help.exitCode, 0) << command;
        EXPECT_NE(help.out.find("Usage"), std::string::npos) << command;
    }
    EXPECT_EQ(RunGenplot({"--version"}).out, "genplot 0.1.0\n");
    const ProgramResult none = RunGenplot({});
    EXPECT_EQ(none.exitCode, 64);
    EXPECT_EQ(LineCount(none.err), 1) << none.err;
    EXPECT_EQ(RunGenplot({"convert", kSample, "-o", "x", "--frobnicate"}).exitCode, 64);
}

TEST(ConvertCommandTest, InterruptDuringTheWriteLeavesNoFile)
{
    DispatchSandbox box;
    const std::string input = box.Path("large.plt");
    const std::string output = box.Path("large.gpf");
    int lines = 100000;
    bool interrupted = false;
    // The signal goes out once the bar shows; should the write still win the race, the next
    // attempt has a larger drawing.
    for (int attempt = 0; attempt < 5 && !interrupted; ++attempt, lines *= 2)
    {
        std::remove(output.c_str());
        WriteText(input, LargeDrawing(lines));
        GenplotProcess process({"convert", input, "-o", output, "--progress", "always"});
        ASSERT_TRUE(process.Started());
        const bool barShown = process.ReadUntil(
            [](const std::string& err) { return err.find("writing [") != std::string::npos; },
            std::chrono::minutes(5));
        if (barShown)
            process.Signal(SIGINT);
        const ProgramResult result = process.Wait();
        if (result.exitCode == 0)
            continue;
        ASSERT_TRUE(barShown) << result.err;
        EXPECT_EQ(result.exitCode, 130) << result.err;
        EXPECT_NE(result.err.find("genplot convert: interrupted; " + output + " was not written"),
                  std::string::npos)
            << result.err;
        interrupted = true;
    }
    ASSERT_TRUE(interrupted) << "every write finished before the interrupt arrived";
    EXPECT_FALSE(FileExists(output));
    // No temporary file is left behind either.
    EXPECT_EQ(ListDirectory(box.root()), (std::vector<std::string>{"drive_c", "large.plt"}));
}

} // namespace
