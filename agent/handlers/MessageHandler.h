#pragma once

#include "comms/TCPComms.h"
#include "comms/Thread.h"
#include "protocol/DKACommand.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

// A message-handling thread with its inbound command queue, the recorder connection it
// answers through, and the workstation's identity as the recorder sees it. The thread
// sleeps on the queue: a posted command or Stop wakes it at once.
class CMessageHandler : public CThread
{
public:
    // The host name is the workstation's as the recorder is told it.
    CMessageHandler(std::uint32_t recorderNumber, std::shared_ptr<CTCPComms> connection, std::string hostName);
    // Stops and joins the thread.
    ~CMessageHandler() override;

    // Any thread.
    void PostCommand(const DKACommandPtr& command);
    // Ends the thread's present wait for a command (it then finds none). Any thread.
    void Wake();

    void Stop() override;

    std::uint32_t GetRecorderNumber() const { return m_recorderNumber; }
    const std::string& GetHostName() const { return m_hostName; }
    const std::string& GetUserName() const { return m_userName; }

protected:
    using SteadyTime = std::chrono::steady_clock::time_point;

    // Waits for the next command until the deadline (none: until one comes), Wake or Stop;
    // null when none came.
    DKACommandPtr WaitForCommand(std::optional<SteadyTime> deadline = std::nullopt);
    CTCPComms& Connection() const { return *m_connection; }
    const std::shared_ptr<CTCPComms>& SharedConnection() const { return m_connection; }
    // Subclasses whose Run uses their own members call this first in their destructor.
    void StopAndJoin();

private:
    std::deque<DKACommandPtr> m_queue;
    mutable std::mutex m_queueMutex;
    std::condition_variable m_queueCondition;
    bool m_woken = false;
    std::shared_ptr<CTCPComms> m_connection;
    const std::uint32_t m_recorderNumber;
    const std::string m_hostName;
    const std::string m_userName;
};
