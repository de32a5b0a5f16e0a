#include "genplot/gen_plot.h"
#include "platform/window.h"
#include "plotinfo/plot_config.h"
#include "plotinfo/plot_info.h"
#include "support/byte_builder.h"
#include "support/recording_window.h"
#include "support/writer_fixtures.h"

#include <algorithm>

#include <gtest/gtest.h>

// Progress positions, the message pump and cancellation during a write.

namespace
{

constexpr UINT kHostMessage = WM_USER + 100;

void DrainQueue()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
    {
    }
}

std::size_t QueuedMessages()
{
    std::vector<MSG> taken;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
    {
        taken.push_back(msg);
    }
    for (const MSG& m : taken)
    {
        PostMessageA(m.hwnd, m.message, m.wParam, m.lParam);
    }
    return taken.size();
}

std::size_t CountMessages(const RecordingWindow& window, UINT message)
{
    std::size_t count = 0;
    for (const RecordedMessage& m : window.messages())
    {
        count += m.message == message ? 1 : 0;
    }
    return count;
}

class WriterProgressTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        DrainQueue();
        writer.Initialize("drawing", &config);
    }
    void TearDown() override
    {
        DrainQueue();
    }

    int Write(CPlotInfo& plot, CProgressCtrl* progress, int* cancelFlag)
    {
        return writer.write_plot_file(file.get(), &plot, &config, progress, cancelFlag, nullptr);
    }

    CPlotConfig config;
    CGenPlot writer;
    TempFile file = MakeTempFile();
};

// Piece A with lines L1 and L2, piece B with one line.
void BuildCancellablePlot(CPlotInfo& plot)
{
    plot.defaultTextHeight = 40;
    plot.extents.lowerLeft = CCoord(0, 0);
    plot.extents.upperRight = CCoord(30, 20);
    CPerim* a = AddPiece(plot, {{0, 0}, {10, 0}, {0, 0}}, 0, 0, 10, 0);
    AddLine(a, {{1, 1}, {2, 2}});
    AddLine(a, {{3, 3}, {4, 4}});
    CPerim* b = AddPiece(plot, {{20, 20}, {30, 20}, {20, 20}}, 20, 20, 30, 20);
    AddLine(b, {{21, 21}, {22, 22}});
    plot.looseLabels.AddTail(MakeLabel("L", 0, 0, 40));
}

// The header as the writer first writes it for the two-piece plot: counts and offsets of a
// fresh writer, the piece table offset still absent.
ExpectedHeader FirstWrittenHeader()
{
    ExpectedHeader header;
    header.pieceCount = 2;
    header.defaultTextHeight = 40;
    const std::int32_t extents[4] = {0, 0, 30, 20};
    std::copy(extents, extents + 4, header.extents);
    header.pieceTableOffset = -1;
    return header;
}

// The file as a cancel after L1 leaves it: the header as first written (counts and offsets of
// a fresh writer, piece table offset still absent), both table entries without a section
// offset, piece A up to L1, and nothing after.
std::vector<std::uint8_t> CancelledAfterFirstLine()
{
    ByteBuilder bytes;
    AppendHeaderRecord(bytes, FirstWrittenHeader());
    bytes.Record(0x01FF, 0).Record(0x02FF, 0).Record(0x0300, 40);
    bytes.I32(0).I32(0).I32(10).I32(0).I32(-1);
    bytes.I32(20).I32(20).I32(30).I32(20).I32(-1);
    bytes.Record(0x0400, 0).Record(0x0410, 1).U8(1);
    bytes.Record(0x0301, 34).U16(0x0100).U16(3).Point(0, 0).Point(10, 0).Point(0, 0);
    bytes.Record(0x0301, 24).U16(0x0100).U16(2).Point(1, 1).Point(2, 2);
    return bytes.bytes();
}

} // namespace

TEST_F(WriterProgressTest, TwoPieceExampleSendsTheFivePositions)
{
    CPlotInfo plot;
    CPerim* first = AddPiece(plot, {{0, 0}, {10, 0}, {0, 0}}, 0, 0, 10, 0);
    AddLine(first, {{1, 1}, {2, 2}});
    AddLine(first, {{3, 3}, {4, 4}});
    AddLine(first, {{5, 5}, {6, 6}});
    AddPiece(plot, {{20, 20}, {30, 20}, {20, 20}}, 20, 20, 30, 20);
    RecordingWindow progress;
    int cancel = 0;

    EXPECT_EQ(Write(plot, progress.progress(), &cancel), 1);
    EXPECT_EQ(progress.Positions(), (std::vector<long>{75, 84, 93, 112, 150}));
    EXPECT_TRUE(progress.Ranges().empty()); // the writer never sets the range
    EXPECT_EQ(progress.messages().size(), 5u);
}

