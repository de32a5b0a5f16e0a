// LoadPlotFile on what a path can name besides a plot file: devices and named pipes are
// refused without reading or waiting, a file is read only as far as it is a plot, a file that
// shrinks while it is read is unreadable, and a plot larger than the read window decodes as
// it does from memory.

#include "genplot/plot_file_reader.h"
#include "genplot/plot_file_reader_internal.h"
#include "support/byte_builder.h"
#include "support/test_folder.h"
#include "support/writer_fixtures.h"

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

using genplot::LoadPlotFile;
using genplot::PlotFile;
using genplot::PlotFileStatus;

namespace
{

using Bytes = std::vector<std::uint8_t>;

void WriteBytes(const std::string& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// Bytes this process has read through read(2) and its kin so far.
std::uint64_t BytesReadByProcess()
{
    std::ifstream io("/proc/self/io");
    std::string name;
    std::uint64_t value = 0;
    while (io >> name >> value)
    {
        if (name == "rchar:")
            return value;
    }
    return 0;
}

// The header and markers of a plot with `pieces` pieces and no annotations.
ByteBuilder Start(std::uint16_t pieces)
{
    ExpectedHeader h;
    h.sourceName = "big";
    h.pieceCount = pieces;
    ByteBuilder out;
    AppendHeaderRecord(out, h);
    out.Record(0x01FF, 0).Record(0x02FF, 0);
    return out;
}

// One piece: a square outline, then `lines` lines of 6553 points each (65534-byte records),
// about 64 KiB a line.
Bytes OnePieceWithLongLines(int lines)
{
    ByteBuilder out = Start(1);
    out.Record(0x0300, 20).I32(0).I32(0).I32(100).I32(100).I32(176);
    out.Record(0x0400, 0).Record(0x0410, 1).U8(1);
    out.Record(0x0301, 44).U16(0x0100).U16(4);
    out.Point(0, 0).Point(100, 0).Point(100, 100).Point(0, 0);
    for (int line = 0; line < lines; ++line)
    {
        out.Record(0x0301, 65534).U16(0x0100).U16(6553);
        for (int i = 0; i < 6553; ++i)
            out.Point(line, i);
    }
    out.Record(0x03FF, 0).Record(0xFFFF, 0);
    return out.bytes();
}

TEST(PlotFileLoadTest, DevicesAndNamedPipesAreRefusedWithoutReadingOrWaiting)
{
    const TestFolder folder("reader-load");
    // Should a read block or go on without end, the alarm ends the test instead of hanging it.
    std::signal(SIGALRM, SIG_DFL);
    alarm(30);
    const std::uint64_t before = BytesReadByProcess();
    const PlotFile zero = LoadPlotFile("/dev/zero");
    EXPECT_EQ(zero.status, PlotFileStatus::Unreadable);
    EXPECT_EQ(zero.problem, "cannot read /dev/zero: not a regular file");
    EXPECT_LT(BytesReadByProcess() - before, 1u << 20);

    const std::string pipe = folder.Path("pipe");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const PlotFile fifo = LoadPlotFile(pipe); // no writer: opening it must not wait for one
    EXPECT_EQ(fifo.status, PlotFileStatus::Unreadable);
    EXPECT_EQ(fifo.problem, "cannot read " + pipe + ": not a regular file");
    alarm(0);
}

TEST(PlotFileLoadTest, AFileIsReadOnlyAsFarAsItIsAPlot)
{
    const TestFolder folder("reader-load");
    // A sound start, then a record no plot has, then 64 MiB (sparse, so it costs no disk).
    ByteBuilder out = Start(0);
    out.Record(0x0300, 0).Record(0x1234, 0);
    const std::string path = folder.Path("tail.gpf");
    WriteBytes(path, out.bytes());
    ASSERT_EQ(truncate(path.c_str(), 64 << 20), 0);
    const std::uint64_t before = BytesReadByProcess();
    const PlotFile file = LoadPlotFile(path);
    const std::uint64_t read = BytesReadByProcess() - before;
    EXPECT_EQ(file.status, PlotFileStatus::Invalid);
    EXPECT_EQ(file.problemOffset, 156u) << file.problem;
    EXPECT_EQ(file.size, std::uint64_t{64} << 20);
    EXPECT_LT(read, std::uint64_t{1} << 20);

    // Not a plot at all: the first record says so, and nothing more is read.
    const std::string text = folder.Path("text.plt");
    WriteBytes(text, Bytes{'I', 'N', ';', 'S', 'P', '1', ';'});
    ASSERT_EQ(truncate(text.c_str(), 64 << 20), 0);
    const std::uint64_t start = BytesReadByProcess();
    const PlotFile foreign = LoadPlotFile(text);
    EXPECT_LT(BytesReadByProcess() - start, std::uint64_t{1} << 20);
    EXPECT_EQ(foreign.status, PlotFileStatus::Invalid);
    EXPECT_EQ(foreign.problem.rfind("not a generic plot file", 0), 0u) << foreign.problem;
}

TEST(PlotFileLoadTest, PlotsLargerThanTheReadWindowDecodeAsFromMemory)
{
    const TestFolder folder("reader-load");
    const Bytes bytes = OnePieceWithLongLines(12); // about 786 KB
    const std::string path = folder.Path("long.gpf");
    WriteBytes(path, bytes);
    const PlotFile loaded = LoadPlotFile(path);
    const PlotFile read = genplot::ReadPlotFile(bytes.data(), bytes.size());
    ASSERT_EQ(read.status, PlotFileStatus::Valid) << read.problem;
    ASSERT_EQ(loaded.status, PlotFileStatus::Valid) << loaded.problem;
    EXPECT_EQ(loaded.size, bytes.size());
    ASSERT_EQ(loaded.pieces.size(), 1u);
    ASSERT_EQ(loaded.pieces[0].records.size(), read.pieces[0].records.size());
    ASSERT_EQ(loaded.pieces[0].records.size(), 4u + 12u);
    for (std::size_t i = 0; i < read.pieces[0].records.size(); ++i)
    {
        const genplot::PlotPieceRecord& a = read.pieces[0].records[i];
        const genplot::PlotPieceRecord& b = loaded.pieces[0].records[i];
        EXPECT_EQ(a.offset, b.offset) << i;
        ASSERT_EQ(a.points.size(), b.points.size()) << i;
        for (std::size_t p = 0; p < a.points.size(); ++p)
        {
            ASSERT_EQ(a.points[p].x, b.points[p].x) << i << " " << p;
            ASSERT_EQ(a.points[p].y, b.points[p].y) << i << " " << p;
        }
    }
    EXPECT_EQ(loaded.endOffset, read.endOffset);
}

TEST(PlotFileLoadTest, AStreamThatEndsBeforeItsSizeIsUnreadable)
{
    // What a file that shrinks while it is read gives the window: fewer bytes than its size.
    const Bytes bytes = OnePieceWithLongLines(6);
    std::FILE* stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, 300000, stream), 300000u);
    std::rewind(stream);
    genplot::detail::reader::ByteWindow window(stream, bytes.size());
    PlotFile file;
    genplot::detail::reader::PlotFileWalker(window, file).Run();
    std::fclose(stream);
    EXPECT_EQ(file.status, PlotFileStatus::Unreadable);
    EXPECT_TRUE(window.Failed());
    EXPECT_EQ(window.Error(), 0);
    // What came before the cut was decoded.
    ASSERT_EQ(file.pieces.size(), 1u);
    EXPECT_GE(file.pieces[0].records.size(), 4u);
}

} // namespace
