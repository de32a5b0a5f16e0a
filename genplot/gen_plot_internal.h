#pragma once

#include <cstdint>

class CLineSeg;

namespace genplot::detail
{

/// Cleans a NUL-terminated text in place for an annotation record: stops at the first 0x03 or
/// NUL, drops 0x0E and 0x0F, moves every other byte down, and puts a NUL after what is kept.
/// Returns the kept length.
int clean_annotation_text(char* text);

/// The line-type byte of the plot file: 1 for line type 0, 2 for any other.
std::uint8_t line_type_code(const CLineSeg* line);

} // namespace genplot::detail
