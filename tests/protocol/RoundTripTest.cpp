#include "ByteImage.h"
#include "protocol/ActionMessages.h"
#include "protocol/ConfigMessages.h"
#include "Config/BrowserHTMLMethod.h"
#include "Config/DetermineIDFromWindowTitle.h"
#include "Config/WindowTitleMethod.h"
#include "protocol/SessionMessages.h"

#include <gtest/gtest.h>

#include <functional>

using namespace bytes;

namespace {

struct Sample
{
    std::string name;
    std::function<std::shared_ptr<DKACommand>()> build;
};

void PrintTo(const Sample& sample, std::ostream* os)
{
    *os << sample.name;
}

// One filled command of every class, with every identity kind where a class carries one.
const Sample Samples[] = {
    {"header only", [] { return std::make_shared<DKACommand>(DKA_HEARTBEAT); }},
    {"ID", [] { return std::make_shared<ID>("WS-0042", "jdoe"); }},
    {"GetIDConfig", [] { return std::make_shared<GetIDConfig>(DKA_GET_PCI_ID_CONFIG, "WS-0042"); }},
    {"GetTaskConfig agent", [] { return std::make_shared<GetTaskConfig>(1, "Agent 7", DKA_GET_PCI_SUPPRESSION_CONFIG); }},
    {"GetTaskConfig login", [] { return std::make_shared<GetTaskConfig>(8, "jdoe", DKA_GET_ANNOTATION_CONFIG); }},
    {"GetTaskConfig host", [] { return std::make_shared<GetTaskConfig>(3, "WS-0042", DKA_GET_MANUAL_SUPPRESSION_CONFIG); }},
    {"Tasks", [] { return std::make_shared<Tasks>(0xF); }},
    {"StateMessage", [] { return std::make_shared<StateMessage>(DKA_RECORD_ON_DEMAND_STATE, 2); }},
    {"StateTimeout", [] { return std::make_shared<StateTimeout>(65535); }},
    {"SuppressMessage", [] { return std::make_shared<SuppressMessage>(5, "WS-0042", Suppression::Start); }},
    {"RecordOnDemandMessage", [] { return std::make_shared<RecordOnDemandMessage>(6, "jdoe", RecordOnDemand::Keep); }},
    {"AnnotateMessage",
     [] {
         return std::make_shared<AnnotateMessage>(
             2, "jdoe", std::vector<AnnotateField>{AnnotateField(1, "a"), AnnotateField(2, ""), AnnotateField(3, "c")});
     }},
    {"IDConfig",
     [] {
         auto rule = std::make_shared<IDDetectionRule>();
         rule->SetIDType(DKA::Agent_Name_To_Agent_ID);
         rule->AddMethod(std::make_unique<DetermineIDFromWindowTitle>(4, "agent", "agent ", " -"));
         return std::make_shared<IDConfig>(DKA_ANNOTATION_ID_CONFIG, rule);
     }},
    {"AutoSuppressionConfig",
     [] {
         auto rule = std::make_shared<AutoSuppressionRule>();
         for (const char* ini : {"1|1|Payment|", "2|4|30|Card|"}) {
             auto method = CreateAutoSuppressionMethod(2);
             method->ParseIniString(ini);
             rule->AddMethod(std::move(method));
         }
         auto sub = CreateAutoSuppressionMethod(3);
         sub->ParseIniString("1|2|5|Orders|4|Card number|");
         rule->AddMethod(std::move(sub));
         rule->AddMethod(std::make_unique<BrowserHTMLMethod>(
             std::vector<BrowserHTMLCriteria>{BrowserHTMLCriteria(4, 4, "bank.example"), BrowserHTMLCriteria(3, 4, "cvv")},
             20));
         return std::make_shared<AutoSuppressionConfig>(rule);
     }},
    {"AnnotationConfig",
     [] {
         std::vector<FieldDetails> fields;
         fields.emplace_back(1001, "Notes", std::make_unique<FreeTextEntry>(40));
         fields.emplace_back(95, "Outcome",
                             std::make_unique<PushButton>(std::vector<PushButtonData>{
                                 PushButtonData("Yes", "Sale"), PushButtonData("No", "No sale")}));
         return std::make_shared<AnnotationConfig>(std::make_shared<AnnotationRule>(std::move(fields)));
     }},
    {"ManualSuppressionConfig", [] { return std::make_shared<ManualSuppressionConfig>(true); }},
    {"RecordOnDemandConfig",
     [] { return std::make_shared<RecordOnDemandConfig>(std::make_shared<RecordOnDemandRule>(1, 2)); }},
};

class RoundTrip : public ::testing::TestWithParam<Sample>
{
};

} // namespace

// What the agent sends, the factory rebuilds field for field.
TEST_P(RoundTrip, FactoryRebuildsTheSameMessage)
{
    auto sent = GetParam().build();
    const ByteArray image = sent->Serialize();
    ASSERT_EQ(image.size(), sent->GetSize());

    auto received = CreateCommand(sent->GetCommandID());
    received->Deserialize(image);
    EXPECT_EQ(typeid(*received), typeid(*sent));
    EXPECT_EQ(received->GetCommandID(), sent->GetCommandID());
    EXPECT_EQ(received->GetPayloadLength(), image.size() - 8);
    EXPECT_EQ(received->ToString(), sent->ToString());
    EXPECT_EQ(ToHex(received->Serialize()), ToHex(image));
}

// No prefix of a message is mistaken for the whole of it.
TEST_P(RoundTrip, EveryTruncationIsBufferTooSmall)
{
    auto sent = GetParam().build();
    const ByteArray image = sent->Serialize();
    for (std::size_t length = 0; length < image.size(); ++length) {
        auto received = CreateCommand(sent->GetCommandID());
        const ByteArray prefix(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_THROW(received->Deserialize(prefix), BufferToSmallException) << "length " << length;
    }
}

INSTANTIATE_TEST_SUITE_P(EveryClass, RoundTrip, ::testing::ValuesIn(Samples));
