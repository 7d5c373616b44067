#include "OutputDebugStringAppender.h"

#include "LogLine.h"
#include "platform/System.h"

namespace kzb::logging {

bool IsValidUtf8(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length;
        char32_t point;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2;
            point = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            point = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            point = lead & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            point = (point << 6) | (next & 0x3F);
        }
        static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (point < kSmallest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

OutputDebugStringAppender::OutputDebugStringAppender(Output output)
    : m_output(output ? std::move(output) : Output(platform::DebugOutput))
{
}

void OutputDebugStringAppender::Write(const ILogMessage& message)
{
    const std::string line = MakeLogLine(message);
    m_output(IsValidUtf8(line) ? line : std::string("Bad conversion"));
}

} // namespace kzb::logging
