#pragma once

#include <cstdint>
#include <string>

class RecorderStatusTable;
namespace kzb::inspection {
class InspectionClock;
}
class CAnnotationDialogModel;
class CManualSuppressionDialogModel;
class CRecordOnDemandDialogModel;

// What the session handlers need of the main frame. Called from the session and feature
// handler threads.
class ISessionHost
{
public:
    // Stores the connection status; any status but 7 also resets the call state to 0.
    virtual void SetConnectionStatus(std::uint32_t recorder, std::uint32_t status) = 0;
    virtual void SetCallState(std::uint32_t recorder, std::uint32_t state) = 0;
    virtual void SetStateTimeout(std::uint32_t recorder, std::uint32_t seconds) = 0;
    // The recorder whose session handler took the latest command.
    virtual void SetLastActiveRecorder(std::uint32_t recorder) = 0;
    virtual std::uint32_t GetLastActiveRecorder() const = 0;
    virtual const std::string& GetUpdateMode() const = 0;
    virtual RecorderStatusTable& GetStatusTable() = 0;
    // When the suppression handlers of all recorders look at the desktop.
    virtual kzb::inspection::InspectionClock& GetInspectionClock() = 0;
    // The feature dialogs; null when there is none.
    virtual CAnnotationDialogModel* GetAnnotationDialog() = 0;
    virtual CManualSuppressionDialogModel* GetManualSuppressionDialog() = 0;
    virtual CRecordOnDemandDialogModel* GetRecordOnDemandDialog() = 0;
    // A session handler's thread is ending (the host decides whether to start it again).
    virtual void OnSessionEnded(std::uint32_t recorder) = 0;

protected:
    ~ISessionHost() = default;
};
