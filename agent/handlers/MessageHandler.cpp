#include "MessageHandler.h"

#include "Identity.h"

CMessageHandler::CMessageHandler(std::uint32_t recorderNumber, std::shared_ptr<CTCPComms> connection,
                                 std::string hostName)
    : m_connection(std::move(connection)), m_recorderNumber(recorderNumber), m_hostName(std::move(hostName)),
      m_userName(DetermineUserName())
{
}

CMessageHandler::~CMessageHandler()
{
    StopAndJoin();
}

void CMessageHandler::StopAndJoin()
{
    Stop();
    Join();
}

void CMessageHandler::PostCommand(const DKACommandPtr& command)
{
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_queue.push_back(command);
    }
    m_queueCondition.notify_one();
}

void CMessageHandler::Wake()
{
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_woken = true;
    }
    m_queueCondition.notify_one();
}

void CMessageHandler::Stop()
{
    {
        // Under the queue mutex, so that a waiter cannot miss it between its test and its wait.
        std::lock_guard<std::mutex> lock(m_queueMutex);
        CThread::Stop();
    }
    m_queueCondition.notify_all();
}

DKACommandPtr CMessageHandler::WaitForCommand(std::optional<SteadyTime> deadline)
{
    std::unique_lock<std::mutex> lock(m_queueMutex);
    const auto ready = [this] { return !m_queue.empty() || m_woken || !IsRunning(); };
    if (deadline)
        m_queueCondition.wait_until(lock, *deadline, ready);
    else
        m_queueCondition.wait(lock, ready);
    m_woken = false;
    if (m_queue.empty() || !IsRunning())
        return nullptr;
    DKACommandPtr command = std::move(m_queue.front());
    m_queue.pop_front();
    return command;
}
