#pragma once

#include "Log.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

// Collects the lines the agent code logs while it exists.
class LogCapture
{
public:
    using Line = std::pair<int, std::string>; // level, text

    LogCapture()
    {
        kzb::log::SetObserver([this](int level, const std::string& text) {
            std::lock_guard lock(m_mutex);
            m_lines.emplace_back(level, text);
        });
    }
    ~LogCapture() { kzb::log::SetObserver(nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<Line> Lines()
    {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }
    void Clear()
    {
        std::lock_guard lock(m_mutex);
        m_lines.clear();
    }

private:
    std::mutex m_mutex;
    std::vector<Line> m_lines;
};
