#pragma once

// What the browser extension and the agent say to each other through the page host: JSON
// messages, each framed by its length (4 bytes, native order) as the browser frames them.
// Shared by the agent and the host, which checks every message before passing it on.
//
// Browser to agent:
//   {"type": "hello", "origin": "chrome-extension://ID/"}          the host, on connecting
//   {"type": "snapshot", "windows": [PAGE...]}                     every window, on (re)connect
//   {"type": "page", "window": N, "title": ..., "url": ..., "domain": ..., "body": ...}
//   {"type": "closed", "window": N}
// where PAGE is the fields of "page" without "type"; "body" only while bodies are wanted,
// "tab" (the tab's number) may come along.
// Agent to browser:
//   {"type": "bodies", "wanted": true|false}                       also asks for a snapshot
//
// No text of a page ever goes into an error: errors are logged.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kzb::inspection {

// The largest message either side takes (a page with its frames' bodies); larger ones are
// skipped whole. The browser itself takes at most 1 MB from a host.
constexpr std::size_t MaxPageMessageSize = 8u << 20;
constexpr std::size_t MaxToBrowserMessageSize = 1u << 20;

struct ReportedPage
{
    std::int64_t window = 0; // the browser's number for the window
    std::string title, url, domain;
    std::optional<std::string> body; // absent while bodies are not wanted
};

struct PageMessage
{
    enum class Kind
    {
        Hello,
        Snapshot,
        Page,
        Closed,
        Bodies,
    };
    Kind kind = Kind::Page;
    std::vector<ReportedPage> pages; // Snapshot: every window; Page: the one
    std::int64_t window = 0;         // Closed
    bool bodiesWanted = false;       // Bodies
    std::string origin;              // Hello
};

// The message in json; nullopt with a reason (never quoting the message) when it is not
// valid JSON, not an object, of an unknown type, has a field of the wrong type or one that
// its type does not have.
std::optional<PageMessage> ParsePageMessage(std::string_view json, std::string& error);
std::string FormatPageMessage(const PageMessage& message);

// Frames: the length prefix and the message.
std::string FramePageMessage(std::string_view json);

// Cuts a byte stream into messages. A frame longer than the limit is skipped whole (the
// bytes are read and thrown away) and reported once.
class PageFrameReader
{
public:
    explicit PageFrameReader(std::size_t limit = MaxPageMessageSize) : m_limit(limit) {}

    void Append(const char* data, std::size_t size);

    struct Frame
    {
        std::string json;      // empty when oversized
        std::size_t size = 0;  // the length the frame announced
        bool oversized = false;
    };
    // The next complete frame, or nothing yet.
    std::optional<Frame> Next();

private:
    std::size_t m_limit;
    std::string m_buffer;
    std::size_t m_skip = 0; // bytes of an oversized frame still to throw away
};

} // namespace kzb::inspection
