#include "FakeRequesters.h"
#include "AnnotationFields.h"
#include "Log.h"
#include "LogCapture.h"
#include "ui/AnnotationDialogModel.h"
#include "ui/ManualSuppressionDialogModel.h"
#include "ui/RecordOnDemandDialogModel.h"
#include "ui/StatusImage.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using Entries = std::vector<std::string>;

namespace {

void AddTwoRecorders(RecorderStatusTable& table)
{
    table.AddEntry(1, "10.0.0.1");
    table.AddEntry(2, "10.0.0.2");
}

} // namespace

TEST(FeatureDialogModel, HandlersAreAskedInRecorderOrderAndDetachedWhenTheDialogGoes)
{
    RecorderStatusTable table;
    AddTwoRecorders(table);
    Journal journal;
    FakeSuppressionHandler one(1, journal), two(2, journal), late(1, journal), other(3, journal);
    auto model = std::make_unique<CManualSuppressionDialogModel>(&table);
    model->RegisterHandler(2, &two);
    model->RegisterHandler(1, &one);
    model->RegisterHandler(1, &late);  // recorder 1 keeps its first handler
    model->RegisterHandler(3, &other); // no such recorder
    model->RegisterHandler(0, &other);

    model->Start();
    EXPECT_EQ(journal.entries, (Entries{"1 start", "2 start"}));

    journal.entries.clear();
    model->UnregisterHandler(2);
    model->UnregisterHandler(3);
    model->Stop();
    EXPECT_EQ(journal.entries, (Entries{"1 end"}));

    journal.entries.clear();
    model.reset();
    EXPECT_EQ(journal.entries, (Entries{"1 detach"})) << "only the handler still registered";
}

TEST(FeatureDialogModel, WithoutAStatusTableNothingRegisters)
{
    Journal journal;
    FakeSuppressionHandler one(1, journal);
    {
        CManualSuppressionDialogModel model(nullptr);
        model.RegisterHandler(1, &one);
        model.Start();
        model.SetManualSuppressionEnabled(1, 2);
        EXPECT_FALSE(model.UpdateLayout());
    }
    EXPECT_TRUE(journal.entries.empty());
}

TEST(ManualSuppressionDialogModel, ShowsWhileAnyRecorderHasItEnabled)
{
    RecorderStatusTable table;
    AddTwoRecorders(table);
    CManualSuppressionDialogModel model(&table);
    EXPECT_FALSE(model.UpdateLayout()) << "hidden from the start";

    model.SetManualSuppressionEnabled(1, 1);
    model.SetManualSuppressionEnabled(2, 2);
    EXPECT_EQ(table.Get(2, &RecorderStatus::manualSuppressionEnabled), 2u);
    EXPECT_TRUE(model.UpdateLayout());
    EXPECT_TRUE(model.Visible());
    EXPECT_FALSE(model.UpdateLayout()) << "no change the second time";

    model.SetManualSuppressionEnabled(2, 0);
    EXPECT_TRUE(model.UpdateLayout());
    EXPECT_FALSE(model.Visible());
}

TEST(ManualSuppressionDialogModel, StartAndStopGoToEveryHandlerWhateverItsState)
{
    RecorderStatusTable table;
    AddTwoRecorders(table);
    Journal journal;
    FakeSuppressionHandler one(1, journal), two(2, journal);
    CManualSuppressionDialogModel model(&table);
    model.RegisterHandler(1, &one);
    model.RegisterHandler(2, &two);
    model.SetManualSuppressionEnabled(2, 2);

    model.Start();
    model.Stop();
    EXPECT_EQ(journal.entries, (Entries{"1 start", "2 start", "1 end", "2 end"}));
}

