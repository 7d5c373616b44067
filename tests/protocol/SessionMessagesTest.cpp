#include "ByteImage.h"
#include "GoldenVector.h"
#include "protocol/SessionMessages.h"

#include <gtest/gtest.h>

using namespace bytes;

namespace {

template <typename Command, typename... Args>
std::function<std::shared_ptr<DKACommand>()> Make(Args... args)
{
    return [=] { return std::make_shared<Command>(args...); };
}

const GoldenVector SessionVectors[] = {
    {"ID", Make<ID>("PC1", "u1"),
     Hex("01 00 00 00 05 02 00 00") + Text("PC1", 256) + Hex("03 00 00 00") + Text("u1", 257),
     "Hostname = PC1, Interface Version = 3, Windows Login Name = u1"},
    {"GetIDConfig", Make<GetIDConfig>(DKA_GET_ANNOTATION_ID_CONFIG, "PC1"),
     Hex("00 20 00 00 00 01 00 00") + Text("PC1", 256), "Hostname = PC1"},
    {"GetTaskConfig agent name", Make<GetTaskConfig>(1, "Ann", DKA_GET_PCI_SUPPRESSION_CONFIG),
     Hex("01 10 00 00 36 00 00 00 01 00 00 00") + Text("Ann", 50),
     "ID Type = Agent_Name_To_Agent_ID, Agent Name = Ann"},
    {"GetTaskConfig login name", Make<GetTaskConfig>(6, "u1", DKA_GET_ANNOTATION_CONFIG),
     Hex("01 20 00 00 05 01 00 00 06 00 00 00") + Text("u1", 257),
     "ID Type = Windows_Login_Name_To_Annotation_Field, Windows Login Name = u1"},
    {"GetTaskConfig host name", Make<GetTaskConfig>(9, "PC1", DKA_GET_RECORD_ON_DEMAND_CONFIG),
     Hex("01 80 00 00 04 01 00 00 09 00 00 00") + Text("PC1", 256),
     "ID Type = Host_Name_To_Channel_Name, Hostname = PC1"},
    {"GetTaskConfig without identity", Make<GetTaskConfig>(4, "", DKA_GET_MANUAL_SUPPRESSION_CONFIG),
     Hex("01 40 00 00 00 00 00 00"), ""},
    {"Tasks 5", Make<Tasks>(5u), Hex("01 00 00 10 04 00 00 00 05 00 00 00"), "Tasks = 0x00000005"},
    {"Tasks A", Make<Tasks>(0xAu), Hex("01 00 00 10 04 00 00 00 0A 00 00 00"), "Tasks = 0x0000000A"},
    {"call state", Make<StateMessage>(DKA_CALL_STATE, 0x11u), Hex("03 00 00 10 04 00 00 00 11 00 00 00"),
     "State = 17"},
    {"server shutdown", Make<StateMessage>(DKA_SERVER_SHUTDOWN, 4294967295u),
     Hex("00 00 00 10 04 00 00 00 FF FF FF FF"), "State = 4294967295"},
    {"StateTimeout", Make<StateTimeout>(std::uint16_t{300}), Hex("04 00 00 10 02 00 00 00 2C 01"),
     "Timeout = 300"},
};

class SessionMessageImage : public ::testing::TestWithParam<GoldenVector>
{
};

} // namespace

