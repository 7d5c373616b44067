#include "IniFile.h"

#include <cctype>
#include <vector>

namespace kzb::logging::ini {
namespace {

bool IsBlank(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0 || c == '\x1a';
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool SameIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

struct Line
{
    enum class Kind { Blank, Section, Entry };
    Kind kind = Kind::Blank;
    std::size_t begin = 0; // offset of the line in the content
    std::size_t end = 0;   // offset just after its line feed (or the end of the content)
    std::string_view name; // section or key name
    std::optional<std::string_view> value;
};

std::vector<Line> Parse(std::string_view content)
{
    std::vector<Line> lines;
    std::size_t begin = 0;
    while (begin < content.size()) {
        std::size_t feed = content.find('\n', begin);
        const std::size_t end = feed == std::string_view::npos ? content.size() : feed + 1;
        Line line;
        line.begin = begin;
        line.end = end;
        const std::string_view text = Trim(content.substr(begin, end - begin));
        if (!text.empty()) {
            const std::size_t close = text.rfind(']');
            if (text.front() == '[' && close != std::string_view::npos) {
                line.kind = Line::Kind::Section;
                line.name = text.substr(1, close - 1);
            } else {
                line.kind = Line::Kind::Entry;
                const std::size_t equals = text.find('=');
                line.name = Trim(text.substr(0, equals));
                if (equals != std::string_view::npos)
                    line.value = Trim(text.substr(equals + 1));
            }
        }
        lines.push_back(line);
        begin = end;
    }
    return lines;
}

// The lines of the first section called `section`: [first, last) indexes after its header.
struct SectionSpan
{
    std::size_t header;
    std::size_t first;
    std::size_t last;
};

std::optional<SectionSpan> FindSection(const std::vector<Line>& lines, std::string_view section)
{
    section = Trim(section);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind != Line::Kind::Section || lines[i].name.empty() || !SameIgnoringCase(lines[i].name, section))
            continue;
        std::size_t last = i + 1;
        while (last < lines.size() && lines[last].kind != Line::Kind::Section)
            ++last;
        return SectionSpan{i, i + 1, last};
    }
    return std::nullopt;
}

std::optional<std::size_t> FindKey(const std::vector<Line>& lines, const SectionSpan& span, std::string_view key)
{
    key = Trim(key);
    for (std::size_t i = span.first; i < span.last; ++i) {
        if (lines[i].kind == Line::Kind::Entry && SameIgnoringCase(lines[i].name, key))
            return i;
    }
    return std::nullopt;
}

std::string_view LineEnding(std::string_view content)
{
    const std::size_t feed = content.find('\n');
    return feed != std::string_view::npos && feed > 0 && content[feed - 1] == '\r' ? "\r\n" : "\n";
}

} // namespace

std::optional<std::string> Find(std::string_view content, std::string_view section, std::string_view key)
{
    const std::vector<Line> lines = Parse(content);
    const auto span = FindSection(lines, section);
    if (!span)
        return std::nullopt;
    const auto index = FindKey(lines, *span, key);
    if (!index || !lines[*index].value)
        return std::nullopt;
    return std::string(*lines[*index].value);
}

std::string Set(std::string_view content, std::string_view section, std::string_view key, std::string_view value)
{
    const std::vector<Line> lines = Parse(content);
    const std::string_view eol = LineEnding(content);
    key = Trim(key);
    while (!value.empty() && IsBlank(value.front()))
        value.remove_prefix(1);

    std::string entry(key);
    entry += '=';
    entry += value;
    entry += eol;

    std::string out;
    const auto span = FindSection(lines, section);
    if (!span) {
        out = content;
        if (!out.empty() && out.back() != '\n')
            out += eol;
        if (!out.empty())
            out += eol;
        out += '[';
        out += Trim(section);
        out += ']';
        out += eol;
        out += entry;
        return out;
    }

    if (const auto index = FindKey(lines, *span, key)) {
        const Line& line = lines[*index];
        std::string replaced(line.name);
        replaced += '=';
        replaced += value;
        replaced += eol;
        out = content.substr(0, line.begin);
        out += replaced;
        out += content.substr(line.end);
        return out;
    }

    // After the section's last entry, so that blank lines before the next section stay.
    std::size_t after = span->header;
    for (std::size_t i = span->first; i < span->last; ++i) {
        if (lines[i].kind == Line::Kind::Entry)
            after = i;
    }
    const std::size_t at = lines[after].end;
    out = content.substr(0, at);
    if (!out.empty() && out.back() != '\n')
        out += eol;
    out += entry;
    out += content.substr(at);
    return out;
}

std::string ProfileString(const std::optional<std::string>& found, std::string_view defaultValue, std::size_t bufferSize)
{
    if (bufferSize == 0)
        return {};
    std::string_view value;
    if (found) {
        value = *found;
    } else {
        value = defaultValue;
        while (!value.empty() && value.back() == ' ')
            value.remove_suffix(1);
    }
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    if (value.size() > bufferSize - 1)
        value = value.substr(0, bufferSize - 1);
    return std::string(value);
}

unsigned ProfileInt(std::string_view text)
{
    std::size_t pos = 0;
    while (pos < text.size() && static_cast<unsigned char>(text[pos]) <= ' ')
        ++pos;
    bool negative = false;
    while (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = negative != (text[pos] == '-');
        ++pos;
    }
    unsigned base = 10;
    if (pos + 1 < text.size() && text[pos] == '0') {
        const char prefix = static_cast<char>(std::tolower(static_cast<unsigned char>(text[pos + 1])));
        if (prefix == 'x' || prefix == 'o' || prefix == 'b') {
            base = prefix == 'x' ? 16 : prefix == 'o' ? 8 : 2;
            pos += 2;
        }
    }
    unsigned result = 0;
    for (; pos < text.size(); ++pos) {
        const int c = std::tolower(static_cast<unsigned char>(text[pos]));
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else
            break;
        if (digit >= base)
            break;
        result = result * base + digit;
    }
    return negative ? 0u - result : result;
}

} // namespace kzb::logging::ini
