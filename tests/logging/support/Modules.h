// Module handles for the tests: the test program's own, and made-up ones that the system
// knows no file for (their loggers have no configuration file and keep the defaults).
#pragma once

#include "KZBLogging.h"

#include <cstdint>

namespace testing_support {

inline kzb::logging::ModuleHandle FakeModule(int number)
{
    return reinterpret_cast<kzb::logging::ModuleHandle>(static_cast<std::uintptr_t>(0x1000 + 0x10 * number));
}

// Stops and destroys a module's logger at the end of a test, so the next starts afresh.
class LoggerScope
{
public:
    explicit LoggerScope(kzb::logging::ModuleHandle module) : m_module(module) {}
    ~LoggerScope()
    {
        Shutdown(m_module);
        DestroyLogger(m_module);
    }
    LoggerScope(const LoggerScope&) = delete;
    LoggerScope& operator=(const LoggerScope&) = delete;

    kzb::logging::ModuleHandle Module() const { return m_module; }

private:
    kzb::logging::ModuleHandle m_module;
};

} // namespace testing_support
