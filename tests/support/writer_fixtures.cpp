#include "support/writer_fixtures.h"

#include <stdexcept>

CPerim* AddPiece(CPlotInfo& plot, PointList outline, std::int32_t llx, std::int32_t lly,
                 std::int32_t urx, std::int32_t ury, std::int32_t pen, int lineType)
{
    auto* piece = new CPerim;
    plot.pieces.AddTail(piece);
    for (const auto& [x, y] : outline)
    {
        CCoord point(x, y);
        piece->outline.AddPoint(&point);
    }
    piece->outline.penNumber = pen;
    piece->outline.lineType = lineType;
    piece->box.lowerLeft = CCoord(llx, lly);
    piece->box.upperRight = CCoord(urx, ury);
    return piece;
}

CLineSeg* AddLine(CPerim* piece, PointList points, std::int32_t pen, int lineType)
{
    auto* line = new CLineSeg;
    piece->nonPerimeterLines.AddTail(line);
    for (const auto& [x, y] : points)
    {
        CCoord point(x, y);
        line->AddPoint(&point);
    }
    line->penNumber = pen;
    line->lineType = lineType;
    return line;
}

CLabel* MakeLabel(const std::string& text, std::int32_t x, std::int32_t y, std::int32_t textHeight,
                  std::int32_t directionX, std::int32_t directionY, std::int32_t justification)
{
    auto* label = new CLabel;
    label->text = CString(text.data(), static_cast<int>(text.size()));
    label->position = CCoord(x, y);
    label->textHeight = textHeight;
    label->directionX = directionX;
    label->directionY = directionY;
    label->justification = justification;
    return label;
}

ExpectedHeader SampleHeader()
{
    ExpectedHeader h;
    h.sourceName = "sample";
    h.extents[0] = h.extents[1] = 0;
    h.extents[2] = h.extents[3] = 100;
    h.defaultTextHeight = 10;
    for (int i = 0; i < 5; ++i)
        h.configValues[i] = 7 + i;
    return h;
}

ByteBuilder& AppendHeaderRecord(ByteBuilder& bytes, const ExpectedHeader& header)
{
    std::string name = header.sourceName.substr(0, 20);
    name.resize(20, '\0');
    bytes.Record(0xEFBE, 140)
        .Text(std::string("GENPTV1", 7))
        .U8(0)
        .Text(name)
        .U8(0) // ends a 20-byte name
        .U8(0) // padding, never assigned
        .U16(header.configFlag)
        .U16(0);
    for (std::int32_t value : header.extents)
    {
        bytes.I32(value);
    }
    bytes.U16(header.looseAnnotationCount)
        .U16(header.pieceAnnotationCount)
        .U16(header.pieceCount)
        .U16(0)
        .Zeros(12) // never assigned
        .I32(header.defaultTextHeight)
        .I32(0)
        .I32(0);
    for (std::int32_t value : header.configValues)
    {
        bytes.I32(value);
    }
    bytes.I32(0).I32(0).U8(255).U8(255);
    bytes.I32(-1).I32(-1).I32(header.looseAnnotationOffset).I32(-1);
    bytes.I32(header.pieceTableOffset).I32(header.pieceAnnotationOffset).I32(-1);
    return bytes;
}

TempFile MakeTempFile()
{
    std::FILE* file = std::tmpfile();
    if (file == nullptr)
    {
        throw std::runtime_error("tmpfile failed");
    }
    return TempFile(file);
}
