#include "GeneralMessageHandler.h"

#include "Identity.h"

#include "AnnotationHandler.h"
#include "ManualSuppressionHandler.h"
#include "PCISuppressionHandler.h"
#include "RecordOnDemandHandler.h"

#include "Log.h"
#include "protocol/SessionMessages.h"
#include "ui/RecorderStatusTable.h"

#include <algorithm>
#include <iterator>

CGeneralMessageHandler::CGeneralMessageHandler(ISessionHost& host, std::uint32_t recorderNumber, std::string address,
                                               const RecorderSettings& settings, kzb::Clock& clock)
    : CMessageHandler(recorderNumber, std::make_shared<CTCPComms>(settings.connection, clock),
                      DetermineHostName(settings.terminalNaming)),
      m_host(host), m_clock(clock), m_address(std::move(address)), m_port(settings.port)
{
    m_establishedConnection = Connection().ConnectionEstablished.connect([this] { OnConnectionEstablished(); });
    m_lostConnection = Connection().ConnectionLost.connect([this] { OnConnectionLost(); });
    AGENT_LOG(kzb::log::Info, "Recorder %u - CGeneralMessageHandler object created, Address '%s'", recorderNumber,
            m_address.c_str());
    m_host.SetCallState(recorderNumber, 0);
}

CGeneralMessageHandler::~CGeneralMessageHandler()
{
    // Nothing of this object may run on its own thread or be called by the connection's
    // threads while it goes.
    StopAndJoin();
    Connection().Close();
    DestroyFeatureHandlers();
    AGENT_LOG(kzb::log::Info, "Recorder %u - CGeneralMessageHandler object destroyed, Address '%s'", GetRecorderNumber(),
            m_address.c_str());
    m_establishedConnection.disconnect();
    m_lostConnection.disconnect();
}

bool CGeneralMessageHandler::IsUpdateAllowed(std::uint32_t recorderNumber) const
{
    return recorderNumber == m_host.GetLastActiveRecorder() || m_host.GetUpdateMode() != "ActiveOnly";
}

unsigned CGeneralMessageHandler::Run()
{
    const std::uint32_t recorder = GetRecorderNumber();
    AGENT_LOG(kzb::log::Info, "Recorder %u - CGeneralMessageHandler thread started", recorder);
    Connection().Initialize(this, recorder, m_address, m_port);
    while (IsRunning()) {
        const DKACommandPtr command = WaitForCommand();
        if (!command)
            continue;
        m_host.SetLastActiveRecorder(recorder);
        try {
            Dispatch(command);
        } catch (const std::exception& error) {
            AGENT_LOG(kzb::log::Error, "Recorder %u - %s", recorder, error.what());
        }
    }
    AGENT_LOG(kzb::log::Info, "Recorder %u - CGeneralMessageHandler thread stopped", recorder);
    m_host.OnSessionEnded(recorder);
    return 0;
}

void CGeneralMessageHandler::Forward(CFeatureMessageHandler* handler, const DKACommandPtr& command,
                                     const char* withoutTask)
{
    if (handler != nullptr)
        handler->PostCommand(command);
    else
        AGENT_LOG(kzb::log::Error, "Recorder %u - Detected %s task list. Ignoring task.", GetRecorderNumber(), withoutTask);
}

