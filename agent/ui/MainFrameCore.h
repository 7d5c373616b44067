#pragma once

#include "AnnotationDialogModel.h"
#include "ManualSuppressionDialogModel.h"
#include "RecordOnDemandDialogModel.h"
#include "RecorderStatusTable.h"

#include "comms/Clock.h"
#include "handlers/SessionSettings.h"
#include "handlers/SessionHost.h"
#include "inspection/InspectionClock.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CGeneralMessageHandler;


// "RecorderAddress": double quotes removed, words separated by white space.
std::vector<std::string> ParseRecorderAddresses(const std::string& text);
// The sessions' settings from the local machine's program key: "RecorderAddress",
// "UpdateMode", the client certificate's "ClientCertificatePath",
// "ClientCertificatePassword" and "ServerCertificateAuthorityPath", and "TerminalNaming",
// in that order, with their log lines. Addresses given replace "RecorderAddress", which is
// then not read.
RecorderSettings ReadRecorderSettings(const std::vector<std::string>& givenAddresses = {});

// The main frame without its windows: the recorder sessions, the status table they write,
// the feature dialogs' state, and the supervision of the session threads. The GUI wraps
// it; the headless agent drives it directly. Display code waits for changes with
// WaitForChange and reads the table and the dialog models.
class CMainFrameCore : public ISessionHost
{
public:
    static constexpr std::size_t MaximumRecorders = 2;

    explicit CMainFrameCore(kzb::Clock& clock = kzb::SystemClock::Instance());
    ~CMainFrameCore();
    CMainFrameCore(const CMainFrameCore&) = delete;
    CMainFrameCore& operator=(const CMainFrameCore&) = delete;

    // Logs the addresses and the update mode, then creates and starts one session handler
    // per recorder (the first two addresses). False when there is no address.
    bool Start(const RecorderSettings& settings);
    // One supervision pass: a terminated recorder is shown as no longer attempting, a
    // stopped session thread is started again. False when no session is to be kept running.
    bool Supervise();
    // A session thread that is to run could not be started again: supervise once more soon.
    bool RestartPending() const;
    // Stops, joins and deletes every session handler.
    void Shutdown();

    // Blocks until something shown may have changed, or the time-out passes.
    void WaitForChange(std::chrono::milliseconds timeout);
    // Something shown may have changed; any thread.
    void NotifyChange();
    // Also told of every change, on the changing thread, which it must not hold up (a
    // window posts itself a message). Null removes it; after that it is not called again.
    void SetChangeListener(std::function<void()> listener);

    // ISessionHost
    void SetConnectionStatus(std::uint32_t recorder, std::uint32_t status) override;
    void SetCallState(std::uint32_t recorder, std::uint32_t state) override;
    void SetStateTimeout(std::uint32_t recorder, std::uint32_t seconds) override;
    void SetLastActiveRecorder(std::uint32_t recorder) override { m_lastActiveRecorder.store(recorder); }
    std::uint32_t GetLastActiveRecorder() const override { return m_lastActiveRecorder.load(); }
    const std::string& GetUpdateMode() const override { return m_updateMode; }
    RecorderStatusTable& GetStatusTable() override { return m_statusTable; }
    kzb::inspection::InspectionClock& GetInspectionClock() override { return m_inspectionClock; }
    CAnnotationDialogModel* GetAnnotationDialog() override { return &m_annotationDialog; }
    CManualSuppressionDialogModel* GetManualSuppressionDialog() override { return &m_manualSuppressionDialog; }
    CRecordOnDemandDialogModel* GetRecordOnDemandDialog() override { return &m_recordOnDemandDialog; }
    void OnSessionEnded(std::uint32_t recorder) override;

    CGeneralMessageHandler* GetSession(std::uint32_t recorder) const;

private:
    kzb::Clock& m_clock;
    RecorderStatusTable m_statusTable;
    kzb::inspection::InspectionClock m_inspectionClock;
    CAnnotationDialogModel m_annotationDialog{&m_statusTable};
    CManualSuppressionDialogModel m_manualSuppressionDialog{&m_statusTable};
    CRecordOnDemandDialogModel m_recordOnDemandDialog{&m_statusTable};
    std::atomic<std::uint32_t> m_lastActiveRecorder{1};
    std::string m_updateMode;

    std::mutex m_changeMutex;
    std::condition_variable m_changeCondition;
    bool m_changed = false;
    std::mutex m_listenerMutex;
    std::function<void()> m_changeListener;

    // Declared last: the sessions go before the table and the dialogs they write.
    std::map<std::uint32_t, std::unique_ptr<CGeneralMessageHandler>> m_handlers;
};
