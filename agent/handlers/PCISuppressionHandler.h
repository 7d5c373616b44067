#pragma once

#include "FeatureMessageHandler.h"

#include "Config/ConfigObject.h"
#include "comms/Clock.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class RecorderStatusTable;
namespace kzb::inspection {
class InspectionClock;
}

// Automatic audio suppression for one recorder: finds the agent's name on screen when the
// recorder identifies agents by name, inspects the desktop for the configured triggers
// at each moment of the process's inspection clock (twice a second, and soon after the
// desktop changed), and asks the recorder to suppress while one fires and to resume when
// none has fired for the longest minimum suppression time of those that fired.
class CPCISuppressionHandler : public CFeatureMessageHandler
{
public:
    CPCISuppressionHandler(std::uint32_t recorderNumber, CGeneralMessageHandler* owner,
                           std::shared_ptr<CTCPComms> connection, RecorderStatusTable* statusTable,
                           kzb::inspection::InspectionClock& inspections,
                           kzb::Clock& clock = kzb::SystemClock::Instance());
    ~CPCISuppressionHandler() override;

private:
    // What the inspections carry from one to the next.
    struct SuppressionState
    {
        std::int64_t endTime = 0; // the earliest time an End may be sent (milliseconds)
        bool endPending = false;  // nothing fired while the end time had not come
    };

    unsigned Run() override;
    void ResetConfiguration() override;
    bool HandleIDConfig(const IDConfig& config) override;
    bool HandleCommand(const DKACommand& command) override;
    void HandleSuppressionConfig(const AutoSuppressionConfig& config);
    // True when a new agent name was found (the configuration is to be requested again).
    bool DetectAgentName();
    void Inspect(SuppressionState& state);
    void RequestSuppression(Suppression::Action action);
    // Milliseconds: a minimum time counted in whole seconds could end up to a second early.
    std::int64_t Now() const;

    RecorderStatusTable* m_statusTable;
    kzb::inspection::InspectionClock& m_inspections;
    kzb::Clock& m_clock;
    bool m_suppressionActive = false;
    // The identity the Start in force was sent for; its End goes to the same.
    ClientIdentity m_suppressedAs;
    std::string m_suppressionReason;
    std::vector<std::unique_ptr<IDDetectionMethod>> m_idDetectionMethods;
    std::vector<std::unique_ptr<AutoSuppressionMethod>> m_suppressionMethods;
};
