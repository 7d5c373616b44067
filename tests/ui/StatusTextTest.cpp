#include "ui/StatusText.h"

#include <gtest/gtest.h>

namespace {

void AddTwoRecorders(RecorderStatusTable& table)
{
    table.AddEntry(1, "10.0.0.1");
    table.AddEntry(2, "10.0.0.2");
}

void Connect(RecorderStatusTable& table, unsigned recorder)
{
    table.Set(recorder, &RecorderStatus::connectionStatus, ConnectionStatus::Connected);
}

} // namespace

TEST(RecorderStatusTable, MissingEntriesReadAsDefaultsAndIgnoreWrites)
{
    RecorderStatusTable table;
    table.AddEntry(1, "A");
    table.AddEntry(3, "C");
    table.Set(2, &RecorderStatus::callState, 5);
    table.Set(3, &RecorderStatus::callState, 5);
    EXPECT_EQ(table.Get(2, &RecorderStatus::callState), 0u);
    EXPECT_EQ(table.Get(3, &RecorderStatus::callState), 0u);
    EXPECT_EQ(table.Get(3, &RecorderStatus::recordOnDemandMode), 1u);
    EXPECT_EQ(table.Get(2, &RecorderStatus::address), "");
    EXPECT_EQ(table.Get(1, &RecorderStatus::address), "A");
    EXPECT_EQ(table.Get(1, &RecorderStatus::autoSuppressionState), 1u);
}

TEST(RecorderStatusTable, Aggregates)
{
    RecorderStatusTable table;
        AddTwoRecorders(table);
    EXPECT_EQ(table.SmallestStateTimeout(), 2u);
    table.Set(2, &RecorderStatus::stateTimeout, 45);
    EXPECT_EQ(table.SmallestStateTimeout(), 45u);
    table.Set(1, &RecorderStatus::stateTimeout, 60);
    EXPECT_EQ(table.SmallestStateTimeout(), 45u);

    table.Set(1, &RecorderStatus::annotationStatus, 1);
    table.Set(2, &RecorderStatus::annotationStatus, 3);
    EXPECT_EQ(table.LargestAnnotationStatus(), 3u);

    table.Set(1, &RecorderStatus::callState, 1);
    table.Set(2, &RecorderStatus::callState, 2);
    EXPECT_FALSE(table.AnyCallState(3)) << "both bits on one recorder";
    table.Set(2, &RecorderStatus::callState, 3);
    EXPECT_TRUE(table.AnyCallState(3));
}

TEST(StatusTitle, FromTheCallStatesOfBothRecorders)
{
    struct Case
    {
        std::uint32_t one, two;
        const char* title;
    };
    const Case cases[] = {
        {0, 0, "KZB Voralis"},
        {1, 0, "KZB Voralis - Recording"},
        {3, 0, "KZB Voralis - Suppressing"},
        {2, 16, "KZB Voralis - Suppressing and Discarding"},
        {17, 0, "KZB Voralis - Discarding"},
        {1, 4, "KZB Voralis - Event Feed Unavailable"},
        {8, 2, "KZB Voralis - Not Configured"},
        {12, 0, "KZB Voralis - Event Feed Unavailable"},
    };
    for (const Case& c : cases) {
        RecorderStatusTable table;
        AddTwoRecorders(table);
        table.Set(1, &RecorderStatus::callState, c.one);
        table.Set(2, &RecorderStatus::callState, c.two);
        EXPECT_EQ(BuildStatusTitle(table), c.title) << c.one << "/" << c.two;
    }
}

TEST(StatusTitle, CallStateTexts)
{
    EXPECT_EQ(CallStateText(0), "Idle");
    EXPECT_EQ(CallStateText(32), "Unknown");
    EXPECT_EQ(CallStateText(1), "Recording");
    EXPECT_EQ(CallStateText(3), "Recording, Suppressing");
    EXPECT_EQ(CallStateText(31 | 64), "Recording, Suppressing, Unavailable, NotConfigured, Discarding");
}

