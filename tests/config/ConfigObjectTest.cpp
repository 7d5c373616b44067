#include "../protocol/ByteImage.h"
#include "Config/AnnotationTypes.h"
#include "Config/BrowserHTMLMethod.h"
#include "Config/DetermineIDFromWindowTitle.h"
#include "Config/WindowTitleMethod.h"

#include <gtest/gtest.h>

#include <functional>

using namespace bytes;

namespace {

std::string ExceptionText(const std::function<void()>& action)
{
    try {
        action();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no exception)";
}

template <typename Object>
Object ReadFrom(const ByteArray& image)
{
    Object object;
    object.Deserialize(image);
    return object;
}

} // namespace

TEST(ConfigFactories, ClassesByTypeNumber)
{
    EXPECT_NE(dynamic_cast<FreeTextEntry*>(CreateAnnotationType(1).get()), nullptr);
    EXPECT_NE(dynamic_cast<PushButton*>(CreateAnnotationType(2).get()), nullptr);
    for (std::uint32_t type : {1u, 2u}) {
        auto method = CreateAutoSuppressionMethod(type);
        EXPECT_EQ(typeid(*method), typeid(WindowTitleMethod));
        EXPECT_EQ(method->GetType(), type);
    }
    EXPECT_EQ(typeid(*CreateAutoSuppressionMethod(3)), typeid(SubWindowTitleMethod));
    EXPECT_EQ(typeid(*CreateAutoSuppressionMethod(4)), typeid(BrowserHTMLMethod));
    EXPECT_EQ(typeid(*CreateIDDetectionMethod(1)), typeid(DetermineIDFromWindowTitle));
}

TEST(ConfigFactories, UnknownTypeNumbers)
{
    EXPECT_EQ(ExceptionText([] { CreateAnnotationType(7); }), "Annotation Type 7 is not valid");
    EXPECT_EQ(ExceptionText([] { CreateAnnotationType(0); }), "Annotation Type 0 is not valid");
    EXPECT_EQ(ExceptionText([] { CreateAutoSuppressionMethod(0); }), "Auto Suppression Method Type 0 is not valid");
    EXPECT_EQ(ExceptionText([] { CreateAutoSuppressionMethod(5); }), "Auto Suppression Method Type 5 is not valid");
    EXPECT_EQ(ExceptionText([] { CreateIDDetectionMethod(2); }), "ID Detection Method Type 2 is not valid");
    EXPECT_THROW(CreateAutoSuppressionMethod(5), InvalidAutoSuppressionMethodException);
    EXPECT_EQ(CopyAutoSuppressionMethod(nullptr), nullptr);
    EXPECT_EQ(CopyIDDetectionMethod(nullptr), nullptr);
}

TEST(ConfigFactories, CopiesKeepConfigurationAndEveryField)
{
    const WindowTitleMethod original = ReadFrom<WindowTitleMethod>(
        Hex("02 00 00 00 02 00 00 00 03 00 00 00") + Text("Checkout", 100) + U32(30));
    auto copy = CopyAutoSuppressionMethod(&original);
    ASSERT_EQ(typeid(*copy), typeid(WindowTitleMethod));
    EXPECT_EQ(copy->Serialize(), original.Serialize());
    EXPECT_EQ(copy->GetMinimumSuppressionTime(), 30u);

    SubWindowTitleMethod sub;
    ASSERT_GT(sub.ParseIniString("1|4|0|Pay|2|Card|"), 0u);
    EXPECT_EQ(CopyAutoSuppressionMethod(&sub)->ToIniString(), "1|4|0|Pay|2|Card|");

    BrowserHTMLMethod browser({BrowserHTMLCriteria(4, 4, "bank.example")}, 12);
    EXPECT_EQ(CopyAutoSuppressionMethod(&browser)->Serialize(), browser.Serialize());

    DetermineIDFromWindowTitle id(4, "agent", "agent ", " -");
    EXPECT_EQ(CopyIDDetectionMethod(&id)->Serialize(), id.Serialize());
}

