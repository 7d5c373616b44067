#include "AppenderList.h"

#include "BurstAppender.h"

#include <algorithm>

namespace kzb::logging {

void AppenderList::Add(ILogAppender* appender)
{
    if (appender == nullptr)
        return;
    std::lock_guard lock(m_lock);
    // Owned once: a second entry would be deleted twice.
    for (const auto& entry : m_appenders) {
        if (entry.get() == appender)
            return;
    }
    m_appenders.emplace_back(appender);
    m_count = m_appenders.size();
}

void AppenderList::Remove(ILogAppender* appender)
{
    std::lock_guard lock(m_lock);
    for (auto& entry : m_appenders) {
        if (entry.get() == appender)
            entry.release(); // not ours any more; the null entry is erased below
    }
    m_appenders.erase(std::remove(m_appenders.begin(), m_appenders.end(), nullptr), m_appenders.end());
    m_count = m_appenders.size();
}

void AppenderList::Clear()
{
    std::lock_guard lock(m_lock);
    m_appenders.clear();
    m_count = 0;
}

void AppenderList::Write(const LogMessage& message)
{
    std::lock_guard lock(m_lock);
    for (const auto& appender : m_appenders) {
        try {
            appender->Write(message);
        } catch (...) {
            // An appender's failure stays with that appender.
        }
    }
}

void AppenderList::Write(const MessageBatch& messages)
{
    std::lock_guard lock(m_lock);
    for (const auto& appender : m_appenders) {
        try {
            if (auto* burst = dynamic_cast<BurstAppender*>(appender.get())) {
                burst->WriteBurst(messages);
            } else {
                for (const auto& message : messages)
                    appender->Write(*message);
            }
        } catch (...) {
        }
    }
}

} // namespace kzb::logging