void CGeneralMessageHandler::Dispatch(const DKACommandPtr& command)
{
    const std::uint32_t recorder = GetRecorderNumber();
    const std::uint32_t id = command->GetCommandID();
    switch (id) {
    case DKA_SERVER_SHUTDOWN:
        if (const auto* message = CommandAs<StateMessage>(*command, recorder))
            HandleServerShutdown(message->GetState());
        return;
    case DKA_TASKS:
        if (const auto* message = CommandAs<Tasks>(*command, recorder))
            HandleTasks(message->GetMask());
        return;
    case DKA_TASKS_UPDATED:
        SendID();
        return;
    case DKA_CALL_STATE:
        if (const auto* message = CommandAs<StateMessage>(*command, recorder))
            m_host.SetCallState(recorder, message->GetState());
        return;
    case DKA_STATE_TIMEOUT:
        if (const auto* message = CommandAs<StateTimeout>(*command, recorder))
            m_host.SetStateTimeout(recorder, message->GetTimeout());
        return;
    case DKAINT_COMMS_CONNECTION_ESTABLISHED:
        m_shutdownAnnounced = false;
        SendID();
        return;
    case DKAINT_COMMS_CONNECTION_LOST:
        DestroyFeatureHandlers();
        // A recorder that announced its shutdown closes the connection next: the status of
        // the reason (e.g. invalid configuration) stays until the next connection.
        if (!m_shutdownAnnounced)
            m_host.SetConnectionStatus(recorder, ConnectionStatus::NotConnected);
        return;
    default:
        break;
    }
    if (id >= DKA_PCI_ID_CONFIG && id <= DKA_PCI_SUPPRESSION_CONFIG_UPDATED)
        Forward(m_pciSuppressionHandler.get(), command,
                "Auto Suppression related message without receiving Auto Suppression");
    else if (id >= DKA_ANNOTATION_ID_CONFIG && id <= DKA_ANNOTATION_CONFIG_UPDATED)
        Forward(m_annotationHandler.get(), command, "Annotation related message without receiving Annotation");
    else if (id >= DKA_MANUAL_SUPPRESSION_ID_CONFIG && id <= DKA_MANUAL_SUPPRESSION_CONFIG_UPDATED)
        Forward(m_manualSuppressionHandler.get(), command,
                "Manual Suppression related message without receiving Manual Suppression");
    else if (id >= DKA_RECORD_ON_DEMAND_ID_CONFIG && id <= DKA_RECORD_ON_DEMAND_DEFAULT_STATE)
        Forward(m_recordOnDemandHandler.get(), command,
                "Record on Demand-related message without receiving Record on Demand");
    else
        AGENT_LOG(kzb::log::Error, "Recorder %u - Incoming DKACMD message header (%lu) not recognized. Ignoring...",
                recorder, static_cast<unsigned long>(id));
}

void CGeneralMessageHandler::SendID()
{
    Connection().Send(std::make_shared<ID>(GetHostName(), GetUserName()));
}

namespace {

// One feature's handler as a task list asks: created, reinitialised or destroyed.
template <typename Handler, typename Create>
void ApplyTask(std::unique_ptr<Handler>& handler, bool wanted, std::uint32_t recorder, const char* name,
               Create create)
{
    if (wanted && handler) {
        AGENT_LOG(kzb::log::Info, "Recorder %u - DKA_TASKS message: Reinitializing %s Handler", recorder, name);
        handler->Reinitialize();
    } else if (wanted) {
        AGENT_LOG(kzb::log::Info, "Recorder %u - DKA_TASKS message: Creating New %s Handler", recorder, name);
        handler = create();
        handler->Start();
    } else if (handler) {
        AGENT_LOG(kzb::log::Info, "Recorder %u - DKA_TASKS message: Destroying %s Handler", recorder, name);
        handler.reset();
    }
}

} // namespace

void CGeneralMessageHandler::HandleTasks(std::uint32_t mask)
{
    const std::uint32_t recorder = GetRecorderNumber();
    ApplyTask(m_pciSuppressionHandler, (mask & DKA::Task_PCI_Suppression) != 0, recorder, "Suppression", [&] {
        return std::make_unique<CPCISuppressionHandler>(recorder, this, SharedConnection(), &m_host.GetStatusTable(),
                                                        m_host.GetInspectionClock(), m_clock);
    });
    ApplyTask(m_annotationHandler, (mask & DKA::Task_Annotation) != 0, recorder, "Annotation", [&] {
        auto handler = std::make_unique<CAnnotationHandler>(recorder, this, SharedConnection());
        handler->AttachDialog(m_host.GetAnnotationDialog());
        return handler;
    });
    ApplyTask(m_manualSuppressionHandler, (mask & DKA::Task_Manual_Suppression) != 0, recorder, "Manual Suppression",
              [&] {
                  auto handler = std::make_unique<CManualSuppressionHandler>(recorder, this, SharedConnection());
                  handler->AttachDialog(m_host.GetManualSuppressionDialog());
                  return handler;
              });
    ApplyTask(m_recordOnDemandHandler, (mask & DKA::Task_Record_On_Demand) != 0, recorder, "Record on Demand", [&] {
        auto handler = std::make_unique<CRecordOnDemandHandler>(recorder, this, SharedConnection());
        handler->AttachDialog(m_host.GetRecordOnDemandDialog());
        return handler;
    });
    m_host.GetStatusTable().Set(recorder, &RecorderStatus::connectionStatus, ConnectionStatus::Connected);
}

