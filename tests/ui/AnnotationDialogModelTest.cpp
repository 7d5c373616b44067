#include "AnnotationFields.h"
#include "FakeRequesters.h"
#include "Log.h"
#include "LogCapture.h"
#include "ui/AnnotationDialogModel.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using Entries = std::vector<std::string>;

namespace {

class AnnotationDialogModelTest : public ::testing::Test
{
protected:
    AnnotationDialogModelTest()
    {
        table.AddEntry(1, "10.0.0.1");
        table.AddEntry(2, "10.0.0.2");
    }

    // What a handler does when its recorder sends a configuration that checks out.
    void InForce(unsigned recorder, const std::vector<FieldDetails>& fields)
    {
        model.SetAnnotationEnabled(recorder, true);
        model.SetAnnotationConfiguration(recorder, fields);
        model.SetAnnotationStatus(recorder, AnnotationStatus::ConfigurationInForce);
    }

    bool Shows(const std::vector<FieldDetails>& fields) const
    {
        return model.Current() != nullptr && SameAnnotationFields(*model.Current(), fields);
    }

    std::string Value(std::size_t index) const { return model.Current()->at(index).GetValue(); }

    std::uint32_t Status(unsigned recorder) const { return table.Get(recorder, &RecorderStatus::annotationStatus); }

    RecorderStatusTable table;
    Journal journal;
    FakeAnnotationHandler one{1, journal};
    CAnnotationDialogModel model{&table};
};

// An input type the agent has no control for.
class OddInput : public AnnotationType
{
public:
    OddInput() : AnnotationType(7) {}
    std::uint32_t GetSize() const override { return 4; }
    unsigned ParseIniString(const char*) override { return 0; }
    std::string ToIniString() const override { return {}; }
    std::unique_ptr<AnnotationType> Clone() const override { return std::make_unique<OddInput>(*this); }
};

} // namespace

TEST_F(AnnotationDialogModelTest, AConfigurationShowsOnceInForce)
{
    model.SetAnnotationEnabled(1, true);
    model.SetAnnotationConfiguration(1, SalesFields());
    EXPECT_EQ(Status(1), AnnotationStatus::ConfigurationUnusable);
    EXPECT_FALSE(model.UpdateLayout());
    EXPECT_EQ(model.Current(), nullptr);

    model.SetAnnotationStatus(1, AnnotationStatus::ConfigurationInForce);
    EXPECT_TRUE(model.UpdateLayout());
    EXPECT_TRUE(model.Visible());
    EXPECT_TRUE(Shows(SalesFields()));
    EXPECT_FALSE(model.UpdateLayout()) << "nothing changed since";
}

TEST_F(AnnotationDialogModelTest, EnablingAgainKeepsTheConfigurationAndDisablingForgetsIt)
{
    model.SetAnnotationEnabled(1, true);
    model.SetAnnotationConfiguration(1, SalesFields());
    model.SetAnnotationEnabled(1, true);
    model.SetAnnotationStatus(1, AnnotationStatus::ConfigurationInForce);
    EXPECT_TRUE(model.UpdateLayout());
    EXPECT_TRUE(Shows(SalesFields()));

    model.SetAnnotationEnabled(1, false);
    EXPECT_FALSE(table.Get(1, &RecorderStatus::annotationEnabled));
    EXPECT_TRUE(model.UpdateLayout());
    EXPECT_FALSE(model.Visible());
    EXPECT_EQ(model.Current(), nullptr);

    model.SetAnnotationEnabled(1, true);
    EXPECT_FALSE(model.UpdateLayout()) << "visible again, but recorder 1's configuration is gone";
    EXPECT_TRUE(model.Visible());
    EXPECT_EQ(model.Current(), nullptr);
}

TEST_F(AnnotationDialogModelTest, AConfigurationWhileAnnotationIsDisabledIsRefused)
{
    LogCapture log;
    model.SetAnnotationConfiguration(2, SalesFields());
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, kzb::log::Level::Error);
    EXPECT_EQ(lines[0].text, "Recorder 2 SetAnnotationConfiguration() Attempt to set annotation configuration when "
                             "annotation not enabled");
    EXPECT_EQ(Status(2), AnnotationStatus::NoHandler);

    model.SetAnnotationEnabled(2, true);
    model.SetAnnotationStatus(2, AnnotationStatus::ConfigurationInForce);
    model.UpdateLayout();
    EXPECT_EQ(model.Current(), nullptr);
}

TEST_F(AnnotationDialogModelTest, DifferentConfigurationsShowNoneAndMarkTheSecondRecorder)
{
    InForce(1, SalesFields());
    ASSERT_TRUE(model.UpdateLayout());
    model.SetAnnotationStatus(1, AnnotationStatus::ConfigurationUnusable);
    model.UpdateLayout();
    model.SetAnnotationEnabled(2, true);
    model.SetAnnotationConfiguration(2, CustomerFields());
    EXPECT_FALSE(model.UpdateLayout()) << "not ready";

    LogCapture log;
    model.SetAnnotationStatus(1, AnnotationStatus::ConfigurationInForce);
    EXPECT_TRUE(model.UpdateLayout());
    EXPECT_EQ(log.Count("Different annotation configurations for Recorders detected"), 1u);
    EXPECT_EQ(Status(1), AnnotationStatus::ConfigurationInForce);
    EXPECT_EQ(Status(2), AnnotationStatus::ConfigurationDiffers);
    EXPECT_EQ(model.Current(), nullptr);
}

