#include "PageMessage.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <initializer_list>

namespace kzb::inspection {

namespace {

using Json = nlohmann::json;

// Field names come from outside but are short names, never page text; a long one is cut.
std::string FieldName(const std::string& name)
{
    std::string shown = name.substr(0, 40);
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f)
            c = '?';
    }
    return shown;
}

bool OnlyFields(const Json& object, std::initializer_list<const char*> allowed, std::string& error)
{
    for (const auto& item : object.items()) {
        if (std::none_of(allowed.begin(), allowed.end(), [&](const char* name) { return item.key() == name; })) {
            error = "unknown field '" + FieldName(item.key()) + "'";
            return false;
        }
    }
    return true;
}

bool ReadString(const Json& object, const char* name, std::string& out, bool required, std::string& error)
{
    const auto found = object.find(name);
    if (found == object.end()) {
        if (required)
            error = std::string("field '") + name + "' missing";
        return !required;
    }
    if (!found->is_string()) {
        error = std::string("field '") + name + "' is not a string";
        return false;
    }
    out = found->get<std::string>();
    return true;
}

bool ReadWindow(const Json& object, std::int64_t& out, std::string& error)
{
    const auto found = object.find("window");
    if (found == object.end() || !found->is_number_integer()) {
        error = "field 'window' missing or not an integer";
        return false;
    }
    out = found->get<std::int64_t>();
    return true;
}

bool ReadPage(const Json& object, ReportedPage& page, std::string& error)
{
    if (!object.is_object()) {
        error = "a window is not an object";
        return false;
    }
    if (!OnlyFields(object, {"type", "window", "tab", "title", "url", "domain", "body"}, error))
        return false;
    if (!ReadWindow(object, page.window, error))
        return false;
    if (const auto tab = object.find("tab"); tab != object.end() && !tab->is_number_integer()) {
        error = "field 'tab' is not an integer";
        return false;
    }
    if (!ReadString(object, "title", page.title, false, error) || !ReadString(object, "url", page.url, false, error) ||
        !ReadString(object, "domain", page.domain, false, error))
        return false;
    if (object.contains("body")) {
        std::string body;
        if (!ReadString(object, "body", body, true, error))
            return false;
        page.body = std::move(body);
    }
    return true;
}

} // namespace

std::optional<PageMessage> ParsePageMessage(std::string_view json, std::string& error)
{
    // Without exceptions: the parser's own messages quote the text it read.
    const Json object = Json::parse(json.begin(), json.end(), nullptr, false);
    if (object.is_discarded()) {
        error = "not valid JSON";
        return std::nullopt;
    }
    if (!object.is_object()) {
        error = "not a JSON object";
        return std::nullopt;
    }
    std::string type;
    if (!ReadString(object, "type", type, true, error))
        return std::nullopt;

    PageMessage message;
    if (type == "page") {
        message.kind = PageMessage::Kind::Page;
        message.pages.emplace_back();
        if (!ReadPage(object, message.pages.back(), error))
            return std::nullopt;
    } else if (type == "snapshot") {
        message.kind = PageMessage::Kind::Snapshot;
        if (!OnlyFields(object, {"type", "windows"}, error))
            return std::nullopt;
        const auto windows = object.find("windows");
        if (windows == object.end() || !windows->is_array()) {
            error = "field 'windows' missing or not an array";
            return std::nullopt;
        }
        for (const Json& window : *windows) {
            message.pages.emplace_back();
            if (!ReadPage(window, message.pages.back(), error))
                return std::nullopt;
            if (window.contains("type")) {
                error = "unknown field 'type' in a window";
                return std::nullopt;
            }
        }
    } else if (type == "closed") {
        message.kind = PageMessage::Kind::Closed;
        if (!OnlyFields(object, {"type", "window"}, error) || !ReadWindow(object, message.window, error))
            return std::nullopt;
    } else if (type == "bodies") {
        message.kind = PageMessage::Kind::Bodies;
        if (!OnlyFields(object, {"type", "wanted"}, error))
            return std::nullopt;
        const auto wanted = object.find("wanted");
        if (wanted == object.end() || !wanted->is_boolean()) {
            error = "field 'wanted' missing or not true or false";
            return std::nullopt;
        }
        message.bodiesWanted = wanted->get<bool>();
    } else if (type == "hello") {
        message.kind = PageMessage::Kind::Hello;
        if (!OnlyFields(object, {"type", "origin"}, error) ||
            !ReadString(object, "origin", message.origin, true, error))
            return std::nullopt;
        if (message.origin.size() > 200) {
            error = "field 'origin' too long";
            return std::nullopt;
        }
    } else {
        error = "unknown type";
        return std::nullopt;
    }
    return message;
}

namespace {

Json PageJson(const ReportedPage& page)
{
    Json json = {{"window", page.window}, {"title", page.title}, {"url", page.url}, {"domain", page.domain}};
    if (page.body)
        json["body"] = *page.body;
    return json;
}

} // namespace

std::string FormatPageMessage(const PageMessage& message)
{
    Json json;
    switch (message.kind) {
    case PageMessage::Kind::Hello: json = {{"type", "hello"}, {"origin", message.origin}}; break;
    case PageMessage::Kind::Snapshot: {
        json = {{"type", "snapshot"}, {"windows", Json::array()}};
        for (const ReportedPage& page : message.pages)
            json["windows"].push_back(PageJson(page));
        break;
    }
    case PageMessage::Kind::Page:
        json = message.pages.empty() ? Json{{"window", 0}} : PageJson(message.pages.front());
        json["type"] = "page";
        break;
    case PageMessage::Kind::Closed: json = {{"type", "closed"}, {"window", message.window}}; break;
    case PageMessage::Kind::Bodies: json = {{"type", "bodies"}, {"wanted", message.bodiesWanted}}; break;
    }
    // Text that is not UTF-8 is replaced rather than thrown at.
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string FramePageMessage(std::string_view json)
{
    const auto length = static_cast<std::uint32_t>(json.size());
    std::string frame(sizeof length, '\0');
    std::memcpy(frame.data(), &length, sizeof length);
    frame.append(json);
    return frame;
}

void PageFrameReader::Append(const char* data, std::size_t size)
{
    if (m_skip > 0) {
        const std::size_t skipped = std::min(m_skip, size);
        m_skip -= skipped;
        data += skipped;
        size -= skipped;
    }
    m_buffer.append(data, size);
}

std::optional<PageFrameReader::Frame> PageFrameReader::Next()
{
    std::uint32_t length = 0;
    if (m_skip > 0 || m_buffer.size() < sizeof length)
        return std::nullopt;
    std::memcpy(&length, m_buffer.data(), sizeof length);
    Frame frame;
    frame.size = length;
    if (length > m_limit) {
        // Thrown away as it comes, never kept.
        const std::size_t have = m_buffer.size() - sizeof length;
        const std::size_t dropped = std::min<std::size_t>(have, length);
        m_skip = length - dropped;
        m_buffer.erase(0, sizeof length + dropped);
        frame.oversized = true;
        return frame;
    }
    if (m_buffer.size() - sizeof length < length)
        return std::nullopt;
    frame.json = m_buffer.substr(sizeof length, length);
    m_buffer.erase(0, sizeof length + length);
    return frame;
}

} // namespace kzb::inspection
