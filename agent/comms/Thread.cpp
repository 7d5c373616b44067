#include "Thread.h"

#include "Log.h"

#include <cstdio>
#include <future>
#include <memory>
#include <stdexcept>
#include <system_error>

CThread::~CThread()
{
    std::lock_guard<std::mutex> guard(m_handleMutex);
    if (m_thread.joinable())
        m_thread.detach();
}

void CThread::Join()
{
    std::thread thread;
    {
        std::lock_guard<std::mutex> guard(m_handleMutex);
        thread = std::move(m_thread);
    }
    if (!thread.joinable())
        return;
    if (thread.get_id() == std::this_thread::get_id()) {
        AGENT_LOG(kzb::log::Error, "Join called by the thread it would wait for; not joined");
        thread.detach();
        return;
    }
    thread.join();
}

void CThread::Start()
{
    Join();
    m_running.store(true);
    auto started = std::make_shared<std::promise<std::uint32_t>>();
    std::future<std::uint32_t> id = started->get_future();
    try {
        std::lock_guard<std::mutex> guard(m_handleMutex);
        m_thread = std::thread([this, started] {
            started->set_value(kzb::CurrentThreadId());
            Run();
        });
    } catch (const std::system_error& error) {
        m_running.store(false);
        AGENT_LOG(kzb::log::Error, "Thread creation failed: %s", error.what());
        return;
    }
    m_threadId.store(id.get());
}

MutexLock::MutexLock(kzb::Mutex* mutex)
{
    int result = 0;
    int error = 0;
    if (mutex == nullptr) {
        result = -1;
        error = static_cast<int>(std::errc::invalid_argument);
    } else {
        try {
            mutex->Lock();
            m_mutex = mutex;
            return;
        } catch (const std::system_error& failure) {
            result = -1;
            error = failure.code().value();
        }
    }
    char text[100];
    std::snprintf(text, sizeof text, "MutexLock - Unable to acquire lock, Result: %d, Error: %d", result, error);
    throw std::runtime_error(text);
}

MutexLock::~MutexLock()
{
    if (m_mutex != nullptr)
        m_mutex->Unlock();
}
