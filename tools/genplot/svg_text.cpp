#include "tools/genplot/svg_writer.h"

#include <cstdio>

// Label texts are 8-bit bytes from the host, with no encoding of their own: a drawing made on
// one machine may carry Latin-1, another UTF-8, and a damaged file anything at all. XML 1.0
// cannot carry most control characters even as references, so every byte is mapped to a
// character XML allows before it is written.

namespace genplot::tool
{
namespace
{

constexpr char32_t kReplacement = 0xFFFD;

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

// The character to show for a code point: XML 1.0 allows neither C0 controls (except tab,
// line feed, carriage return, which would be lost as white space anyway) nor U+FFFE/U+FFFF;
// C1 controls are allowed but no font shows them.
char32_t Printable(char32_t c)
{
    if (c < 0x20)
    {
        return 0x2400 + c; // control pictures: NUL is U+2400, CR U+240D
    }
    if (c == 0x7F)
    {
        return 0x2421;
    }
    if ((c >= 0x80 && c <= 0x9F) || c == 0xFFFE || c == 0xFFFF)
    {
        return kReplacement;
    }
    return c;
}

void Append(std::string& out, char32_t c)
{
    switch (c)
    {
    case '&':
        out += "&amp;";
        return;
    case '<':
        out += "&lt;";
        return;
    case '>':
        out += "&gt;";
        return;
    case '"':
        out += "&quot;";
        return;
    case '\'':
        out += "&apos;";
        return;
    default:
        break;
    }
    if (c < 0x80)
    {
        out += static_cast<char>(c);
        return;
    }
    char reference[16];
    std::snprintf(reference, sizeof reference, "&#x%X;", static_cast<unsigned>(c));
    out += reference;
}

} // namespace

std::string EscapeXmlText(std::string_view bytes)
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
        Append(out, Printable(c));
        at += length;
    }
    return out;
}

std::vector<std::string_view> SplitLabelLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    if (text.empty())
    {
        return lines;
    }
    std::size_t start = 0;
    for (;;)
    {
        const std::size_t cr = text.find('\r', start);
        if (cr == std::string_view::npos)
        {
            lines.push_back(text.substr(start));
            return lines;
        }
        lines.push_back(text.substr(start, cr - start));
        // The byte after "\r" is skipped whatever it is; a "\r" at the very end still opens
        // one empty last line.
        start = cr + 2 <= text.size() ? cr + 2 : text.size();
    }
}

} // namespace genplot::tool
