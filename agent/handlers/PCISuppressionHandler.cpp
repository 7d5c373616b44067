#include "PCISuppressionHandler.h"

#include "Log.h"
#include "inspection/InspectionClock.h"
#include "inspection/InspectionSnapshot.h"
#include "protocol/ActionMessages.h"
#include "protocol/ClientID.h"
#include "ui/RecorderStatusTable.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

namespace {

const CFeatureMessageHandler::Feature PCISuppression{"CPCISuppressionHandler", DKA_GET_PCI_ID_CONFIG,
                                                     DKA_GET_PCI_SUPPRESSION_CONFIG, DKA_PCI_ID_CONFIG};

constexpr std::uint32_t DetermineIDFromWindowTitleType = 1;

} // namespace

CPCISuppressionHandler::CPCISuppressionHandler(std::uint32_t recorderNumber, CGeneralMessageHandler* owner,
                                               std::shared_ptr<CTCPComms> connection,
                                               RecorderStatusTable* statusTable,
                                               kzb::inspection::InspectionClock& inspections, kzb::Clock& clock)
    : CFeatureMessageHandler(recorderNumber, owner, std::move(connection), PCISuppression),
      m_statusTable(statusTable), m_inspections(inspections), m_clock(clock)
{
    AGENT_LOG(kzb::log::Info, "Recorder %lu - CPCISuppressionHandler object created",
            static_cast<unsigned long>(recorderNumber));
    SetSupportedIDTypes({});
}

CPCISuppressionHandler::~CPCISuppressionHandler()
{
    StopAndJoin();
    m_idDetectionMethods.clear();
    m_suppressionMethods.clear();
    AGENT_LOG(kzb::log::Info, "Recorder %u - CPCISuppressionHandler object destroyed", GetRecorderNumber());
}

// The triggers in force stay until new ones arrive: a payment window still open keeps its
// suppression, and one that went gets its End, whether or not the new triggers ever come.
void CPCISuppressionHandler::ResetConfiguration()
{
    m_idDetectionMethods.clear();
    SetAgentName({});
}

bool CPCISuppressionHandler::HandleIDConfig(const IDConfig& config)
{
    bool result = true;
    m_idDetectionMethods.clear();
    // A new ID configuration forgets the agent name, so that finding the same name again
    // still asks for the suppression configuration that was just dropped.
    SetAgentName({});
    if (const auto rule = config.GetRule()) {
        result = SetIDInfo(rule->GetIDType(), rule->GetMethods().size());
        if (result) {
            for (const auto& method : rule->GetMethods()) {
                m_idDetectionMethods.push_back(CopyIDDetectionMethod(method.get()));
                m_idDetectionMethods.back()->LogConfiguration();
            }
        }
    } else {
        AGENT_LOG(kzb::log::Error, "Recorder %u - DKA_PCI_ID_CONFIG contained no rule", GetRecorderNumber());
    }
    return result;
}

void CPCISuppressionHandler::HandleSuppressionConfig(const AutoSuppressionConfig& config)
{
    m_suppressionMethods.clear();
    const auto rule = config.GetRule();
    if (!rule) {
        AGENT_LOG(kzb::log::Error, "Recorder %u - DKA_PCI_SUPPRESSION_CONFIG contained no rule", GetRecorderNumber());
        return;
    }
    for (const auto& method : rule->GetMethods())
        m_suppressionMethods.push_back(CopyAutoSuppressionMethod(method.get()));
    if (m_suppressionMethods.empty()) {
        AGENT_LOG(kzb::log::Error,
                "Recorder %u - Number of Auto Suppression methods in passed message is not greater than zero. Ignoring "
                "message...",
                GetRecorderNumber());
        return;
    }
    for (const auto& method : m_suppressionMethods)
        method->LogConfiguration();
}

bool CPCISuppressionHandler::HandleCommand(const DKACommand& command)
{
    const std::uint32_t recorder = GetRecorderNumber();
    switch (command.GetCommandID()) {
    case DKA_PCI_ID_CONFIG:
        if (const auto* config = CommandAs<IDConfig>(command, recorder))
            return HandleIDConfig(*config);
        return false;
    case DKA_PCI_SUPPRESSION_CONFIG:
        if (const auto* config = CommandAs<AutoSuppressionConfig>(command, recorder)) {
            HandleSuppressionConfig(*config);
            // New triggers are judged at once, as a change of the desktop would be.
            m_inspections.DesktopChanged();
        }
        return false;
    case DKA_PCI_ID_CONFIG_UPDATED:
        RequestIDConfig();
        return false;
    case DKA_PCI_SUPPRESSION_CONFIG_UPDATED:
        RequestConfig();
        return false;
    default:
        AGENT_LOG(kzb::log::Error, "Recorder %u - PCI Suppression Handler passed message with unknown DKACMD header. Ignoring...",
                recorder);
        return false;
    }
}

bool CPCISuppressionHandler::DetectAgentName()
{
    std::string detected;
    bool found = false;
    for (const auto& method : m_idDetectionMethods) {
        if (method->GetType() != DetermineIDFromWindowTitleType) {
            AGENT_LOG(kzb::log::Error, "Recorder %u - Unknown PCI ID detection method (%lu) detected. Ignoring...",
                    GetRecorderNumber(), static_cast<unsigned long>(method->GetType()));
            continue;
        }
        if (method->DetectID()) {
            detected = method->GetDetectedID();
            found = true;
            break;
        }
    }
    if (!found || detected == GetAgentName())
        return false;
    SetAgentName(detected);
    return true;
}