TEST_P(SessionMessageImage, MatchesTheDocumentedBytes)
{
    ExpectGolden(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Session, SessionMessageImage, ::testing::ValuesIn(SessionVectors));

TEST(ID, VersionTwoWithoutLoginNameIsRead)
{
    ID id;
    id.Deserialize(Hex("01 00 00 00 04 01 00 00") + Text("PC9", 256) + Hex("02 00 00 00"));
    EXPECT_EQ(id.GetHostName(), "PC9");
    EXPECT_EQ(id.GetInterfaceVersion(), 2u);
    EXPECT_EQ(id.GetWindowsLoginName(), "");
    EXPECT_EQ(id.ToString(), "Hostname = PC9, Interface Version = 2, Windows Login Name = ");
}

TEST(ID, OverLongNamesFailToSerialise)
{
    EXPECT_NO_THROW(ID(std::string(255, 'h'), std::string(256, 'u')).Serialize());
    EXPECT_THROW(ID(std::string(256, 'h'), "u").Serialize(), std::invalid_argument);
    EXPECT_THROW(ID("h", std::string(257, 'u')).Serialize(), std::invalid_argument);
}

TEST(IDType, NamesAndTextSizes)
{
    struct Case
    {
        std::uint32_t type;
        const char* name;
        std::size_t textSize;
    };
    const Case cases[] = {
        {1, "Agent_Name_To_Agent_ID", 50},
        {2, "Windows_Login_Name_To_Extension", 257},
        {3, "Host_Name_To_Logical_Channel", 256},
        {4, "Host_Name_To_Extension", 256},
        {5, "Host_Name_To_Rostrvm_ID", 256},
        {6, "Windows_Login_Name_To_Annotation_Field", 257},
        {7, "Host_Name_To_Annotation_Field", 256},
        {8, "Windows_Login_Name_To_Channel_Name", 257},
        {9, "Host_Name_To_Channel_Name", 256},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(GetIDTypeName(c.type), c.name);
        auto clientID = CreateClientID(c.type, "X");
        ASSERT_TRUE(clientID);
        EXPECT_EQ(clientID->GetIDType(), c.type);
        EXPECT_EQ(clientID->GetSize(), 4 + c.textSize);
        EXPECT_EQ(clientID->Serialize(), U32(c.type) + Text("X", c.textSize));
    }
    EXPECT_EQ(GetIDTypeName(0), "Unknown DKA::IDType");
    EXPECT_EQ(GetIDTypeName(10), "Unknown DKA::IDType");
}

TEST(ClientID, CreationRules)
{
    EXPECT_EQ(CreateClientID(12, ""), nullptr);
    EXPECT_EQ(CreateClientID(1, ""), nullptr);
    try {
        CreateClientID(12, "x");
        FAIL() << "no exception";
    } catch (const InvalidIDTypeException& e) {
        EXPECT_STREQ(e.what(), "ID Type 12 is not valid");
    }
    EXPECT_THROW(CreateClientID(0, "x"), InvalidIDTypeException);
    EXPECT_NE(dynamic_cast<ClientHostName*>(CreateClientID(4, "H").get()), nullptr);
    EXPECT_NE(dynamic_cast<ClientWindowsLoginName*>(CreateClientID(8, "u").get()), nullptr);
    EXPECT_NE(dynamic_cast<ClientAgentName*>(CreateClientID(1, "a").get()), nullptr);
}

TEST(ClientID, OverLongTextFailsOnlyWhenSerialised)
{
    auto agent = CreateClientID(1, std::string(50, 'a'));
    ASSERT_TRUE(agent);
    EXPECT_THROW(agent->Serialize(), std::invalid_argument);
    EXPECT_NO_THROW(CreateClientID(1, std::string(49, 'a'))->Serialize());
}

TEST(GetTaskConfig, ReceivedClientIDIsRequiredAndValidated)
{
    GetTaskConfig request(DKA_GET_PCI_SUPPRESSION_CONFIG);

    EXPECT_THROW(request.Deserialize(Hex("01 10 00 00 00 00 00 00")), BufferToSmallException);
    EXPECT_THROW(request.Deserialize(Hex("01 10 00 00 00 00 00 00 04 00 00")), BufferToSmallException);

    try {
        request.Deserialize(Hex("01 10 00 00 04 00 00 00 0A 00 00 00") + Zeros(256));
        FAIL() << "no exception";
    } catch (const InvalidIDTypeException& e) {
        EXPECT_STREQ(e.what(), "ID Type 10 is not valid");
    }

    request.Deserialize(Hex("01 10 00 00 04 01 00 00 04 00 00 00") + Text("H1", 256));
    ASSERT_NE(request.GetClientID(), nullptr);
    EXPECT_EQ(request.GetClientID()->GetID(), "H1");
    EXPECT_EQ(request.ToString(), "ID Type = Host_Name_To_Extension, Hostname = H1");
}
