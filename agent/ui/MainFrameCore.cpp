#include "MainFrameCore.h"

#include "Registry.h"

#include "handlers/GeneralMessageHandler.h"

#include "Log.h"

#include <algorithm>
#include <sstream>

std::vector<std::string> ParseRecorderAddresses(const std::string& text)
{
    std::string unquoted = text;
    unquoted.erase(std::remove(unquoted.begin(), unquoted.end(), '"'), unquoted.end());
    std::istringstream words(unquoted);
    std::vector<std::string> addresses;
    for (std::string word; words >> word;)
        addresses.push_back(word);
    return addresses;
}

RecorderSettings ReadRecorderSettings(const std::vector<std::string>& givenAddresses)
{
    RecorderSettings settings;
    CRegistry registry;
    std::string text;
    if (!givenAddresses.empty())
        settings.addresses = givenAddresses;
    else if (registry.ReadText(CRegistry::Root::LocalMachine, "RecorderAddress", text, 130))
        settings.addresses = ParseRecorderAddresses(text);
    else
        AGENT_LOG(kzb::log::Error, "Could not acquire recorder IP address(es) from registry.");
    settings.updateModeSet = registry.ReadText(CRegistry::Root::LocalMachine, "UpdateMode", settings.updateMode, 128);
    if (!settings.updateModeSet)
        settings.updateMode.clear();
    const auto readText = [&registry](const char* valueName, std::size_t bufferSize) {
        std::string value;
        if (!registry.ReadText(CRegistry::Root::LocalMachine, valueName, value, bufferSize))
            value.clear();
        return value;
    };
    settings.connection.certificatePath = readText("ClientCertificatePath", 260);
    settings.connection.certificatePassword = readText("ClientCertificatePassword", 128);
    settings.connection.authorityPath = readText("ServerCertificateAuthorityPath", 260);
    settings.terminalNaming = registry.ReadNumber(CRegistry::Root::LocalMachine, "TerminalNaming", 0) == 1;
    return settings;
}

CMainFrameCore::CMainFrameCore(kzb::Clock& clock) : m_clock(clock)
{
    m_statusTable.SetChangeObserver([this] { NotifyChange(); });
}

CMainFrameCore::~CMainFrameCore()
{
    Shutdown();
    m_statusTable.SetChangeObserver(nullptr);
}

bool CMainFrameCore::Start(const RecorderSettings& settings)
{
    const std::size_t count = settings.addresses.size();
    if (count == 0) {
        AGENT_LOG(kzb::log::Error, "No recorder address acquired from registry!");
        return false;
    }
    if (count <= MaximumRecorders)
        AGENT_LOG(kzb::log::Info, "%zu recorder address%s acquired from registry.", count, count > 1 ? "es" : "");
    else
        AGENT_LOG(kzb::log::Warning, "%zu recorder addresses acquired from registry. Only the first %lu will be used.",
                count, static_cast<unsigned long>(MaximumRecorders));
    m_updateMode = settings.updateMode;
    if (settings.updateModeSet)
        AGENT_LOG(kzb::log::Print, "Recorder UpdateMode: %s", m_updateMode.c_str());
    else
        AGENT_LOG(kzb::log::Print, "Recorder UpdateMode not set in registry.");
    m_lastActiveRecorder.store(1);

    for (std::uint32_t recorder = 1; recorder <= std::min(count, MaximumRecorders); ++recorder) {
        const std::string& address = settings.addresses[recorder - 1];
        AGENT_LOG(kzb::log::Info, "Recorder %lu: Address: '%s'", static_cast<unsigned long>(recorder), address.c_str());
        m_statusTable.AddEntry(recorder, address);
        auto handler = std::make_unique<CGeneralMessageHandler>(*this, recorder, address, settings, m_clock);
        handler->Start();
        m_statusTable.Set(recorder, &RecorderStatus::connectionStatus, ConnectionStatus::NotConnected);
        m_statusTable.Set(recorder, &RecorderStatus::handlerActive, true);
        m_handlers[recorder] = std::move(handler);
    }
    return true;
}

bool CMainFrameCore::Supervise()
{
    for (const auto& [recorder, handler] : m_handlers) {
        if ((recorder != 1 && recorder != 2) || !m_statusTable.Get(recorder, &RecorderStatus::handlerActive))
            continue;
        if (handler->IsTerminated()) {
            m_statusTable.Set(recorder, &RecorderStatus::connectionStatus, ConnectionStatus::NoLongerAttempting);
            m_statusTable.Set(recorder, &RecorderStatus::handlerActive, false);
        } else if (!handler->IsRunning()) {
            AGENT_LOG(kzb::log::Error, "Restarting GMH%d thread\n", static_cast<int>(recorder));
            try {
                handler->Start();
            } catch (const std::exception& error) {
                AGENT_LOG(kzb::log::Error, "GMH%d thread could not be started: %s", static_cast<int>(recorder),
                        error.what());
            }
        }
    }
    if (!m_statusTable.AnyHandlerActive()) {
        AGENT_LOG(kzb::log::Error, "No GMH running - closing Voralis application\n");
        return false;
    }
    return true;
}

bool CMainFrameCore::RestartPending() const
{
    for (const auto& [recorder, handler] : m_handlers) {
        if ((recorder == 1 || recorder == 2) && m_statusTable.Get(recorder, &RecorderStatus::handlerActive) &&
            !handler->IsTerminated() && !handler->IsRunning())
            return true;
    }
    return false;
}

void CMainFrameCore::Shutdown()
{
    for (auto& [recorder, handler] : m_handlers) {
        if (handler->IsRunning()) {
            handler->Stop();
            handler->Join();
        }
        handler.reset();
    }
    m_handlers.clear();
}

void CMainFrameCore::WaitForChange(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(m_changeMutex);
    m_changeCondition.wait_for(lock, timeout, [this] { return m_changed; });
    m_changed = false;
}

void CMainFrameCore::NotifyChange()
{
    {
        std::lock_guard<std::mutex> lock(m_changeMutex);
        m_changed = true;
    }
    m_changeCondition.notify_all();
    std::lock_guard<std::mutex> lock(m_listenerMutex);
    if (m_changeListener)
        m_changeListener();
}

void CMainFrameCore::SetChangeListener(std::function<void()> listener)
{
    std::lock_guard<std::mutex> lock(m_listenerMutex);
    m_changeListener = std::move(listener);
}

void CMainFrameCore::SetConnectionStatus(std::uint32_t recorder, std::uint32_t status)
{
    m_statusTable.Set(recorder, &RecorderStatus::connectionStatus, status);
    if (status != ConnectionStatus::Connected)
        SetCallState(recorder, 0);
}

void CMainFrameCore::SetCallState(std::uint32_t recorder, std::uint32_t state)
{
    if (recorder != 1 && recorder != 2)
        return;
    m_statusTable.Set(recorder, &RecorderStatus::callState, state);
    m_recordOnDemandDialog.UpdateStateText();
    NotifyChange();
}

void CMainFrameCore::SetStateTimeout(std::uint32_t recorder, std::uint32_t seconds)
{
    m_statusTable.Set(recorder, &RecorderStatus::stateTimeout, seconds);
}

void CMainFrameCore::OnSessionEnded(std::uint32_t)
{
    NotifyChange();
}

CGeneralMessageHandler* CMainFrameCore::GetSession(std::uint32_t recorder) const
{
    const auto found = m_handlers.find(recorder);
    return found == m_handlers.end() ? nullptr : found->second.get();
}