TEST(FeatureDialogModels, InvalidRecorderNumbersAreLoggedAndStoreNothing)
{
    struct Case
    {
        const char* name;
        std::function<void(RecorderStatusTable&)> call;
        const char* line;
    };
    const Case cases[] = {
        {"annotation enabled",
         [](RecorderStatusTable& table) { CAnnotationDialogModel(&table).SetAnnotationEnabled(0, true); },
         "Recorder 0 SetAnnotationEnabled() Recorder ID invalid"},
        {"annotation status",
         [](RecorderStatusTable& table) { CAnnotationDialogModel(&table).SetAnnotationStatus(3, 3); },
         "Recorder 3 SetAnnotationStatus() Recorder ID invalid"},
        {"annotation configuration",
         [](RecorderStatusTable& t) { CAnnotationDialogModel(&t).SetAnnotationConfiguration(4, SalesFields()); },
         "Recorder 4 SetAnnotationConfiguration() Recorder ID invalid"},
        {"suppression",
         [](RecorderStatusTable& table) { CManualSuppressionDialogModel(&table).SetManualSuppressionEnabled(3, 2); },
         "Recorder 3 - SetManualSuppressionEnabled() Recorder ID invalid"},
        {"record on demand",
         [](RecorderStatusTable& table) { CRecordOnDemandDialogModel(&table).SetRecordOnDemandEnabled(0, 2); },
         "Recorder 0 SetRecordOnDemandEnabled() Recorder ID invalid"},
    };
    for (const Case& c : cases) {
        RecorderStatusTable table;
        AddTwoRecorders(table);
        const RecorderStatusTable::Entries before = table.GetEntries();
        LogCapture log;
        c.call(table);
        const auto lines = log.Lines();
        ASSERT_EQ(lines.size(), 1u) << c.name;
        EXPECT_EQ(lines[0].level, kzb::log::Level::Error) << c.name;
        EXPECT_EQ(lines[0].text, c.line) << c.name;
        EXPECT_EQ(table.GetEntries(), before) << c.name;
    }
}

TEST(RecordOnDemandDialogModel, StateOfAnotherNumberStoresNothingButRefreshesTheText)
{
    RecorderStatusTable table;
    AddTwoRecorders(table);
    CRecordOnDemandDialogModel model(&table);
    EXPECT_EQ(model.StateText(), "RoD State");

    LogCapture log;
    model.SetRecordOnDemandState(5, 1);
    EXPECT_EQ(table.LargestRecordOnDemandAction(), 0u);
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_EQ(model.StateText(), "Not Available");
}

TEST(RecordOnDemandDialogModel, StateTextFollowsTheSetters)
{
    struct Case
    {
        std::uint32_t mode, action, defaultAction, callState;
        const char* text;
    };
    const Case cases[] = {
        {1, RecordOnDemand::Keep, RecordOnDemand::Discard, 0, "Keeping All Calls"},
        {2, RecordOnDemand::Discard, RecordOnDemand::Discard, 1, "Discarding All Calls"},
        {2, RecordOnDemand::Discard, RecordOnDemand::Keep, 1, "Discarding This Call"},
        {2, RecordOnDemand::Keep, RecordOnDemand::Discard, 0, "Keeping Next Call"},
    };
    for (const Case& c : cases) {
        RecorderStatusTable table;
        AddTwoRecorders(table);
        table.Set(1, &RecorderStatus::callState, c.callState);
        CRecordOnDemandDialogModel model(&table);
        for (unsigned recorder : {1u, 2u}) {
            model.SetRecordOnDemandMode(recorder, c.mode);
            model.SetRecordOnDemandDefaultState(recorder, c.defaultAction);
            model.SetRecordOnDemandState(recorder, c.action);
        }
        EXPECT_EQ(model.StateText(), c.text) << c.mode << "/" << c.action << "/" << c.defaultAction;
    }
}

TEST(RecordOnDemandDialogModel, CallStateChangesReachTheTextThroughUpdateStateText)
{
    RecorderStatusTable table;
    AddTwoRecorders(table);
    CRecordOnDemandDialogModel model(&table);
    for (unsigned recorder : {1u, 2u}) {
        model.SetRecordOnDemandMode(recorder, 2);
        model.SetRecordOnDemandDefaultState(recorder, RecordOnDemand::Discard);
        model.SetRecordOnDemandState(recorder, RecordOnDemand::Keep);
    }
    EXPECT_EQ(model.StateText(), "Keeping Next Call");

    table.Set(2, &RecorderStatus::callState, 1);
    EXPECT_TRUE(model.UpdateStateText());
    EXPECT_EQ(model.StateText(), "Keeping This Call");
    EXPECT_FALSE(model.UpdateStateText());
}

