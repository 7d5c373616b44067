#include "JoiningThread.h"

namespace kzb {

JoiningThread::~JoiningThread()
{
    m_running = false;
    Join();
}

void JoiningThread::Start()
{
    if (m_thread.joinable())
        Stop();
    m_running = true;
    m_thread = std::thread([this] { Run(); });
}

void JoiningThread::Stop()
{
    m_running = false;
    Wake();
    Join();
}

void JoiningThread::Join()
{
    if (!m_thread.joinable())
        return;
    if (m_thread.get_id() == std::this_thread::get_id())
        m_thread.detach(); // stopped from its own body: it ends when Run returns
    else
        m_thread.join();
}

} // namespace kzb