TEST_F(WriterProgressTest, PlotWithoutPiecesSendsNothingPumpsNothingAndIgnoresTheFlag)
{
    CPlotInfo plot;
    plot.looseLabels.AddTail(MakeLabel("L", 0, 0, 5000));
    RecordingWindow progress;
    PostMessageA(progress.handle(), kHostMessage, 0, 0);
    int cancel = 1;

    EXPECT_EQ(Write(plot, progress.progress(), &cancel), 1);
    EXPECT_TRUE(progress.messages().empty());
    EXPECT_EQ(QueuedMessages(), 1u);
}

TEST_F(WriterProgressTest, PumpDispatchesOneMessagePerNonPerimeterLine)
{
    CPlotInfo plot;
    CPerim* piece = AddPiece(plot, {{0, 0}, {10, 0}, {0, 0}}, 0, 0, 10, 0);
    AddLine(piece, {{1, 1}, {2, 2}});
    AddLine(piece, {{3, 3}, {4, 4}});
    RecordingWindow host;
    for (int i = 0; i < 3; ++i)
    {
        PostMessageA(host.handle(), kHostMessage, static_cast<WPARAM>(i), 0);
    }
    int cancel = 0;

    EXPECT_EQ(Write(plot, nullptr, &cancel), 1);
    ASSERT_EQ(CountMessages(host, kHostMessage), 2u);
    EXPECT_EQ(host.messages()[0].wParam, 0u);
    EXPECT_EQ(host.messages()[1].wParam, 1u);
    EXPECT_EQ(QueuedMessages(), 1u);
}

TEST_F(WriterProgressTest, HandlerSettingTheFlagStopsRightAfterTheFirstLine)
{
    CPlotInfo plot;
    BuildCancellablePlot(plot);
    RecordingWindow window;
    int cancel = 0;
    window.OnMessage([&](const RecordedMessage& m) {
        if (m.message == kHostMessage)
        {
            cancel = 1;
        }
    });
    PostMessageA(window.handle(), kHostMessage, 0, 0);

    EXPECT_EQ(Write(plot, window.progress(), &cancel), 0);
    EXPECT_TRUE(SameBytes(CancelledAfterFirstLine(), ReadAllBytes(file.get())));
    // The position for L1 goes out before the pump hands over the host's message.
    ASSERT_EQ(window.messages().size(), 2u);
    EXPECT_EQ(window.messages()[0].message, PBM_SETPOS);
    EXPECT_EQ(window.messages()[0].wParam, 75u);
    EXPECT_EQ(window.messages()[1].message, kHostMessage);
}

TEST_F(WriterProgressTest, FlagAlreadySetStopsAtTheSamePlace)
{
    CPlotInfo plot;
    BuildCancellablePlot(plot);
    RecordingWindow window;
    int cancel = 1;

    EXPECT_EQ(Write(plot, window.progress(), &cancel), 0);
    EXPECT_TRUE(SameBytes(CancelledAfterFirstLine(), ReadAllBytes(file.get())));
    EXPECT_EQ(window.Positions(), (std::vector<long>{75}));
}

