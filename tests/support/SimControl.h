#pragma once

#include "comms/Net.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

// Client of the recorder simulator's control port (KZB_SIM_CONTROL=host:port, set by the
// test driver). One JSON request, one JSON reply, per line.
class SimControl
{
public:
    static bool Available();

    SimControl();
    ~SimControl();
    SimControl(const SimControl&) = delete;
    SimControl& operator=(const SimControl&) = delete;

    nlohmann::json Request(const nlohmann::json& command);

    struct Recorder
    {
        int number = 0;
        std::uint16_t port = 0;
    };
    // options as the simulator's add_recorder takes them (host, scenario, tls).
    Recorder AddRecorder(nlohmann::json options = nlohmann::json::object());
    // Runs a command on one recorder.
    void Do(int recorder, nlohmann::json command);
    // The number of the last event so far; waits look at later ones only.
    int LastSeq();
    // The first later event of the kind (and message name); null on time-out.
    nlohmann::json WaitFor(int recorder, const std::string& event, const std::string& name, int since,
                           double timeoutSeconds = 10);

private:
    kzb::net::SocketHandle m_socket = kzb::net::InvalidSocket;
    std::string m_pending;
};

// Paths of the test certificates made by the driver: as the agent sees them (a Windows
// path under Wine) and as the simulator sees them.
std::string AgentCertificate(const std::string& file);
std::string SimulatorCertificate(const std::string& file);
bool CertificatesAvailable();
