// libFuzzer target: the plot file reader on arbitrary bytes. Beyond not crashing, every result
// must be self-consistent, so a reader that accepts nonsense as sound fails here too.

#include "genplot/plot_file_reader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>

namespace
{

void Require(bool condition)
{
    if (!condition)
    {
        std::abort();
    }
}

void CheckSoundFile(const genplot::PlotFile& file, std::size_t size)
{
    using genplot::RecordType;
    Require(file.problem.empty());
    Require(file.hasHeader && file.markersRead == 2 && file.hasPieceTable && file.hasEnd);
    Require(file.endOffset + genplot::kRecordHeaderSize == size);
    Require(file.pieces.size() == file.header.pieceCount);
    Require(file.looseAnnotations.size() == file.header.looseAnnotationCount);
    Require(file.pieceAnnotations.size() == file.header.pieceAnnotationCount);
    std::uint64_t previous = genplot::kPieceTableOffset;
    for (const genplot::PlotFilePiece& piece : file.pieces)
    {
        Require(piece.records.size() >= 4);
        Require(piece.recordOffset >= 0 &&
                static_cast<std::uint64_t>(piece.recordOffset) == piece.sectionOffset);
        Require(piece.records.front().offset == piece.sectionOffset);
        Require(piece.records.back().type == RecordType::PieceEnd);
        for (const genplot::PlotPieceRecord& record : piece.records)
        {
            Require(record.offset > previous);
            previous = record.offset;
        }
    }
    for (const auto* section : {&file.looseAnnotations, &file.pieceAnnotations})
    {
        for (const genplot::PlotFileAnnotation& annotation : *section)
        {
            Require(annotation.offset > previous && annotation.offset < file.endOffset);
            previous = annotation.offset;
            Require(annotation.text.size() <= genplot::kMaxAnnotationText);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const genplot::PlotFile file = genplot::ReadPlotFile(data, size);
    Require(file.size == size);
    Require(file.problemOffset <= size);
    switch (file.status)
    {
    case genplot::PlotFileStatus::Valid:
        CheckSoundFile(file, size);
        break;
    case genplot::PlotFileStatus::Cancelled:
        Require(!file.hasEnd && file.problemOffset == size && !file.pieces.empty());
        Require(file.looseAnnotations.empty() && file.pieceAnnotations.empty());
        break;
    case genplot::PlotFileStatus::Invalid:
        Require(!file.problem.empty());
        break;
    case genplot::PlotFileStatus::Unreadable:
        Require(false); // only a path can be unreadable
        break;
    }
    return 0;
}