TEST(RecordOnDemandText, Rules)
{
    struct Case
    {
        std::uint32_t mode, action, defaultAction, callState;
        const char* text;
    };
    const Case cases[] = {
        {2, 1, 2, 1, "Keeping This Call"},
        {2, 1, 2, 0, "Keeping Next Call"},
        {2, 2, 1, 1, "Discarding This Call"},
        {2, 2, 1, 0, "Discarding Next Call"},
        {2, 2, 2, 1, "Discarding All Calls"},
        {2, 1, 1, 0, "Keeping All Calls"},
        {2, 0, 1, 0, "Not Available"},
        {2, 3, 1, 0, "Unknown"},
        {1, 0, 0, 0, "Not Available"},
        {1, 1, 2, 1, "Keeping All Calls"},
        {1, 2, 0, 1, "Discarding All Calls"},
        {3, 1, 2, 1, "Unknown"},
    };
    for (const Case& c : cases) {
        RecorderStatusTable table;
        table.AddEntry(1, "A");
        table.Set(1, &RecorderStatus::recordOnDemandMode, c.mode);
        table.Set(1, &RecorderStatus::recordOnDemandAction, c.action);
        table.Set(1, &RecorderStatus::recordOnDemandDefaultAction, c.defaultAction);
        table.Set(1, &RecorderStatus::callState, c.callState);
        EXPECT_EQ(RecordOnDemandStateText(table), c.text)
            << c.mode << " " << c.action << " " << c.defaultAction << " " << c.callState;
    }
}

TEST(StatusReport, ConnectionMessages)
{
    struct Case
    {
        std::uint32_t one, two;
        const char* text;
    };
    const Case cases[] = {
        {7, 2, "Not connected to the recorder at '10.0.0.2'"},
        {1, 7, "Invalid IP address configured for the recorder ('10.0.0.1')"},
        {5, 6,
         "Not connected to the recorder at '10.0.0.1'. The recorders configuration for this client is invalid.\n"
         "No longer attempting to communicate with the recorder at '10.0.0.2'"},
        {0, 0, "Voralis configuration is invalid"},
        {9, 7, "Unexpected recorder connection status (9) for the recorder at '10.0.0.1'"},
        {7, 7, ""},
    };
    for (const Case& c : cases) {
        RecorderStatusTable table;
        AddTwoRecorders(table);
        table.Set(1, &RecorderStatus::connectionStatus, c.one);
        table.Set(2, &RecorderStatus::connectionStatus, c.two);
        StatusReport report(false);
        report.Update(table, "", 1000);
        EXPECT_EQ(report.Text(), c.text) << c.one << "/" << c.two;
    }

    RecorderStatusTable onlyOne;
    onlyOne.AddEntry(2, "B");
    onlyOne.Set(2, &RecorderStatus::connectionStatus, ConnectionStatus::NotConnected);
    StatusReport report(false);
    EXPECT_TRUE(report.Update(onlyOne, "", 0));
    EXPECT_EQ(report.Text(), "Voralis configuration is invalid\nNot connected to the recorder at 'B'");
}

TEST(StatusReport, DifferencesBetweenTheRecorders)
{
    RecorderStatusTable table;
        AddTwoRecorders(table);
    Connect(table, 1);
    Connect(table, 2);
    table.Set(2, &RecorderStatus::annotationEnabled, true);
    table.Set(2, &RecorderStatus::annotationStatus, AnnotationStatus::ConfigurationDiffers);
    table.Set(1, &RecorderStatus::manualSuppressionEnabled, 2);
    table.Set(1, &RecorderStatus::recordOnDemandEnabled, 1);
    table.Set(2, &RecorderStatus::recordOnDemandEnabled, 2);
    table.Set(2, &RecorderStatus::recordOnDemandMode, 2);
    table.Set(1, &RecorderStatus::stateTimeout, 30);

    StatusReport report(false);
    report.Update(table, "", 0);
    EXPECT_EQ(report.Text(),
              "There are differences in the annotation configuration from the recorder at '10.0.0.1' and '10.0.0.2'\n"
              "Annotation is enabled for the recorder at '10.0.0.2' but not for the recorder at '10.0.0.1'\n"
              "Record on Demand is enabled for the recorder at '10.0.0.2' but not for the recorder at '10.0.0.1'\n"
              "The Record on Demand mode for the recorder at '10.0.0.1' is 'Permanent', but the Record on Demand mode "
              "for the recorder at '10.0.0.2' is 'Temporary'\n"
              "The call state timeout for the recorder at '10.0.0.1' is set to '30', but the recorder at '10.0.0.2' is "
              "set to '0'");
}

