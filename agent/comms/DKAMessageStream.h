#pragma once

#include "MessageFramer.h"
#include "Net.h"
#include "NetworkStream.h"
#include "Thread.h"
#include "protocol/DKACommand.h"

#include <boost/signals2/signal.hpp>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// Turns one connected network stream into commands both ways. Its thread reads and parses
// whatever arrives and sends the queued commands one at a time, in order; it sleeps until
// the socket is readable, a command is queued or Stop is called.
class DKAMessageStream : public CThread
{
public:
    // Observers connected before the thread reads anything, so that no command is missed.
    struct Observers
    {
        std::function<void(const DKACommandPtr&)> commandReceived;
        std::function<void()> closed;
    };

    // Starts the thread.
    explicit DKAMessageStream(std::shared_ptr<NetworkStream> stream, const Observers& observers = {});
    ~DKAMessageStream() override;

    // Sent later by the stream's thread, in queue order. Any thread.
    void QueueCommand(const DKACommandPtr& command);
    void Stop() override;

    // On the stream's thread: each received command, in arrival order.
    boost::signals2::signal<void(const DKACommandPtr&)> CommandReceived;
    // On the stream's thread: a read or write failed; the thread is stopping.
    boost::signals2::signal<void()> Closed;

    static constexpr std::size_t ReadSize = MessageFramer::MaxMessageSize;
    // The delivery watch gives up on data unacknowledged this long. Shorter than the socket's
    // own bound, since idle probes under Wine take 11 s and a heartbeat may go out meanwhile.
    static constexpr std::chrono::seconds UnacknowledgedLimit{5};

private:
    unsigned Run() override;
    bool ReadStep();
    void Announce(ByteView message);
    void SendStep(const DKACommandPtr& command);
    DKACommandPtr TakeQueued();
    // False when the delivery watch finds the peer gone.
    bool WaitForWork();

    kzb::Mutex m_queueMutex;
    std::deque<DKACommandPtr> m_queue;
    std::shared_ptr<NetworkStream> m_stream;
    std::string m_peerName;
    MessageFramer m_framer;
    kzb::net::Waker m_waker;
    // Since when sent bytes have stayed unacknowledged (delivery watch only).
    std::optional<std::chrono::steady_clock::time_point> m_unacknowledgedSince;
};
