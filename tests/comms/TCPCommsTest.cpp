#include "CommsFixture.h"
#include "protocol/SessionMessages.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#ifdef _WIN32
#include <winsock2.h>
#include <iphlpapi.h>
#endif

using namespace std::chrono_literals;

namespace {

std::string Hex(const ByteArray& bytes)
{
    std::string text;
    char pair[3];
    for (std::uint8_t byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

// Connection attempts to 127.0.0.1:port on this machine still waiting for an answer.
std::size_t PendingConnects(std::uint16_t port)
{
    std::size_t pending = 0;
#ifdef _WIN32
    ULONG size = 0;
    ::GetTcpTable(nullptr, &size, FALSE);
    std::vector<char> buffer(size);
    auto* table = reinterpret_cast<MIB_TCPTABLE*>(buffer.data());
    if (size == 0 || ::GetTcpTable(table, &size, FALSE) != NO_ERROR)
        return 0;
    for (DWORD i = 0; i < table->dwNumEntries; ++i)
        if (ntohs(static_cast<u_short>(table->table[i].dwRemotePort)) == port &&
            table->table[i].dwState == MIB_TCP_STATE_SYN_SENT)
            ++pending;
#else
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line); // the heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (remote.size() > 9 && std::stoul(remote.substr(9), nullptr, 16) == port && state == "02") // SYN_SENT
            ++pending;
    }
#endif
    return pending;
}

// Until the agent's connect to an unresponsive recorder is under way (the simulator's own
// unanswered connects, counted before, are not the agent's).
bool WaitForAPendingConnect(std::uint16_t port, std::size_t others)
{
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (PendingConnects(port) <= others) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

std::string Connected(const std::string& address, std::uint16_t port, unsigned attempts)
{
    return "Connected to DKA CTI Server at '" + address + ":" + std::to_string(port) + "' after " +
           std::to_string(attempts) + " attempts";
}

TEST_F(CommsTest, ConnectsAndCarriesCommandsBothWays)
{
    const auto recorder = sim->AddRecorder();
    CTCPComms& c = MakeComms();
    c.Initialize(&queue, 1, "127.0.0.1", recorder.port);
    ASSERT_TRUE(log.WaitFor("Recorder 1 - " + Connected("127.0.0.1", recorder.port, 0)));
    EXPECT_EQ(log.Count("Recorder 1 - Attempting to connect DKA CTI Server at '127.0.0.1:" +
                        std::to_string(recorder.port) + "'"),
              1u);
    EXPECT_TRUE(WaitForCount(established, 1));

    const int since = sim->LastSeq();
    const ID identification("PC1", "u1");
    c.Send(std::make_shared<ID>(identification));
    const auto received = sim->WaitFor(recorder.number, "received", "DKA_ID", since);
    ASSERT_FALSE(received.is_null());
    EXPECT_EQ(received["hex"].get<std::string>(), Hex(identification.Serialize()));

    // The simulator answers the identification with the task list of its scenario.
    const DKACommandPtr tasks = queue.WaitFor(DKA_TASKS);
    ASSERT_TRUE(tasks);
    EXPECT_EQ(static_cast<const Tasks&>(*tasks).GetMask(), 15u);

    const auto start = std::chrono::steady_clock::now();
    comms.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << "an idle connection stops promptly";
    EXPECT_EQ(lost.load(), 1) << "the thread ended while connected";
    EXPECT_EQ(log.Count("Recorder 1 - CTCPComms object destroyed"), 1u);
    EXPECT_EQ(log.Count("Recorder 1 - TCPComms thread stopped"), 1u);
}

TEST_F(CommsTest, AnEmptyAddressStopsTheThreadWithoutAnAttempt)
{
    CTCPComms& c = MakeComms();
    c.Initialize(&queue, 2, "");
    ASSERT_TRUE(log.WaitFor("Recorder 2 - TCPComms thread stopped"));
    EXPECT_EQ(log.Count("Recorder 2 - No IP Address to connect to defined."), 1u);
    EXPECT_EQ(log.Count("Attempting"), 0u);
    EXPECT_FALSE(c.IsRunning());
}

TEST_F(CommsTest, RetriesEveryFiveSecondsAndCountsTheFailedAttempts)
{
    kzb::ManualClock& clock = manualClock;
    const auto recorder = sim->AddRecorder();
    sim->Do(recorder.number, {{"op", "refuse"}});
    CTCPComms& c = MakeComms(clock);
    c.Initialize(&queue, 1, "127.0.0.1", recorder.port);
    const std::string failed = "Failed to start Client Connection: Failed to connect to 127.0.0.1. Retrying...";
    ASSERT_TRUE(log.WaitFor(failed, 1));

    clock.Advance(4);
    ASSERT_TRUE(clock.WaitUntilAWaiterWaitsOn()) << "the thread stopped waiting before 5 seconds";
    EXPECT_EQ(log.Count(failed), 1u) << "no attempt before 5 seconds";
    clock.Advance(1);
    ASSERT_TRUE(log.WaitFor(failed, 2));
    clock.Advance(5);
    ASSERT_TRUE(log.WaitFor(failed, 3));
    EXPECT_EQ(log.Count("Attempting to connect"), 1u) << "only before the first of a run of failures";

    sim->Do(recorder.number, {{"op", "listen"}});
    const int since = sim->LastSeq();
    clock.Advance(5);
    ASSERT_TRUE(log.WaitFor(Connected("127.0.0.1", recorder.port, 3)));
    ASSERT_FALSE(sim->WaitFor(recorder.number, "connected", "", since).is_null());

    // The count starts again after a success.
    sim->Do(recorder.number, {{"op", "close"}});
    ASSERT_TRUE(log.WaitFor("Recorder 1 - Socket error. Closing socket..."));
    clock.Advance(5);
    ASSERT_TRUE(log.WaitFor(Connected("127.0.0.1", recorder.port, 0)));
}

TEST_F(CommsTest, RetriesInRealTimeAboutEveryFiveSeconds)
{
    const auto recorder = sim->AddRecorder();
    sim->Do(recorder.number, {{"op", "refuse"}});
    CTCPComms& c = MakeComms();
    c.Initialize(&queue, 1, "127.0.0.1", recorder.port);
    const std::string failed = "Failed to start Client Connection:";
    ASSERT_TRUE(log.WaitFor(failed, 1));
    const auto first = std::chrono::steady_clock::now();
    ASSERT_TRUE(log.WaitFor(failed, 2, 8s));
    const auto interval = std::chrono::steady_clock::now() - first;
    EXPECT_GT(interval, 3900ms);
    EXPECT_LT(interval, 6500ms);
}

TEST_F(CommsTest, StoppingDuringAnUnansweredConnectionAttemptIsPrompt)
{
    const auto recorder = sim->AddRecorder();
    sim->Do(recorder.number, {{"op", "unresponsive"}});
    const std::size_t others = PendingConnects(recorder.port);
    CTCPComms& c = MakeComms();
    c.Initialize(&queue, 1, "127.0.0.1", recorder.port);
    ASSERT_TRUE(WaitForAPendingConnect(recorder.port, others));
    EXPECT_EQ(log.Count("Failed to start Client Connection"), 0u);
    const auto start = std::chrono::steady_clock::now();
    comms.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(log.Count("Failed to start Client Connection: Failed to connect to 127.0.0.1. Retrying..."), 1u);
}

TEST_F(CommsTest, SendNeverWaitsForAConnectionAttempt)
{
    const auto recorder = sim->AddRecorder();
    sim->Do(recorder.number, {{"op", "unresponsive"}});
    const std::size_t others = PendingConnects(recorder.port);
    CTCPComms& c = MakeComms();
    c.Initialize(&queue, 1, "127.0.0.1", recorder.port);
    // The attempt holds the connection's thread until the recorder answers, which it never does.
    ASSERT_TRUE(WaitForAPendingConnect(recorder.port, others));
    const auto start = std::chrono::steady_clock::now();
    c.Send(std::make_shared<ID>("PC1", "u1"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_EQ(log.Count("Recorder 1 - Not connected, dropping DKA_ID"), 1u);
    EXPECT_EQ(log.Count("Failed to start Client Connection"), 0u) << "the attempt is still running";
}

TEST_F(CommsTest, AHeartbeatFollowsMoreThanTenSecondsWithoutSending)
{
    kzb::ManualClock& clock = manualClock;
    const auto recorder = sim->AddRecorder();
    CTCPComms& c = MakeComms(clock);
    c.Initialize(&queue, 1, "127.0.0.1", recorder.port);
    ASSERT_TRUE(WaitConnected());
    ASSERT_FALSE(sim->WaitFor(recorder.number, "connected", "", 0).is_null());
    // Nothing was ever sent: the first pass after connecting sends one at once.
    ASSERT_FALSE(sim->WaitFor(recorder.number, "received", "DKA_HEARTBEAT", 0).is_null());

    // Once the thread has seen the new time and gone on waiting, a command of ours queued
    // behind anything it sent tells whether it sent a heartbeat first. That command also
    // restarts the idle time.
    const auto heartbeatsBeforeAMarker = [&](int since) {
        const int sent = sim->LastSeq();
        c.Send(std::make_shared<Tasks>(7));
        const auto marker = sim->WaitFor(recorder.number, "received", "DKA_TASKS", sent);
        if (marker.is_null())
            return -1;
        const nlohmann::json reply = sim->Request({{"op", "events"}, {"since", since}});
        int heartbeats = 0;
        for (const auto& event : reply["events"]) {
            if (event["seq"].get<int>() >= marker["seq"].get<int>())
                break;
            heartbeats += event["event"] == "received" && event.value("message", nlohmann::json::object())
                                                                   .value("name", "") == "DKA_HEARTBEAT";
        }
        return heartbeats;
    };

    int since = sim->LastSeq();
    c.Send(std::make_shared<Tasks>(0)); // any command restarts the idle time
    ASSERT_FALSE(sim->WaitFor(recorder.number, "received", "DKA_TASKS", since).is_null());
    clock.Advance(10);
    ASSERT_TRUE(clock.WaitUntilAWaiterWaitsOn());
    EXPECT_EQ(heartbeatsBeforeAMarker(since), 0) << "10 seconds are not more than 10";
    since = sim->LastSeq();
    clock.Advance(11);
    EXPECT_FALSE(sim->WaitFor(recorder.number, "received", "DKA_HEARTBEAT", since).is_null());

    // A heartbeat restarts the idle time as well.
    since = sim->LastSeq();
    clock.Advance(10);
    ASSERT_TRUE(clock.WaitUntilAWaiterWaitsOn());
    EXPECT_EQ(heartbeatsBeforeAMarker(since), 0) << "10 seconds after the last heartbeat";
    since = sim->LastSeq();
    clock.Advance(11);
    EXPECT_FALSE(sim->WaitFor(recorder.number, "received", "DKA_HEARTBEAT", since).is_null());
    EXPECT_EQ(log.Count("DKA_HEARTBEAT"), 0u) << "heartbeats are not logged";
}

TEST_F(CommsTest, ScheduleReconnectDropsAtOnceAndConnectsThirtySecondsLater)
{
    kzb::ManualClock& clock = manualClock;
    const auto recorder = sim->AddRecorder();
    CTCPComms& c = MakeComms(clock);
    c.Initialize(&queue, 1, "127.0.0.1", recorder.port);
    ASSERT_TRUE(WaitConnected());
    ASSERT_FALSE(sim->WaitFor(recorder.number, "connected", "", 0).is_null());
    const int since = sim->LastSeq();

    c.ScheduleReconnect();
    ASSERT_FALSE(sim->WaitFor(recorder.number, "disconnected", "", since).is_null());
    c.Send(std::make_shared<Tasks>(0));
    EXPECT_EQ(log.Count("Recorder 1 - Not connected, dropping DKA_TASKS"), 1u);
    EXPECT_EQ(lost.load(), 0) << "a scheduled reconnect is not a lost connection";

    clock.Advance(29);
    ASSERT_TRUE(clock.WaitUntilAWaiterWaitsOn());
    EXPECT_EQ(log.Count("Connected to DKA CTI Server"), 1u) << "no connection before 30 seconds";
    clock.Advance(1);
    EXPECT_FALSE(sim->WaitFor(recorder.number, "connected", "", since).is_null());
    ASSERT_TRUE(WaitConnected(2));
    EXPECT_TRUE(WaitForCount(established, 2));
}

struct Loss
{
    const char* name;
    nlohmann::json command;
};

TEST_F(CommsTest, ALostConnectionIsReportedOnceAndMadeAgain)
{
    kzb::ManualClock& clock = manualClock;
    const auto recorder = sim->AddRecorder();
    CTCPComms& c = MakeComms(clock);
    c.Initialize(&queue, 1, "127.0.0.1", recorder.port);
    ASSERT_TRUE(WaitConnected());
    ASSERT_FALSE(sim->WaitFor(recorder.number, "connected", "", 0).is_null());

    const Loss losses[] = {{"peer close", {{"op", "close"}}},
                           {"peer reset", {{"op", "reset"}}},
                           {"shutdown notice and close", {{"op", "shutdown"}, {"reason", 2}}}};
    int count = 1;
    int since = 0;
    for (const Loss& loss : losses) {
        SCOPED_TRACE(loss.name);
        ASSERT_FALSE(sim->WaitFor(recorder.number, "connected", "", since).is_null());
        since = sim->LastSeq();
        clock.Advance(5); // the connection lasted longer than the retry interval
        sim->Do(recorder.number, loss.command);
        ASSERT_TRUE(log.WaitFor("Recorder 1 - Socket error. Closing socket...", count));
        ++count;
        ASSERT_TRUE(WaitConnected(count)) << "the first new attempt is immediate";
        EXPECT_TRUE(WaitForCount(established, count));
        EXPECT_TRUE(WaitForCount(lost, count - 1));
    }
    EXPECT_TRUE(queue.WaitFor(DKA_SERVER_SHUTDOWN, 1s)) << "the notice before the close was delivered";
}

TEST_F(CommsTest, BadBytesFromTheRecorderAreDroppedAndTheConnectionGoesOn)
{
    const auto recorder = sim->AddRecorder();
    CTCPComms& c = MakeComms();
    c.Initialize(&queue, 1, "127.0.0.1", recorder.port);
    ASSERT_TRUE(WaitConnected());
    ASSERT_FALSE(sim->WaitFor(recorder.number, "connected", "", 0).is_null());

    // An oversized message, then a message cut into pieces: the second still arrives.
    sim->Do(recorder.number, {{"op", "oversized"}, {"payload_length", 40000}});
    sim->Do(recorder.number, {{"op", "send"}, {"message", {{"name", "DKA_CALL_STATE"}, {"state", 3}}}, {"split", {3, 5}}});
    const DKACommandPtr state = queue.WaitFor(DKA_CALL_STATE);
    ASSERT_TRUE(state);
    EXPECT_EQ(static_cast<const StateMessage&>(*state).GetState(), 3u);
    EXPECT_EQ(log.Count("Read DKA_CALL_STATE failed. Message length of 40008 bytes is greater than the maximum of 16384 bytes"),
              1u);

    // An unknown command between two good ones.
    sim->Do(recorder.number, {{"op", "raw"}, {"hex", "010000100400000007000000" "0900000000000000" "010000100400000008000000"}});
    ASSERT_TRUE(queue.WaitFor(DKA_TASKS));
    const DKACommandPtr after = queue.WaitFor(DKA_TASKS);
    ASSERT_TRUE(after);
    EXPECT_EQ(static_cast<const Tasks&>(*after).GetMask(), 8u);
    EXPECT_EQ(log.Count("Read Unknown (9) failed. Exception: DKA Command Factory - Can't create command for unknown ID: 9"),
              1u);

    // Random bytes: whatever they announce is dropped; the agent stays connected. With seed 7
    // the first header announces 498806821 bytes, so the agent drops everything after it;
    // once it has said so, a command from the agent still reaches the recorder.
    sim->Do(recorder.number, {{"op", "garbage"}, {"count", 3000}, {"seed", 7}});
    ASSERT_TRUE(log.WaitFor("Message length of 498806829 bytes is greater than the maximum"));
    const int since = sim->LastSeq();
    c.Send(std::make_shared<Tasks>(4));
    EXPECT_FALSE(sim->WaitFor(recorder.number, "received", "DKA_TASKS", since).is_null()) << "the connection went on";
    EXPECT_EQ(lost.load(), 0);
    EXPECT_TRUE(c.IsRunning());
}

TEST_F(CommsTest, InitializeAgainKeepsTheConnectionOfTheOldThread)
{
    const auto recorder = sim->AddRecorder();
    CTCPComms& c = MakeComms(manualClock);
    c.Initialize(&queue, 1, "127.0.0.1", recorder.port);
    ASSERT_TRUE(WaitConnected());
    ASSERT_FALSE(sim->WaitFor(recorder.number, "connected", "", 0).is_null());
    const int since = sim->LastSeq();
    c.Initialize(&queue, 1, "127.0.0.1", recorder.port);
    EXPECT_EQ(lost.load(), 1) << "the old thread ended while connected";
    c.Send(std::make_shared<Tasks>(2));
    EXPECT_FALSE(sim->WaitFor(recorder.number, "received", "DKA_TASKS", since).is_null());
    // The old thread is gone; once the new one waits, it has made its first pass.
    manualClock.Advance(0);
    ASSERT_TRUE(manualClock.WaitUntilAWaiterWaitsOn());
    EXPECT_EQ(log.Count("Connected to DKA CTI Server"), 1u) << "no new connection";
}

TEST_F(CommsTest, TwoRecordersOnTheirOwnAddresses)
{
    const auto first = sim->AddRecorder({{"host", "127.0.0.1"}});
    const auto second = sim->AddRecorder({{"host", "127.0.0.2"}});
    CommandQueue otherQueue;
    CTCPComms& one = MakeComms();
    CTCPComms two;
    one.Initialize(&queue, 1, "127.0.0.1", first.port);
    two.Initialize(&otherQueue, 2, "127.0.0.2", second.port);
    ASSERT_TRUE(log.WaitFor("Recorder 2 - " + Connected("127.0.0.2", second.port, 0)));
    ASSERT_TRUE(log.WaitFor("Recorder 1 - " + Connected("127.0.0.1", first.port, 0)));
    const int since = sim->LastSeq();
    two.Send(std::make_shared<ID>("PC2", "u2"));
    const auto received = sim->WaitFor(0, "received", "DKA_ID", since);
    ASSERT_FALSE(received.is_null());
    EXPECT_EQ(received["recorder"].get<int>(), second.number);
    EXPECT_TRUE(otherQueue.WaitFor(DKA_TASKS));
}

} // namespace