TEST_F(WriterProgressTest, CancelInTheSecondPieceKeepsTheFirstPiecesOffset)
{
    CPlotInfo plot;
    BuildCancellablePlot(plot);
    RecordingWindow window;
    int cancel = 0;
    // 112 is sent once piece A is done; the flag is then read after B's line.
    window.OnMessage([&](const RecordedMessage& m) {
        if (m.message == PBM_SETPOS && m.wParam == 112)
        {
            cancel = 1;
        }
    });

    EXPECT_EQ(Write(plot, window.progress(), &cancel), 0);
    ByteBuilder bytes;
    AppendHeaderRecord(bytes, FirstWrittenHeader());
    bytes.Record(0x01FF, 0).Record(0x02FF, 0).Record(0x0300, 40);
    bytes.I32(0).I32(0).I32(10).I32(0).I32(196); // piece A's section: 156 + 2 x 20
    bytes.I32(20).I32(20).I32(30).I32(20).I32(-1);
    bytes.Record(0x0400, 0).Record(0x0410, 1).U8(1);
    bytes.Record(0x0301, 34).U16(0x0100).U16(3).Point(0, 0).Point(10, 0).Point(0, 0);
    bytes.Record(0x0301, 24).U16(0x0100).U16(2).Point(1, 1).Point(2, 2);
    bytes.Record(0x0301, 24).U16(0x0100).U16(2).Point(3, 3).Point(4, 4);
    bytes.Record(0x03FF, 0);
    bytes.Record(0x0400, 0).Record(0x0410, 1).U8(1);
    bytes.Record(0x0301, 34).U16(0x0100).U16(3).Point(20, 20).Point(30, 20).Point(20, 20);
    bytes.Record(0x0301, 24).U16(0x0100).U16(2).Point(21, 21).Point(22, 22);
    EXPECT_TRUE(SameBytes(bytes.bytes(), ReadAllBytes(file.get())));
    EXPECT_EQ(window.Positions(), (std::vector<long>{75, 87, 112, 112}));
}

TEST_F(WriterProgressTest, EveryPieceOfALongTableGetsItsSectionOffset)
{
    // More pieces than the writer patches in one go, cancelled in the last one: every entry
    // before it points at its section, the last stays -1.
    constexpr int kPieces = 150;
    CPlotInfo plot;
    for (int i = 0; i < kPieces; ++i)
    {
        CPerim* piece = AddPiece(plot, {{i, 0}, {i, 5}, {i, 0}}, i, 0, i, 5);
        if (i == kPieces - 1)
        {
            AddLine(piece, {{i, 1}, {i, 2}});
        }
    }
    int cancel = 1;
    EXPECT_EQ(Write(plot, nullptr, &cancel), 0);

    const std::vector<std::uint8_t> written = ReadAllBytes(file.get());
    // Each section: pen mode 4, line type 5, a 3-point outline 38, piece end 4 = 51 bytes.
    const std::size_t firstSection = 156 + 20 * kPieces;
    ASSERT_GE(written.size(), firstSection);
    for (int i = 0; i < kPieces; ++i)
    {
        const std::uint8_t* field = written.data() + 156 + 20 * i + 16;
        const auto offset = static_cast<std::int32_t>(static_cast<std::uint32_t>(field[0]) |
                                                      static_cast<std::uint32_t>(field[1]) << 8 |
                                                      static_cast<std::uint32_t>(field[2]) << 16 |
                                                      static_cast<std::uint32_t>(field[3]) << 24);
        const std::int32_t expected =
            i == kPieces - 1 ? -1 : static_cast<std::int32_t>(firstSection + 51 * i);
        EXPECT_EQ(offset, expected) << "piece " << i;
    }
}

TEST_F(WriterProgressTest, FlagIsNeverReadWithoutNonPerimeterLines)
{
    CPlotInfo plot;
    AddPiece(plot, {{0, 0}, {10, 0}, {0, 0}}, 0, 0, 10, 0);
    AddPiece(plot, {{20, 20}, {30, 20}, {20, 20}}, 20, 20, 30, 20);
    RecordingWindow progress;
    int cancel = 1;

    EXPECT_EQ(Write(plot, progress.progress(), &cancel), 1);
    EXPECT_EQ(progress.Positions(), (std::vector<long>{112, 150}));
}

TEST_F(WriterProgressTest, NullProgressAndNullFlagWriteTheSameCompleteFile)
{
    CPlotInfo plot;
    BuildCancellablePlot(plot);
    RecordingWindow progress;
    int cancel = 0;
    ASSERT_EQ(Write(plot, progress.progress(), &cancel), 1);
    const auto withControls = ReadAllBytes(file.get());

    TempFile other = MakeTempFile();
    CGenPlot fresh;
    fresh.Initialize("drawing", &config);
    EXPECT_EQ(fresh.write_plot_file(other.get(), &plot, &config, nullptr, nullptr, nullptr), 1);
    EXPECT_TRUE(SameBytes(withControls, ReadAllBytes(other.get())));
    EXPECT_EQ(std::ftell(other.get()), 144);
}
