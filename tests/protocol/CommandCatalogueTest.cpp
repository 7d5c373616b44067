#include "ByteImage.h"
#include "protocol/ActionMessages.h"
#include "protocol/ConfigMessages.h"
#include "protocol/DKACommand.h"
#include "protocol/SessionMessages.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <typeinfo>

using namespace bytes;

namespace {

struct Entry
{
    std::uint32_t id;
    const char* name;
    const std::type_info* type;
};

// The catalogue as the recorder knows it.
const Entry Catalogue[] = {
    {0x00000001, "DKA_ID", &typeid(ID)},
    {0x00000002, "DKA_HEARTBEAT", &typeid(DKACommand)},
    {0x00000003, "DKA_CLIENT_SHUTDOWN", &typeid(DKACommand)},
    {0x00001000, "DKA_GET_PCI_ID_CONFIG", &typeid(GetIDConfig)},
    {0x00001001, "DKA_GET_PCI_SUPPRESSION_CONFIG", &typeid(GetTaskConfig)},
    {0x00001002, "DKA_PCI_SUPPRESS", &typeid(SuppressMessage)},
    {0x00002000, "DKA_GET_ANNOTATION_ID_CONFIG", &typeid(GetIDConfig)},
    {0x00002001, "DKA_GET_ANNOTATION_CONFIG", &typeid(GetTaskConfig)},
    {0x00002002, "DKA_ANNOTATE_CALL", &typeid(AnnotateMessage)},
    {0x00004000, "DKA_GET_MANUAL_SUPPRESSION_ID_CONFIG", &typeid(GetIDConfig)},
    {0x00004001, "DKA_GET_MANUAL_SUPPRESSION_CONFIG", &typeid(GetTaskConfig)},
    {0x00004002, "DKA_MANUAL_SUPPRESS", &typeid(SuppressMessage)},
    {0x00008000, "DKA_GET_RECORD_ON_DEMAND_ID_CONFIG", &typeid(GetIDConfig)},
    {0x00008001, "DKA_GET_RECORD_ON_DEMAND_CONFIG", &typeid(GetTaskConfig)},
    {0x00008002, "DKA_RECORD_ON_DEMAND", &typeid(RecordOnDemandMessage)},
    {0x10000000, "DKA_SERVER_SHUTDOWN", &typeid(StateMessage)},
    {0x10000001, "DKA_TASKS", &typeid(Tasks)},
    {0x10000002, "DKA_TASKS_UPDATED", &typeid(DKACommand)},
    {0x10000003, "DKA_CALL_STATE", &typeid(StateMessage)},
    {0x10000004, "DKA_STATE_TIMEOUT", &typeid(StateTimeout)},
    {0x10001000, "DKA_PCI_ID_CONFIG", &typeid(IDConfig)},
    {0x10001001, "DKA_PCI_SUPPRESSION_CONFIG", &typeid(AutoSuppressionConfig)},
    {0x10001002, "DKA_PCI_ID_CONFIG_UPDATED", &typeid(DKACommand)},
    {0x10001003, "DKA_PCI_SUPPRESSION_CONFIG_UPDATED", &typeid(DKACommand)},
    {0x10002000, "DKA_ANNOTATION_ID_CONFIG", &typeid(IDConfig)},
    {0x10002001, "DKA_ANNOTATION_CONFIG", &typeid(AnnotationConfig)},
    {0x10002002, "DKA_ANNOTATION_ID_CONFIG_UPDATED", &typeid(DKACommand)},
    {0x10002003, "DKA_ANNOTATION_CONFIG_UPDATED", &typeid(DKACommand)},
    {0x10004000, "DKA_MANUAL_SUPPRESSION_ID_CONFIG", &typeid(IDConfig)},
    {0x10004001, "DKA_MANUAL_SUPPRESSION_CONFIG", &typeid(ManualSuppressionConfig)},
    {0x10004002, "DKA_MANUAL_SUPPRESSION_ID_CONFIG_UPDATED", &typeid(DKACommand)},
    {0x10004003, "DKA_MANUAL_SUPPRESSION_CONFIG_UPDATED", &typeid(DKACommand)},
    {0x10008000, "DKA_RECORD_ON_DEMAND_ID_CONFIG", &typeid(IDConfig)},
    {0x10008001, "DKA_RECORD_ON_DEMAND_CONFIG", &typeid(RecordOnDemandConfig)},
    {0x10008002, "DKA_RECORD_ON_DEMAND_ID_CONFIG_UPDATED", &typeid(DKACommand)},
    {0x10008003, "DKA_RECORD_ON_DEMAND_CONFIG_UPDATED", &typeid(DKACommand)},
    {0x10008004, "DKA_RECORD_ON_DEMAND_STATE", &typeid(StateMessage)},
    {0x10008005, "DKA_RECORD_ON_DEMAND_DEFAULT_STATE", &typeid(StateMessage)},
    {0xE0000000, "DKAINT_COMMS_CONNECTION_ESTABLISHED", &typeid(DKACommand)},
    {0xE0000001, "DKAINT_COMMS_CONNECTION_LOST", &typeid(DKACommand)},
};

std::string FactoryError(std::uint32_t id)
{
    try {
        CreateCommand(id);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "(no exception)";
}

} // namespace

TEST(CommandCatalogue, NamesOfEveryID)
{
    for (const Entry& entry : Catalogue)
        EXPECT_EQ(GetCommandName(entry.id), entry.name);
    EXPECT_EQ(GetCatalogueIDs().size(), std::size(Catalogue));
}

TEST(CommandCatalogue, UnknownIDsAreNamedInUnsignedDecimal)
{
    EXPECT_EQ(GetCommandName(4), "Unknown (4)");
    EXPECT_EQ(GetCommandName(0), "Unknown (0)");
    EXPECT_EQ(GetCommandName(0xFFFFFFFF), "Unknown (4294967295)");
}

TEST(CommandFactory, BuildsTheCatalogueClassWithTheRequestedID)
{
    for (const Entry& entry : Catalogue) {
        SCOPED_TRACE(entry.name);
        auto command = CreateCommand(entry.id);
        ASSERT_TRUE(command);
        EXPECT_EQ(typeid(*command), *entry.type);
        const std::uint32_t expectedID = entry.id == DKA_MANUAL_SUPPRESS ? DKA_PCI_SUPPRESS : entry.id;
        EXPECT_EQ(command->GetCommandID(), expectedID);
    }
}

TEST(CommandFactory, UnknownIDThrowsRuntimeError)
{
    EXPECT_EQ(FactoryError(4), "DKA Command Factory - Can't create command for unknown ID: 4");
    EXPECT_EQ(FactoryError(0xFFFFFFFF), "DKA Command Factory - Can't create command for unknown ID: 4294967295");
    EXPECT_THROW(CreateCommand(0x00001003), std::runtime_error);
}

TEST(CommandFactory, HeaderOnlyCommandsSerialiseToTheirHeader)
{
    EXPECT_EQ(ToHex(CreateCommand(DKA_TASKS_UPDATED)->Serialize()), "02 00 00 10 00 00 00 00");
    EXPECT_EQ(ToHex(CreateCommand(DKA_HEARTBEAT)->Serialize()), "02 00 00 00 00 00 00 00");
    EXPECT_EQ(CreateCommand(DKA_PCI_ID_CONFIG_UPDATED)->GetCommandID(), 0x10001002u);
}

TEST(CommandFactory, ReceivedManualSuppressKeepsItsID)
{
    auto command = CreateCommand(DKA_MANUAL_SUPPRESS);
    ASSERT_NE(dynamic_cast<SuppressMessage*>(command.get()), nullptr);
    const ByteArray received = U32(0x00004002) + U32(58) + U32(1) + U32(1) + Text("A1", 50);
    command->Deserialize(received);
    EXPECT_EQ(command->GetCommandID(), 0x00004002u);
    EXPECT_EQ(command->GetPayloadLength(), 58u);
    EXPECT_EQ(command->ToString(), "Action = Start, ID Type = Agent_Name_To_Agent_ID, Agent Name = A1");
}

TEST(DKACommand, HeaderIDComesFromTheBytesAndTrailingBytesAreIgnored)
{
    auto command = CreateCommand(DKA_HEARTBEAT);
    command->Deserialize(Hex("03 00 00 00 05 00 00 00 AA BB CC DD EE"));
    EXPECT_EQ(command->GetCommandID(), 3u);
    EXPECT_EQ(command->GetPayloadLength(), 5u);
    // The payload length sent is always computed.
    EXPECT_EQ(ToHex(command->Serialize()), "03 00 00 00 00 00 00 00");
    EXPECT_EQ(command->ToString(), "");
}
