#include "bench/packed_floor.h"

#include "geometry/bbox.h"
#include "geometry/label.h"
#include "geometry/label_extent_internal.h"
#include "geometry/perim.h"
#include "plotinfo/plot_config.h"
#include "plotinfo/plot_info.h"

#include <cstring>
#include <vector>

// Encoded from the layout table in genplot/plot_file_format.h, with literal values rather than
// the library's constants, so a slip in one shows as a difference from the other.

namespace genplot::bench
{
namespace
{

void U16(std::uint8_t* at, std::uint32_t value)
{
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

void I32(std::uint8_t* at, std::int32_t signedValue)
{
    auto value = static_cast<std::uint32_t>(signedValue);
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
    at[2] = static_cast<std::uint8_t>(value >> 16);
    at[3] = static_cast<std::uint8_t>(value >> 24);
}

std::uint8_t Code(const CLineSeg& line)
{
    return line.lineType == 0 ? 1 : 2;
}

// An annotation record, ready to go: text cleaned, flags and extent worked out.
struct Annotation
{
    std::uint8_t bytes[4 + 30 + 8 + 4 + 511];
    std::uint32_t size;
};

void EncodeAnnotation(const CLabel& label, std::int32_t defaultHeight, Annotation& out)
{
    char text[512];
    std::strncpy(text, label.text.GetString(), sizeof text);
    text[511] = '\0';
    std::uint32_t length = 0;
    for (const char* c = text; *c != '\0' && *c != '\x03'; ++c)
    {
        if (*c != '\x0E' && *c != '\x0F')
            text[length++] = *c;
    }
    text[length] = '\0';

    bool direction = label.directionX != 10000 || label.directionY != 0;
    bool height = label.textHeight != defaultHeight;
    std::uint32_t payload = 30 + length + (direction ? 8 : 0) + (height ? 4 : 0);
    std::uint8_t* r = out.bytes;
    std::memset(r, 0, 34);
    U16(r, 0x0500);
    U16(r + 2, payload);
    U16(r + 4, length);
    r[6] = static_cast<std::uint8_t>((direction ? 0x01 : 0) | (height ? 0x10 : 0));
    r[9] = static_cast<std::uint8_t>(label.justification);
    CBBox extent;
    genplot::detail::ComputeLabelExtent(label.position.x, label.position.y, label.directionX,
                                        label.directionY, label.justification, text,
                                        label.textHeight, &extent);
    I32(r + 10, extent.lowerLeft.x);
    I32(r + 14, extent.lowerLeft.y);
    I32(r + 18, extent.upperRight.x);
    I32(r + 22, extent.upperRight.y);
    I32(r + 26, label.position.x);
    I32(r + 30, label.position.y);
    std::uint32_t at = 34;
    if (direction)
    {
        I32(r + at, label.directionX);
        I32(r + at + 4, label.directionY);
        at += 8;
    }
    if (height)
    {
        I32(r + at, label.textHeight);
        at += 4;
    }
    std::memcpy(r + at, text, length);
    out.size = at + length;
}

template <class F> void ForEachLabel(const CObList& labels, F f)
{
    for (POSITION position = labels.GetHeadPosition(); position != nullptr;)
    {
        const auto* label = static_cast<const CLabel*>(labels.GetNext(position));
        if (label != nullptr && !label->text.IsEmpty())
            f(*label);
    }
}

// A polyline record's 8-byte head for `n` points at `r`; returns where the points go.
std::uint8_t* PolylineHeader(std::uint8_t* r, std::uint32_t n)
{
    U16(r, 0x0301);
    U16(r + 2, 10 * n + 4);
    U16(r + 4, 0x0100);
    U16(r + 6, n);
    return r + 8;
}

// One 10-byte point of a polyline record.
void PolylinePoint(std::uint8_t* p, std::int32_t x, std::int32_t y)
{
    I32(p, x);
    I32(p + 4, y);
    U16(p + 8, 0);
}

class Encoder
{
  public:
    explicit Encoder(std::FILE* file) : file_(file), buffer_(4 + 4 + 10 * 65536)
    {
    }

    void Put(const void* bytes, std::size_t size)
    {
        written_ += std::fwrite(bytes, 1, size, file_);
    }
    void Empty(std::uint16_t type)
    {
        std::uint8_t r[4];
        U16(r, type);
        U16(r + 2, 0);
        Put(r, 4);
    }
    void LineType(std::uint8_t code)
    {
        std::uint8_t r[5];
        U16(r, 0x0410);
        U16(r + 2, 1);
        r[4] = code;
        Put(r, 5);
    }
    void Polyline(const CLineSeg& line)
    {
        std::uint8_t* r = buffer_.data();
        std::uint8_t* p = PolylineHeader(r, static_cast<std::uint32_t>(line.GetPointCount()));
        for (POSITION position = line.GetHeadPosition(); position != nullptr; p += 10)
        {
            const CCoord* point = line.GetNextPoint(position);
            PolylinePoint(p, point->x, point->y);
        }
        Put(r, static_cast<std::size_t>(p - r));
    }
    // The same record from `count` points at `xy` (x, y pairs).
    void Polyline(const std::int32_t* xy, std::size_t count)
    {
        std::uint8_t* r = buffer_.data();
        std::uint8_t* p = PolylineHeader(r, static_cast<std::uint32_t>(count));
        for (std::size_t i = 0; i < count; ++i, p += 10)
            PolylinePoint(p, xy[2 * i], xy[2 * i + 1]);
        Put(r, static_cast<std::size_t>(p - r));
    }
    std::uint8_t* Scratch()
    {
        return buffer_.data();
    }
    std::uint64_t Written() const
    {
        return written_;
    }

  private:
    std::FILE* file_;
    std::vector<std::uint8_t> buffer_;
    std::uint64_t written_ = 0;
};

std::uint32_t SectionSize(const CPerim& piece)
{
    std::uint32_t size = 4 + 5 + 8 + 10 * static_cast<std::uint32_t>(piece.GetPointCount()) + 4;
    std::uint8_t code = Code(piece.outline);
    for (POSITION position = piece.nonPerimeterLines.GetHeadPosition(); position != nullptr;)
    {
        const auto* line = static_cast<const CLineSeg*>(piece.nonPerimeterLines.GetNext(position));
        if (Code(*line) != code)
        {
            code = Code(*line);
            size += 5;
        }
        size += 8 + 10 * static_cast<std::uint32_t>(line->GetPointCount());
    }
    return size;
}

// Polylines in file order, from the lists or from their flat copy.
class PolylineSource
{
  public:
    explicit PolylineSource(const FlatPoints* flat) : flat_(flat)
    {
    }
    void Write(Encoder& out, const CLineSeg& line)
    {
        if (flat_ == nullptr)
        {
            out.Polyline(line);
            return;
        }
        const std::size_t end = flat_->ends[line_++];
        out.Polyline(flat_->xy.data() + start_, (end - start_) / 2);
        start_ = end;
    }

  private:
    const FlatPoints* flat_;
    std::size_t line_ = 0;
    std::size_t start_ = 0;
};

} // namespace

FlatPoints FlattenPoints(const CPlotInfo& plot)
{
    FlatPoints flat;
    auto add = [&flat](const CLineSeg& line) {
        for (POSITION position = line.GetHeadPosition(); position != nullptr;)
        {
            const CCoord* point = line.GetNextPoint(position);
            flat.xy.push_back(point->x);
            flat.xy.push_back(point->y);
        }
        flat.ends.push_back(flat.xy.size());
    };
    for (POSITION position = plot.pieces.GetHeadPosition(); position != nullptr;)
    {
        const auto* piece = static_cast<const CPerim*>(plot.pieces.GetNext(position));
        add(piece->outline);
        for (POSITION at = piece->nonPerimeterLines.GetHeadPosition(); at != nullptr;)
            add(*static_cast<const CLineSeg*>(piece->nonPerimeterLines.GetNext(at)));
    }
    return flat;
}

std::uint64_t WritePackedFloor(std::FILE* file, const CPlotInfo& plot, const char* sourceName,
                               const CPlotConfig& config, const FlatPoints* flat)
{
    PolylineSource polylines(flat);
    Encoder out(file);
    const std::int32_t defaultHeight = plot.defaultTextHeight;

    // Where everything lands, before anything is written.
    std::vector<std::int32_t> sectionStart;
    std::uint32_t pieceCount = static_cast<std::uint32_t>(plot.pieces.GetCount());
    std::uint32_t at = 156 + 20 * pieceCount;
    for (POSITION position = plot.pieces.GetHeadPosition(); position != nullptr;)
    {
        sectionStart.push_back(static_cast<std::int32_t>(at));
        at += SectionSize(*static_cast<const CPerim*>(plot.pieces.GetNext(position)));
    }
    std::vector<Annotation> loose;
    ForEachLabel(plot.looseLabels, [&](const CLabel& label) {
        loose.emplace_back();
        EncodeAnnotation(label, defaultHeight, loose.back());
    });
    std::vector<Annotation> held;
    for (POSITION position = plot.pieces.GetHeadPosition(); position != nullptr;)
    {
        ForEachLabel(static_cast<const CPerim*>(plot.pieces.GetNext(position))->labels,
                     [&](const CLabel& label) {
                         held.emplace_back();
                         EncodeAnnotation(label, defaultHeight, held.back());
                     });
    }
    std::int32_t looseOffset = loose.empty() ? -1 : static_cast<std::int32_t>(at);
    for (const Annotation& a : loose)
        at += a.size;
    std::int32_t heldOffset = held.empty() ? -1 : static_cast<std::int32_t>(at);

    // Header record.
    std::uint8_t h[144] = {};
    U16(h, 0xEFBE);
    U16(h + 2, 140);
    std::uint8_t* b = h + 4;
    std::memcpy(b, "GENPTV1", 8);
    std::strncpy(reinterpret_cast<char*>(b + 8), sourceName, 20);
    U16(b + 30, config.configFlag != 0 ? 1 : 0);
    I32(b + 34, plot.extents.lowerLeft.x);
    I32(b + 38, plot.extents.lowerLeft.y);
    I32(b + 42, plot.extents.upperRight.x);
    I32(b + 46, plot.extents.upperRight.y);
    U16(b + 50, static_cast<std::uint32_t>(loose.size()));
    U16(b + 52, static_cast<std::uint32_t>(held.size()));
    U16(b + 54, pieceCount);
    I32(b + 70, defaultHeight);
    I32(b + 82, config.configValue2);
    I32(b + 86, config.configValue1);
    I32(b + 90, config.configValue3);
    I32(b + 94, config.configValue4);
    I32(b + 98, config.configValue5);
    b[110] = 255;
    b[111] = 255;
    for (int slot = 0; slot < 7; ++slot)
        I32(b + 112 + 4 * slot, -1);
    I32(b + 112 + 4 * 2, looseOffset);
    I32(b + 112 + 4 * 4, 152);
    I32(b + 112 + 4 * 5, heldOffset);
    out.Put(h, sizeof h);
    out.Empty(0x01FF);
    out.Empty(0x02FF);

    // Piece table, one record.
    std::uint8_t* t = out.Scratch();
    U16(t, 0x0300);
    U16(t + 2, 20 * pieceCount);
    std::uint8_t* entry = t + 4;
    std::size_t index = 0;
    for (POSITION position = plot.pieces.GetHeadPosition(); position != nullptr; entry += 20)
    {
        const auto* piece = static_cast<const CPerim*>(plot.pieces.GetNext(position));
        I32(entry, piece->box.lowerLeft.x);
        I32(entry + 4, piece->box.lowerLeft.y);
        I32(entry + 8, piece->box.upperRight.x);
        I32(entry + 12, piece->box.upperRight.y);
        I32(entry + 16, sectionStart[index++]);
    }
    out.Put(t, static_cast<std::size_t>(entry - t));

    // Piece sections.
    for (POSITION position = plot.pieces.GetHeadPosition(); position != nullptr;)
    {
        const auto* piece = static_cast<const CPerim*>(plot.pieces.GetNext(position));
        std::uint8_t code = Code(piece->outline);
        out.Empty(0x0400);
        out.LineType(code);
        polylines.Write(out, piece->outline);
        for (POSITION at2 = piece->nonPerimeterLines.GetHeadPosition(); at2 != nullptr;)
        {
            const auto* line = static_cast<const CLineSeg*>(piece->nonPerimeterLines.GetNext(at2));
            if (Code(*line) != code)
            {
                code = Code(*line);
                out.LineType(code);
            }
            polylines.Write(out, *line);
        }
        out.Empty(0x03FF);
    }

    for (const Annotation& a : loose)
        out.Put(a.bytes, a.size);
    for (const Annotation& a : held)
        out.Put(a.bytes, a.size);
    out.Empty(0xFFFF);
    return out.Written();
}

} // namespace genplot::bench
