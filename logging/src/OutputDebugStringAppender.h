// Writes every log line to the debugger's output (stderr natively).
#pragma once

#include "KZBLogging.h"

#include <functional>
#include <string>
#include <string_view>

namespace kzb::logging {

class OutputDebugStringAppender final : public ILogAppender
{
public:
    using Output = std::function<void(const std::string&)>;
    // output is the debugger channel unless a test gives another.
    explicit OutputDebugStringAppender(Output output = {});

    // A line that is not valid UTF-8 is replaced by "Bad conversion".
    void Write(const ILogMessage& message) override;

private:
    Output m_output;
};

bool IsValidUtf8(std::string_view text);

} // namespace kzb::logging
