#include "genplot/plot_dispatch.h"
#include "genplot/plot_dispatch_internal.h"
#include "genplot/plot_file_format.h"
#include "platform/native_path_internal.h"

#include <cstdint>
#include <cstring>

namespace genplot::detail
{

int CheckPlotFileHeader(std::FILE* input)
{
    unsigned char recordHeader[kRecordHeaderSize];
    unsigned char body[kHeaderBodySize];
    const bool complete =
        std::fread(recordHeader, 1, sizeof recordHeader, input) == sizeof recordHeader &&
        std::fread(body, 1, sizeof body, input) == sizeof body;
    int valid = 0;
    if (complete)
    {
        const auto type = static_cast<std::uint16_t>(recordHeader[0] | (recordHeader[1] << 8));
        // The magic ends in its NUL, so comparing all 8 bytes is the byte-wise string
        // comparison: seven matching letters followed by anything but NUL do not pass.
        valid = type == static_cast<std::uint16_t>(RecordType::Header) &&
                        std::memcmp(body + header::kMagic, kMagic, sizeof kMagic) == 0
                    ? 1
                    : 0;
    }
    std::fseek(input, 0, SEEK_SET);
    return valid;
}

} // namespace genplot::detail

int IsGenericPlotFile(CString& path)
{
    if (std::strlen(path.GetString()) != static_cast<std::size_t>(path.GetLength()))
        return 0; // a NUL inside the text would open a different, shorter path
    std::FILE* input = genplot::detail::OpenHostFile(path.GetString(), "rb");
    if (input == nullptr)
        return 0;
    const int valid = genplot::detail::CheckPlotFileHeader(input);
    std::fclose(input);
    return valid;
}
