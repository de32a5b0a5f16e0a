// The HP-GL tokenizer, parameter reader and PE decoder on the forms real plotter files take.

#include "hpgl/parameters.h"
#include "hpgl/polyline_encoded.h"
#include "hpgl/tokenizer.h"

#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace genplot::tool
{
namespace
{

struct Token
{
    std::string name;
    std::string data;
};

std::vector<Token> Tokens(std::string_view input)
{
    HpglTokenizer tokenizer(input);
    HpglCommand command;
    std::vector<Token> tokens;
    while (tokenizer.Next(command))
        tokens.push_back({command.name, std::string(command.data)});
    return tokens;
}

std::vector<std::string> Names(std::string_view input)
{
    std::vector<std::string> names;
    for (const Token& token : Tokens(input))
        names.push_back(token.name);
    return names;
}

std::vector<double> Numbers(std::string_view field)
{
    HpglParameters parameters(field);
    std::vector<double> values;
    double value = 0.0;
    for (auto kind = parameters.Next(value); kind != HpglParameters::Kind::End;
         kind = parameters.Next(value))
        values.push_back(kind == HpglParameters::Kind::Number ? value : NAN);
    return values;
}

std::vector<PolylineEncodedOp> Decode(std::string_view field)
{
    PolylineEncodedDecoder decoder(field);
    std::vector<PolylineEncodedOp> ops;
    PolylineEncodedOp op;
    while (decoder.Next(op))
        ops.push_back(op);
    return ops;
}

TEST(HpglTokenizerTest, ReadsLowerCaseAndCommandsWithoutSemicolons)
{
    const std::vector<Token> tokens = Tokens("in;sp1pu100 200pd 300,400,-5-6;PUPA1600 -600");
    ASSERT_EQ(tokens.size(), 6u);
    EXPECT_EQ(tokens[0].name, "IN");
    EXPECT_EQ(tokens[1].name, "SP");
    EXPECT_EQ(tokens[1].data, "1");
    EXPECT_EQ(tokens[2].name, "PU");
    EXPECT_EQ(tokens[3].name, "PD");
    EXPECT_EQ(Numbers(tokens[3].data), (std::vector<double>{300, 400, -5, -6}));
    EXPECT_EQ(tokens[4].name, "PU");
    EXPECT_EQ(tokens[4].data, "");
    EXPECT_EQ(Numbers(tokens[5].data), (std::vector<double>{1600, -600}));
}

TEST(HpglTokenizerTest, TrailingCommaAndSpacesBeforeTheNextMnemonic)
{
    EXPECT_EQ(Names("SP5,SI.07,.16PA2000,6000,LO14;SP2LT ;"),
              (std::vector<std::string>{"SP", "SI", "PA", "LO", "SP", "LT"}));
}

TEST(HpglTokenizerTest, SkipsJunkBetweenCommandsAndCountsIt)
{
    HpglTokenizer tokenizer("X0=0;IN;");
    HpglCommand command;
    ASSERT_TRUE(tokenizer.Next(command));
    EXPECT_STREQ(command.name, "IN");
    EXPECT_FALSE(tokenizer.Next(command));
    EXPECT_EQ(tokenizer.Stats().junkBytes, 4u); // X, 0, =, 0
    EXPECT_EQ(tokenizer.Stats().binaryBytes, 0u);
}

TEST(HpglTokenizerTest, LabelRunsToTheTerminatorThatDtSets)
{
    HpglTokenizer tokenizer("LBAB;CD\x03"
                            "DT#,1;LBxy\x03z#IN;LBq\x03");
    HpglCommand command;
    ASSERT_TRUE(tokenizer.Next(command));
    EXPECT_EQ(command.kind, HpglCommandKind::Label);
    EXPECT_EQ(command.data, "AB;CD");
    ASSERT_TRUE(tokenizer.Next(command));
    EXPECT_STREQ(command.name, "DT");
    EXPECT_TRUE(command.hasSymbol);
    EXPECT_EQ(command.symbol, '#');
    EXPECT_EQ(Numbers(command.data), (std::vector<double>{1}));
    ASSERT_TRUE(tokenizer.Next(command));
    EXPECT_EQ(command.data, "xy\x03z");
    // IN restores ETX as the terminator.
    ASSERT_TRUE(tokenizer.Next(command));
    EXPECT_STREQ(command.name, "IN");
    ASSERT_TRUE(tokenizer.Next(command));
    EXPECT_EQ(command.data, "q");
    EXPECT_TRUE(command.terminated);
}

TEST(HpglTokenizerTest, UnterminatedLabelEndsAtTheInput)
{
    HpglTokenizer tokenizer("LBno end");
    HpglCommand command;
    ASSERT_TRUE(tokenizer.Next(command));
    EXPECT_EQ(command.data, "no end");
    EXPECT_FALSE(command.terminated);
    EXPECT_FALSE(tokenizer.Next(command));
}

TEST(HpglTokenizerTest, DtWithSemicolonRestoresEtx)
{
    HpglTokenizer tokenizer("DT*;DT;LBa*b\x03");
    HpglCommand command;
    while (tokenizer.Next(command) && !command.Is("LB"))
    {
    }
    EXPECT_EQ(command.data, "a*b");
}

TEST(HpglTokenizerTest, SkipsPjlPclAndRasterDataAroundHpgl)
{
    // The raster row "ABC" would read as a command if its byte count were not honoured.
    const std::string job = "\x1B%-12345X@PJL JOB\r\n@PJL ENTER LANGUAGE=PCL\r\n"
                            "\x1B"
                            "E\x1B*b3WABCtext\x1B%1BIN;PA1,1;\x1B%0A"
                            "more PCL text\x1B*b4WPDPD\x1B%1BPU;\x1B%0A\x1B"
                            "E";
    EXPECT_EQ(Names(job), (std::vector<std::string>{"IN", "PA", "PU"}));
}

TEST(HpglTokenizerTest, PlainFileWithStrayResetStaysHpgl)
{
    EXPECT_EQ(Names("\x1B"
                    "EIN;PU;"),
              (std::vector<std::string>{"IN", "PU"}));
}

TEST(HpglTokenizerTest, SkipsPlotterDeviceControl)
{
    EXPECT_EQ(Names("\x1B.(;\x1B.I81;;17:\x1B.N;19:IN;\x1B.@:SP1;"),
              (std::vector<std::string>{"IN", "SP"}));
}

TEST(HpglTokenizerTest, CommentAndQuotedJobNameArePassedOver)
{
    EXPECT_EQ(Names("COThis is PD not a command;BP1,\"a \"\"PU\"\" name\";CO\"PA\";PU;"),
              (std::vector<std::string>{"CO", "BP", "CO", "PU"}));
}

TEST(HpglTokenizerTest, CountsBinaryBytesBetweenCommands)
{
    const std::string data = "IN;\x01\x02\xF0\xF1PU;";
    HpglTokenizer tokenizer(data);
    HpglCommand command;
    while (tokenizer.Next(command))
    {
    }
    EXPECT_EQ(tokenizer.Stats().binaryBytes, 4u);
}

TEST(HpglParametersTest, NumbersSignsDecimalsAndOmittedFields)
{
    EXPECT_EQ(Numbers(".125,.20"), (std::vector<double>{0.125, 0.2}));
    EXPECT_EQ(Numbers("10-20+30"), (std::vector<double>{10, -20, 30}));
    EXPECT_EQ(Numbers(" 0.70 ,5 "), (std::vector<double>{0.7, 5}));
    EXPECT_EQ(Numbers("5."), (std::vector<double>{5}));
    const std::vector<double> omitted = Numbers("6,,1");
    ASSERT_EQ(omitted.size(), 3u);
    EXPECT_EQ(omitted[0], 6);
    EXPECT_TRUE(std::isnan(omitted[1]));
    EXPECT_EQ(omitted[2], 1);
}

TEST(HpglParametersTest, HugeNumbersAreClampedAndStraySignsSkipped)
{
    const std::string huge(400, '9');
    EXPECT_EQ(Numbers(huge + ",-" + huge), (std::vector<double>{kMaxParameter, -kMaxParameter}));
    EXPECT_EQ(Numbers("- . + 7"), (std::vector<double>{7}));
}

TEST(PolylineEncodedTest, DecodesAbsoluteAndRelativePairs)
{
    // 10525 has the sign-folded value 21050 = 58 + 8*64 + 5*4096: bytes 121, 71, 196.
    // 0 is the single terminator 191; -1 folds to 3: terminator 194.
    const std::vector<PolylineEncodedOp> ops = Decode("=\x79\x47\xC4\xBF\xC2\xBF");
    ASSERT_EQ(ops.size(), 2u);
    EXPECT_TRUE(ops[0].absolute);
    EXPECT_FALSE(ops[0].penUp);
    EXPECT_EQ(ops[0].x, 10525);
    EXPECT_EQ(ops[0].y, 0);
    EXPECT_FALSE(ops[1].absolute);
    EXPECT_EQ(ops[1].x, -1);
    EXPECT_EQ(ops[1].y, 0);
}

TEST(PolylineEncodedTest, PenSelectPenUpAndFractionalBits)
{
    // ':' pen 2 (folded 4: 195), '>' one fractional bit (folded 2: 193), '<' pen-up pair of
    // 3/2 (folded 6: 197) and 1/2 (folded 2: 193).
    const std::vector<PolylineEncodedOp> ops = Decode(":\xC3>\xC1<\xC5\xC1");
    ASSERT_EQ(ops.size(), 2u);
    EXPECT_EQ(ops[0].kind, PolylineEncodedOp::Kind::SelectPen);
    EXPECT_EQ(ops[0].pen, 2);
    EXPECT_TRUE(ops[1].penUp);
    EXPECT_EQ(ops[1].x, 1.5);
    EXPECT_EQ(ops[1].y, 0.5);
}

TEST(PolylineEncodedTest, SevenBitModeUsesBase32)
{
    // In 7-bit mode 95..126 end a number: 97 is the digit 2, folded 1.
    const std::vector<PolylineEncodedOp> ops = Decode("7\x61\x5F");
    ASSERT_EQ(ops.size(), 1u);
    EXPECT_EQ(ops[0].x, 1);
    EXPECT_EQ(ops[0].y, 0);
}

TEST(PolylineEncodedTest, MissingSemicolonEndsBeforeTheUnfinishedNumber)
{
    // A real file: the producer forgot the ';' and "PUSP" are valid digits that never end.
    const std::string input = "<=k@\xC0mT\xC0PUSP0;PG;";
    const PolylineEncodedExtent extent = MeasurePolylineEncoded(input);
    EXPECT_FALSE(extent.damaged);
    EXPECT_FALSE(extent.semicolon);
    EXPECT_EQ(extent.length, 8u);
    const std::vector<PolylineEncodedOp> ops = Decode(input.substr(0, extent.length));
    ASSERT_EQ(ops.size(), 1u);
    EXPECT_TRUE(ops[0].penUp);
    EXPECT_TRUE(ops[0].absolute);
    EXPECT_EQ(ops[0].x, 2102);
    EXPECT_EQ(ops[0].y, 2743);

    EXPECT_EQ(Names("PE" + input), (std::vector<std::string>{"PE", "PU", "SP", "PG"}));
}

TEST(PolylineEncodedTest, DamagedFieldIsSkippedToItsSemicolon)
{
    HpglTokenizer tokenizer("PE=\xC3\xA9\xC3\xA9"
                            "ab;PU;");
    HpglCommand command;
    ASSERT_TRUE(tokenizer.Next(command));
    EXPECT_TRUE(command.damaged);
    ASSERT_TRUE(tokenizer.Next(command));
    EXPECT_STREQ(command.name, "PU");
}

TEST(PolylineEncodedTest, NumberBeyondThirtyTwoBitsIsMalformed)
{
    // Five full digits ('~' is 63) and the terminator 3 fill exactly 32 bits: the folded value
    // 0xFFFFFFFF, magnitude 2^31 - 1, negative.
    const std::string widest = "~~~~~\xC2";
    const std::vector<PolylineEncodedOp> ops = Decode(widest + "\xBF");
    ASSERT_EQ(ops.size(), 1u);
    EXPECT_EQ(ops[0].x, -2147483647.0);
    EXPECT_FALSE(MeasurePolylineEncoded(widest + "\xBF;").damaged);

    // One bit more (terminator 4), or a seventh digit even of value 0, is no number an encoder
    // writes: the field is damaged and skipped to its ';', and decoding stops there.
    struct Case
    {
        std::string flags;
        std::string number;
    };
    for (const Case& overlong :
         {Case{"", "~~~~~\xC3"}, Case{"", "??????\xBF"}, Case{"7", std::string(7, '?') + "\x5F"}})
    {
        SCOPED_TRACE(overlong.flags + overlong.number);
        const std::string head = "\xC1\xC1" + overlong.flags;
        const std::string field = head + overlong.number + "\xBF\xC1\xC1";
        const PolylineEncodedExtent extent = MeasurePolylineEncoded(field + ";PU;");
        EXPECT_TRUE(extent.damaged);
        EXPECT_TRUE(extent.semicolon);
        EXPECT_EQ(extent.length, field.size());

        PolylineEncodedDecoder decoder(field);
        PolylineEncodedOp op;
        ASSERT_TRUE(decoder.Next(op));
        EXPECT_FALSE(decoder.Next(op));
        EXPECT_TRUE(decoder.Malformed());
        EXPECT_EQ(decoder.StopOffset(), head.size());
    }
}

TEST(PolylineEncodedTest, LongUnfinishedNumberStillEndsTheField)
{
    // Without its ';' the field ends before a number no terminator finishes, however long:
    // the bytes are read again as commands rather than counted as a malformed number.
    const std::string input = "\xC1\xC1" + std::string(40, 'P') + "0;";
    const PolylineEncodedExtent extent = MeasurePolylineEncoded(input);
    EXPECT_FALSE(extent.damaged);
    EXPECT_FALSE(extent.semicolon);
    EXPECT_EQ(extent.length, 2u);
}

TEST(PolylineEncodedTest, UnpairedCoordinateIsDropped)
{
    EXPECT_TRUE(Decode("\xC1").empty());
    EXPECT_EQ(MeasurePolylineEncoded(";").length, 0u);
    EXPECT_TRUE(MeasurePolylineEncoded(";").semicolon);
}

} // namespace
} // namespace genplot::tool