TEST(BinaryForm, WindowTitleMethodSizesByType)
{
    const ByteArray typeOne = Hex("01 00 00 00 01 00 00 00 04 00 00 00") + Text("Payment", 100);
    const auto older = ReadFrom<WindowTitleMethod>(typeOne + U32(99));
    EXPECT_EQ(older.GetSize(), 112u);
    EXPECT_EQ(older.GetMinimumSuppressionTime(), 0u);
    EXPECT_EQ(older.GetWindowText(), "Payment");
    EXPECT_EQ(older.Serialize(), typeOne);

    const ByteArray typeTwo = Hex("02 00 00 00 02 00 00 00 03 00 00 00") + Text("Checkout", 100) + U32(45);
    const auto current = ReadFrom<WindowTitleMethod>(typeTwo);
    EXPECT_EQ(current.GetSize(), 116u);
    EXPECT_EQ(current.GetTrigger(), 2u);
    EXPECT_EQ(current.GetMatchPattern(), 3u);
    EXPECT_EQ(current.GetMinimumSuppressionTime(), 45u);
    EXPECT_EQ(current.Serialize(), typeTwo);

    const ByteArray subImage = Hex("03 00 00 00 01 00 00 00 01 00 00 00") + Text("Order Entry", 100) + U32(10) +
                               U32(4) + Text("Card number", 100);
    const auto sub = ReadFrom<SubWindowTitleMethod>(subImage);
    EXPECT_EQ(sub.GetSize(), 220u);
    EXPECT_EQ(sub.GetSubMatchPattern(), 4u);
    EXPECT_EQ(sub.GetSubWindowText(), "Card number");
    EXPECT_EQ(sub.Serialize(), subImage);

    EXPECT_THROW(ReadFrom<WindowTitleMethod>(ByteArray(typeTwo.begin(), typeTwo.end() - 1)),
                 BufferToSmallException);
}

TEST(BinaryForm, BrowserMethodWithTerminatedCriteria)
{
    const ByteArray image = U32(4) + U32(20) + U32(2) + U32(4) + U32(4) + Hex("62 61 6E 6B 00") /* bank */ +
                            U32(1) + U32(2) + Hex("50 61 79 00") /* Pay */;
    const auto method = ReadFrom<BrowserHTMLMethod>(image);
    EXPECT_EQ(method.GetMinimumSuppressionTime(), 20u);
    ASSERT_EQ(method.GetCriteria().size(), 2u);
    EXPECT_EQ(method.GetCriteria()[0].GetText(), "bank");
    EXPECT_EQ(method.GetCriteria()[0].GetSize(), 13u);
    EXPECT_EQ(method.GetCriteria()[1].GetMatchPattern(), 2u);
    EXPECT_EQ(method.GetSize(), image.size());
    EXPECT_EQ(method.Serialize(), image);

    // The binary form has no length limit on the text.
    const std::string longText(300, 'x');
    const auto wide = ReadFrom<BrowserHTMLCriteria>(U32(3) + U32(4) + Text(longText, 301));
    EXPECT_EQ(wide.GetText(), longText);
    EXPECT_EQ(wide.GetSize(), 309u);
}

TEST(BinaryForm, DetermineIDFromWindowTitle)
{
    const ByteArray image = U32(1) + U32(4) + Text("agent", 100) + Text("agent ", 100) + Text(" -", 100);
    const auto method = ReadFrom<DetermineIDFromWindowTitle>(image);
    EXPECT_EQ(method.GetSize(), 308u);
    EXPECT_EQ(method.GetUserStartsAfter(), "agent ");
    EXPECT_TRUE(method.IsValid());
    EXPECT_EQ(method.Serialize(), image);
}

