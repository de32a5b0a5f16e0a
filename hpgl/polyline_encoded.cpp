#include "hpgl/polyline_encoded.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace genplot::tool
{
namespace
{

enum class ByteClass
{
    Digit,      // a non-terminating digit of a number
    Terminator, // the last (most significant) digit of a number
    Flag,
    Ignored,
    Stop, // cannot occur inside the field: ends it
};

struct Classified
{
    ByteClass kind;
    int digit;
    char flag;
};

bool IsFlag(unsigned char low)
{
    return low == ':' || low == '<' || low == '>' || low == '=' || low == '7';
}

Classified Classify(unsigned char byte, bool sevenBit)
{
    if (sevenBit)
    {
        byte &= 0x7F;
        if (byte >= 63 && byte <= 94)
            return {ByteClass::Digit, byte - 63, '\0'};
        if (byte >= 95 && byte <= 126)
            return {ByteClass::Terminator, byte - 95, '\0'};
    }
    else
    {
        if (byte >= 63 && byte <= 126)
            return {ByteClass::Digit, byte - 63, '\0'};
        if (byte >= 191 && byte <= 254)
            return {ByteClass::Terminator, byte - 191, '\0'};
    }
    // The eighth bit of a flag byte is ignored.
    const unsigned char low = byte & 0x7F;
    if (byte < 191 && IsFlag(low))
        return {ByteClass::Flag, 0, static_cast<char>(low)};
    if (byte == 0x1B)
        return {ByteClass::Stop, 0, '\0'};
    if (byte < 33 || byte == 127 || byte >= 128)
        return {ByteClass::Ignored, 0, '\0'};
    return {ByteClass::Stop, 0, '\0'}; // digits, punctuation, ';'
}

// Bytes 161 to 190 that are not flags appear in no encoded field; text that went through a
// UTF-8 re-encoding is full of them.
bool IsDamageByte(unsigned char byte)
{
    return byte >= 161 && byte <= 190 && !IsFlag(byte & 0x7F);
}

} // namespace

bool PolylineEncodedDecoder::Next(PolylineEncodedOp& op)
{
    while (!done_ && pos_ < field_.size())
    {
        const auto byte = static_cast<unsigned char>(field_[pos_]);
        const Classified c = Classify(byte, sevenBit_);
        switch (c.kind)
        {
        case ByteClass::Digit:
        case ByteClass::Terminator: {
            if (!inNumber_)
            {
                inNumber_ = true;
                numberStart_ = pos_;
                value_ = 0;
                shift_ = 0;
                overlong_ = false;
            }
            // A number holds 32 bits. Past them the digits are only counted through, never
            // shifted in: a run of millions of digits must not walk the shift out of range.
            const std::uint64_t bits = static_cast<std::uint64_t>(c.digit) << shift_;
            if (overlong_ || shift_ >= kNumberBits || (bits >> kNumberBits) != 0)
                overlong_ = true;
            else
            {
                value_ |= bits;
                shift_ += sevenBit_ ? 5 : 6;
            }
            ++pos_;
            if (c.kind == ByteClass::Terminator)
            {
                inNumber_ = false;
                if (overlong_)
                {
                    // No encoder writes such a number: the field is malformed, and nothing
                    // after it can be paired up with confidence.
                    malformed_ = true;
                    done_ = true;
                    stop_ = numberStart_;
                    return false;
                }
                if (Complete(value_, op))
                    return true;
            }
            break;
        }
        case ByteClass::Flag:
            if (c.flag == ':' || c.flag == '>')
                pendingFlag_ = c.flag;
            else if (c.flag == '<')
                nextUp_ = true;
            else if (c.flag == '=')
                nextAbsolute_ = true;
            else
                sevenBit_ = true;
            ++pos_;
            break;
        case ByteClass::Ignored:
            ++pos_;
            break;
        case ByteClass::Stop:
            done_ = true;
            if (inNumber_)
                stop_ = numberStart_;
            else
            {
                stop_ = pos_;
                semicolon_ = byte == ';';
            }
            return false;
        }
    }
    if (!done_)
    {
        done_ = true;
        stop_ = inNumber_ ? numberStart_ : field_.size();
    }
    return false;
}

bool PolylineEncodedDecoder::Complete(std::uint64_t raw, PolylineEncodedOp& op)
{
    const double magnitude = static_cast<double>(raw >> 1);
    double value = (raw & 1) != 0 ? -magnitude : magnitude;
    if (pendingFlag_ == ':')
    {
        pendingFlag_ = '\0';
        op = PolylineEncodedOp{};
        op.kind = PolylineEncodedOp::Kind::SelectPen;
        op.pen = value;
        return true;
    }
    if (pendingFlag_ == '>')
    {
        pendingFlag_ = '\0';
        fractionalBits_ = static_cast<int>(std::clamp(value, 0.0, 52.0));
        return false;
    }
    value = std::ldexp(value, -fractionalBits_);
    if (!haveX_)
    {
        x_ = value;
        haveX_ = true;
        return false;
    }
    op = PolylineEncodedOp{};
    op.kind = PolylineEncodedOp::Kind::Move;
    op.x = x_;
    op.y = value;
    op.absolute = nextAbsolute_;
    op.penUp = nextUp_;
    haveX_ = false;
    nextAbsolute_ = false;
    nextUp_ = false;
    return true;
}

PolylineEncodedExtent MeasurePolylineEncoded(std::string_view rest)
{
    PolylineEncodedDecoder decoder(rest);
    PolylineEncodedOp op;
    while (decoder.Next(op))
    {
    }
    PolylineEncodedExtent extent;
    extent.length = decoder.StopOffset();
    extent.semicolon = decoder.StoppedAtSemicolon();
    const std::string_view field = rest.substr(0, extent.length);
    extent.damaged = decoder.Malformed() || std::any_of(field.begin(), field.end(), [](char c) {
                         return IsDamageByte(static_cast<unsigned char>(c));
                     });
    if (extent.damaged)
    {
        // Fail soft: skip the whole command up to its ';' rather than draw garbage.
        const std::size_t semicolon = rest.find(';');
        extent.semicolon = semicolon != std::string_view::npos;
        extent.length = extent.semicolon ? semicolon : rest.size();
    }
    return extent;
}

} // namespace genplot::tool
