#include "hpgl/import.h"

#include "hpgl/interpreter_internal.h"
#include "hpgl/tokenizer.h"

#include <algorithm>

namespace genplot::tool
{
namespace
{

// How often (in commands) the import looks at the interrupt flag.
constexpr std::size_t kCommandsPerInterruptCheck = 1024;

std::string Plural(std::size_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

} // namespace

void CheckHpglInput(std::string_view input)
{
    const bool blank = std::all_of(input.begin(), input.end(), [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v' ||
               c == ';' || c == '\0';
    });
    if (blank)
        throw HpglInputError("the input is empty");

    HpglTokenizer tokenizer(input);
    HpglCommand command;
    std::size_t known = 0;
    std::size_t unknown = 0;
    while (tokenizer.Next(command))
    {
        if (IsHpglMnemonic(command.name))
            ++known;
        else
            ++unknown;
    }
    const HpglTokenizerStats& stats = tokenizer.Stats();
    // Plotter files are text apart from escape sequences and encoded polylines, which the
    // tokenizer passes over; a few stray control bytes are common, a share of them is not.
    const std::size_t examined = input.size() - std::min(stats.skippedBytes, input.size());
    if (stats.binaryBytes >= 4 && stats.binaryBytes * 20 > examined)
        throw HpglInputError("not an HP-GL file: it holds binary data");
    if (known == 0)
        throw HpglInputError("not an HP-GL file: it holds no HP-GL command");
    if (unknown > known)
        throw HpglInputError("not an HP-GL file: most of its commands are not HP-GL (" +
                             std::to_string(unknown) + " unknown, " + std::to_string(known) +
                             " known)");
}

void ImportHpgl(std::string_view input, CPlotInfo& plot, const HpglImportOptions& options,
                HpglImportReport& report)
{
    CheckHpglInput(input);
    HpglInterpreter interpreter(plot, options, report);
    HpglTokenizer tokenizer(input);
    HpglCommand command;
    std::size_t sinceCheck = 0;
    while (tokenizer.Next(command))
    {
        interpreter.Execute(command);
        if (++sinceCheck == kCommandsPerInterruptCheck)
        {
            sinceCheck = 0;
            if (options.interrupt != nullptr && *options.interrupt != 0)
                throw HpglInterrupted();
        }
    }
    interpreter.Finish();
    report.junkBytes = tokenizer.Stats().junkBytes;
}

std::vector<std::string> HpglImportReport::Notes() const
{
    std::vector<std::string> notes;
    if (!notImplemented.empty())
    {
        std::size_t total = 0;
        std::string list;
        for (const auto& [name, count] : notImplemented)
        {
            total += count;
            list += (list.empty() ? "" : ", ") + name + " (" + std::to_string(count) + ")";
        }
        notes.push_back("skipped " + Plural(total, "command", "commands") +
                        " not implemented: " + list);
    }
    std::vector<std::string> approximations;
    if (rightAlignedLabels != 0)
        approximations.push_back(
            Plural(rightAlignedLabels, "right-aligned label", "right-aligned labels") +
            " centred on the estimated middle of the text");
    if (unsupportedOriginLabels != 0)
        approximations.push_back(Plural(unsupportedOriginLabels, "label", "labels") +
                                 " with origin LO21 placed as LO1");
    if (mirroredLabels != 0)
        approximations.push_back(Plural(mirroredLabels, "mirrored label", "mirrored labels") +
                                 " written unmirrored");
    if (textPathLabels != 0)
        approximations.push_back(
            Plural(textPathLabels, "label", "labels") +
            " with a vertical or reversed text path (DV) written left to right");
    if (truncatedLabels != 0)
        approximations.push_back(Plural(truncatedLabels, "label", "labels") +
                                 " cut to the 511 characters a plot file keeps");
    if (clampedCoordinates != 0)
        approximations.push_back(Plural(clampedCoordinates, "coordinate", "coordinates") +
                                 " beyond +-" + std::to_string(kMaxCoordinate) +
                                 " plot units clamped");
    if (!approximations.empty())
    {
        std::string line = "approximated: ";
        for (std::size_t i = 0; i < approximations.size(); ++i)
            line += (i == 0 ? "" : "; ") + approximations[i];
        notes.push_back(line);
    }
    if (noPenStrokes != 0 || noPenLabels != 0)
        notes.push_back("not drawn: " + Plural(noPenStrokes, "stroke", "strokes") + " and " +
                        Plural(noPenLabels, "label", "labels") +
                        " made with no pen selected (SP0)");
    if (damagedEncoded != 0)
        notes.push_back("skipped " + Plural(damagedEncoded, "PE command", "PE commands") +
                        " holding bytes no encoder produces");
    if (invalidParameters != 0)
        notes.push_back("ignored " + Plural(invalidParameters, "command", "commands") +
                        " with invalid parameters");
    if (unterminatedLabel)
        notes.push_back("the last label has no terminator; it runs to the end of the input");
    if (junkBytes != 0)
        notes.push_back("skipped " + Plural(junkBytes, "byte", "bytes") +
                        " between commands that belong to no command");
    return notes;
}

} // namespace genplot::tool
