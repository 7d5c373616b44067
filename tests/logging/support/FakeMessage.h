// A message with fields set by the test, for the text forms of a message.
#pragma once

#include "KZBLogging.h"

#include <string>

namespace testing_support {

class FakeMessage : public kzb::logging::ILogMessage
{
public:
    std::string file = "Dialog";
    std::int32_t line = 204;
    std::uint32_t threadId = 0xF2C;
    std::string localTime = "2024-06-09T14:03:07.250000";
    std::string utcTime = "2024-06-09T12:03:07.250000Z";
    std::int32_t level = 0;
    std::string text = "Hello";
    kzb::logging::ModuleHandle module = nullptr;

    void Printf(const char*, ...) override {}
    std::int32_t Level() const override { return level; }
    kzb::logging::ModuleHandle Module() const override { return module; }
    const char* LocalTime() const override { return localTime.c_str(); }
    const char* UtcTime() const override { return utcTime.c_str(); }
    const char* File() const override { return file.c_str(); }
    std::int32_t Line() const override { return line; }
    std::uint32_t ThreadId() const override { return threadId; }
    const char* Text() const override { return text.c_str(); }
};

} // namespace testing_support
