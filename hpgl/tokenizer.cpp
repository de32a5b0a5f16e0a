#include "hpgl/tokenizer.h"

#include "hpgl/polyline_encoded.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace genplot::tool
{
namespace
{

constexpr char kEscape = '\x1B';
constexpr char kEndOfText = '\x03';

// Every mnemonic of HP-GL, the plotters' extensions and HP-GL/2, sorted for the binary search.
constexpr const char* kMnemonics[] = {
    "AA", "AC", "AD", "AF", "AH", "AP", "AR", "AS", "AT", "BF", "BL", "BP", "BR", "BZ", "CA", "CC",
    "CF", "CI", "CM", "CO", "CP", "CR", "CS", "CT", "CV", "DC", "DF", "DI", "DL", "DP", "DR", "DS",
    "DT", "DV", "EA", "EC", "EP", "ER", "ES", "EW", "FI", "FN", "FP", "FR", "FS", "FT", "GC", "GM",
    "IM", "IN", "IP", "IR", "IV", "IW", "KY", "LA", "LB", "LM", "LO", "LT", "MC", "MG", "MT", "NP",
    "NR", "OA", "OC", "OD", "OE", "OF", "OG", "OH", "OI", "OK", "OL", "OO", "OP", "OS", "OT", "OW",
    "PA", "PB", "PC", "PD", "PE", "PG", "PM", "PP", "PR", "PS", "PT", "PU", "PW", "QL", "RA", "RF",
    "RO", "RP", "RR", "RT", "SA", "SB", "SC", "SD", "SG", "SI", "SL", "SM", "SP", "SR", "SS", "ST",
    "SV", "TD", "TL", "TR", "UC", "UF", "UL", "VS", "WD", "WG", "WU", "XT", "YT",
};

bool IsLetter(char c)
{
    const char lower = static_cast<char>(c | 0x20);
    return lower >= 'a' && lower <= 'z';
}

char Upper(char c)
{
    return static_cast<char>(c & ~0x20);
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// What may stand in a parameter field: numbers and their separators.
bool IsParameterByte(char c)
{
    return IsDigit(c) || c == '+' || c == '-' || c == '.' || c == ',' || c == ' ' || c == '\t' ||
           c == '\r' || c == '\n';
}

// Bytes between commands that real files hold without meaning anything.
bool IsSeparator(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == ';' ||
           c == ',' || c == kEndOfText || c == '\0';
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (Upper(text[i]) != Upper(prefix[i]))
            return false;
    return true;
}

bool ContainsNoCase(std::string_view text, std::string_view word)
{
    for (std::size_t i = 0; i + word.size() <= text.size(); ++i)
        if (StartsWithNoCase(text.substr(i), word))
            return true;
    return false;
}

} // namespace

bool IsHpglMnemonic(const char* name)
{
    return std::binary_search(std::begin(kMnemonics), std::end(kMnemonics), name,
                              [](const char* a, const char* b) { return std::strcmp(a, b) < 0; });
}

HpglTokenizer::HpglTokenizer(std::string_view input) : input_(input)
{
}

bool HpglTokenizer::Next(HpglCommand& command)
{
    while (pos_ < input_.size())
    {
        if (mode_ == Mode::Pcl)
        {
            SkipPcl();
            continue;
        }
        const char c = input_[pos_];
        if (c == kEscape)
        {
            SkipEscape();
            continue;
        }
        if (IsLetter(c) && pos_ + 1 < input_.size() && IsLetter(input_[pos_ + 1]))
        {
            ReadCommand(command);
            return true;
        }
        if (!IsSeparator(c))
        {
            ++stats_.junkBytes;
            CountBinary(static_cast<unsigned char>(c), true);
        }
        ++pos_;
    }
    return false;
}

void HpglTokenizer::ReadCommand(HpglCommand& command)
{
    command = HpglCommand{};
    command.offset = pos_;
    command.name[0] = Upper(input_[pos_]);
    command.name[1] = Upper(input_[pos_ + 1]);
    pos_ += 2;

    if (command.Is("LB") || command.Is("BL") || command.Is("WD"))
        ReadLabel(command);
    else if (command.Is("DT"))
        ReadTerminator(command);
    else if (command.Is("SM"))
        ReadSymbol(command);
    else if (command.Is("PE"))
        ReadEncoded(command);
    else if (command.Is("CO"))
        ReadComment(command);
    else
    {
        // BP may carry a quoted job name.
        ReadParameterField(command, command.Is("BP"));
        if (command.Is("IN") || command.Is("DF") || command.Is("BP"))
            terminator_ = kEndOfText;
    }
}

void HpglTokenizer::ReadParameterField(HpglCommand& command, bool allowStrings)
{
    command.kind = HpglCommandKind::Parameters;
    const std::size_t start = pos_;
    while (pos_ < input_.size())
    {
        const char c = input_[pos_];
        if (IsParameterByte(c))
            ++pos_;
        else if (allowStrings && c == '"')
            SkipQuotedString();
        else
            break;
    }
    command.data = input_.substr(start, pos_ - start);
}

void HpglTokenizer::ReadLabel(HpglCommand& command)
{
    command.kind = HpglCommandKind::Label;
    const std::size_t end = input_.find(terminator_, pos_);
    command.terminated = end != std::string_view::npos;
    const std::size_t stop = command.terminated ? end : input_.size();
    command.data = input_.substr(pos_, stop - pos_);
    for (const char c : command.data)
        CountBinary(static_cast<unsigned char>(c), false);
    pos_ = command.terminated ? stop + 1 : stop;
}

void HpglTokenizer::ReadTerminator(HpglCommand& command)
{
    command.kind = HpglCommandKind::Terminator;
    if (pos_ >= input_.size())
    {
        terminator_ = kEndOfText;
        return;
    }
    const char c = input_[pos_];
    if (c == ';')
    {
        // "DT;" restores the default terminator.
        terminator_ = kEndOfText;
        ++pos_;
        return;
    }
    // NUL, ENQ, LF and ESC cannot be terminators: the command is ignored and they are read as
    // what they are.
    if (c == '\0' || c == '\x05' || c == '\n' || c == kEscape)
        return;
    terminator_ = c;
    command.symbol = c;
    command.hasSymbol = true;
    ++pos_;
    ReadParameterField(command, false);
    command.kind = HpglCommandKind::Terminator;
    if (pos_ < input_.size() && input_[pos_] == ';')
        ++pos_;
}

void HpglTokenizer::ReadSymbol(HpglCommand& command)
{
    command.kind = HpglCommandKind::Symbol;
    if (pos_ >= input_.size())
        return;
    const auto c = static_cast<unsigned char>(input_[pos_]);
    if (c != ';' && c > 0x20 && c != 0x7F)
    {
        command.symbol = static_cast<char>(c);
        command.hasSymbol = true;
        ++pos_;
    }
}

void HpglTokenizer::ReadEncoded(HpglCommand& command)
{
    command.kind = HpglCommandKind::Encoded;
    const PolylineEncodedExtent extent = MeasurePolylineEncoded(input_.substr(pos_));
    command.data = input_.substr(pos_, extent.length);
    command.damaged = extent.damaged;
    pos_ += extent.length + (extent.semicolon ? 1 : 0);
}

void HpglTokenizer::ReadComment(HpglCommand& command)
{
    command.kind = HpglCommandKind::Comment;
    while (pos_ < input_.size() && (input_[pos_] == ' ' || input_[pos_] == '\t'))
        ++pos_;
    const std::size_t start = pos_;
    if (pos_ < input_.size() && input_[pos_] == '"')
    {
        SkipQuotedString();
        const std::size_t inner = start + 1;
        const std::size_t end = pos_ > inner && input_[pos_ - 1] == '"' ? pos_ - 1 : pos_;
        command.data = input_.substr(inner, end > inner ? end - inner : 0);
        return;
    }
    // An unquoted comment runs to the next ';'.
    const std::size_t end = std::min(input_.find(';', pos_), input_.size());
    command.data = input_.substr(start, end - start);
    pos_ = end;
}

void HpglTokenizer::SkipQuotedString()
{
    ++pos_; // the opening quote
    while (pos_ < input_.size())
    {
        const std::size_t quote = input_.find('"', pos_);
        if (quote == std::string_view::npos)
        {
            pos_ = input_.size();
            return;
        }
        pos_ = quote + 1;
        // "" stands for one quote inside the string.
        if (pos_ < input_.size() && input_[pos_] == '"')
            ++pos_;
        else
            return;
    }
}

void HpglTokenizer::SkipEscape()
{
    const std::size_t start = pos_;
    ++stats_.escapeSequences;
    if (pos_ + 1 >= input_.size())
    {
        pos_ = input_.size();
    }
    else if (input_[pos_ + 1] == '.')
    {
        // Plotter device control: ESC . letter, then optional parameters ended by ':'.
        pos_ = std::min(pos_ + 3, input_.size());
        std::size_t end = pos_;
        while (end < input_.size() && (IsDigit(input_[end]) || input_[end] == ';'))
            ++end;
        if (end < input_.size() && input_[end] == ':')
            pos_ = end + 1;
    }
    else if (input_[pos_ + 1] == '%')
    {
        SkipPercentEscape();
    }
    else if (input_[pos_ + 1] == 'E')
    {
        // PCL reset. In a wrapped job it returns to PCL until the next "enter HP-GL/2"; a
        // plotter file with a stray reset and no such entry stays in HP-GL.
        pos_ += 2;
        if (HpglEntryFollows())
            mode_ = Mode::Pcl;
    }
    else
    {
        SkipPclEscape();
    }
    stats_.skippedBytes += pos_ - start;
}

bool HpglTokenizer::SkipPercentEscape()
{
    // ESC % [+-]digits final: 'A' enters PCL, 'B' enters HP-GL/2, 'X' (UEL) starts PJL.
    std::size_t p = pos_ + 2;
    if (p < input_.size() && (input_[p] == '+' || input_[p] == '-'))
        ++p;
    while (p < input_.size() && IsDigit(input_[p]))
        ++p;
    if (p >= input_.size())
    {
        pos_ = input_.size();
        return false;
    }
    const char final = input_[p];
    pos_ = p + 1;
    if (final == 'A')
        mode_ = Mode::Pcl;
    else if (final == 'B')
        mode_ = Mode::Hpgl;
    else if (final == 'X')
        SkipPjl();
    return final == 'B';
}

void HpglTokenizer::SkipPclEscape()
{
    ++pos_; // ESC
    if (pos_ >= input_.size())
        return;
    const auto c = static_cast<unsigned char>(input_[pos_]);
    if (c >= 0x21 && c <= 0x2F)
    {
        // Parameterized: ESC c [group] (value parameter-char)*, lower case continuing and
        // upper case ending. Raster and font data follow "W" (and "&p...X") and are skipped by
        // their byte count.
        ++pos_;
        char group = '\0';
        if (pos_ < input_.size() && input_[pos_] >= 0x60 && input_[pos_] <= 0x7E)
            group = input_[pos_++];
        while (pos_ < input_.size())
        {
            std::size_t count = 0;
            if (input_[pos_] == '+' || input_[pos_] == '-')
                ++pos_;
            while (pos_ < input_.size() && (IsDigit(input_[pos_]) || input_[pos_] == '.'))
            {
                if (IsDigit(input_[pos_]) && count <= input_.size())
                    count = count * 10 + static_cast<std::size_t>(input_[pos_] - '0');
                ++pos_;
            }
            if (pos_ >= input_.size())
                return;
            const char p = input_[pos_];
            const bool more = p >= 0x60 && p <= 0x7E;
            const bool last = p >= 0x40 && p <= 0x5E;
            if (!more && !last)
                return;
            ++pos_;
            const char upper = Upper(p);
            if (upper == 'W' || (c == '&' && group == 'p' && upper == 'X'))
                pos_ += std::min(count, input_.size() - pos_);
            if (last)
                return;
        }
        return;
    }
    if (c >= 0x30 && c <= 0x7E)
        ++pos_;
}

void HpglTokenizer::SkipPjl()
{
    // PJL lines follow a UEL up to the next escape or the first line that is not PJL.
    while (pos_ < input_.size())
    {
        while (pos_ < input_.size() && (input_[pos_] == '\r' || input_[pos_] == '\n' ||
                                        input_[pos_] == ' ' || input_[pos_] == '\t'))
            ++pos_;
        if (!StartsWithNoCase(input_.substr(pos_), "@PJL"))
            return;
        const std::size_t end = std::min(input_.find('\n', pos_), input_.size());
        const std::string_view line = input_.substr(pos_, end - pos_);
        if (ContainsNoCase(line, "LANGUAGE"))
        {
            if (ContainsNoCase(line, "HPGL"))
                mode_ = Mode::Hpgl;
            else if (ContainsNoCase(line, "PCL"))
                mode_ = Mode::Pcl;
        }
        pos_ = end;
    }
}

void HpglTokenizer::SkipPcl()
{
    const std::size_t start = pos_;
    const std::size_t escape = input_.find(kEscape, pos_);
    if (escape == std::string_view::npos)
    {
        pos_ = input_.size();
    }
    else
    {
        pos_ = escape;
        ++stats_.escapeSequences;
        if (pos_ + 1 < input_.size() && input_[pos_ + 1] == '%')
            SkipPercentEscape();
        else
            SkipPclEscape();
    }
    stats_.skippedBytes += pos_ - start;
}

bool HpglTokenizer::HpglEntryFollows()
{
    if (nextHpglEntryKnown_ && (nextHpglEntry_ == std::string_view::npos || nextHpglEntry_ >= pos_))
        return nextHpglEntry_ != std::string_view::npos;
    nextHpglEntryKnown_ = true;
    std::size_t from = pos_;
    while (true)
    {
        const std::size_t found = input_.find("\x1B%", from);
        if (found == std::string_view::npos)
        {
            nextHpglEntry_ = std::string_view::npos;
            return false;
        }
        std::size_t p = found + 2;
        if (p < input_.size() && (input_[p] == '+' || input_[p] == '-'))
            ++p;
        while (p < input_.size() && IsDigit(input_[p]))
            ++p;
        if (p < input_.size() && input_[p] == 'B')
        {
            nextHpglEntry_ = found;
            return true;
        }
        from = found + 2;
    }
}

void HpglTokenizer::CountBinary(unsigned char byte, bool betweenCommands)
{
    if (byte < 0x20)
    {
        const bool usual = byte == '\t' || byte == '\n' || byte == '\v' || byte == '\f' ||
                           byte == '\r' || byte == 0x03 || byte == 0x08 || byte == 0x0E ||
                           byte == 0x0F || byte == 0x1B || (betweenCommands && byte == 0);
        if (!usual)
            ++stats_.binaryBytes;
    }
    else if (byte == 0x7F || (betweenCommands && byte >= 0x80))
    {
        ++stats_.binaryBytes;
    }
}

} // namespace genplot::tool
