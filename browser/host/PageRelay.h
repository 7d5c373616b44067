#pragma once

// What the page host passes on, in each direction: every message is checked before it goes
// further, and one that is too large, not valid or not one that side sends is dropped with
// a line on standard error (the browser keeps it in its own log). Page text is never part
// of such a line.

#include "inspection/PageMessage.h"

#include <string>

namespace kzb::pagehost {

enum class From
{
    Browser,
    Agent,
};

// The frame to pass on for a frame read from one side, or empty when it is dropped.
std::string Relay(From from, const kzb::inspection::PageFrameReader::Frame& frame);

// A line on standard error, prefixed with the program's name; none while quiet (fuzzing).
void Note(const std::string& text);
void SetQuiet(bool quiet);

} // namespace kzb::pagehost
