#pragma once

#include <cstddef>
#include <string_view>

// Reads the numbers of an HP-GL parameter field one at a time, so a PD with a million pairs
// needs no buffer. Separators are commas, white space or the sign of the next number; two
// commas with nothing between them stand for an omitted parameter; quoted strings (BP) are
// passed over. Values are clamped to +-kMaxParameter so later arithmetic stays finite.

namespace genplot::tool
{

inline constexpr double kMaxParameter = 1e15;

class HpglParameters
{
  public:
    enum class Kind
    {
        Number,
        Omitted,
        Text,
        End,
    };

    explicit HpglParameters(std::string_view field) : field_(field)
    {
    }

    /// The next parameter; `value` is set for Number only.
    Kind Next(double& value);

    /// Reads up to `max` parameters into `values`, omitted ones as NaN and strings skipped;
    /// returns how many were stored. Parameters beyond `max` stay unread.
    int Read(double* values, int max);

  private:
    std::string_view field_;
    std::size_t pos_ = 0;
};

} // namespace genplot::tool
