#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace genplot::test
{

/// Incremental SHA-256 (FIPS 180-4), for pinning down the bytes of large output files.
class Sha256
{
  public:
    Sha256();
    void Update(const void* data, std::size_t size);
    /// Lower-case hex digest; the object is spent afterwards.
    std::string HexDigest();

  private:
    void Block(const std::uint8_t* block);

    std::uint32_t state_[8];
    std::uint8_t buffer_[64];
    std::size_t buffered_ = 0;
    std::uint64_t totalBytes_ = 0;
};

/// The digest of a whole file, or an empty string when it cannot be read.
std::string Sha256OfFile(const std::string& path);

} // namespace genplot::test
