#include "Loopback.h"
#include "comms/NetworkStream.h"
#include "comms/TCPClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;

namespace {

// Reads until something arrives or the stream reports the connection gone.
bool ReadSomething(NetworkStream& stream, ByteArray& data)
{
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!stream.Read(data, 100))
            return false;
        if (!data.empty())
            return true;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

TEST(NetworkStream, ReadsWhatIsWaitingAndNothingWhenNothingIs)
{
    Loopback pair;
    TCPStream stream(pair.TakeAgentEnd());
    ByteArray data{1, 2, 3};
    EXPECT_TRUE(stream.Read(data, 100));
    EXPECT_TRUE(data.empty());

    pair.PeerSend({7, 8, 9});
    EXPECT_TRUE(ReadSomething(stream, data));
    EXPECT_EQ(data, (ByteArray{7, 8, 9}));
}

TEST(NetworkStream, ThePeersCloseAndResetAreLostConnections)
{
    for (bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "orderly close");
        Loopback pair;
        TCPStream stream(pair.TakeAgentEnd());
        pair.PeerSend({1});
        if (reset)
            pair.PeerReset();
        else
            pair.PeerClose();
        ByteArray data;
        // Bytes sent before an orderly close still arrive; then the close shows.
        bool alive = true;
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (alive && std::chrono::steady_clock::now() < deadline) {
            alive = stream.Read(data, 100);
            std::this_thread::sleep_for(5ms);
        }
        EXPECT_FALSE(alive);
        EXPECT_FALSE(stream.Read(data, 100)) << "and it stays lost";
        EXPECT_TRUE(data.empty());
    }
}

TEST(NetworkStream, AWriteLargerThanTheSocketBufferIsSentWhole)
{
    Loopback pair;
    TCPStream stream(pair.TakeAgentEnd());
    ByteArray image(1 << 20);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i * 7);
    auto received = std::async(std::launch::async, [&] { return pair.PeerReceive(image.size(), 10s); });
    EXPECT_TRUE(stream.Write(image));
    EXPECT_EQ(received.get(), image);
}

TEST(NetworkStream, AWriteThatCannotFinishFailsWithinItsTimeOut)
{
    Loopback pair;
    TCPStream stream(pair.TakeAgentEnd());
    const ByteArray image(64 << 20, 0x55); // far more than both socket buffers; the peer never reads
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(stream.Write(image));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, NetworkStream::WriteTimeout - 100ms);
    EXPECT_LT(took, NetworkStream::WriteTimeout + 2s);
}

std::string ConnectError(const std::string& host, std::uint16_t port)
{
    TCPClient client;
    try {
        client.Connect(host, port);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return {};
}

TEST(TCPClient, FailuresCarryTheirTexts)
{
    EXPECT_EQ(ConnectError("no-such-host.invalid", 6471).rfind("getaddrinfo() for no-such-host.invalid:6471 failed with error: (", 0),
              0u);

    // A port that nobody listens on: take one and let it go again.
    std::uint16_t port = 0;
    {
        Loopback pair;
        kzb::net::SocketHandle agent = pair.TakeAgentEnd();
        port = kzb::net::LocalPort(agent);
        kzb::net::CloseSocket(agent);
    }
    EXPECT_EQ(ConnectError("127.0.0.1", port), "Failed to connect to 127.0.0.1");

    TCPClient client;
    try {
        client.GetStream();
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()).rfind("Failed to connect socket: (", 0), 0u) << error.what();
    }
}

TEST(TCPClient, ErrorTextIsTheCodeThenTheSystemsMessage)
{
#ifdef _WIN32
    const int refused = 10061;
#else
    const int refused = 111;
#endif
    const std::string text = kzb::net::ErrorText(refused);
    const std::string prefix = "(" + std::to_string(refused) + ") ";
    EXPECT_EQ(text.rfind(prefix, 0), 0u) << text;
    EXPECT_GT(text.size(), prefix.size()) << "the system has a message for it";
}

} // namespace
