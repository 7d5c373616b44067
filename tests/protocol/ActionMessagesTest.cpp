#include "ByteImage.h"
#include "GoldenVector.h"
#include "protocol/ActionMessages.h"

#include <gtest/gtest.h>

using namespace bytes;

namespace {

std::vector<AnnotateField> TwoFields()
{
    return {AnnotateField(7, "Sale"), AnnotateField(9, "Yes")};
}

const GoldenVector ActionVectors[] = {
    {"suppress start without identity", [] { return std::make_shared<SuppressMessage>(4, "", Suppression::Start); },
     Hex("02 10 00 00 04 00 00 00 01 00 00 00"), "Action = Start"},
    {"suppress end for a host",
     [] { return std::make_shared<SuppressMessage>(DKA::Host_Name_To_Extension, "H1", Suppression::End); },
     Hex("02 10 00 00 08 01 00 00 02 00 00 00 04 00 00 00") + Text("H1", 256),
     "Action = End, ID Type = Host_Name_To_Extension, Hostname = H1"},
    {"record on demand discard for an agent",
     [] { return std::make_shared<RecordOnDemandMessage>(1, "A1", RecordOnDemand::Discard); },
     Hex("02 80 00 00 3A 00 00 00 02 00 00 00 01 00 00 00") + Text("A1", 50),
     "Action = Discard, ID Type = Agent_Name_To_Agent_ID, Agent Name = A1"},
    {"record on demand keep for a login",
     [] { return std::make_shared<RecordOnDemandMessage>(2, "u1", RecordOnDemand::Keep); },
     Hex("02 80 00 00 09 01 00 00 01 00 00 00 02 00 00 00") + Text("u1", 257),
     "Action = Keep, ID Type = Windows_Login_Name_To_Extension, Windows Login Name = u1"},
    {"annotate two fields for an agent", [] { return std::make_shared<AnnotateMessage>(1, "A1", TwoFields()); },
     Hex("02 20 00 00 4C 02 00 00 01 00 00 00 02 00 00 00") + Text("A1", 50) + U32(7) + Text("Sale", 261) +
         U32(9) + Text("Yes", 261),
     "ID Type = Agent_Name_To_Agent_ID, Number of Fields = 2, Client ID = A1"},
    {"annotate without fields for a host",
     [] { return std::make_shared<AnnotateMessage>(7, "PC1", std::vector<AnnotateField>{}); },
     Hex("02 20 00 00 08 01 00 00 07 00 00 00 00 00 00 00") + Text("PC1", 256),
     "ID Type = Host_Name_To_Annotation_Field, Number of Fields = 0, Client ID = PC1"},
};

class ActionMessageImage : public ::testing::TestWithParam<GoldenVector>
{
};

} // namespace

TEST_P(ActionMessageImage, MatchesTheDocumentedBytes)
{
    ExpectGolden(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Action, ActionMessageImage, ::testing::ValuesIn(ActionVectors));

TEST(ActionMessages, SizesByIDType)
{
    EXPECT_EQ(SuppressMessage(4, "H1", Suppression::End).GetSize(), 272u);
    EXPECT_EQ(RecordOnDemandMessage(1, "A1", RecordOnDemand::Discard).GetSize(), 66u);
    EXPECT_EQ(AnnotateMessage(1, "A1", TwoFields()).GetSize(), 596u);
    EXPECT_EQ(AnnotateMessage(2, "u").GetSize(), 273u);
    EXPECT_EQ(AnnotateMessage(9, "h").GetSize(), 272u);
}

TEST(ActionMessages, ActionNames)
{
    EXPECT_EQ(Suppression::GetActionName(1), "Start");
    EXPECT_EQ(Suppression::GetActionName(2), "End");
    EXPECT_EQ(Suppression::GetActionName(0), "Unknown Suppression::Action");
    EXPECT_EQ(RecordOnDemand::GetActionName(0), "NotAvailable");
    EXPECT_EQ(RecordOnDemand::GetActionName(1), "Keep");
    EXPECT_EQ(RecordOnDemand::GetActionName(2), "Discard");
    EXPECT_EQ(RecordOnDemand::GetActionName(3), "Unknown RecordOnDemand::Action");
    EXPECT_EQ(SuppressMessage(1, "a", 9).ToString(), "Action = Unknown Suppression::Action, ID Type = "
                                                      "Agent_Name_To_Agent_ID, Agent Name = a");
}

TEST(ActionMessages, InvalidIDTypeIsRejected)
{
    // Suppression and record on demand reject it when built, annotation when sized or sent.
    EXPECT_THROW(SuppressMessage(10, "x", Suppression::Start), InvalidIDTypeException);
    EXPECT_THROW(RecordOnDemandMessage(0, "x", RecordOnDemand::Keep), InvalidIDTypeException);
    AnnotateMessage annotate(10, "x");
    EXPECT_THROW(annotate.GetSize(), InvalidIDTypeException);
    EXPECT_THROW(annotate.Serialize(), InvalidIDTypeException);

    AnnotateMessage received;
    EXPECT_THROW(received.Deserialize(Hex("02 20 00 00 08 00 00 00 0A 00 00 00 00 00 00 00") + Zeros(256)),
                 InvalidIDTypeException);
    SuppressMessage suppress;
    EXPECT_THROW(suppress.Deserialize(Hex("02 10 00 00 08 00 00 00 01 00 00 00 00 00 00 00") + Zeros(256)),
                 InvalidIDTypeException);
}

TEST(ActionMessages, ReceivedActionNeedsItsClientID)
{
    SuppressMessage suppress;
    EXPECT_THROW(suppress.Deserialize(Hex("02 10 00 00 04 00 00 00 01 00 00 00")), BufferToSmallException);
}

TEST(ActionMessages, AnnotationValueLimit)
{
    const std::string longest(260, 'v');
    AnnotateMessage fits(1, "A1", {AnnotateField(1, longest)});
    const ByteArray image = fits.Serialize();
    EXPECT_EQ(image.size(), 66u + 265u);

    AnnotateMessage readBack;
    readBack.Deserialize(image);
    ASSERT_EQ(readBack.GetFields().size(), 1u);
    EXPECT_EQ(readBack.GetFields()[0].GetValue(), longest);

    AnnotateMessage tooLong(1, "A1", {AnnotateField(1, "ok"), AnnotateField(2, std::string(261, 'v'))});
    try {
        tooLong.Serialize();
        FAIL() << "no exception";
    } catch (const std::invalid_argument& e) {
        EXPECT_EQ(std::string(e.what()), "length of string '" + std::string(261, 'v') + "' is greater than fixed size 261");
    }
}

TEST(ActionMessages, OverLongIdentityFailsToSerialise)
{
    EXPECT_THROW(SuppressMessage(1, std::string(50, 'a'), Suppression::Start).Serialize(), std::invalid_argument);
    EXPECT_THROW(AnnotateMessage(4, std::string(256, 'h')).Serialize(), std::invalid_argument);
}
