#include "support/byte_builder.h"

#include <algorithm>
#include <sstream>

ByteBuilder& ByteBuilder::U8(std::uint8_t value)
{
    bytes_.push_back(value);
    return *this;
}

ByteBuilder& ByteBuilder::U16(std::uint16_t value)
{
    bytes_.push_back(static_cast<std::uint8_t>(value & 0xFF));
    bytes_.push_back(static_cast<std::uint8_t>(value >> 8));
    return *this;
}

ByteBuilder& ByteBuilder::I32(std::int32_t value)
{
    const auto bits = static_cast<std::uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8)
    {
        bytes_.push_back(static_cast<std::uint8_t>((bits >> shift) & 0xFF));
    }
    return *this;
}

ByteBuilder& ByteBuilder::Text(const std::string& text)
{
    bytes_.insert(bytes_.end(), text.begin(), text.end());
    return *this;
}

ByteBuilder& ByteBuilder::Bytes(std::initializer_list<std::uint8_t> values)
{
    bytes_.insert(bytes_.end(), values.begin(), values.end());
    return *this;
}

ByteBuilder& ByteBuilder::Zeros(std::size_t count)
{
    bytes_.insert(bytes_.end(), count, 0);
    return *this;
}

ByteBuilder& ByteBuilder::Append(const std::vector<std::uint8_t>& more)
{
    bytes_.insert(bytes_.end(), more.begin(), more.end());
    return *this;
}

std::vector<std::uint8_t> ReadAllBytes(std::FILE* file)
{
    std::fflush(file);
    const long saved = std::ftell(file);
    std::vector<std::uint8_t> bytes;
    if (std::fseek(file, 0, SEEK_END) != 0)
    {
        return bytes;
    }
    bytes.resize(static_cast<std::size_t>(std::ftell(file)));
    std::fseek(file, 0, SEEK_SET);
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
    bytes.resize(got);
    std::fseek(file, saved, SEEK_SET);
    return bytes;
}

namespace
{

std::string Around(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    std::ostringstream out;
    const std::size_t from = at >= 8 ? at - 8 : 0;
    const std::size_t to = std::min(bytes.size(), at + 8);
    for (std::size_t i = from; i < to; ++i)
    {
        out << (i == at ? "[" : " ") << std::hex << static_cast<int>(bytes[i])
            << (i == at ? "]" : "");
    }
    return out.str();
}

} // namespace

::testing::AssertionResult SameBytes(const std::vector<std::uint8_t>& expected,
                                     const std::vector<std::uint8_t>& actual)
{
    const std::size_t common = std::min(expected.size(), actual.size());
    std::size_t at = 0;
    while (at < common && expected[at] == actual[at])
    {
        ++at;
    }
    if (at == common && expected.size() == actual.size())
    {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "sizes " << expected.size() << " expected, " << actual.size()
           << " actual; first difference at offset " << at
           << "\n  expected:" << Around(expected, at) << "\n  actual:  " << Around(actual, at);
}