void CGeneralMessageHandler::DestroyFeatureHandlers()
{
    m_pciSuppressionHandler.reset();
    m_annotationHandler.reset();
    m_manualSuppressionHandler.reset();
    m_recordOnDemandHandler.reset();
}

namespace {

// Why a recorder ends the connection, and the status it leaves.
struct DisconnectReason
{
    std::uint32_t reason;
    int level;
    const char* why; // "Recorder %u - Disconnecting because the DKA CTI Server <why>."
    std::uint32_t status;
};

constexpr DisconnectReason DisconnectReasons[] = {
    {DKA::SSR_Client_Timed_Out, kzb::log::Warning, "has timed out", ConnectionStatus::NotConnected},
    {DKA::SSR_Server_Shutting_Down, kzb::log::Warning, "is shutting down", ConnectionStatus::NotConnected},
    {DKA::SSR_Socket_Error, kzb::log::Error, "has detected a socket error", ConnectionStatus::NotConnected},
    {DKA::SSR_Bad_Message, kzb::log::Error, "received a bad message from this client", ConnectionStatus::NotConnected},
    {DKA::SSR_Client_Not_Found, kzb::log::Error, "could not find this client or add it to its configuration",
     ConnectionStatus::NotConnected},
    {DKA::SSR_Invalid_Client_Configuration, kzb::log::Warning, "has invalid configuration data for this client",
     ConnectionStatus::InvalidConfiguration},
};

} // namespace

void CGeneralMessageHandler::HandleServerShutdown(std::uint32_t reason)
{
    DestroyFeatureHandlers();
    const std::uint32_t recorder = GetRecorderNumber();
    if (reason == DKA::SSR_Multiple_Client_Connections) {
        AGENT_LOG(kzb::log::Warning,
                "Recorder %u - Terminating because the DKA CTI Server sent us a shutdown message with reason "
                "SSR_Multiple_Client_Connections",
                recorder);
        m_terminated.store(true);
        Stop();
        // Nobody reads this session's queue any more: a connection left running would
        // reconnect and fill it all day.
        Connection().Close();
        return;
    }
    std::uint32_t status = ConnectionStatus::NotConnected;
    const auto known = std::find_if(std::begin(DisconnectReasons), std::end(DisconnectReasons),
                                    [reason](const DisconnectReason& entry) { return entry.reason == reason; });
    if (known != std::end(DisconnectReasons)) {
        AGENT_LOG(known->level, "Recorder %u - Disconnecting because the DKA CTI Server %s.", recorder, known->why);
        status = known->status;
    } else {
        AGENT_LOG(kzb::log::Error,
                "Recorder %u - Disconnecting because the DKA CTI Server has given an unknown disconnect reason (%u).",
                recorder, reason);
    }
    m_shutdownAnnounced = true;
    Connection().ScheduleReconnect();
    m_host.SetConnectionStatus(recorder, status);
}

void CGeneralMessageHandler::OnConnectionEstablished()
{
    PostCommand(std::make_shared<DKACommand>(DKAINT_COMMS_CONNECTION_ESTABLISHED));
}

void CGeneralMessageHandler::OnConnectionLost()
{
    PostCommand(std::make_shared<DKACommand>(DKAINT_COMMS_CONNECTION_LOST));
}
