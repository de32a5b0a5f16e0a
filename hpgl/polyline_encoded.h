#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// Decoder of the PE (polyline encoded) data of HP-GL/2: base-64 (or base-32 in 7-bit mode)
// numbers with the sign in bit 0, least significant digit first, and the flags ':' (select
// pen), '<' (next pair is a pen-up move), '>' (fractional bits), '=' (next pair is absolute)
// and '7' (7-bit mode). The tokenizer measures the field with MeasurePolylineEncoded and the
// interpreter decodes the measured field with the same rules, so both agree on where it ends.

namespace genplot::tool
{

struct PolylineEncodedOp
{
    enum class Kind
    {
        SelectPen,
        Move,
    };
    Kind kind = Kind::Move;
    /// Move: the pair in current units, already divided by 2^fractional bits.
    double x = 0.0;
    double y = 0.0;
    bool absolute = false;
    bool penUp = false;
    /// SelectPen: the pen number as decoded.
    double pen = 0.0;
};

struct PolylineEncodedExtent
{
    /// Bytes after "PE" that belong to the command, without the closing ';'.
    std::size_t length = 0;
    /// The field ended at a ';' (which follows the `length` bytes and belongs to the command).
    bool semicolon = false;
    /// The field holds bytes that no encoder produces (e.g. text re-encoded as UTF-8, or a
    /// number of more than 32 bits); it is measured to the next ';' and must not be decoded.
    bool damaged = false;
};

/// Measures the PE field that starts at the beginning of `rest` (right after "PE"). A field
/// without its ';' ends where a number is left unfinished by a byte that cannot continue it
/// (a digit, a separator, ESC) or by the end of the input; the unfinished number is not part
/// of the field, so those bytes are read again as ordinary commands.
PolylineEncodedExtent MeasurePolylineEncoded(std::string_view rest);

class PolylineEncodedDecoder
{
  public:
    /// `field` is a measured field (see MeasurePolylineEncoded), without the ';'.
    explicit PolylineEncodedDecoder(std::string_view field) : field_(field)
    {
    }

    /// The next pen select or move; false at the end of the field. An unpaired coordinate and
    /// an unfinished number at the end are dropped.
    bool Next(PolylineEncodedOp& op);

    /// After Next returned false: where the field ends (see MeasurePolylineEncoded) and
    /// whether a ';' ended it.
    std::size_t StopOffset() const
    {
        return stop_;
    }
    bool StoppedAtSemicolon() const
    {
        return semicolon_;
    }
    /// After Next returned false: decoding stopped at a complete number of more than the 32
    /// bits a number holds (see kNumberBits); StopOffset is where that number starts.
    bool Malformed() const
    {
        return malformed_;
    }

    /// Bits of a sign-folded number; longer numbers are malformed.
    static constexpr int kNumberBits = 32;

  private:
    bool Complete(std::uint64_t raw, PolylineEncodedOp& op);

    std::string_view field_;
    std::size_t pos_ = 0;
    std::size_t stop_ = 0;
    bool semicolon_ = false;
    bool malformed_ = false;
    bool done_ = false;
    bool sevenBit_ = false;
    int fractionalBits_ = 0;
    char pendingFlag_ = '\0';
    bool nextUp_ = false;
    bool nextAbsolute_ = false;
    bool haveX_ = false;
    double x_ = 0.0;
    bool inNumber_ = false;
    std::size_t numberStart_ = 0;
    std::uint64_t value_ = 0;
    int shift_ = 0;
    bool overlong_ = false;
};

} // namespace genplot::tool
