#include "ByteImage.h"
#include "Config/WindowTitleMethod.h"
#include "protocol/ConfigMessages.h"

#include <gtest/gtest.h>

using namespace bytes;

namespace {

template <typename Command>
std::shared_ptr<Command> Received(std::uint32_t id, const ByteArray& payload)
{
    auto command = std::dynamic_pointer_cast<Command>(CreateCommand(id));
    EXPECT_TRUE(command);
    command->Deserialize(U32(id) + U32(static_cast<std::uint32_t>(payload.size())) + payload);
    return command;
}

std::string ReadError(std::uint32_t id, const ByteArray& payload)
{
    try {
        CreateCommand(id)->Deserialize(U32(id) + U32(static_cast<std::uint32_t>(payload.size())) + payload);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no exception)";
}

const ByteArray WindowMethod = U32(2) + U32(1) + U32(4) + Text("Payment", 100) + U32(15);

} // namespace

TEST(ConfigMessages, IDConfigWithoutMethods)
{
    const auto config = Received<IDConfig>(DKA_PCI_ID_CONFIG, U32(1) + U32(0));
    EXPECT_EQ(config->GetSize(), 16u);
    EXPECT_EQ(ToHex(config->Serialize()), "00 10 00 10 08 00 00 00 01 00 00 00 00 00 00 00");
    EXPECT_EQ(config->ToString(), "Number of Methods = 0");
    EXPECT_EQ(IDConfig(DKA_PCI_ID_CONFIG).ToString(), "") << "no rule held";
}

TEST(ConfigMessages, AutoSuppressionRuleChoosesClassesByTypeNumber)
{
    const ByteArray sub = U32(3) + U32(1) + U32(1) + Text("Orders", 100) + U32(0) + U32(4) + Text("Card", 100);
    const auto config = Received<AutoSuppressionConfig>(DKA_PCI_SUPPRESSION_CONFIG, U32(2) + WindowMethod + sub);
    ASSERT_TRUE(config->GetRule());
    const auto& methods = config->GetRule()->GetMethods();
    ASSERT_EQ(methods.size(), 2u);
    EXPECT_EQ(typeid(*methods[0]), typeid(WindowTitleMethod));
    EXPECT_EQ(methods[0]->GetMinimumSuppressionTime(), 15u);
    EXPECT_EQ(typeid(*methods[1]), typeid(SubWindowTitleMethod));
    EXPECT_EQ(config->ToString(), "Number of Methods = 2");
}

TEST(ConfigMessages, UnknownElementTypesFailTheWholeMessage)
{
    EXPECT_EQ(ReadError(DKA_PCI_SUPPRESSION_CONFIG, U32(2) + WindowMethod + U32(5) + Zeros(40)),
              "Auto Suppression Method Type 5 is not valid");
    EXPECT_EQ(ReadError(DKA_PCI_SUPPRESSION_CONFIG, U32(1) + U32(0)), "Auto Suppression Method Type 0 is not valid");
    EXPECT_EQ(ReadError(DKA_ANNOTATION_ID_CONFIG, U32(1) + U32(1) + U32(2) + Zeros(304)),
              "ID Detection Method Type 2 is not valid");
    EXPECT_EQ(ReadError(DKA_ANNOTATION_CONFIG, U32(1) + U32(1001) + Text("Notes", 21) + U32(3) + U32(1)),
              "Annotation Type 3 is not valid");
    EXPECT_EQ(ReadError(DKA_PCI_SUPPRESSION_CONFIG, U32(2) + WindowMethod + U32(1)),
              "Object is too large for the given buffer.");
}

TEST(ConfigMessages, ManualSuppressionFlag)
{
    const auto enabled = Received<ManualSuppressionConfig>(DKA_MANUAL_SUPPRESSION_CONFIG, Hex("02"));
    EXPECT_TRUE(enabled->IsEnabled());
    EXPECT_EQ(enabled->ToString(), "Enabled = TRUE");
    EXPECT_EQ(ToHex(enabled->Serialize()), "01 40 00 10 01 00 00 00 01");
    EXPECT_EQ(Received<ManualSuppressionConfig>(DKA_MANUAL_SUPPRESSION_CONFIG, Hex("00"))->ToString(),
              "Enabled = FALSE");
    EXPECT_EQ(ReadError(DKA_MANUAL_SUPPRESSION_CONFIG, {}), "Object is too large for the given buffer.");
}

TEST(ConfigMessages, RecordOnDemandNames)
{
    const auto config = Received<RecordOnDemandConfig>(DKA_RECORD_ON_DEMAND_CONFIG, U32(1) + U32(2));
    EXPECT_EQ(config->GetSize(), 16u);
    EXPECT_EQ(config->ToString(), "Type = Permanent, Mode = Temporary");
    EXPECT_EQ(Received<RecordOnDemandConfig>(DKA_RECORD_ON_DEMAND_CONFIG, U32(3) + U32(7))->ToString(),
              "Type = Unknown RecordOnDemand::Type, Mode = Unknown RecordOnDemand::Mode");
    EXPECT_EQ(RecordOnDemand::GetModeName(1), "Permanent");
}

TEST(ConfigMessages, AnnotationConfigWithoutFields)
{
    const auto config = Received<AnnotationConfig>(DKA_ANNOTATION_CONFIG, U32(0));
    ASSERT_TRUE(config->GetRule());
    EXPECT_TRUE(config->GetRule()->GetFields().empty());
    EXPECT_EQ(config->ToString(), "Number of Fields = 0");
}

TEST(ConfigMessages, RulesCopyTheirMethods)
{
    const auto config = Received<AutoSuppressionConfig>(DKA_PCI_SUPPRESSION_CONFIG, U32(1) + WindowMethod);
    const AutoSuppressionRule copy = *config->GetRule();
    ASSERT_EQ(copy.GetMethods().size(), 1u);
    EXPECT_NE(copy.GetMethods()[0].get(), config->GetRule()->GetMethods()[0].get());
    EXPECT_EQ(copy.Serialize(), config->GetRule()->Serialize());
}
