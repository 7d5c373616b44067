#pragma once

#include "Clock.h"
#include "CommandSink.h"
#include "ConnectionSettings.h"
#include "DKAMessageStream.h"
#include "Thread.h"

#include <boost/signals2/signal.hpp>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

// Keeps one recorder connected: connects (TLS when a client certificate is configured),
// retries every 5 seconds, sends a heartbeat after more than 10 seconds without sending,
// and reconnects after a loss. The thread sleeps until its next deadline or a wake-up.
class CTCPComms : public CThread
{
public:
    static constexpr std::uint16_t DefaultPort = DefaultRecorderPort;
    static constexpr std::int64_t RetryInterval = 5;
    static constexpr std::int64_t HeartbeatIdle = 10;
    static constexpr std::int64_t ReconnectDelay = 30;

    // Does not start the thread.
    explicit CTCPComms(ConnectionSettings settings = {}, kzb::Clock& clock = kzb::SystemClock::Instance());
    ~CTCPComms() override;

    // (Re)starts the thread for this recorder. The port is 6471 but for tests.
    void Initialize(ICommandSink* owner, std::uint32_t recorderNumber, const std::string& address,
                    std::uint16_t port = DefaultPort);
    // Queues a command for the recorder; dropped with a warning while not connected. Any
    // thread; never waits for a connection attempt.
    void Send(const DKACommandPtr& command);
    // Drops the connection now and connects again 30 seconds later, without ConnectionLost.
    void ScheduleReconnect();
    void Stop() override;
    // Stops the thread, forgets the owner and drops the connection: afterwards nothing of
    // this object calls the owner or emits a signal.
    void Close();

    // On this object's thread after each connection.
    boost::signals2::signal<void()> ConnectionEstablished;
    // On the stream's thread when the connection fails; on this thread when it ends connected.
    boost::signals2::signal<void()> ConnectionLost;

private:
    unsigned Run() override;
    void ConnectionStep();
    bool HasStream() const;
    void DropStream();
    void OnStreamClosed();
    std::int64_t NextDeadline() const;
    void Wake();

    kzb::Clock& m_clock;
    std::string m_address;
    const ConnectionSettings m_settings;
    // Held by each pass of the thread, connection attempts included.
    kzb::Mutex m_commsMutex;
    // Guards only the stream pointer, so that Send never waits behind a connection attempt.
    // Taken after the comms mutex, never held while a stream is destroyed.
    mutable std::mutex m_streamMutex;
    std::unique_ptr<DKAMessageStream> m_stream;
    std::atomic<ICommandSink*> m_owner{nullptr};
    std::int64_t m_lastAttemptTime = 0;
    std::atomic<std::int64_t> m_lastSendTime{0};
    std::uint32_t m_failedAttempts = 0;
    std::atomic<std::uint32_t> m_recorderNumber{0};
    std::uint16_t m_port = DefaultPort;
    std::atomic<bool> m_reconnectNeeded{true};

    kzb::net::Waker m_stopSignal; // abandons a connection attempt under way when stopping
    std::mutex m_wakeMutex;
    std::condition_variable m_wakeCondition;
    bool m_wakeRequested = false;
};
