#include "DKAMessageStream.h"

#include "Log.h"

#include <exception>

namespace net = kzb::net;

DKAMessageStream::DKAMessageStream(std::shared_ptr<NetworkStream> stream, const Observers& observers)
    : m_stream(std::move(stream))
{
    if (observers.commandReceived)
        CommandReceived.connect(observers.commandReceived);
    if (observers.closed)
        Closed.connect(observers.closed);
    Start();
}

DKAMessageStream::~DKAMessageStream()
{
    AGENT_LOG(kzb::log::Error, "Stopping DKAMessageStream thread");
    Stop();
    Join();
    AGENT_LOG(kzb::log::Error, "DKAMessageStream stopped, destroying");
    CommandReceived.disconnect_all_slots();
    Closed.disconnect_all_slots();
}

void DKAMessageStream::QueueCommand(const DKACommandPtr& command)
{
    {
        MutexLock lock(&m_queueMutex);
        m_queue.push_back(command);
    }
    m_waker.Signal();
}

void DKAMessageStream::Stop()
{
    CThread::Stop();
    m_waker.Signal();
}

unsigned DKAMessageStream::Run()
{
    m_peerName = net::PeerName(m_stream->GetSocket());
    AGENT_LOG(kzb::log::Info, "DKAMessageStream thread started for %s", m_peerName.c_str());
    while (IsRunning()) {
        if (!ReadStep())
            break; // the connection is gone: nothing queued can be sent on it
        if (DKACommandPtr command = TakeQueued()) {
            SendStep(command);
        } else if (!WaitForWork()) {
            Stop();
            Closed();
            break;
        }
    }
    AGENT_LOG(kzb::log::Info, "DKAMessageStream thread stopped for %s", m_peerName.c_str());
    return 0;
}

bool DKAMessageStream::ReadStep()
{
    ByteArray received;
    if (!m_stream->Read(received, ReadSize)) {
        Stop();
        Closed();
        m_framer = MessageFramer();
        return false;
    }
    if (!received.empty())
        m_framer.Consume(received, [this](ByteView message) { Announce(message); });
    return true;
}

void DKAMessageStream::Announce(ByteView message)
{
    const std::uint32_t commandID = static_cast<std::uint32_t>(message[0]) | static_cast<std::uint32_t>(message[1]) << 8 |
                                    static_cast<std::uint32_t>(message[2]) << 16 |
                                    static_cast<std::uint32_t>(message[3]) << 24;
    const std::string name = GetCommandName(commandID);
    try {
        std::shared_ptr<DKACommand> command = CreateCommand(commandID);
        // Exactly this message's bytes: a short payload never reads into the next message.
        command->Deserialize(message);
        if (commandID != DKA_HEARTBEAT)
            AGENT_LOG(kzb::log::Message, "Received %s from %s [%s]", name.c_str(), m_peerName.c_str(),
                    command->ToString().c_str());
        CommandReceived(command);
    } catch (const std::exception& error) {
        AGENT_LOG(kzb::log::Error, "Read %s failed. Exception: %s", name.c_str(), error.what());
    }
}

void DKAMessageStream::SendStep(const DKACommandPtr& command)
{
    const std::string name = GetCommandName(command->GetCommandID());
    try {
        const ByteArray image = command->Serialize();
        if (!m_stream->Write(image)) {
            AGENT_LOG(kzb::log::Error, "Failed to send %s to %s.", name.c_str(), m_peerName.c_str());
            Stop();
            Closed();
            return;
        }
        if (command->GetCommandID() != DKA_HEARTBEAT)
            AGENT_LOG(kzb::log::Message, "Sent %s to %s [%s]", name.c_str(), m_peerName.c_str(),
                    command->ToString().c_str());
    } catch (const std::exception& error) {
        AGENT_LOG(kzb::log::Error, "Failed to send %s to %s. Exception: %s", name.c_str(), m_peerName.c_str(),
                error.what());
    }
}

DKACommandPtr DKAMessageStream::TakeQueued()
{
    MutexLock lock(&m_queueMutex);
    if (m_queue.empty())
        return nullptr;
    DKACommandPtr command = std::move(m_queue.front());
    m_queue.pop_front();
    return command;
}

bool DKAMessageStream::WaitForWork()
{
    if (!IsRunning() || m_stream->HasBufferedData())
        return true;
    {
        MutexLock lock(&m_queueMutex);
        if (!m_queue.empty())
            return true;
    }
    // Where the socket cannot give up on unacknowledged data by itself, look once a second,
    // and only while some is outstanding: an idle connection still sleeps.
    int timeoutMs = -1;
    if (m_stream->WatchesDelivery()) {
        const auto now = std::chrono::steady_clock::now();
        if (net::UnacknowledgedBytes(m_stream->GetSocket()) > 0) {
            if (!m_unacknowledgedSince)
                m_unacknowledgedSince = now;
            else if (now - *m_unacknowledgedSince >= UnacknowledgedLimit)
                return false;
            timeoutMs = 1000;
        } else {
            m_unacknowledgedSince.reset();
        }
    }
    net::PollItem items[2] = {{m_stream->GetSocket(), true, false}, {m_waker.ReadEnd(), true, false}};
    net::Poll(items, timeoutMs);
    if (items[1].readable)
        m_waker.Drain();
    return true;
}
