#include "CliOptions.h"
#include "ConsoleCommands.h"
#include "ConsoleView.h"

#include "Config/AnnotationTypes.h"
#include "MachineSettings.h"
#include "ui/MainFrameCore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(CliOptions, TheContractsOptions)
{
    std::string error;
    const auto options = ParseCliOptions({"--recorder", "10.0.0.1", "--recorder", "10.0.0.2", "--port", "16471",
                                          "--desktop", "d.json", "--settings", "s.json", "--log-dir", "logs"},
                                         error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->recorders, (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));
    EXPECT_EQ(options->port, 16471);
    EXPECT_EQ(options->desktopFile, "d.json");
    EXPECT_EQ(options->settingsFile, "s.json");
    EXPECT_EQ(options->logFolder, "logs");

    const struct
    {
        std::vector<std::string> arguments;
        const char* error;
    } wrong[] = {
        {{"--verbose"}, "unknown option '--verbose'"},
        {{"--recorder"}, "option --recorder needs a value"},
        {{"--port", "0"}, "port '0' is not a number from 1 to 65535"},
        {{"--port", "65536"}, "port '65536' is not a number from 1 to 65535"},
        {{"--port", "12a"}, "port '12a' is not a number from 1 to 65535"},
    };
    for (const auto& w : wrong) {
        EXPECT_FALSE(ParseCliOptions(w.arguments, error));
        EXPECT_EQ(error, w.error);
    }
}

TEST(ConsoleCommands, ParsesEachCommandAndExplainsWhatItRefuses)
{
    using Kind = ConsoleCommand::Kind;
    const struct
    {
        const char* line;
        Kind kind;
        const char* error;
    } cases[] = {
        {"", Kind::None, ""},
        {"suppress start", Kind::SuppressStart, ""},
        {"  suppress   stop ", Kind::SuppressStop, ""},
        {"keep", Kind::Keep, ""},
        {"discard", Kind::Discard, ""},
        {"quit", Kind::Quit, ""},
        {"suppress", Kind::Invalid, "use 'suppress start' or 'suppress stop'"},
        {"suppress start now", Kind::Invalid, "use 'suppress start' or 'suppress stop'"},
        {"keep it", Kind::Invalid, "'keep' takes no argument"},
        {"Keep", Kind::Invalid, "unknown command 'Keep'"},
        {"annotate", Kind::Invalid, "annotate needs at least one <fieldID>=<value>"},
        {"annotate 1001", Kind::Invalid, "'1001' is not <fieldID>=<value>"},
        {"annotate =x", Kind::Invalid, "'=x' is not <fieldID>=<value>"},
        {"annotate abc=x", Kind::Invalid, "'abc' is not a field ID"},
        {"annotate 99999999999=x", Kind::Invalid, "'99999999999' is not a field ID"},
    };
    for (const auto& c : cases) {
        const ConsoleCommand command = ParseConsoleCommand(c.line);
        EXPECT_EQ(command.kind, c.kind) << c.line;
        EXPECT_EQ(command.error, c.error) << c.line;
    }
    const ConsoleCommand annotate = ParseConsoleCommand("annotate 1001=a=b 1002=");
    ASSERT_EQ(annotate.kind, Kind::Annotate);
    EXPECT_EQ(annotate.values,
              (std::vector<std::pair<std::uint32_t, std::string>>{{1001, "a=b"}, {1002, ""}}));
}

class RecordingRequester : public IAnnotationRequester
{
public:
    bool RequestAnnotation(const std::vector<AnnotateField>& values) override
    {
        for (const AnnotateField& value : values)
            sent.emplace_back(value.GetFieldID(), value.GetValue());
        return true;
    }
    void DetachDialog() override {}

    std::vector<std::pair<std::uint32_t, std::string>> sent;
};

class AnnotateCommandTest : public testing::Test
{
protected:
    void SetUp() override
    {
        UseTestSettingsStore();
        fields.emplace_back(1001, "Notes", std::make_unique<FreeTextEntry>(5));
        fields.emplace_back(1002, "Outcome",
                            std::make_unique<PushButton>(std::vector<PushButtonData>{{"Sale", "Sale made"}, {"No", "No sale"}}));
        core.GetStatusTable().AddEntry(1, "127.0.0.1");
        CAnnotationDialogModel& dialog = *core.GetAnnotationDialog();
        dialog.SetAnnotationEnabled(1, true);
        dialog.SetAnnotationConfiguration(1, fields);
        dialog.SetAnnotationStatus(1, AnnotationStatus::ConfigurationInForce);
        dialog.RegisterHandler(1, &requester);
        ASSERT_TRUE(dialog.UpdateLayout());
    }