TEST_F(AnnotationDialogModelTest, EqualConfigurationsAreAnnotatedOnBothRecordersInOrder)
{
    FakeAnnotationHandler refusing(2, journal, false);
    model.RegisterHandler(2, &refusing);
    model.RegisterHandler(1, &one);
    InForce(1, SalesFields());
    InForce(2, SalesFields());
    EXPECT_TRUE(model.UpdateLayout());
    EXPECT_TRUE(Shows(SalesFields()));

    EXPECT_TRUE(model.SetFreeText(7, "A-1"));
    EXPECT_TRUE(model.PressButton(9, "Yes"));
    EXPECT_EQ(model.Annotate(), (std::vector<unsigned>{1}));
    EXPECT_EQ(journal.entries, (Entries{"1 annotate 7=A-1 9=Sale", "2 annotate 7=A-1 9=Sale"}));
    EXPECT_EQ(Value(0), "");
    EXPECT_EQ(Value(1), "");

    model.UnregisterHandler(2);
    journal.entries.clear();
    model.SetFreeText(7, "A-2");
    EXPECT_EQ(model.Annotate(), (std::vector<unsigned>{1}));
    EXPECT_EQ(journal.entries, (Entries{"1 annotate 7=A-2"})) << "only fields with a value";
}

TEST_F(AnnotationDialogModelTest, NothingEnteredSendsNothing)
{
    model.RegisterHandler(1, &one);
    EXPECT_TRUE(model.Annotate().empty()) << "no configuration";
    InForce(1, SalesFields());
    model.UpdateLayout();
    EXPECT_TRUE(model.SetFreeText(7, ""));
    EXPECT_TRUE(model.Annotate().empty());
    EXPECT_TRUE(journal.entries.empty());
}

TEST_F(AnnotationDialogModelTest, AgentInputGoesToTheMatchingFieldOnly)
{
    struct Step
    {
        const char* what;
        std::function<bool(CAnnotationDialogModel&)> input;
        bool taken;
        const char* account;
        const char* outcome;
    };
    const Step steps[] = {
        {"free text", [](auto& m) { return m.SetFreeText(7, "A-1"); }, true, "A-1", ""},
        {"cut to the maximum length", [](auto& m) { return m.SetFreeText(7, "123456789"); }, true, "12345678", ""},
        {"text into buttons", [](auto& m) { return m.SetFreeText(9, "x"); }, false, "12345678", ""},
        {"no such field", [](auto& m) { return m.SetFreeText(8, "x"); }, false, "12345678", ""},
        {"button", [](auto& m) { return m.PressButton(9, "Yes"); }, true, "12345678", "Sale"},
        {"later button", [](auto& m) { return m.PressButton(9, "No"); }, true, "12345678", "No sale"},
        {"label is exact", [](auto& m) { return m.PressButton(9, "yes"); }, false, "12345678", "No sale"},
        {"button on free text", [](auto& m) { return m.PressButton(7, "Yes"); }, false, "12345678", "No sale"},
        {"clear", [](auto& m) { m.ClearValues(); return true; }, true, "", ""},
    };
    EXPECT_FALSE(model.SetFreeText(7, "x")) << "nothing shown yet";
    InForce(1, SalesFields());
    model.UpdateLayout();
    for (const Step& step : steps) {
        EXPECT_EQ(step.input(model), step.taken) << step.what;
        EXPECT_EQ(Value(0), step.account) << step.what;
        EXPECT_EQ(Value(1), step.outcome) << step.what;
    }
}

TEST_F(AnnotationDialogModelTest, ANewConfigurationWhileShownIsShownInItsPlace)
{
    InForce(1, SalesFields());
    ASSERT_TRUE(model.UpdateLayout());

    // The recorder sends a new configuration and it checks out before the next layout.
    InForce(1, CustomerFields());
    EXPECT_TRUE(model.UpdateLayout());
    EXPECT_TRUE(Shows(CustomerFields()));

    // The same configuration again keeps what the agent entered.
    model.SetFreeText(7, "kept");
    InForce(1, CustomerFields());
    EXPECT_FALSE(model.UpdateLayout());
    EXPECT_EQ(Value(0), "kept");
}

TEST_F(AnnotationDialogModelTest, OnlyFreeTextAndButtonsGetAControl)
{
    LogCapture log;
    for (const FieldDetails& field : SalesFields())
        EXPECT_TRUE(HasInputControl(field));
    EXPECT_FALSE(HasInputControl(FieldDetails(5, "Mood", std::make_unique<OddInput>())));
    EXPECT_FALSE(HasInputControl(FieldDetails(6, "Bare")));
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].level, kzb::log::Level::Error);
    EXPECT_EQ(lines[0].text, "Field ID 5, Name 'Mood' Unknown Annotation Type 7");
    EXPECT_EQ(lines[1].text, "Field ID 6, Name 'Bare' Unknown Annotation Type 0");
}

TEST(AnnotationDialogModel, WithoutAStatusTableNothingHappens)
{
    LogCapture log;
    CAnnotationDialogModel model(nullptr);
    model.SetAnnotationEnabled(1, true);
    model.SetAnnotationConfiguration(1, SalesFields());
    model.SetAnnotationStatus(7, 3);
    EXPECT_FALSE(model.UpdateLayout());
    EXPECT_EQ(model.Current(), nullptr);
    EXPECT_TRUE(log.Lines().empty());
}

TEST(AnnotationDialogModel, TheDialogDetachesItsHandlersWhenItGoes)
{
    RecorderStatusTable table;
    table.AddEntry(1, "10.0.0.1");
    table.AddEntry(2, "10.0.0.2");
    Journal journal;
    FakeAnnotationHandler one(1, journal), two(2, journal);
    auto model = std::make_unique<CAnnotationDialogModel>(&table);
    model->RegisterHandler(1, &one);
    model->RegisterHandler(2, &two);
    model->UnregisterHandler(1);
    model.reset();
    EXPECT_EQ(journal.entries, (Entries{"2 detach"}));
}
