#include "PageRelay.h"

#include <cstdio>

namespace kzb::pagehost {

using kzb::inspection::PageMessage;

namespace {
bool g_quiet = false;
} // namespace

void SetQuiet(bool quiet)
{
    g_quiet = quiet;
}

void Note(const std::string& text)
{
    if (g_quiet)
        return;
    std::fprintf(stderr, "kzbdka-pagehost: %s\n", text.c_str());
    std::fflush(stderr);
}

std::string Relay(From from, const kzb::inspection::PageFrameReader::Frame& frame)
{
    const char* side = from == From::Browser ? "the browser" : "the agent";
    if (frame.oversized) {
        Note("a message of " + std::to_string(frame.size) + " bytes from " + side + " dropped (too large)");
        return {};
    }
    std::string error;
    const auto message = kzb::inspection::ParsePageMessage(frame.json, error);
    if (!message) {
        Note(std::string("a message from ") + side + " dropped: " + error);
        return {};
    }
    const bool fromBrowser = message->kind == PageMessage::Kind::Page ||
                             message->kind == PageMessage::Kind::Snapshot ||
                             message->kind == PageMessage::Kind::Closed;
    const bool fromAgent = message->kind == PageMessage::Kind::Bodies;
    if (from == From::Browser ? !fromBrowser : !fromAgent) {
        Note(std::string("a message from ") + side + " dropped: not one " + side + " sends");
        return {};
    }
    return kzb::inspection::FramePageMessage(frame.json);
}

} // namespace kzb::pagehost