    std::string Run(const std::string& line) { return ExecuteConsoleCommand(core, ParseConsoleCommand(line)); }

    std::vector<FieldDetails> fields;
    RecordingRequester requester; // outlives the dialog it registered with
    CMainFrameCore core;
};

TEST_F(AnnotateCommandTest, FreeTextAsTypedAndAButtonsAnnotationText)
{
    EXPECT_EQ(Run("annotate 1002=Sale 1001=hello"), "ok: annotate (sent to recorder 1)");
    EXPECT_EQ(requester.sent,
              (std::vector<std::pair<std::uint32_t, std::string>>{{1001, "hello"}, {1002, "Sale made"}}));
    // The values are cleared once sent.
    requester.sent.clear();
    EXPECT_EQ(Run("annotate 1002=No"), "ok: annotate (sent to recorder 1)");
    EXPECT_EQ(requester.sent, (std::vector<std::pair<std::uint32_t, std::string>>{{1002, "No sale"}}));
}

TEST_F(AnnotateCommandTest, AValueThatFitsNothingChangesNothing)
{
    const struct
    {
        const char* line;
        const char* reply;
    } cases[] = {
        {"annotate 9999=x", "error: no annotation field 9999"},
        {"annotate 1001=ok 1002=sale", "error: field 1002 has no button 'sale'"},
        {"annotate 1001=toolong", "error: field 1001 takes at most 5 characters"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Run(c.line), c.reply);
    // Nothing of the refused commands stayed behind in the fields.
    EXPECT_EQ(Run("annotate 1002=Sale"), "ok: annotate (sent to recorder 1)");
    EXPECT_EQ(requester.sent, (std::vector<std::pair<std::uint32_t, std::string>>{{1002, "Sale made"}}));
}

TEST(ConsoleView, PrintsOnlyWhatChanged)
{
    UseTestSettingsStore();
    CMainFrameCore core;
    core.GetStatusTable().AddEntry(1, "10.0.0.1");
    std::vector<std::string> lines;
    ConsoleView view(core, false, [&](const std::string& line) { lines.push_back(line); });
    view.Refresh(1000);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "title: KZB Voralis", "status: Voralis configuration is invalid",
                         "connection 1: not-started", "auto suppression 1: off", "annotation: none",
                         "manual suppression: unavailable", "record on demand: unavailable",
                         "record on demand state: RoD State"}));
    lines.clear();
    view.Refresh(1001);
    EXPECT_TRUE(lines.empty());

    core.GetStatusTable().Set(1, &RecorderStatus::connectionStatus, ConnectionStatus::Connected);
    core.SetCallState(1, 2);
    core.GetStatusTable().Set(1, &RecorderStatus::autoSuppressionState, 2);
    core.GetStatusTable().Set(1, &RecorderStatus::autoSuppressionTrigger, std::string("Title \"Card\"\nfound"));
    view.Refresh(1002);
    EXPECT_EQ(lines, (std::vector<std::string>{"title: KZB Voralis - Suppressing", "status: ",
                                               "connection 1: connected",
                                               "auto suppression 1: on Title \"Card\"\\nfound",
                                               "record on demand state: Not Available"}));
}

TEST(ConsoleView, DescribesTheAnnotationFields)
{
    std::vector<FieldDetails> fields;
    fields.emplace_back(1001, "Notes", std::make_unique<FreeTextEntry>(40));
    fields.emplace_back(1002, "Outcome",
                        std::make_unique<PushButton>(std::vector<PushButtonData>{{"Sale", "x"}, {"No sale", "y"}}));
    EXPECT_EQ(DescribeAnnotationFields(fields), "1001 Notes (text 40); 1002 Outcome (buttons Sale|No sale)");
    EXPECT_EQ(EscapeLineFeeds("a\r\nb\n"), "a\\nb\\n");
}

} // namespace
