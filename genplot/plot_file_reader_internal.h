#pragma once

// The reader's walker, shared by the two sources that hold its parts: the framing records
// (plot_file_reader.cpp) and the piece and annotation sections (plot_file_reader_sections.cpp).

#include "genplot/byte_order_internal.h"
#include "genplot/plot_file_reader.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// A namespace of its own keeps these short helper names clear of the rest of the library.
namespace genplot::detail::reader
{

inline PlotFileBox GetBox(const std::uint8_t* at)
{
    PlotFileBox box;
    box.lowerLeft.x = GetI32(at);
    box.lowerLeft.y = GetI32(at + 4);
    box.upperRight.x = GetI32(at + 8);
    box.upperRight.y = GetI32(at + 12);
    return box;
}

/// printf-style formatting of a problem message (at most 255 characters are kept).
#if defined(__MINGW32__)
// mingw-w64 checks "printf" against msvcrt's formats, which lack %zu; libstdc++ turns on
// __USE_MINGW_ANSI_STDIO, so vsnprintf is the C99 one and is checked as such.
__attribute__((format(gnu_printf, 1, 2)))
#elif defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string
Format(const char* format, ...);

inline unsigned long long Ull(std::uint64_t value)
{
    return static_cast<unsigned long long>(value);
}

constexpr std::uint16_t Type(RecordType type)
{
    return static_cast<std::uint16_t>(type);
}

inline bool IsPenMode(std::uint16_t type)
{
    return type == Type(RecordType::PenMode) || type == Type(RecordType::PenModeOff);
}

/// A record header as found, with its payload (which is known to fit the file).
struct RecordHead
{
    std::uint64_t offset = 0;
    std::uint16_t type = 0;
    std::uint16_t length = 0;
    const std::uint8_t* payload = nullptr;
};

/// The bytes the walker reads: a whole file in memory, or a window that slides front to back
/// over a stream, so that reading a file never holds more of it than one record and a block
/// (the decoded records aside).
class ByteWindow
{
  public:
    /// Serves `size` bytes at `data`, which must stay valid while the window is used.
    ByteWindow(const std::uint8_t* data, std::uint64_t size);
    /// Serves the `size` bytes of `stream`, read from its current position onwards.
    ByteWindow(std::FILE* stream, std::uint64_t size);

    std::uint64_t size() const
    {
        return size_;
    }
    /// The `count` bytes at `at` (which must lie within the size), valid until the next call.
    /// Offsets may only move forward past bytes already served. Null when the stream fails or
    /// ends early; `Failed` is then true.
    const std::uint8_t* Bytes(std::uint64_t at, std::uint32_t count);
    bool Failed() const
    {
        return failed_;
    }
    /// The errno of a failed read; 0 when the stream ended before its size.
    int Error() const
    {
        return error_;
    }

  private:
    const std::uint8_t* data_ = nullptr;
    std::uint64_t size_ = 0;
    std::FILE* stream_ = nullptr;
    std::vector<std::uint8_t> buffer_;
    std::uint64_t start_ = 0; // file offset of buffer_[0]
    std::uint64_t end_ = 0;   // file offset after the last buffered byte
    bool failed_ = false;
    int error_ = 0;
};

/// Walks one file front to back and fills a PlotFile. Each Read... step returns false when
/// the walk must stop: at a problem that leaves nothing after it trustworthy, or at the end
/// of a cancelled file.
class PlotFileWalker
{
  public:
    /// Reads from `bytes`; `file` receives the result.
    /// With a `sink`, each piece is handed to it once read and its records let go.
    PlotFileWalker(ByteWindow& bytes, PlotFile& file, const PlotPieceSink* sink = nullptr)
        : bytes_(bytes), size_(bytes.size()), file_(file), sink_(sink)
    {
        file_.size = size_;
    }

    /// Reads the whole file and sets the status. A window that fails leaves the status
    /// Unreadable, with the problem for the caller to say.
    void Run();

  private:
    // Problems: Fail stops the walk, Note lets it go on; the first problem met is kept.
    bool Fail(std::uint64_t offset, const std::string& message);
    void Note(std::uint64_t offset, const std::string& message);
    bool Fits(std::uint64_t at, std::uint64_t count) const;
    // The bytes at `at`, which are known to fit; null (and the walk stops) when unreadable.
    const std::uint8_t* Bytes(std::uint64_t at, std::uint32_t count);
    // Reads the record at the current position and moves past it, once it is known to fit.
    bool ReadRecord(RecordHead& head);
    bool ExpectLength(const RecordHead& head, std::uint32_t length);
    // One step per part of the file, in file order.
    bool ReadHeader();
    void CheckHeaderConstants(const std::uint8_t* body);
    static std::uint64_t SlotOffset(std::uint32_t slot);
    bool ReadMarkers();
    bool ReadPieceTable();
    bool ReadEnd();
    void CheckHeaderAgainstSections();
    void CheckSectionOffset(std::uint32_t slot, const char* name,
                            const std::vector<PlotFileAnnotation>& section);
    bool ReadPieceSections();
    bool ReadPieceSection(std::size_t index);
    // Hands a read piece to the sink, if any, and lets its records go; false when the sink
    // asks to stop.
    bool Deliver(std::size_t index);
    bool CheckSectionOrder(std::size_t index, const RecordHead& head, std::uint16_t previous,
                           std::size_t position);
    bool ReadPolyline(const RecordHead& head, PlotPieceRecord& record,
                      const PlotPieceRecord* previous);
    bool EndInsideSection(std::size_t index, std::size_t lines);
    bool ReadAnnotations();
    bool ReadAnnotation(const RecordHead& head, PlotFileAnnotation& label);

    ByteWindow& bytes_;
    std::uint64_t size_;
    PlotFile& file_;
    std::uint64_t pos_ = 0;
    bool problemFound_ = false;
    bool firstWriteHeader_ = false;
    const PlotPieceSink* sink_ = nullptr;
    bool stopped_ = false;
};

} // namespace genplot::detail::reader
