#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

/// Builds expected file bytes field by field, little-endian, so a test can spell out a layout
/// by hand: `ByteBuilder().Record(0xFFFF, 0).bytes()`.
class ByteBuilder
{
  public:
    ByteBuilder& U8(std::uint8_t value);
    ByteBuilder& U16(std::uint16_t value);
    ByteBuilder& I32(std::int32_t value);
    /// A record header: type, then payload length.
    ByteBuilder& Record(std::uint16_t type, std::uint16_t length)
    {
        return U16(type).U16(length);
    }
    /// A point entry of a polyline record: x, y, 16-bit zero.
    ByteBuilder& Point(std::int32_t x, std::int32_t y)
    {
        return I32(x).I32(y).U16(0);
    }
    /// The bytes of `text`, without a terminator.
    ByteBuilder& Text(const std::string& text);
    ByteBuilder& Bytes(std::initializer_list<std::uint8_t> values);
    ByteBuilder& Zeros(std::size_t count);
    ByteBuilder& Append(const std::vector<std::uint8_t>& more);

    std::size_t size() const
    {
        return bytes_.size();
    }
    const std::vector<std::uint8_t>& bytes() const
    {
        return bytes_;
    }

  private:
    std::vector<std::uint8_t> bytes_;
};

/// Every byte of `file` from its start, leaving its position where it was.
std::vector<std::uint8_t> ReadAllBytes(std::FILE* file);

/// Equal sizes and bytes; on a mismatch names the first differing offset and shows the bytes
/// around it, which a whole-vector comparison of a few hundred bytes buries.
::testing::AssertionResult SameBytes(const std::vector<std::uint8_t>& expected,
                                     const std::vector<std::uint8_t>& actual);
