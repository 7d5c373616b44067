#pragma once

// The user-visible texts, by resource number: strings::Recording is the text of string
// 129 and strings::RecordingId its number.
namespace strings {

#define KZB_STRING(id, name, text)              \
    constexpr const char* name = text;          \
    constexpr unsigned name##Id = id;
#include "StringTable.inc"
#undef KZB_STRING

} // namespace strings
