#pragma once

#include "LogCapture.h"
#include "SimControl.h"
#include "comms/TCPComms.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The session handler's queue as the connection sees it.
class CommandQueue : public ICommandSink
{
public:
    void AppendCommand(const DKACommandPtr& command) override
    {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_commands.push_back(command);
        }
        m_changed.notify_all();
    }

    // The next command with this ID, skipping others; null on time-out.
    DKACommandPtr WaitFor(std::uint32_t commandID, std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        DKACommandPtr found;
        m_changed.wait_for(lock, timeout, [&] {
            while (!m_commands.empty()) {
                DKACommandPtr next = m_commands.front();
                m_commands.pop_front();
                if (next->GetCommandID() == commandID) {
                    found = next;
                    return true;
                }
            }
            return false;
        });
        return found;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<DKACommandPtr> m_commands;
};

// One connection object under test, with its signals counted, against the simulator.
class CommsTest : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!SimControl::Available())
            GTEST_SKIP() << "needs the recorder simulator: run through run_with_simulator.py";
        sim = std::make_unique<SimControl>();
    }

    void TearDown() override
    {
        comms.reset();
    }

    // Made with the test's connection settings as they are at this call.
    CTCPComms& MakeComms(kzb::Clock& clock = kzb::SystemClock::Instance())
    {
        comms = std::make_unique<CTCPComms>(settings, clock);
        comms->ConnectionEstablished.connect([this] { ++established; });
        comms->ConnectionLost.connect([this] { ++lost; });
        return *comms;
    }

    // "Connected ..." lines so far must reach count.
    bool WaitConnected(std::size_t count = 1)
    {
        return log.WaitFor("Connected to DKA CTI Server at ", count);
    }

    // Until count signals were raised (they follow the log lines they belong to).
    static bool WaitForCount(const std::atomic<int>& signals, int count)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (signals.load() < count && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return signals.load() >= count;
    }

    // The peers of the connections the recorder saw after event since, up to a probe: a
    // plain connection the test makes now and closes at once. An earlier connection was
    // accepted before the probe, so it is among these ("no connection" without a sleep).
    std::vector<std::string> ConnectionsBeforeAProbe(int recorder, std::uint16_t port, int since)
    {
        std::vector<kzb::net::Endpoint> endpoints;
        std::string error;
        if (!kzb::net::Resolve("127.0.0.1", port, endpoints, error) || endpoints.empty())
            return {"cannot resolve 127.0.0.1: " + error};
        const kzb::net::SocketHandle probe = kzb::net::OpenSocket(endpoints.front());
        if (probe == kzb::net::InvalidSocket || !kzb::net::ConnectBlocking(probe, endpoints.front())) {
            kzb::net::CloseSocket(probe);
            return {"the probe could not connect"};
        }
        const std::string probePeer = "127.0.0.1:" + std::to_string(kzb::net::LocalPort(probe));
        kzb::net::CloseSocket(probe);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            std::vector<std::string> peers;
            const nlohmann::json reply = sim->Request({{"op", "events"}, {"since", since}});
            for (const auto& event : reply["events"]) {
                if (event.value("recorder", 0) != recorder || !event.contains("peer"))
                    continue;
                const std::string kind = event["event"].get<std::string>();
                if (kind != "connected" && kind != "tls_established" && kind != "tls_failed")
                    continue;
                if (event["peer"].get<std::string>() == probePeer)
                    return peers;
                peers.push_back(event["peer"].get<std::string>());
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return {"the probe never reached the recorder"};
    }

    kzb::ManualClock manualClock; // outlives the connection object that waits on it
    LogCapture log;
    std::unique_ptr<SimControl> sim;
    CommandQueue queue;
    std::atomic<int> established{0};
    std::atomic<int> lost{0};
    ConnectionSettings settings;
    std::unique_ptr<CTCPComms> comms;
};
