#include "SimControl.h"

#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace net = kzb::net;

namespace {
std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}
} // namespace

bool SimControl::Available()
{
    return !Env("KZB_SIM_CONTROL").empty();
}

SimControl::SimControl()
{
    const std::string address = Env("KZB_SIM_CONTROL");
    const auto colon = address.rfind(':');
    if (colon == std::string::npos)
        throw std::runtime_error("KZB_SIM_CONTROL is not host:port");
    net::StartUp();
    std::vector<net::Endpoint> endpoints;
    std::string error;
    if (!net::Resolve(address.substr(0, colon), static_cast<std::uint16_t>(std::stoi(address.substr(colon + 1))),
                      endpoints, error) ||
        endpoints.empty())
        throw std::runtime_error("cannot resolve the simulator: " + error);
    m_socket = net::OpenSocket(endpoints.front());
    if (m_socket == net::InvalidSocket || !net::ConnectBlocking(m_socket, endpoints.front()))
        throw std::runtime_error("cannot reach the simulator's control port " + address);
}

SimControl::~SimControl()
{
    net::CloseSocket(m_socket);
    net::CleanUp();
}

nlohmann::json SimControl::Request(const nlohmann::json& command)
{
    const std::string line = command.dump() + "\n";
    std::size_t sent = 0;
    while (sent < line.size()) {
        const long count = net::SendSome(m_socket, reinterpret_cast<const std::uint8_t*>(line.data()) + sent,
                                         line.size() - sent);
        if (count <= 0)
            throw std::runtime_error("simulator control connection lost");
        sent += static_cast<std::size_t>(count);
    }
    for (;;) {
        const auto end = m_pending.find('\n');
        if (end != std::string::npos) {
            const std::string reply = m_pending.substr(0, end);
            m_pending.erase(0, end + 1);
            return nlohmann::json::parse(reply);
        }
        std::uint8_t buffer[4096];
        const long count = net::Receive(m_socket, buffer, sizeof buffer);
        if (count <= 0)
            throw std::runtime_error("simulator control connection lost");
        m_pending.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(count));
    }
}

SimControl::Recorder SimControl::AddRecorder(nlohmann::json options)
{
    options["op"] = "add_recorder";
    const nlohmann::json reply = Request(options);
    if (!reply.value("ok", false))
        throw std::runtime_error("simulator refused add_recorder: " + reply.dump());
    return {reply["recorder"].get<int>(), reply["port"].get<std::uint16_t>()};
}

void SimControl::Do(int recorder, nlohmann::json command)
{
    command["recorder"] = recorder;
    const nlohmann::json reply = Request(command);
    if (!reply.value("ok", false))
        throw std::runtime_error("simulator command failed: " + reply.dump());
}

int SimControl::LastSeq()
{
    return Request({{"op", "last_seq"}})["seq"].get<int>();
}

nlohmann::json SimControl::WaitFor(int recorder, const std::string& event, const std::string& name, int since,
                                   double timeoutSeconds)
{
    nlohmann::json command{{"op", "wait"},  {"recorder", recorder}, {"event", event},
                           {"since", since}, {"timeout", timeoutSeconds}};
    if (!name.empty())
        command["name"] = name;
    const nlohmann::json reply = Request(command);
    return reply.value("ok", false) ? reply["event"] : nlohmann::json();
}

std::string AgentCertificate(const std::string& file)
{
    std::string folder = Env("KZB_TEST_CERTS");
#ifdef _WIN32
    return folder + "\\" + file;
#else
    return folder + "/" + file;
#endif
}

std::string SimulatorCertificate(const std::string& file)
{
    return Env("KZB_TEST_CERTS_SIM") + "/" + file;
}

bool CertificatesAvailable()
{
    return !Env("KZB_TEST_CERTS").empty() && !Env("KZB_TEST_CERTS_SIM").empty();
}
