#include "TCPComms.h"

#include "Log.h"
#include "TLSClient.h"
#include "TCPClient.h"

#include <exception>

CTCPComms::CTCPComms(ConnectionSettings settings, kzb::Clock& clock) : m_clock(clock), m_settings(std::move(settings))
{
    AGENT_LOG(kzb::log::Error, "CTCPComms object created - Recorder not yet assigned");
}

CTCPComms::~CTCPComms()
{
    Stop();
    Join();
    AGENT_LOG(kzb::log::Error, "Recorder %u - CTCPComms object destroyed", m_recorderNumber.load());
    DropStream();
}

void CTCPComms::Initialize(ICommandSink* owner, std::uint32_t recorderNumber, const std::string& address,
                           std::uint16_t port)
{
    if (IsRunning()) {
        Stop();
        Join();
    }
    {
        MutexLock lock(&m_commsMutex);
        m_recorderNumber = recorderNumber;
        m_owner = owner;
        m_address = address;
        m_failedAttempts = 0;
        m_port = port;
    }
    AGENT_LOG(kzb::log::Error, "Recorder %u - CTCPComms object Initialized '%s:%hu'", recorderNumber, address.c_str(),
            port);
    if (!m_settings.certificatePath.empty() && m_settings.authorityPath.empty())
        AGENT_LOG(kzb::log::Warning,
                "Recorder %u - The recorder's certificate is not verified: no ServerCertificateAuthorityPath is set",
                recorderNumber);
    {
        std::lock_guard<std::mutex> guard(m_wakeMutex);
        m_wakeRequested = false;
    }
    m_stopSignal.Drain();
    Start();
}

void CTCPComms::Send(const DKACommandPtr& command)
{
    {
        std::lock_guard<std::mutex> lock(m_streamMutex);
        if (m_stream) {
            m_stream->QueueCommand(command);
            m_lastSendTime = m_clock.Now();
            return;
        }
    }
    AGENT_LOG(kzb::log::Warning, "Recorder %u - Not connected, dropping %s", m_recorderNumber.load(),
            GetCommandName(command->GetCommandID()).c_str());
}

void CTCPComms::ScheduleReconnect()
{
    {
        MutexLock lock(&m_commsMutex);
        m_lastAttemptTime = m_clock.Now() - RetryInterval + ReconnectDelay;
        m_reconnectNeeded = true;
    }
    Wake();
}

void CTCPComms::Stop()
{
    CThread::Stop();
    m_stopSignal.Signal();
    Wake();
}

void CTCPComms::Close()
{
    Stop();
    Join();
    m_owner = nullptr;
    MutexLock lock(&m_commsMutex);
    DropStream();
}

bool CTCPComms::HasStream() const
{
    std::lock_guard<std::mutex> lock(m_streamMutex);
    return m_stream != nullptr;
}

void CTCPComms::Wake()
{
    {
        std::lock_guard<std::mutex> guard(m_wakeMutex);
        m_wakeRequested = true;
    }
    m_wakeCondition.notify_all();
}

unsigned CTCPComms::Run()
{
    const std::uint32_t recorder = m_recorderNumber;
    AGENT_LOG(kzb::log::Info, "Recorder %u - TCPComms thread started", recorder);
    while (IsRunning()) {
        std::int64_t deadline;
        {
            MutexLock lock(&m_commsMutex);
            if (m_reconnectNeeded) {
                DropStream();
                ConnectionStep();
            } else if (m_clock.Now() > m_lastSendTime + HeartbeatIdle) {
                Send(CreateCommand(DKA_HEARTBEAT));
            }
            deadline = NextDeadline();
        }
        if (!IsRunning())
            break;
        std::unique_lock<std::mutex> wait(m_wakeMutex);
        m_clock.WaitUntil(wait, m_wakeCondition, deadline, [this] { return m_wakeRequested; });
        m_wakeRequested = false;
    }
    if (HasStream())
        ConnectionLost();
    AGENT_LOG(kzb::log::Info, "Recorder %u - TCPComms thread stopped", recorder);
    return 0;
}

std::int64_t CTCPComms::NextDeadline() const
{
    // Whole seconds, as the checks: the heartbeat goes on the first second past the idle time.
    return m_reconnectNeeded ? m_lastAttemptTime + RetryInterval : m_lastSendTime + HeartbeatIdle + 1;
}

void CTCPComms::DropStream()
{
    std::unique_ptr<DKAMessageStream> stream;
    {
        std::lock_guard<std::mutex> lock(m_streamMutex);
        stream = std::move(m_stream);
    }
    // The stream's destructor stops and joins its thread; that thread never takes the comms
    // mutex, and Send meanwhile finds no stream and drops.
    stream.reset();
}

void CTCPComms::ConnectionStep()
{
    if (HasStream())
        return;
    const std::int64_t now = m_clock.Now();
    if (m_lastAttemptTime != 0 && now < m_lastAttemptTime + RetryInterval)
        return;
    m_lastAttemptTime = now;
    const std::uint32_t recorder = m_recorderNumber;
    if (m_address.empty()) {
        AGENT_LOG(kzb::log::Error, "Recorder %u - No IP Address to connect to defined.", recorder);
        CThread::Stop();
        return;
    }
    if (m_failedAttempts == 0)
        AGENT_LOG(kzb::log::Error, "Recorder %u - Attempting to connect DKA CTI Server at '%s:%hu'", recorder,
                m_address.c_str(), m_port);
    try {
        std::unique_ptr<SocketClient> client;
        if (!m_settings.certificatePath.empty())
            client = std::make_unique<TLSClient>(m_settings.certificatePath, m_settings.certificatePassword, m_settings.authorityPath);
        else
            client = std::make_unique<TCPClient>();
        client->SetCancel(m_stopSignal.ReadEnd());
        client->Connect(m_address, m_port);

        // Cleared before the stream exists, so that a loss reported at once is not overwritten.
        m_reconnectNeeded = false;
        try {
            DKAMessageStream::Observers observers;
            observers.commandReceived = [this](const DKACommandPtr& command) {
                if (ICommandSink* owner = m_owner.load())
                    owner->AppendCommand(command);
            };
            observers.closed = [this] { OnStreamClosed(); };
            auto stream = std::make_unique<DKAMessageStream>(client->GetStream(), observers);
            std::lock_guard<std::mutex> lock(m_streamMutex);
            m_stream = std::move(stream);
        } catch (...) {
            m_reconnectNeeded = true;
            throw;
        }
        AGENT_LOG(kzb::log::Error, "Recorder %u - Connected to DKA CTI Server at '%s:%hu' after %u attempts", recorder,
                m_address.c_str(), m_port, m_failedAttempts);
        m_failedAttempts = 0;
        ConnectionEstablished();
    } catch (const std::exception& error) {
        AGENT_LOG(kzb::log::Error, "Failed to start Client Connection: %s. Retrying...", error.what());
        ++m_failedAttempts;
    }
}

void CTCPComms::OnStreamClosed()
{
    AGENT_LOG(kzb::log::Error, "Recorder %u - Socket error. Closing socket...", m_recorderNumber.load());
    m_reconnectNeeded = true;
    Wake();
    ConnectionLost();
}
