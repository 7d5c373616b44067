// The rules of the Windows private-profile functions over the text of an INI file, for
// the native build: sections and keys compare without case, names and values are
// trimmed, only the first section of a name is searched, the first key of a name wins.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kzb::logging::ini {

// The raw value of key in section; nothing when it is missing or its line has no '='.
std::optional<std::string> Find(std::string_view content, std::string_view section, std::string_view key);

// The content with key set to value in section, adding the key or the section where
// missing and leaving every other line as it was.
std::string Set(std::string_view content, std::string_view section, std::string_view key, std::string_view value);

// What the string reader returns: the found value or the default (trailing spaces of the
// default dropped), without surrounding quotes, cut to bufferSize - 1 characters.
std::string ProfileString(const std::optional<std::string>& found, std::string_view defaultValue, std::size_t bufferSize);

// What the integer reader makes of a non-empty value: optional blanks and sign, then
// decimal digits or 0x/0o/0b and digits, up to the first character that is none.
unsigned ProfileInt(std::string_view text);

} // namespace kzb::logging::ini
