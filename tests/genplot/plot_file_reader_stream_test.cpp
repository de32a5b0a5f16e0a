// LoadPlotFile with a piece sink: the sink gets exactly the pieces the whole-file load
// returns, one at a time and in file order, the result holds everything else, and a sink
// can stop the reading.

#include "genplot/plot_file_reader.h"
#include "support/byte_builder.h"
#include "support/test_folder.h"
#include "support/writer_fixtures.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

using genplot::LoadPlotFile;
using genplot::PlotFile;
using genplot::PlotFilePiece;
using genplot::PlotFileStatus;
using genplot::PlotPieceRecord;

namespace
{

using Bytes = std::vector<std::uint8_t>;
using Points = std::vector<std::pair<std::int32_t, std::int32_t>>;

void Polyline(ByteBuilder& out, const Points& points)
{
    out.Record(0x0301, static_cast<std::uint16_t>(10 * points.size() + 4))
        .U16(0x0100)
        .U16(static_cast<std::uint16_t>(points.size()));
    for (const auto& [x, y] : points)
        out.Point(x, y);
}

// A piece: its outline and then its lines, the first line in the second pen mode.
struct Piece
{
    Points outline;
    std::vector<Points> lines;
};

// Piece sections and the end of a file after them: one loose label, then the end record.
struct Layout
{
    Bytes bytes;
    std::vector<std::size_t> sectionStarts; // file offsets
};

Layout Plot(const std::vector<Piece>& pieces)
{
    std::vector<Bytes> sections;
    for (const Piece& piece : pieces)
    {
        ByteBuilder section;
        section.Record(0x0400, 0).Record(0x0410, 1).U8(1);
        Polyline(section, piece.outline);
        for (std::size_t i = 0; i < piece.lines.size(); ++i)
        {
            if (i == 0)
                section.Record(0x0401, 0);
            Polyline(section, piece.lines[i]);
        }
        section.Record(0x03FF, 0);
        sections.push_back(section.bytes());
    }
    Layout layout;
    std::size_t at = 152 + 4 + 20 * pieces.size();
    for (const Bytes& section : sections)
    {
        layout.sectionStarts.push_back(at);
        at += section.size();
    }
    ExpectedHeader h = SampleHeader();
    h.pieceCount = static_cast<std::uint16_t>(pieces.size());
    h.looseAnnotationCount = 1;
    h.looseAnnotationOffset = static_cast<std::int32_t>(at);
    ByteBuilder out;
    AppendHeaderRecord(out, h);
    out.Record(0x01FF, 0).Record(0x02FF, 0);
    out.Record(0x0300, static_cast<std::uint16_t>(20 * pieces.size()));
    for (std::size_t start : layout.sectionStarts)
        out.I32(0).I32(0).I32(100).I32(100).I32(static_cast<std::int32_t>(start));
    for (const Bytes& section : sections)
        out.Append(section);
    out.Record(0x0500, 33).U16(3).U8(0).U8(0).U8(0).U8(1);
    out.I32(5).I32(1).I32(35).I32(16).I32(5).I32(6).Text("ABC");
    out.Record(0xFFFF, 0);
    layout.bytes = out.bytes();
    return layout;
}

// Three pieces; the second has a line long enough to be split over two records.
Layout ThreePieces()
{
    Points longLine;
    for (std::int32_t i = 0; i < 7000; ++i)
        longLine.emplace_back(i % 100, i / 100);
    return Plot({{{{0, 0}, {100, 0}, {100, 100}, {0, 0}}, {{{10, 10}, {20, 20}}}},
                 {{{0, 0}, {50, 0}, {0, 50}, {0, 0}},
                  {{{1, 2}, {3, 4}, {5, 6}},
                   {longLine.begin(), longLine.begin() + 6553},
                   {longLine.begin() + 6552, longLine.end()}}},
                 {{{5, 5}, {95, 5}, {5, 95}, {5, 5}}, {{{-7, 8}, {9, -10}}}}});
}

std::string WriteFile(const TestFolder& folder, const std::string& name, const Bytes& bytes)
{
    const std::string path = (folder.path() / name).string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
}

void ExpectSameRecords(const std::vector<PlotPieceRecord>& expected,
                       const std::vector<PlotPieceRecord>& actual)
{
    ASSERT_EQ(expected.size(), actual.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
    {
        SCOPED_TRACE(i);
        EXPECT_EQ(expected[i].offset, actual[i].offset);
        EXPECT_EQ(expected[i].type, actual[i].type);
        EXPECT_EQ(expected[i].lineTypeCode, actual[i].lineTypeCode);
        EXPECT_EQ(expected[i].continuesPrevious, actual[i].continuesPrevious);
        ASSERT_EQ(expected[i].points.size(), actual[i].points.size());
        for (std::size_t p = 0; p < expected[i].points.size(); ++p)
        {
            ASSERT_EQ(expected[i].points[p].x, actual[i].points[p].x) << p;
            ASSERT_EQ(expected[i].points[p].y, actual[i].points[p].y) << p;
        }
    }
}

// Everything the two loads return but the pieces' records.
void ExpectSameOutline(const PlotFile& whole, const PlotFile& streamed)
{
    EXPECT_EQ(whole.status, streamed.status);
    EXPECT_EQ(whole.problem, streamed.problem);
    EXPECT_EQ(whole.problemOffset, streamed.problemOffset);
    EXPECT_EQ(whole.size, streamed.size);
    EXPECT_EQ(whole.header.pieceCount, streamed.header.pieceCount);
    EXPECT_EQ(whole.header.sectionOffsets, streamed.header.sectionOffsets);
    EXPECT_EQ(whole.looseAnnotations.size(), streamed.looseAnnotations.size());
    EXPECT_EQ(whole.hasEnd, streamed.hasEnd);
    EXPECT_EQ(whole.endOffset, streamed.endOffset);
    ASSERT_EQ(whole.pieces.size(), streamed.pieces.size());
    for (std::size_t i = 0; i < whole.pieces.size(); ++i)
    {
        EXPECT_EQ(whole.pieces[i].recordOffset, streamed.pieces[i].recordOffset);
        EXPECT_EQ(whole.pieces[i].sectionOffset, streamed.pieces[i].sectionOffset);
        EXPECT_TRUE(streamed.pieces[i].records.empty()) << "piece " << i << " was kept";
    }
}

// The pieces a sink receives, copied.
struct Received
{
    PlotFile result;
    std::vector<PlotFilePiece> pieces;
};

Received LoadStreamed(const std::string& path)
{
    Received received;
    received.result = LoadPlotFile(path, [&received](const PlotFilePiece& piece) {
        received.pieces.push_back(piece);
        return true;
    });
    return received;
}

class PlotFileStreamTest : public ::testing::Test
{
  protected:
    TestFolder folder_{"reader-stream"};
};

TEST_F(PlotFileStreamTest, SinkGetsThePiecesTheWholeLoadReturns)
{
    const Layout three = ThreePieces();
    Bytes noted = three.bytes;
    noted[three.sectionStarts[1] + 8] = 3; // a line-type code the reader notes and reads on
    Bytes damaged = three.bytes;
    damaged[three.sectionStarts[1] + 9] = 0x03; // the outline record turns into a piece end
    Bytes cancelled(three.bytes.begin(),
                    three.bytes.begin() + static_cast<std::ptrdiff_t>(three.sectionStarts[2]) -
                        4); // cut before piece 1's end record
    // A cancelled write leaves the first header and unpatched entries behind.
    ExpectedHeader first = SampleHeader();
    first.pieceCount = 3;
    first.pieceTableOffset = -1;
    ByteBuilder header;
    AppendHeaderRecord(header, first);
    std::copy(header.bytes().begin(), header.bytes().end(), cancelled.begin());
    for (std::size_t entry : {1, 2})
        for (std::size_t b = 0; b < 4; ++b)
            cancelled[156 + 20 * entry + 16 + b] = 0xFF;

    const struct
    {
        const char* name;
        Bytes bytes;
        PlotFileStatus status;
        std::size_t delivered;
    } cases[] = {
        {"valid", three.bytes, PlotFileStatus::Valid, 3},
        {"noted", noted, PlotFileStatus::Invalid, 3},
        {"damaged", damaged, PlotFileStatus::Invalid, 1},
        {"cancelled", cancelled, PlotFileStatus::Cancelled, 2},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        const std::string path = WriteFile(folder_, std::string(c.name) + ".gpf", c.bytes);
        const PlotFile whole = LoadPlotFile(path);
        ASSERT_EQ(whole.status, c.status) << whole.problem;
        const Received streamed = LoadStreamed(path);
        ExpectSameOutline(whole, streamed.result);
        ASSERT_EQ(streamed.pieces.size(), c.delivered);
        for (std::size_t i = 0; i < c.delivered; ++i)
        {
            SCOPED_TRACE(i);
            EXPECT_EQ(streamed.pieces[i].entryOffset, whole.pieces[i].entryOffset);
            ExpectSameRecords(whole.pieces[i].records, streamed.pieces[i].records);
        }
    }
    // The long line arrives split as the whole load has it.
    const Received valid = LoadStreamed(WriteFile(folder_, "again.gpf", three.bytes));
    ASSERT_EQ(valid.pieces.size(), 3u);
    EXPECT_TRUE(valid.pieces[1].records[6].continuesPrevious);
}

TEST_F(PlotFileStreamTest, SinkStopsTheReading)
{
    const Layout three = ThreePieces();
    const std::string path = WriteFile(folder_, "stop.gpf", three.bytes);
    int calls = 0;
    const PlotFile stopped = LoadPlotFile(path, [&calls](const PlotFilePiece&) {
        ++calls;
        return calls < 2;
    });
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(stopped.status, PlotFileStatus::Unreadable);
    EXPECT_EQ(stopped.problem, genplot::kPlotReadStopped);
    EXPECT_EQ(stopped.problemOffset, three.sectionStarts[2]);
    EXPECT_TRUE(stopped.looseAnnotations.empty());
    EXPECT_FALSE(stopped.hasEnd);

    // Stopping at the last piece still stops before the labels and the end.
    calls = 0;
    const PlotFile atLast =
        LoadPlotFile(path, [&calls](const PlotFilePiece&) { return ++calls < 3; });
    EXPECT_EQ(atLast.status, PlotFileStatus::Unreadable);
    EXPECT_FALSE(atLast.hasEnd);
}

TEST_F(PlotFileStreamTest, SinkThatThrowsLeavesNoFileOpen)
{
    const std::string path = WriteFile(folder_, "throw.gpf", ThreePieces().bytes);
    const auto readAndThrow = [&path] {
        EXPECT_THROW(
            LoadPlotFile(path,
                         [](const PlotFilePiece&) -> bool { throw std::runtime_error("no"); }),
            std::runtime_error);
    };
#if defined(_WIN32)
    // Windows refuses to remove a file that is still open.
    readAndThrow();
    EXPECT_TRUE(std::filesystem::remove(path));
#else
    if (!std::filesystem::exists("/proc/self/fd"))
        GTEST_SKIP() << "no /proc/self/fd to count open files by";
    const auto openFiles = [] {
        std::size_t count = 0;
        for ([[maybe_unused]] const auto& entry :
             std::filesystem::directory_iterator("/proc/self/fd"))
            ++count;
        return count;
    };
    const std::size_t before = openFiles();
    readAndThrow();
    EXPECT_EQ(openFiles(), before);
#endif
}

TEST_F(PlotFileStreamTest, EmptySinkIsTheWholeLoad)
{
    const std::string path = WriteFile(folder_, "plain.gpf", ThreePieces().bytes);
    const PlotFile viaEmptySink = LoadPlotFile(path, genplot::PlotPieceSink());
    const PlotFile whole = LoadPlotFile(path);
    ASSERT_EQ(viaEmptySink.pieces.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i)
        ExpectSameRecords(whole.pieces[i].records, viaEmptySink.pieces[i].records);
    EXPECT_FALSE(viaEmptySink.pieces[2].records.empty());
}

} // namespace
