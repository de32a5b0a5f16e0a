#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

// A complete generic plot file of any size from 160 bytes up, for tests that deliver files:
// a header record in its final state (the piece table at 152, no pieces), the two markers,
// an empty piece table, loose annotation records that fill the size asked for, and the end
// record. Header only, so the Windows suites can use it too.

/// Bytes of a complete plot file of exactly `size` bytes (at least 160; a size of 161 to 193
/// cannot be made of whole annotation records and gives the nearest larger file).
inline std::vector<std::uint8_t> CompletePlotBytes(std::size_t size)
{
    constexpr std::size_t kEmptyFile = 160;
    constexpr std::size_t kSmallestAnnotation = 34; // record header and 30 bytes of fields
    constexpr std::size_t kLargestAnnotation = 545; // with 511 text bytes
    std::vector<std::uint8_t> bytes;
    auto u16 = [&](std::size_t value) {
        bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
    };
    auto i32 = [&](std::int32_t value) {
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back(
                static_cast<std::uint8_t>((static_cast<std::uint32_t>(value) >> shift) & 0xFF));
    };

    // Split what lies between the fixed parts into annotation records.
    std::vector<std::size_t> records;
    std::size_t left = size > kEmptyFile ? size - kEmptyFile : 0;
    if (left > 0 && left < kSmallestAnnotation)
        left = kSmallestAnnotation;
    while (left > 0)
    {
        std::size_t take = std::min(left, kLargestAnnotation);
        if (left - take > 0 && left - take < kSmallestAnnotation)
            take = left - kSmallestAnnotation;
        records.push_back(take);
        left -= take;
    }

    u16(0xEFBE);
    u16(140);
    const char magic[8] = {'G', 'E', 'N', 'P', 'T', 'V', '1', '\0'};
    bytes.insert(bytes.end(), magic, magic + 8);
    const char name[] = "test";
    bytes.insert(bytes.end(), name, name + 4);
    bytes.resize(34, 0); // rest of the source name, terminator, padding
    u16(0);              // configFlag
    u16(0);
    for (std::int32_t corner : {0, 0, 1000, 1000})
        i32(corner);     // extents
    u16(records.size()); // looseAnnotationCount
    u16(0);              // pieceAnnotationCount
    u16(0);              // pieceCount
    u16(0);
    bytes.resize(74, 0);  // unassigned
    i32(100);             // defaultTextHeight
    bytes.resize(114, 0); // zeros and the configuration values
    bytes.push_back(255);
    bytes.push_back(255);
    const std::int32_t loose = records.empty() ? -1 : 156;
    for (std::int32_t offset : {-1, -1, loose, -1, 152, -1, -1})
        i32(offset); // sectionOffsets
    u16(0x01FF);
    u16(0);
    u16(0x02FF);
    u16(0);
    u16(0x0300);
    u16(0);
    std::uint8_t fill = 0;
    for (std::size_t record : records)
    {
        const std::size_t text = record - kSmallestAnnotation;
        u16(0x0500);
        u16(record - 4);
        u16(text);
        bytes.insert(bytes.end(), 4, 0); // flags, two zeros, justification
        for (std::int32_t value : {0, 0, 10, 10, 5, 5})
            i32(value); // extent and position
        for (std::size_t i = 0; i < text; ++i)
            bytes.push_back(static_cast<std::uint8_t>('a' + (fill++ % 26)));
    }
    u16(0xFFFF);
    u16(0);
    return bytes;
}
