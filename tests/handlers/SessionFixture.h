#pragma once

#include "DesktopFixture.h"
#include "LogCapture.h"
#include "MachineSettings.h"
#include "SimControl.h"

#include "comms/Clock.h"
#include "handlers/PCISuppressionHandler.h"
#include "handlers/GeneralMessageHandler.h"
#include "ui/MainFrameCore.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <string>

// The agent's sessions (the main frame's core, without windows) against one simulated
// recorder, with a desktop file and a clock the test moves.
class SessionTest : public DesktopFixture
{
public:
    static nlohmann::json HostNameID(unsigned idType = 4) { return {{"id_type", idType}, {"methods", nlohmann::json::array()}}; }

protected:
    void SetUp() override
    {
        if (!SimControl::Available())
            GTEST_SKIP() << "needs the recorder simulator (run through run_with_simulator.py)";
        UseTestSettingsStore();
        sim = std::make_unique<SimControl>();
        SetDesktopJson(R"({"windows": []})");
    }

    void TearDown() override
    {
        core.reset();
        sim.reset();
    }

    // A scenario with the given features; nothing happens on its timeline.
    static nlohmann::json Scenario(unsigned tasks, nlohmann::json features)
    {
        return {{"tasks", tasks}, {"features", std::move(features)}, {"timeline", nlohmann::json::array()}};
    }

    // A window-title trigger: "title exists", "contains".
    static nlohmann::json TitleTrigger(const std::string& text, unsigned minimumSeconds = 0)
    {
        return {{"type", 2}, {"trigger", 1}, {"match_pattern", 4}, {"window_text", text},
                {"minimum_suppression_time", minimumSeconds}};
    }

    // Starts the agent against a new simulated recorder; true once it is identified.
    bool StartAgent(const nlohmann::json& scenario)
    {
        recorder = sim->AddRecorder({{"scenario", scenario}});
        core = std::make_unique<CMainFrameCore>(clock);
        RecorderSettings settings;
        settings.addresses = {"127.0.0.1"};
        settings.port = recorder.port;
        if (!core->Start(settings))
            return false;
        return !sim->WaitFor(recorder.number, "received", "DKA_ID", 0).is_null();
    }

    // The next message of this name the recorder receives after since; null on time-out.
    nlohmann::json Received(const std::string& name, int since, double seconds = 10)
    {
        return sim->WaitFor(recorder.number, "received", name, since, seconds);
    }

    void Do(nlohmann::json command) { sim->Do(recorder.number, std::move(command)); }

    std::uint32_t Status(std::uint32_t RecorderStatus::*field) { return core->GetStatusTable().Get(1, field); }

    // Waits until recorder 1's field holds value; false on time-out.
    bool WaitForStatus(std::uint32_t RecorderStatus::*field, std::uint32_t value,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (Status(field) != value) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

    // Waits until the suppression handlers have finished count more inspections, so that
    // what was on the desktop before the call has been looked at; false on time-out.
    bool WaitForInspections(unsigned count = 2)
    {
        kzb::inspection::InspectionClock& inspections = core->GetInspectionClock();
        return inspections.WaitForInspections(inspections.Inspections() + count, std::chrono::seconds(20));
    }

    LogCapture log;
    kzb::ManualClock clock;
    std::unique_ptr<SimControl> sim;
    SimControl::Recorder recorder;
    std::unique_ptr<CMainFrameCore> core;
};