TEST(BinaryForm, AnnotationFields)
{
    const ByteArray buttons = U32(2) + U32(3) + Text("Yes", 9) + Text("Sale agreed", 261) + Text("No", 9) +
                              Text("No sale", 261) + Text("Later", 9) + Text("Call back", 261);
    const ByteArray image = U32(1001) + Text("Outcome", 21) + buttons;
    const auto field = ReadFrom<FieldDetails>(image);
    EXPECT_EQ(field.GetSize(), 843u);
    ASSERT_NE(dynamic_cast<const PushButton*>(field.GetAnnotationType()), nullptr);
    EXPECT_EQ(static_cast<const PushButton*>(field.GetAnnotationType())->GetButtons()[2].GetAnnotationText(),
              "Call back");
    EXPECT_TRUE(field.IsValid());
    EXPECT_EQ(field.Serialize(), image);

    const auto text = ReadFrom<FieldDetails>(U32(95) + Text("Notes", 21) + U32(1) + U32(40));
    EXPECT_EQ(text.GetSize(), 33u);
    EXPECT_EQ(static_cast<const FreeTextEntry*>(text.GetAnnotationType())->GetMaxLength(), 40u);

    EXPECT_EQ(ExceptionText([] { ReadFrom<FieldDetails>(U32(95) + Text("Notes", 21) + U32(3) + U32(40)); }),
              "Annotation Type 3 is not valid");
    EXPECT_EQ(ExceptionText([] { FieldDetails(1001, "Notes").Serialize(); }), "pObject in null");
    EXPECT_THROW(FieldDetails(1001, "Notes", std::make_unique<PushButton>(std::vector<PushButtonData>{
                                                 PushButtonData("NineChars", "x")}))
                     .Serialize(),
                 std::invalid_argument);
}

TEST(Validity, FieldsAndInputTypes)
{
    for (std::uint32_t id : {94u, 97u, 999u, 1087u})
        EXPECT_FALSE(FieldDetails(id, "N", std::make_unique<FreeTextEntry>(5)).IsValid()) << id;
    for (std::uint32_t id : {95u, 96u, 1000u, 1086u})
        EXPECT_TRUE(FieldDetails(id, "N", std::make_unique<FreeTextEntry>(5)).IsValid()) << id;
    EXPECT_FALSE(FieldDetails(95, "", std::make_unique<FreeTextEntry>(5)).IsValid());
    EXPECT_FALSE(FieldDetails(95, "N", std::make_unique<FreeTextEntry>(0)).IsValid());
    EXPECT_FALSE(FieldDetails(95, "N").IsValid());
    EXPECT_FALSE(PushButton().IsValid());
    EXPECT_FALSE(PushButton({PushButtonData("a", "b"), PushButtonData("", "b")}).IsValid());
    EXPECT_TRUE(PushButton({PushButtonData("a", "b")}).IsValid());
    EXPECT_FALSE(BrowserHTMLMethod().IsValid());
    EXPECT_FALSE(BrowserHTMLMethod({BrowserHTMLCriteria(1, 1, "")}).IsValid());
    EXPECT_FALSE(DetermineIDFromWindowTitle(1, "a", "b", "").IsValid());
}

TEST(AnnotationFields, CopiesAndEquality)
{
    auto makeFields = [](const char* label) {
        std::vector<FieldDetails> fields;
        fields.emplace_back(1001, "Notes", std::make_unique<FreeTextEntry>(40));
        fields.emplace_back(1002, "Outcome",
                            std::make_unique<PushButton>(std::vector<PushButtonData>{PushButtonData(label, "Sale")}));
        return fields;
    };
    auto mine = makeFields("Yes");
    auto theirs = makeFields("Yes");
    mine[0].SetValue("urgent");
    EXPECT_TRUE(SameAnnotationFields(mine, theirs)) << "entered values do not count";
    EXPECT_FALSE(SameAnnotationFields(mine, makeFields("YES"))) << "labels compare with case";
    EXPECT_FALSE(SameAnnotationFields(mine, {}));

    const FieldDetails copy = mine[0];
    EXPECT_EQ(copy.GetValue(), "");
    EXPECT_EQ(copy.ToIniString(), "1001|Notes|1|40|");
    EXPECT_NE(copy.GetAnnotationType(), mine[0].GetAnnotationType());

    std::vector<FieldDetails> noInput;
    noInput.emplace_back(1001, "Notes");
    EXPECT_FALSE(SameAnnotationFields(noInput, noInput));
}
