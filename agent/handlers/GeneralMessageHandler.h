#pragma once

#include "MessageHandler.h"
#include "SessionHost.h"
#include "SessionSettings.h"

#include "comms/Clock.h"
#include "comms/CommandSink.h"

#include <boost/signals2/connection.hpp>

#include <atomic>
#include <memory>
#include <string>

class CFeatureMessageHandler;
class CPCISuppressionHandler;
class CAnnotationHandler;
class CManualSuppressionHandler;
class CRecordOnDemandHandler;

// The conversation with one recorder: owns its connection, answers the session commands
// (identification, task list, call state, state time-out, shutdown notice) and passes
// feature commands to the feature handlers that the task list asks for.
class CGeneralMessageHandler : public CMessageHandler, public ICommandSink
{
public:
    // The connection, the port and the host name come from the settings; their addresses are not used.
    CGeneralMessageHandler(ISessionHost& host, std::uint32_t recorderNumber, std::string address,
                           const RecorderSettings& settings, kzb::Clock& clock = kzb::SystemClock::Instance());
    ~CGeneralMessageHandler() override;

    // The connection's commands, on the message stream's thread.
    void AppendCommand(const DKACommandPtr& command) override { PostCommand(command); }

    // False only with the update mode "ActiveOnly" for a recorder other than the last active one.
    bool IsUpdateAllowed(std::uint32_t recorderNumber) const;
    // The recorder told this workstation to stop (another connection of the same client).
    bool IsTerminated() const { return m_terminated.load(); }
    const std::string& GetAddress() const { return m_address; }

private:
    unsigned Run() override;
    void Dispatch(const DKACommandPtr& command);
    void SendID();
    void HandleTasks(std::uint32_t mask);
    void HandleServerShutdown(std::uint32_t reason);
    void DestroyFeatureHandlers();
    // Posts a feature command to its handler; without one, logs "Detected <withoutTask> task list".
    void Forward(CFeatureMessageHandler* handler, const DKACommandPtr& command, const char* withoutTask);
    void OnConnectionEstablished();
    void OnConnectionLost();

    boost::signals2::scoped_connection m_establishedConnection;
    boost::signals2::scoped_connection m_lostConnection;
    ISessionHost& m_host;
    kzb::Clock& m_clock;
    std::unique_ptr<CPCISuppressionHandler> m_pciSuppressionHandler;
    std::unique_ptr<CManualSuppressionHandler> m_manualSuppressionHandler;
    std::unique_ptr<CAnnotationHandler> m_annotationHandler;
    std::unique_ptr<CRecordOnDemandHandler> m_recordOnDemandHandler;
    const std::string m_address;
    const std::uint16_t m_port;
    std::atomic<bool> m_terminated{false};
    // The recorder announced why it ends this connection; the loss that follows keeps the
    // status that the reason gave. Session thread only.
    bool m_shutdownAnnounced = false;
};
