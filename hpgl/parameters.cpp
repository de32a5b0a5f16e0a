#include "hpgl/parameters.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace genplot::tool
{
namespace
{

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

HpglParameters::Kind HpglParameters::Next(double& value)
{
    bool afterComma = false;
    while (pos_ < field_.size())
    {
        const char c = field_[pos_];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
        {
            ++pos_;
            continue;
        }
        if (c == ',')
        {
            ++pos_;
            if (afterComma)
                return Kind::Omitted;
            afterComma = true;
            continue;
        }
        if (c == '"')
        {
            // A quoted string; "" inside stands for one quote.
            ++pos_;
            while (pos_ < field_.size())
            {
                if (field_[pos_++] != '"')
                    continue;
                if (pos_ < field_.size() && field_[pos_] == '"')
                    ++pos_;
                else
                    break;
            }
            return Kind::Text;
        }
        // A number: [+-] digits [. digits] or [+-] . digits. A sign or point without digits
        // is a stray byte and is passed over.
        std::size_t p = pos_;
        const bool negative = c == '-';
        if (c == '+' || c == '-')
            ++p;
        const std::size_t digitsStart = p;
        while (p < field_.size() && IsDigit(field_[p]))
            ++p;
        const std::size_t integerDigits = p - digitsStart;
        std::size_t fractionDigits = 0;
        if (p < field_.size() && field_[p] == '.')
        {
            ++p;
            while (p < field_.size() && IsDigit(field_[p]))
            {
                ++p;
                ++fractionDigits;
            }
        }
        if (integerDigits + fractionDigits == 0)
        {
            pos_ = std::max(p, pos_ + 1);
            continue;
        }
        double parsed = 0.0;
        const char* first = field_.data() + digitsStart;
        const char* last = field_.data() + p;
        // from_chars does not take "5." with nothing after the point everywhere; drop it.
        if (fractionDigits == 0 && last[-1] == '.')
            --last;
        const auto result = std::from_chars(first, last, parsed, std::chars_format::fixed);
        if (result.ec == std::errc::result_out_of_range)
            parsed = kMaxParameter;
        else if (result.ec != std::errc())
            parsed = 0.0;
        parsed = std::min(parsed, kMaxParameter);
        value = negative ? -parsed : parsed;
        pos_ = p;
        return Kind::Number;
    }
    return Kind::End;
}

int HpglParameters::Read(double* values, int max)
{
    int count = 0;
    double value = 0.0;
    while (count < max)
    {
        const Kind kind = Next(value);
        if (kind == Kind::End)
            break;
        if (kind == Kind::Text)
            continue;
        values[count++] = kind == Kind::Number ? value : std::numeric_limits<double>::quiet_NaN();
    }
    return count;
}

} // namespace genplot::tool
