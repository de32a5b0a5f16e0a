#include "genplot/gen_plot.h"
#include "genplot/gen_plot_internal.h"
#include "plotinfo/plot_config.h"
#include "plotinfo/plot_info.h"
#include "support/byte_builder.h"
#include "support/writer_fixtures.h"

#include <memory>
#include <string>

#include <gtest/gtest.h>

// Annotation records written one at a time with write_annotation, and the text cleaning
// they rely on.

namespace
{

// The record write_annotation puts at the stream's position, for a writer whose default text
// height is `defaultHeight`.
std::vector<std::uint8_t> AnnotationBytes(const CLabel& label, std::int32_t defaultHeight,
                                          int* result = nullptr)
{
    CPlotConfig config;
    config.configValue6 = defaultHeight;
    CGenPlot writer;
    writer.Initialize("labels", &config);
    TempFile file = MakeTempFile();
    const int written = writer.write_annotation(const_cast<CLabel*>(&label), file.get());
    if (result != nullptr)
    {
        *result = written;
    }
    return ReadAllBytes(file.get());
}

std::unique_ptr<CLabel> Label(const std::string& text, std::int32_t x, std::int32_t y,
                              std::int32_t height, std::int32_t dirX = 10000, std::int32_t dirY = 0,
                              std::int32_t justification = 1)
{
    return std::unique_ptr<CLabel>(MakeLabel(text, x, y, height, dirX, dirY, justification));
}

} // namespace

TEST(WriterAnnotationTest, PlainLabelHasNoOptionalFields)
{
    // "ABC" at (0, 0), height 100: block (0, -50)-(300, 100); adding 0.5 before truncating
    // moves -50 to -49.
    auto label = Label("ABC", 0, 0, 100);
    int result = 0;
    const auto bytes = AnnotationBytes(*label, 100, &result);
    ByteBuilder expected;
    expected.Record(0x0500, 33).U16(3).U8(0x00).U8(0).U8(0).U8(1);
    expected.I32(0).I32(-49).I32(300).I32(100).I32(0).I32(0).Text("ABC");
    ASSERT_EQ(expected.size(), 37u);
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(SameBytes(expected.bytes(), bytes));
}

TEST(WriterAnnotationTest, TurnedLabelCarriesItsDirection)
{
    // A quarter turn: the block (0, -50)-(300, 100) becomes (-99, 0)-(50, 300).
    auto label = Label("ABC", 0, 0, 100, 0, 10000);
    const auto bytes = AnnotationBytes(*label, 100);
    ByteBuilder expected;
    expected.Record(0x0500, 41).U16(3).U8(0x01).U8(0).U8(0).U8(1);
    expected.I32(-99).I32(0).I32(50).I32(300).I32(0).I32(0);
    expected.I32(0).I32(10000).Text("ABC");
    EXPECT_TRUE(SameBytes(expected.bytes(), bytes));
}

TEST(WriterAnnotationTest, HeightOtherThanTheDefaultFollowsTheDirection)
{
    auto label = Label("ABC", 0, 0, 100, 0, 10000);
    const auto bytes = AnnotationBytes(*label, 60);
    ByteBuilder expected;
    expected.Record(0x0500, 45).U16(3).U8(0x11).U8(0).U8(0).U8(1);
    expected.I32(-99).I32(0).I32(50).I32(300).I32(0).I32(0);
    expected.I32(0).I32(10000).I32(100).Text("ABC");
    EXPECT_TRUE(SameBytes(expected.bytes(), bytes));
}

TEST(WriterAnnotationTest, HeightWithoutDirection)
{
    auto label = Label("AB", 1000, 2000, 10, 10000, 0, 5);
    const auto bytes = AnnotationBytes(*label, 60);
    // Justification 5 centres the block: left 1000 - trunc(2 x 0.5 x 10) = 990.
    ByteBuilder expected;
    expected.Record(0x0500, 36).U16(2).U8(0x10).U8(0).U8(0).U8(5);
    expected.I32(990).I32(1990).I32(1010).I32(2005).I32(1000).I32(2000);
    expected.I32(10).Text("AB");
    EXPECT_TRUE(SameBytes(expected.bytes(), bytes));
}