TEST(RecordOnDemandDialogModel, WithoutAStatusTableTheTemplateTextStays)
{
    CRecordOnDemandDialogModel model(nullptr);
    model.SetRecordOnDemandMode(1, 2);
    model.SetRecordOnDemandState(1, RecordOnDemand::Keep);
    EXPECT_FALSE(model.UpdateStateText());
    EXPECT_EQ(model.StateText(), "RoD State");
}

TEST(RecordOnDemandDialogModel, KeepAndDiscardGoToEveryHandlerAndTheDialogShowsWhenEnabled)
{
    RecorderStatusTable table;
    AddTwoRecorders(table);
    Journal journal;
    FakeRecordOnDemandHandler one(1, journal), two(2, journal);
    CRecordOnDemandDialogModel model(&table);
    model.RegisterHandler(2, &two);
    model.RegisterHandler(1, &one);
    model.Keep();
    model.Discard();
    EXPECT_EQ(journal.entries, (Entries{"1 keep", "2 keep", "1 discard", "2 discard"}));

    model.SetRecordOnDemandEnabled(1, 1);
    EXPECT_FALSE(model.UpdateLayout());
    model.SetRecordOnDemandEnabled(1, 2);
    EXPECT_TRUE(model.UpdateLayout());
    EXPECT_TRUE(model.Visible());
}

TEST(StatusImage, FromTheCallStatesOfBothRecorders)
{
    struct Case
    {
        std::uint32_t one, two;
        StatusImage image;
    };
    const Case cases[] = {
        {0, 0, {143, 131, "Idle"}},
        {1, 0, {144, 129, "Recording"}},
        {1, 3, {147, 130, "Suppressing"}},
        {2, 16, {145, 134, "Discarding"}},
        {17, 0, {145, 134, "Discarding"}},
        {16, 8, {146, 133, "Not Configured"}},
        {8, 4, {146, 132, "Event Feed Unavailable"}},
        {12, 0, {146, 132, "Event Feed Unavailable"}},
    };
    for (const Case& c : cases) {
        RecorderStatusTable table;
        AddTwoRecorders(table);
        table.Set(1, &RecorderStatus::callState, c.one);
        table.Set(2, &RecorderStatus::callState, c.two);
        const StatusImage image = ChooseStatusImage(table);
        EXPECT_EQ(image.bitmap, c.image.bitmap) << c.one << "/" << c.two;
        EXPECT_EQ(image.tooltip, c.image.tooltip) << c.one << "/" << c.two;
        EXPECT_STREQ(image.tooltipText, c.image.tooltipText) << c.one << "/" << c.two;
    }
}

TEST(StatusImage, ShowsWhileManualSuppressionOrRecordOnDemandIsEnabled)
{
    struct Case
    {
        std::uint32_t suppression1, suppression2, recordOnDemand1, recordOnDemand2;
        bool visible;
    };
    const Case cases[] = {
        {0, 0, 0, 0, false},
        {1, 1, 1, 1, false},
        {1, 2, 0, 0, true},
        {0, 0, 1, 2, true},
    };
    for (const Case& c : cases) {
        RecorderStatusTable table;
        AddTwoRecorders(table);
        table.Set(1, &RecorderStatus::manualSuppressionEnabled, c.suppression1);
        table.Set(2, &RecorderStatus::manualSuppressionEnabled, c.suppression2);
        table.Set(1, &RecorderStatus::recordOnDemandEnabled, c.recordOnDemand1);
        table.Set(2, &RecorderStatus::recordOnDemandEnabled, c.recordOnDemand2);
        StatusImageLayout layout(&table);
        EXPECT_EQ(layout.UpdateLayout(), c.visible);
        EXPECT_EQ(layout.Visible(), c.visible);
        EXPECT_FALSE(layout.UpdateLayout());
    }
}
