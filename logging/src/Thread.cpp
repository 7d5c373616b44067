#include "Thread.h"

namespace kzb {

Thread::~Thread()
{
    m_running = false;
    Join();
}

void Thread::Start()
{
    if (m_thread.joinable())
        Stop();
    m_running = true;
    m_thread = std::thread([this] { Run(); });
}

void Thread::Stop()
{
    m_running = false;
    Wake();
    Join();
}

void Thread::Join()
{
    if (!m_thread.joinable())
        return;
    if (m_thread.get_id() == std::this_thread::get_id())
        m_thread.detach(); // stopped from its own body: it ends when Run returns
    else
        m_thread.join();
}

} // namespace kzb