TEST(WriterAnnotationTest, TextStartingWithEndOfTextByteHasNoText)
{
    auto label = Label(std::string("\x03XYZ"), 0, 0, 100);
    const auto bytes = AnnotationBytes(*label, 100);
    // An empty text measures as the single point (0, 100).
    ByteBuilder expected;
    expected.Record(0x0500, 30).U16(0).U8(0).U8(0).U8(0).U8(1);
    expected.I32(0).I32(100).I32(0).I32(100).I32(0).I32(0);
    EXPECT_TRUE(SameBytes(expected.bytes(), bytes));
}

TEST(WriterAnnotationTest, ShiftBytesAreDroppedAndTextEndsAtEndOfText)
{
    auto label = Label(std::string("A\x0E"
                                   "B\x0F"
                                   "C\x03"
                                   "D"),
                       0, 0, 100);
    const auto bytes = AnnotationBytes(*label, 100);
    ByteBuilder expected;
    expected.Record(0x0500, 33).U16(3).U8(0).U8(0).U8(0).U8(1);
    expected.I32(0).I32(-49).I32(300).I32(100).I32(0).I32(0).Text("ABC");
    EXPECT_TRUE(SameBytes(expected.bytes(), bytes));
}

TEST(WriterAnnotationTest, LongTextIsCutTo511Bytes)
{
    std::string text(600, 'x');
    text[510] = 'y';
    text[511] = 'z'; // first byte beyond the cut
    auto label = Label(text, 0, 0, 1);
    const auto bytes = AnnotationBytes(*label, 1);
    // One line of 511 characters, height 1: block (0, 0)-(511, 1) (bottom 1 - trunc(1.5)).
    ByteBuilder expected;
    expected.Record(0x0500, 30 + 511).U16(511).U8(0).U8(0).U8(0).U8(1);
    expected.I32(0).I32(0).I32(511).I32(1).I32(0).I32(0).Text(text.substr(0, 511));
    EXPECT_TRUE(SameBytes(expected.bytes(), bytes));
}

TEST(WriterAnnotationTest, JustificationKeepsItsLowByte)
{
    auto label = Label("A", 0, 0, 100, 10000, 0, 0x102);
    const auto bytes = AnnotationBytes(*label, 100);
    ASSERT_GE(bytes.size(), 10u);
    EXPECT_EQ(bytes[4 + 5], 0x02);
}

TEST(WriterAnnotationTest, LabelsThatCleanToNothingAreStillWrittenAndCounted)
{
    CPlotInfo plot;
    plot.defaultTextHeight = 100;
    plot.looseLabels.AddTail(MakeLabel(std::string("\x03"), 0, 0, 100));
    plot.looseLabels.AddTail(MakeLabel("", 0, 0, 100));
    CGenPlot writer;
    CPlotConfig config;
    writer.Initialize("drawing", &config);
    TempFile file = MakeTempFile();
    ASSERT_EQ(writer.write_plot_file(file.get(), &plot, &config, nullptr, nullptr, nullptr), 1);

    ExpectedHeader header;
    header.defaultTextHeight = 100;
    header.looseAnnotationCount = 1;
    header.looseAnnotationOffset = 156;
    ByteBuilder expected;
    AppendHeaderRecord(expected, header);
    expected.Record(0x01FF, 0).Record(0x02FF, 0).Record(0x0300, 0);
    expected.Record(0x0500, 30).U16(0).U8(0).U8(0).U8(0).U8(1);
    expected.I32(0).I32(100).I32(0).I32(100).I32(0).I32(0);
    expected.Record(0xFFFF, 0);
    EXPECT_TRUE(SameBytes(expected.bytes(), ReadAllBytes(file.get())));
}

TEST(CleanAnnotationTextTest, KeepsOrdinaryBytesInOrder)
{
    char text[] = "plain \r\ntext";
    EXPECT_EQ(genplot::detail::clean_annotation_text(text), 12);
    EXPECT_STREQ(text, "plain \r\ntext");
}

TEST(CleanAnnotationTextTest, DropsShiftBytesAndStopsAtEndOfText)
{
    char text[] = "\x0E\x0F"
                  "A\x0E\x0E"
                  "B\x03"
                  "CD";
    EXPECT_EQ(genplot::detail::clean_annotation_text(text), 2);
    EXPECT_STREQ(text, "AB");
    char empty[] = "";
    EXPECT_EQ(genplot::detail::clean_annotation_text(empty), 0);
}
