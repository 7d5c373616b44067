#pragma once

#include "protocol/Serializable.h"

#include <cstdint>
#include <string>

// Builders for expected byte images, so that a golden vector reads like the layout table.
namespace bytes {

// "02 10 00 00" -> {0x02, 0x10, 0x00, 0x00}
ByteArray Hex(const std::string& hex);
// Little-endian 32-bit value.
ByteArray U32(std::uint32_t value);
// The characters of text padded with NUL bytes to size (a fixed-size string field).
ByteArray Text(const std::string& text, std::size_t size);
ByteArray Zeros(std::size_t count);

ByteArray operator+(ByteArray left, const ByteArray& right);

// Space-separated upper-case hex, for readable failure messages.
std::string ToHex(const ByteArray& image);

} // namespace bytes