TEST(StatusReport, CallStateDifferenceReportedAfterTheDelay)
{
    RecorderStatusTable table;
        AddTwoRecorders(table);
    Connect(table, 1);
    Connect(table, 2);
    table.Set(1, &RecorderStatus::callState, 1);
    table.Set(2, &RecorderStatus::callState, 3);
    const std::string message = "The call state for the recorder at '10.0.0.1' is 'Recording', but the call state for "
                                "the recorder at '10.0.0.2' is 'Recording, Suppressing'";

    StatusReport report(false);
    EXPECT_FALSE(report.Update(table, "", 100));
    EXPECT_FALSE(report.Update(table, "", 102));
    EXPECT_EQ(report.Text(), "");
    EXPECT_TRUE(report.Update(table, "", 103));
    EXPECT_EQ(report.Text(), message);
    EXPECT_FALSE(report.Update(table, "", 104)) << "merged again, nothing new";

    table.Set(2, &RecorderStatus::callState, 1);
    EXPECT_TRUE(report.Update(table, "", 105));
    EXPECT_EQ(report.Text(), "");

    StatusReport activeOnly(false);
    table.Set(2, &RecorderStatus::callState, 3);
    for (std::time_t now = 100; now < 110; ++now)
        activeOnly.Update(table, "ActiveOnly", now);
    EXPECT_EQ(activeOnly.Text(), "");
}

TEST(StatusReport, RecordOnDemandStateDifferenceAndMerging)
{
    RecorderStatusTable table;
        AddTwoRecorders(table);
    Connect(table, 1);
    table.Set(2, &RecorderStatus::connectionStatus, 7);
    table.Set(1, &RecorderStatus::recordOnDemandAction, 1);
    table.Set(2, &RecorderStatus::recordOnDemandAction, 2);
    StatusReport report(false);
    report.SetReportDelay(5);
    report.Update(table, "", 10);
    EXPECT_FALSE(report.Update(table, "", 15));
    EXPECT_TRUE(report.Update(table, "", 16));
    EXPECT_EQ(report.Text(), "The Record on Demand state for the recorder at '10.0.0.1' is 'Keep', but the Record on "
                             "Demand state for the recorder at '10.0.0.2' is 'Discard'");
}

TEST(StatusReport, MergeReplacesTheLineWithTheSameKey)
{
    std::string text = "First line\nThe call state for the recorder at 'A' is 'Idle', x\nLast line";
    EXPECT_TRUE(MergeStatusMessage(text, "The call state for the recorder at 'A' is 'Recording', y\n"));
    EXPECT_EQ(text, "First line\nThe call state for the recorder at 'A' is 'Recording', y\nLast line");
    EXPECT_FALSE(MergeStatusMessage(text, "The call state for the recorder at 'A' is 'Recording', y"));
    EXPECT_TRUE(MergeStatusMessage(text, "New (1) message"));
    EXPECT_EQ(text.substr(text.rfind('\n') + 1), "New (1) message");
}

TEST(StatusReport, AutoSuppressionMessagesFollowEachOther)
{
    RecorderStatusTable table;
        AddTwoRecorders(table);
    Connect(table, 1);
    Connect(table, 2);
    table.Set(1, &RecorderStatus::autoSuppressionState, 2);
    table.Set(1, &RecorderStatus::autoSuppressionTrigger, std::string("Card"));
    table.Set(2, &RecorderStatus::autoSuppressionState, 2);
    table.Set(2, &RecorderStatus::autoSuppressionTrigger, std::string("Pay"));
    StatusReport report(true);
    report.Update(table, "", 0);
    EXPECT_EQ(report.Text(), "\"Audio auto suppression is enabled for the recorder at '10.0.0.1', trigger: 'Card'\""
                             "\"Audio auto suppression is enabled for the recorder at '10.0.0.2', trigger: 'Pay'\"");

    StatusReport off(false);
    off.Update(table, "", 0);
    EXPECT_EQ(off.Text(), "");
}