unsigned CPCISuppressionHandler::Run()
{
    const std::uint32_t recorder = GetRecorderNumber();
    AGENT_LOG(kzb::log::Info, "Recorder %u - CPCISuppressionHandler thread started", recorder);
    Reinitialize();
    SuppressionState state;
    // Woken when the desktop changed; the moments themselves are the clock's.
    const auto member = m_inspections.Join([this] { Wake(); });
    while (IsRunning()) {
        // Commands are handled as they come; the desktop is inspected at each moment.
        const DKACommandPtr command = WaitForCommand(m_inspections.NextDue(*member));
        if (!IsRunning())
            break;
        const std::shared_ptr<kzb::inspection::CachingDesktop> moment =
            m_inspections.Take(*member, std::chrono::steady_clock::now());
        if (!command && !moment)
            continue;
        try {
            std::lock_guard<std::recursive_mutex> lock(m_configMutex);
            std::optional<kzb::inspection::InspectionSnapshot> snapshot;
            if (moment)
                snapshot.emplace(moment);
            bool request = command && HandleCommand(*command);
            if (GetIDType() == DKA::Agent_Name_To_Agent_ID) {
                // The name is looked for on screen; a new one asks for the configuration again.
                request = !m_idDetectionMethods.empty() && DetectAgentName();
            }
            if (request)
                RequestConfig();
            if (moment)
                Inspect(state);
        } catch (const std::exception& error) {
            AGENT_LOG(kzb::log::Error, "Recorder %u - CPCISuppressionHandler: %s", recorder, error.what());
        }
        if (moment)
            m_inspections.Inspected();
    }
    AGENT_LOG(kzb::log::Info, "Recorder %u - CPCISuppressionHandler thread stopped", recorder);
    return 0;
}

void CPCISuppressionHandler::Inspect(SuppressionState& state)
{
    bool fired = false;
    std::int64_t hold = 0; // milliseconds
    std::string reason;
    for (const auto& method : m_suppressionMethods) {
        if (!IsRunning())
            return; // stopping: the rest of the desktop is not worth a wait
        try {
            if (method->Check()) {
                fired = true;
                reason = method->GetTriggerDescription();
                hold = std::max(hold, std::int64_t{static_cast<std::int32_t>(method->GetMinimumSuppressionTime())} * 1000);
            }
        } catch (const std::exception& error) {
            AGENT_LOG(kzb::log::Error, "Failed to check auto-suppression method. %s", error.what());
        }
    }
    const std::uint32_t recorder = GetRecorderNumber();
    if (fired) {
        if (reason != m_suppressionReason) {
            AGENT_LOG(kzb::log::Info, "Auto Suppression Reason updated, from: %s to: %s", m_suppressionReason.c_str(),
                    reason.c_str());
            m_suppressionReason = reason;
            if (m_statusTable)
                m_statusTable->Set(recorder, &RecorderStatus::autoSuppressionTrigger, reason);
        }
        if (!m_suppressionActive) {
            state.endTime = Now() + hold;
            RequestSuppression(Suppression::Start);
            AGENT_LOG(kzb::log::Info, "Should suppress and suppression is not active, request begin suppression");
            m_suppressionActive = true;
        } else if (state.endPending) {
            state.endTime = Now() + hold;
            RequestSuppression(Suppression::Start);
            state.endPending = false;
        }
        return;
    }
    m_suppressionReason.clear();
    if (!m_suppressionActive)
        return;
    if (Now() < state.endTime) {
        state.endPending = true;
        return;
    }
    RequestSuppression(Suppression::End);
    AGENT_LOG(kzb::log::Info, "Should not suppress and suppression is active, request end suppression");
    m_suppressionActive = false;
    state.endTime = 0;
    state.endPending = false;
}

void CPCISuppressionHandler::RequestSuppression(Suppression::Action action)
{
    // An End names whom the Start named, even when the identity changed or can no longer
    // be found since: the recorder would keep suppressing for the first otherwise.
    const bool start = action == Suppression::Start;
    const ClientIdentity identity = start || m_suppressedAs.clientID.empty() ? GetClientIdentity() : m_suppressedAs;
    if (start)
        m_suppressedAs = identity;
    else
        m_suppressedAs = {};
    if (identity.clientID.empty())
        return;
    const std::uint32_t recorder = GetRecorderNumber();
    if (m_statusTable)
        m_statusTable->Set(recorder, &RecorderStatus::autoSuppressionState, start ? 2 : 1);
    if (start) {
        AGENT_LOG(kzb::log::Info, "Auto Suppression Enabled. Reason: %s", m_suppressionReason.c_str());
    } else {
        AGENT_LOG(kzb::log::Info, "Auto Suppression Cleared.");
        if (m_statusTable)
            m_statusTable->Set(recorder, &RecorderStatus::autoSuppressionTrigger, std::string());
    }
    Connection().Send(std::make_shared<SuppressMessage>(identity.idType, identity.clientID, action));
}

std::int64_t CPCISuppressionHandler::Now() const
{
    return m_clock.NowMilliseconds();
}
