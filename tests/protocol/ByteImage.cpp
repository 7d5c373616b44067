#include "ByteImage.h"

#include <cstdio>
#include <sstream>
#include <stdexcept>

namespace bytes {

ByteArray Hex(const std::string& hex)
{
    ByteArray image;
    std::istringstream in(hex);
    std::string byte;
    while (in >> byte)
        image.push_back(static_cast<std::uint8_t>(std::stoul(byte, nullptr, 16)));
    return image;
}

ByteArray U32(std::uint32_t value)
{
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

ByteArray Text(const std::string& text, std::size_t size)
{
    if (text.size() > size)
        throw std::logic_error("text longer than its field");
    ByteArray image(text.begin(), text.end());
    image.resize(size, 0);
    return image;
}

ByteArray Zeros(std::size_t count)
{
    return ByteArray(count, 0);
}

ByteArray operator+(ByteArray left, const ByteArray& right)
{
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

std::string ToHex(const ByteArray& image)
{
    std::string text;
    char byte[4];
    for (std::uint8_t value : image) {
        std::snprintf(byte, sizeof byte, "%02X ", value);
        text += byte;
    }
    if (!text.empty())
        text.pop_back();
    return text;
}

} // namespace bytes
