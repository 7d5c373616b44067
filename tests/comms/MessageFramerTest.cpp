#include "LogCapture.h"
#include "comms/MessageFramer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

ByteArray Message(std::uint32_t id, std::uint32_t payloadLength)
{
    ByteArray image(8 + static_cast<std::size_t>(payloadLength), 0);
    for (int i = 0; i < 4; ++i) {
        image[i] = static_cast<std::uint8_t>(id >> (8 * i));
        image[4 + i] = static_cast<std::uint8_t>(payloadLength >> (8 * i));
    }
    return image;
}

ByteArray Join(std::initializer_list<ByteArray> parts)
{
    ByteArray all;
    for (const ByteArray& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Cuts bytes into reads of the given sizes; the rest goes in one last read.
std::vector<ByteArray> Reads(const ByteArray& bytes, std::vector<std::size_t> sizes)
{
    std::vector<ByteArray> reads;
    std::size_t position = 0;
    for (std::size_t size : sizes) {
        reads.emplace_back(bytes.begin() + position, bytes.begin() + position + size);
        position += size;
    }
    if (position < bytes.size())
        reads.emplace_back(bytes.begin() + position, bytes.end());
    return reads;
}

struct Case
{
    std::string name;
    std::vector<ByteArray> reads;
    std::vector<std::uint32_t> announced; // command IDs, in order
    std::vector<std::string> logged;      // parts of lines that must appear
    std::size_t bufferedAtEnd;
};

void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.name;
}

class Framing : public testing::TestWithParam<Case>
{
};

TEST_P(Framing, CutsMessagesAndBoundsItsBuffer)
{
    const Case& c = GetParam();
    LogCapture log;
    MessageFramer framer;
    std::vector<std::uint32_t> announced;
    for (const ByteArray& read : c.reads) {
        framer.Consume(read, [&](ByteView message) {
            announced.push_back(static_cast<std::uint32_t>(message[0]) | static_cast<std::uint32_t>(message[1]) << 8 |
                                static_cast<std::uint32_t>(message[2]) << 16 |
                                static_cast<std::uint32_t>(message[3]) << 24);
        });
        // Never more than one maximum message kept between reads.
        EXPECT_LT(framer.Buffered(), MessageFramer::MaxMessageSize);
    }
    EXPECT_EQ(announced, c.announced);
    for (const std::string& part : c.logged)
        EXPECT_EQ(log.Count(part), 1u) << part;
    EXPECT_EQ(framer.Buffered(), c.bufferedAtEnd);
}

const std::uint32_t CallState = 0x10000003;
const std::uint32_t Tasks = 0x10000001;

INSTANTIATE_TEST_SUITE_P(
    Cases, Framing,
    testing::Values(
        Case{"TwelveBytesInReadsOfFiveAndSeven", Reads(Message(CallState, 4), {5}), {CallState}, {}, 0},
        Case{"HalfAPayloadWaitsForTheRest",
             {Reads(Message(CallState, 100), {58}).front()},
             {},
             {"Read DKA_CALL_STATE incomplete. Message length is 108 bytes but only read 58 bytes, awaiting further data"},
             58},
        Case{"TwoMessagesInOneRead", {Join({Message(CallState, 4), Message(Tasks, 4)})}, {CallState, Tasks}, {}, 0},
        Case{"ExactlyTheMaximumIsAccepted", Reads(Message(CallState, 16376), {9000}), {CallState}, {}, 0},
        Case{"OneByteOverTheMaximumIsSkippedAndTheNextMessageParses",
             Reads(Join({Message(CallState, 16377), Message(Tasks, 4)}), {100, 8000}),
             {Tasks},
             {"Read DKA_CALL_STATE failed. Message length of 16385 bytes is greater than the maximum of 16384 bytes"},
             0},
        Case{"APayloadLengthNearFourGigabytesDoesNotWrap",
             {Join({ByteArray{0x03, 0x00, 0x00, 0x10, 0xFF, 0xFF, 0xFF, 0xFF}, ByteArray(100, 0xAB)})},
             {},
             {"Message length of 4294967303 bytes is greater than the maximum"},
             0},
        Case{"OversizedMessagesBackToBackArriveAsTheyCome",
             Reads(Join({Message(CallState, 20000), Message(CallState, 30000), Message(Tasks, 4)}),
                   {16384, 16384, 16384}),
             {Tasks},
             {"Message length of 20008 bytes", "Message length of 30008 bytes"},
             0}),
    [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST(Framing, ANotYetCompleteHeaderIsKeptSilently)
{
    LogCapture log;
    MessageFramer framer;
    const ByteArray message = Message(CallState, 4);
    framer.Consume(ByteView(message.data(), 5), [](ByteView) { FAIL(); });
    EXPECT_EQ(framer.Buffered(), 5u);
    EXPECT_TRUE(log.Lines().empty());
}

TEST(Framing, ManyMaximumMessagesInMisalignedReadsStayBounded)
{
    ByteArray stream;
    for (int i = 0; i < 20; ++i) {
        const ByteArray m = Message(CallState, 16376);
        stream.insert(stream.end(), m.begin(), m.end());
    }
    LogCapture log; // the incomplete-message lines of every read
    MessageFramer framer;
    int announced = 0;
    for (std::size_t position = 0; position < stream.size(); position += 16383) {
        const std::size_t size = std::min<std::size_t>(16383, stream.size() - position);
        framer.Consume(ByteView(stream.data() + position, size), [&](ByteView m) {
            EXPECT_EQ(m.size(), 16384u);
            ++announced;
        });
        EXPECT_LT(framer.Buffered(), MessageFramer::MaxMessageSize);
    }
    EXPECT_EQ(announced, 20);
}

} // namespace
