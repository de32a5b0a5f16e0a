#pragma once

#include <cstdint>

// Little-endian field access for the plot file's records. Every field goes through these, one
// byte at a time, so the layout never depends on the host's byte order or struct packing.

namespace genplot::detail
{

inline void PutU8(std::uint8_t* at, std::uint8_t value)
{
    at[0] = value;
}

inline void PutU16(std::uint8_t* at, std::uint16_t value)
{
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void PutU32(std::uint8_t* at, std::uint32_t value)
{
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
    at[2] = static_cast<std::uint8_t>(value >> 16);
    at[3] = static_cast<std::uint8_t>(value >> 24);
}

inline void PutI32(std::uint8_t* at, std::int32_t value)
{
    PutU32(at, static_cast<std::uint32_t>(value));
}

inline std::uint16_t GetU16(const std::uint8_t* at)
{
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

inline std::uint32_t GetU32(const std::uint8_t* at)
{
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

inline std::int32_t GetI32(const std::uint8_t* at)
{
    return static_cast<std::int32_t>(GetU32(at));
}

} // namespace genplot::detail
