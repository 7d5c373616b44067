#include "LogCapture.h"
#include "Loopback.h"
#include "comms/DKAMessageStream.h"
#include "protocol/SessionMessages.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

ByteArray Image(const DKACommand& command)
{
    return command.Serialize();
}

ByteArray operator+(ByteArray left, const ByteArray& right)
{
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

// What the stream announced, for the test thread to wait on.
struct Observed
{
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<DKACommandPtr> commands;
    int closed = 0;

    DKAMessageStream::Observers Observers()
    {
        return {[this](const DKACommandPtr& command) {
                    std::lock_guard<std::mutex> guard(mutex);
                    commands.push_back(command);
                    changed.notify_all();
                },
                [this] {
                    std::lock_guard<std::mutex> guard(mutex);
                    ++closed;
                    changed.notify_all();
                }};
    }

    bool WaitForCommands(std::size_t count)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, 5s, [&] { return commands.size() >= count; });
    }

    bool WaitForClosed()
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, 5s, [&] { return closed > 0; });
    }

    int Closed()
    {
        std::lock_guard<std::mutex> guard(mutex);
        return closed;
    }

    std::vector<std::uint32_t> IDs()
    {
        std::lock_guard<std::mutex> guard(mutex);
        std::vector<std::uint32_t> ids;
        for (const DKACommandPtr& command : commands)
            ids.push_back(command->GetCommandID());
        return ids;
    }
};

class MessageStream : public testing::Test
{
protected:
    DKAMessageStream& Open()
    {
        stream = std::make_unique<DKAMessageStream>(std::make_shared<TCPStream>(pair.TakeAgentEnd()),
                                                    observed.Observers());
        return *stream;
    }

    LogCapture log;
    Loopback pair;
    Observed observed;
    std::unique_ptr<DKAMessageStream> stream;
};

TEST_F(MessageStream, BytesSentBeforeTheStreamExistedReachItsObservers)
{
    pair.PeerSend(Image(StateMessage(DKA_CALL_STATE, 1)));
    Open();
    ASSERT_TRUE(observed.WaitForCommands(1));
    EXPECT_EQ(observed.IDs(), (std::vector<std::uint32_t>{DKA_CALL_STATE}));
}

TEST_F(MessageStream, AnUnknownCommandBetweenTwoIsLoggedAndSkipped)
{
    Open();
    const ByteArray unknown{4, 0, 0, 0, 4, 0, 0, 0, 9, 9, 9, 9};
    pair.PeerSend(Image(StateMessage(DKA_CALL_STATE, 1)) + unknown + Image(Tasks(5)));
    ASSERT_TRUE(observed.WaitForCommands(2));
    EXPECT_EQ(observed.IDs(), (std::vector<std::uint32_t>{DKA_CALL_STATE, DKA_TASKS}));
    EXPECT_EQ(log.Count("Read Unknown (4) failed. Exception: DKA Command Factory - Can't create command for unknown ID: 4"),
              1u);
    EXPECT_EQ(log.Count("Received DKA_TASKS from "), 1u);
    EXPECT_EQ(log.Count("[Tasks = 0x00000005]"), 1u);
}

TEST_F(MessageStream, AShortPayloadFailsAloneAndDoesNotEatTheNextMessage)
{
    Open();
    // DKA_CALL_STATE announcing 2 payload bytes where its layout has 4.
    const ByteArray shortState{3, 0, 0, 0x10, 2, 0, 0, 0, 1, 0};
    pair.PeerSend(shortState + Image(Tasks(5)));
    ASSERT_TRUE(observed.WaitForCommands(1));
    EXPECT_EQ(observed.IDs(), (std::vector<std::uint32_t>{DKA_TASKS}));
    EXPECT_EQ(log.Count("Read DKA_CALL_STATE failed. Exception: Object is too large for the given buffer."), 1u);
}

