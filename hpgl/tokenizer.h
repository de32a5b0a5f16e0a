#pragma once

#include <cstddef>
#include <string_view>

// The byte-level reader of HP-GL and HP-GL/2 plot files. It splits the input into commands as
// real files have them: mnemonics in either case, parameters separated by commas, spaces or
// signs, optional semicolons, junk between commands, and PCL, PJL and device-control escape
// sequences around or between the HP-GL parts (skipped). Labels, terminators, symbol mode,
// polyline-encoded data and comments have their own readers. The tokenizer never reads past
// the input and always makes progress, whatever the bytes.

namespace genplot::tool
{

enum class HpglCommandKind
{
    Parameters, ///< `data` is the parameter field (numbers, separators, quoted strings for BP)
    Label,      ///< LB, BL, WD: `data` is the text before the label terminator
    Terminator, ///< DT: `symbol` is the new terminator when `hasSymbol`; `data` holds ",mode"
    Symbol,     ///< SM: `symbol` is the symbol character when `hasSymbol`
    Encoded,    ///< PE: `data` is the encoded field without its closing ';'
    Comment,    ///< CO: `data` is the comment text
};

struct HpglCommand
{
    /// Mnemonic, upper case, NUL-terminated.
    char name[3] = {'\0', '\0', '\0'};
    HpglCommandKind kind = HpglCommandKind::Parameters;
    std::string_view data;
    char symbol = '\0';
    bool hasSymbol = false;
    /// Label: false when the input ended before the terminator.
    bool terminated = true;
    /// Encoded: the data is damaged (bytes no encoder produces) and must not be decoded.
    bool damaged = false;
    /// Byte offset of the mnemonic in the input.
    std::size_t offset = 0;

    bool Is(const char* mnemonic) const
    {
        return name[0] == mnemonic[0] && name[1] == mnemonic[1];
    }
};

struct HpglTokenizerStats
{
    /// Bytes skipped between commands that are neither separators nor escape sequences.
    std::size_t junkBytes = 0;
    /// Control bytes (other than the usual white space, ETX, BS, SO, SI and ESC) and, between
    /// commands, bytes of 128 and above: what text never holds and binary data is full of.
    std::size_t binaryBytes = 0;
    /// Bytes skipped as escape sequences, PCL or PJL.
    std::size_t skippedBytes = 0;
    std::size_t escapeSequences = 0;
};

/// True for the two-letter mnemonics of HP-GL and HP-GL/2 (upper case).
bool IsHpglMnemonic(const char* name);

class HpglTokenizer
{
  public:
    explicit HpglTokenizer(std::string_view input);

    /// Reads the next command; false at the end of the input.
    bool Next(HpglCommand& command);

    const HpglTokenizerStats& Stats() const
    {
        return stats_;
    }
    /// The label terminator now in force (ETX until a DT changes it; IN, DF and BP reset it).
    char LabelTerminator() const
    {
        return terminator_;
    }

  private:
    enum class Mode
    {
        Hpgl,
        Pcl,
    };

    void ReadCommand(HpglCommand& command);
    void ReadParameterField(HpglCommand& command, bool allowStrings);
    void ReadLabel(HpglCommand& command);
    void ReadTerminator(HpglCommand& command);
    void ReadSymbol(HpglCommand& command);
    void ReadEncoded(HpglCommand& command);
    void ReadComment(HpglCommand& command);
    void SkipQuotedString();
    void SkipEscape();
    void SkipPclEscape();
    void SkipPjl();
    void SkipPcl();
    bool SkipPercentEscape();
    bool HpglEntryFollows();
    void CountBinary(unsigned char byte, bool betweenCommands);

    std::string_view input_;
    std::size_t pos_ = 0;
    Mode mode_ = Mode::Hpgl;
    char terminator_ = '\x03';
    HpglTokenizerStats stats_;
    // Where the next "ESC % n B" starts, searched once and reused (npos: none).
    std::size_t nextHpglEntry_ = 0;
    bool nextHpglEntryKnown_ = false;
};

} // namespace genplot::tool
