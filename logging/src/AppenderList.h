// A logger's appenders, in order, owned, written under one recursive lock.
#pragma once

#include "KZBLogging.h"
#include "LogMessage.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace kzb::logging {

class AppenderList
{
public:
    using Appenders = std::vector<std::unique_ptr<ILogAppender>>;

    AppenderList() = default;
    AppenderList(const AppenderList&) = delete;
    AppenderList& operator=(const AppenderList&) = delete;

    // Takes ownership; an appender already in the list is not added again.
    void Add(ILogAppender* appender);
    // Takes every occurrence out without deleting it.
    void Remove(ILogAppender* appender);
    // Deletes every appender.
    void Clear();
    bool Empty() const { return m_count.load() == 0; }

    // Under the lock: when the list is empty, fills it with what make() returns.
    // False when there were appenders already.
    template <class Make>
    bool FillIfEmpty(Make make)
    {
        std::lock_guard lock(m_lock);
        if (!m_appenders.empty())
            return false;
        for (auto& appender : make())
            m_appenders.push_back(std::move(appender));
        m_count = m_appenders.size();
        return true;
    }

    // Every appender in order gets the messages; an appender that throws loses them.
    void Write(const LogMessage& message);
    void Write(const MessageBatch& messages);

private:
    std::recursive_mutex m_lock;
    Appenders m_appenders;
    std::atomic<std::size_t> m_count{0};
};

} // namespace kzb::logging
