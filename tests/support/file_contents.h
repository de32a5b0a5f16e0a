#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Whole-file reads for checking what a test or a benchmark wrote. Header-only and plain C
// stdio, so the Windows suites and the benchmarks use them without the POSIX helpers.

namespace file_contents_detail
{

template <class Container> Container ReadWhole(const std::string& path)
{
    Container contents;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return contents;
    char buffer[65536];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        contents.insert(contents.end(), buffer, buffer + got);
    std::fclose(file);
    return contents;
}

} // namespace file_contents_detail

/// The bytes of the file at `path`, read in binary mode; empty when it cannot be opened.
inline std::vector<std::uint8_t> ReadFileBytes(const std::string& path)
{
    return file_contents_detail::ReadWhole<std::vector<std::uint8_t>>(path);
}

/// The same as text (no newline translation); empty when the file cannot be opened.
inline std::string ReadFileText(const std::string& path)
{
    return file_contents_detail::ReadWhole<std::string>(path);
}