TEST_F(MessageStream, MessagesSplitAcrossReadsAndOversizedOnesAreHandled)
{
    Open();
    // The rest goes only after the stream said it has read the first part alone.
    const ByteArray state = Image(StateMessage(DKA_CALL_STATE, 2));
    pair.PeerSend(ByteArray(state.begin(), state.begin() + 10));
    ASSERT_TRUE(log.WaitFor("Read DKA_CALL_STATE incomplete. Message length is 12 bytes but only read 10 bytes"));
    pair.PeerSend(ByteArray(state.begin() + 10, state.end()));
    ASSERT_TRUE(observed.WaitForCommands(1));

    ByteArray oversized{3, 0, 0, 0x10, 0x00, 0x50, 0, 0}; // payload 20480
    oversized.resize(8 + 20480, 0xEE);
    pair.PeerSend(oversized + Image(Tasks(1)));
    ASSERT_TRUE(observed.WaitForCommands(2));
    EXPECT_EQ(observed.IDs(), (std::vector<std::uint32_t>{DKA_CALL_STATE, DKA_TASKS}));
    EXPECT_EQ(log.Count("Message length of 20488 bytes is greater than the maximum of 16384 bytes"), 1u);
    EXPECT_EQ(observed.Closed(), 0);
}

TEST_F(MessageStream, QueuedCommandsLeaveInOrderAndHeartbeatsAreNotLogged)
{
    DKAMessageStream& s = Open();
    const ID id("PC1", "u1");
    s.QueueCommand(std::make_shared<ID>(id));
    s.QueueCommand(CreateCommand(DKA_HEARTBEAT));
    s.QueueCommand(std::make_shared<GetIDConfig>(DKA_GET_PCI_ID_CONFIG, "PC1"));
    const ByteArray expected = Image(id) + Image(*CreateCommand(DKA_HEARTBEAT)) +
                               Image(GetIDConfig(DKA_GET_PCI_ID_CONFIG, "PC1"));
    EXPECT_EQ(pair.PeerReceive(expected.size()), expected);
    ASSERT_TRUE(log.WaitFor("Sent DKA_GET_PCI_ID_CONFIG to "));
    EXPECT_EQ(log.Count("Sent DKA_ID to "), 1u);
    EXPECT_EQ(log.Count("DKA_HEARTBEAT"), 0u);

    pair.PeerSend(Image(*CreateCommand(DKA_HEARTBEAT)));
    ASSERT_TRUE(observed.WaitForCommands(1));
    EXPECT_EQ(log.Count("DKA_HEARTBEAT"), 0u);
}

TEST_F(MessageStream, ThePeersCloseOrResetClosesTheStreamOnce)
{
    for (bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "orderly close");
        Loopback other;
        Observed seen;
        auto s = std::make_unique<DKAMessageStream>(std::make_shared<TCPStream>(other.TakeAgentEnd()),
                                                    seen.Observers());
        if (reset)
            other.PeerReset();
        else
            other.PeerClose();
        ASSERT_TRUE(seen.WaitForClosed());
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (s->IsRunning() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(2ms);
        ASSERT_FALSE(s->IsRunning());
        // The thread has ended: what is left to report a close is this call and the destructor.
        s->QueueCommand(std::make_shared<Tasks>(1)); // only queued: nobody sends it
        EXPECT_EQ(seen.Closed(), 1);
        s.reset();
        EXPECT_EQ(seen.Closed(), 1) << "not again when destroyed";
    }
}

TEST_F(MessageStream, DestroyingAnIdleStreamStopsItsThreadPromptly)
{
    Open();
    ASSERT_TRUE(log.WaitFor("DKAMessageStream thread started for "));
    const auto start = std::chrono::steady_clock::now();
    stream.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_EQ(log.Count("Stopping DKAMessageStream thread"), 1u);
    EXPECT_EQ(log.Count("DKAMessageStream stopped, destroying"), 1u);
    EXPECT_EQ(log.Count("DKAMessageStream thread stopped for "), 1u);
}

} // namespace
