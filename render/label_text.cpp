#include "render/plot_drawing_internal.h"

// Label texts are 8-bit bytes from the host, with no encoding of their own: a drawing made on
// one machine may carry Latin-1, another UTF-8, and a damaged file anything at all. Text
// drawing takes UTF-8 only, so every byte is mapped to a character first.

namespace genplot::detail
{
namespace
{

// Length of the valid UTF-8 sequence at `at` (0 when there is none) and its code point.
std::size_t DecodeUtf8(std::string_view bytes, std::size_t at, char32_t& codePoint)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[at + i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF)
    {
        length = 2;
        codePoint = lead & 0x1F;
        minimum = 0x80;
    }
    else if (lead >= 0xE0 && lead <= 0xEF)
    {
        length = 3;
        codePoint = lead & 0x0F;
        minimum = 0x800;
    }
    else if (lead >= 0xF0 && lead <= 0xF4)
    {
        length = 4;
        codePoint = lead & 0x07;
        minimum = 0x10000;
    }
    else
    {
        return 0;
    }
    if (bytes.size() - at < length)
    {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i)
    {
        if ((byte(i) & 0xC0) != 0x80)
        {
            return 0;
        }
        codePoint = (codePoint << 6) | (byte(i) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
    {
        return 0;
    }
    return length;
}

// The character to show: C0 controls and DEL as their control pictures, C1 controls (which no
// font shows) and the non-characters as the replacement character.
char32_t Printable(char32_t c)
{
    if (c < 0x20)
    {
        return 0x2400 + c;
    }
    if (c == 0x7F)
    {
        return 0x2421;
    }
    if ((c >= 0x80 && c <= 0x9F) || c == 0xFFFE || c == 0xFFFF)
    {
        return 0xFFFD;
    }
    return c;
}

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80)
    {
        out += static_cast<char>(c);
    }
    else if (c < 0x800)
    {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    else if (c < 0x10000)
    {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    else
    {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

} // namespace

std::string LabelTextToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    std::size_t at = 0;
    while (at < bytes.size())
    {
        const auto byte = static_cast<unsigned char>(bytes[at]);
        char32_t c = byte;
        std::size_t length = 1;
        if (byte >= 0x80)
        {
            char32_t decoded = 0;
            if (const std::size_t sequence = DecodeUtf8(bytes, at, decoded); sequence != 0)
            {
                c = decoded;
                length = sequence;
            }
        }
        AppendUtf8(out, Printable(c));
        at += length;
    }
    return out;
}

} // namespace genplot::detail
