#include "genplot/plot_dispatch.h"
#include "genplot/plot_dispatch_internal.h"
#include "support/dispatch_sandbox.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace
{

// The first 12 bytes of a header record: type 0xEFBE, length 140, magic "GENPTV1\0".
constexpr std::uint8_t kGoodStart[12] = {0xBE, 0xEF, 0x8C, 0x00, 'G', 'E',
                                         'N',  'P',  'T',  'V',  '1', 0x00};

// A 144-byte header record: the good start, then 132 bytes of the rest of the body.
std::vector<std::uint8_t> HeaderRecord()
{
    std::vector<std::uint8_t> bytes(kGoodStart, kGoodStart + sizeof kGoodStart);
    bytes.resize(144, 0x5A);
    return bytes;
}

struct CheckOutcome
{
    int isPlotFile;
    int sent;
    std::string message;
};

// Runs both exported entry points on `bytes` written to a file.
CheckOutcome Check(const DispatchSandbox& sandbox, const std::vector<std::uint8_t>& bytes)
{
    const std::string path = sandbox.Path("input.gpf");
    WriteFileBytes(path, bytes);
    CString input(path.c_str());
    CString destination(sandbox.Path("copy.gpf").c_str());
    CString message("stale");
    CheckOutcome outcome;
    outcome.isPlotFile = IsGenericPlotFile(input);
    outcome.sent = SendGenericPlot(input, destination, message, nullptr, 0);
    outcome.message = message.GetString();
    return outcome;
}

TEST(PlotFileCheckTest, MissingPathIsNotAPlotFile)
{
    DispatchSandbox sandbox;
    CString path(sandbox.Path("absent.gpf").c_str());
    CString destination(sandbox.Path("copy.gpf").c_str());
    CString message;
    EXPECT_EQ(IsGenericPlotFile(path), 0);
    EXPECT_EQ(SendGenericPlot(path, destination, message, nullptr, 0), 0);
    EXPECT_EQ(message, "unable to open generic plot file.");
    EXPECT_FALSE(FileExists(sandbox.Path("copy.gpf")));
}

TEST(PlotFileCheckTest, RejectsCorruptHeaders)
{
    DispatchSandbox sandbox;
    struct Case
    {
        const char* what;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<Case> cases;
    cases.push_back({"empty file", {}});
    cases.push_back({"record header cut short", {0xBE, 0xEF, 0x8C}});
    std::vector<std::uint8_t> oneShort = HeaderRecord();
    oneShort.pop_back();
    cases.push_back({"143 bytes", oneShort});
    std::vector<std::uint8_t> wrongType = HeaderRecord();
    wrongType[0] = 0xEF;
    wrongType[1] = 0xBE;
    cases.push_back({"type bytes swapped", wrongType});
    std::vector<std::uint8_t> otherType = HeaderRecord();
    otherType[1] = 0xFF;
    cases.push_back({"type 0xFFBE", otherType});
    std::vector<std::uint8_t> wrongMagic = HeaderRecord();
    wrongMagic[10] = '2';
    cases.push_back({"magic GENPTV2", wrongMagic});
    std::vector<std::uint8_t> noNul = HeaderRecord();
    noNul[11] = 'X';
    cases.push_back({"seven letters without the NUL", noNul});
    std::vector<std::uint8_t> lowerCase = HeaderRecord();
    lowerCase[4] = 'g';
    cases.push_back({"magic in another case", lowerCase});

    for (const Case& c : cases)
    {
        const CheckOutcome outcome = Check(sandbox, c.bytes);
        EXPECT_EQ(outcome.isPlotFile, 0) << c.what;
        EXPECT_EQ(outcome.sent, 0) << c.what;
        EXPECT_EQ(outcome.message, "not a valid generic plot file.") << c.what;
        EXPECT_FALSE(FileExists(sandbox.Path("copy.gpf"))) << c.what;
    }
}

TEST(PlotFileCheckTest, AcceptsBareHeaderRecordWithAnyLengthField)
{
    DispatchSandbox sandbox;
    for (std::uint16_t length : {0x0000, 0x008C, 0x1234, 0xFFFF})
    {
        std::vector<std::uint8_t> bytes = HeaderRecord();
        bytes[2] = static_cast<std::uint8_t>(length & 0xFF);
        bytes[3] = static_cast<std::uint8_t>(length >> 8);
        const CheckOutcome outcome = Check(sandbox, bytes);
        EXPECT_EQ(outcome.isPlotFile, 1) << length;
        // A header alone is no complete plot: it is recognised but not delivered.
        EXPECT_EQ(outcome.sent, 0) << length;
        EXPECT_EQ(outcome.message, "not a valid generic plot file.") << length;
        EXPECT_FALSE(FileExists(sandbox.Path("copy.gpf"))) << length;
    }
}

TEST(PlotFileCheckTest, HeaderCheckRewindsTheStream)
{
    DispatchSandbox sandbox;
    const std::vector<std::uint8_t> good = PlotFileBytes(300);
    std::vector<std::uint8_t> bad = good;
    bad[6] = '?';
    for (int expected : {1, 0})
    {
        WriteFileBytes(sandbox.Path("f"), expected == 1 ? good : bad);
        std::FILE* file = std::fopen(sandbox.Path("f").c_str(), "rb");
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(genplot::detail::CheckPlotFileHeader(file), expected);
        EXPECT_EQ(std::ftell(file), 0);
        EXPECT_EQ(std::fgetc(file), 0xBE);
        std::fclose(file);
    }
}

TEST(PlotFileCheckTest, DriveLetterPathIsLookedUpInTheDriveFolder)
{
    DispatchSandbox sandbox;
    WriteFileBytes(sandbox.drive() + "/plot.gpf", PlotFileBytes(200));
    CString path("C:\\plot.gpf");
    EXPECT_EQ(IsGenericPlotFile(path), 1);
    CString missing("C:\\other.gpf");
    EXPECT_EQ(IsGenericPlotFile(missing), 0);
}

TEST(PlotFileCheckTest, LeavesNoDescriptorOpen)
{
    DispatchSandbox sandbox;
    WriteFileBytes(sandbox.Path("good"), PlotFileBytes(160));
    WriteFileBytes(sandbox.Path("bad"), {1, 2, 3});
    CString good(sandbox.Path("good").c_str());
    CString bad(sandbox.Path("bad").c_str());
    const int before = CountOpenDescriptors();
    EXPECT_EQ(IsGenericPlotFile(good), 1);
    EXPECT_EQ(IsGenericPlotFile(bad), 0);
    EXPECT_EQ(CountOpenDescriptors(), before);
}

} // namespace
