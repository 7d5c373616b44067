// The agent's own work in the container, driven as an agent would: annotating a call,
// suppressing by hand, keeping and discarding, and a payment window opened by another
// program; the bytes at the simulated recorders checked against the documented layouts.
#include "ProgramFixture.h"

#include <cstdio>
#include <map>
#include <string>

using nlohmann::json;
using namespace gui;

namespace {

std::string UserName()
{
    char name[257] = {};
    DWORD size = sizeof name;
    ::GetUserNameA(name, &size);
    return name;
}

std::string Hex(const std::string& bytes)
{
    std::string text;
    char pair[3];
    for (unsigned char byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

std::string U32(std::uint32_t value)
{
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i) & 0xFF);
    return bytes;
}

std::string Padded(const std::string& text, std::size_t width)
{
    std::string bytes = text;
    bytes.resize(width, '\0');
    return bytes;
}

// DKA_ANNOTATE_CALL for a login-name ID type: {0x2002, length}, ID type, count, the login
// (257 bytes), then per field its ID and its value (261 bytes).
std::string AnnotateImage(const std::vector<std::pair<std::uint32_t, std::string>>& fields)
{
    std::string payload = U32(2) + U32(static_cast<std::uint32_t>(fields.size())) + Padded(UserName(), 257);
    for (const auto& [id, value] : fields)
        payload += U32(id) + Padded(value, 261);
    return Hex(U32(0x2002) + U32(static_cast<std::uint32_t>(payload.size())) + payload);
}

const json Notes = {{"field_id", 1001}, {"field_name", "Notes"}, {"input", {{"type", 1}, {"max_length", 10}}}};
const json Outcome = {{"field_id", 1002},
                      {"field_name", "Outcome"},
                      {"input",
                       {{"type", 2},
                        {"buttons", json::array({{{"label", "Sale"}, {"text", "Sale made"}},
                                                 {{"label", "No sale"}, {"text", "No sale made"}},
                                                 {{"label", "Callback"}, {"text", "Call back later"}}})}}}};

json Annotation(json fields)
{
    return {{"id_config", ProgramTest::HostNameID(2)}, {"config", {{"fields", std::move(fields)}}}};
}

json EveryFeature(json fields = json::array({Notes, Outcome}))
{
    return {{"pci", {{"id_config", ProgramTest::HostNameID(4)},
                     {"config", {{"methods", json::array({{{"type", 2}, {"trigger", 1}, {"match_pattern", 4},
                                                            {"window_text", "Card Payment"},
                                                            {"minimum_suppression_time", 2}}})}}}}},
            {"annotation", Annotation(std::move(fields))},
            {"manual_suppression", {{"id_config", ProgramTest::HostNameID(3)}, {"config", {{"enabled", true}}}}},
            {"record_on_demand", {{"id_config", ProgramTest::HostNameID(4)},
                                  {"config", {{"type", 1}, {"mode", 2}}},
                                  {"state", 1},
                                  {"default_state", 2}}}};
}

void Click(HWND button)
{
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_NORMAL, 5000, &ignored);
}

bool Checked(HWND button)
{
    DWORD_PTR state = 0;
    ::SendMessageTimeoutA(button, BM_GETCHECK, 0, 0, SMTO_NORMAL, 5000, &state);
    return state == BST_CHECKED;
}

void Type(HWND edit, const std::string& text)
{
    for (char c : text)
        ::PostMessageA(edit, WM_CHAR, static_cast<unsigned char>(c), 1);
}

HWND FocusOf(HWND anyWindowOfTheProgram)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    ::GetGUIThreadInfo(::GetWindowThreadProcessId(anyWindowOfTheProgram, nullptr), &info);
    return info.hwndFocus;
}

// Every shown dialog inside the container, and every shown control inside its dialog, lies
// wholly inside it, and no two shown dialogs overlap: nothing is cut or drawn over.
void ExpectNothingCutOrOverlapping(HWND container)
{
    const SIZE area = ClientSizeOf(container);
    std::vector<RECT> dialogs;
    for (HWND dialog = ::GetWindow(container, GW_CHILD); dialog; dialog = ::GetWindow(dialog, GW_HWNDNEXT)) {
        if (!IsShown(dialog))
            continue;
        const RECT place = RectInParent(dialog);
        EXPECT_TRUE(place.left >= 0 && place.top >= 0 && place.right <= area.cx && place.bottom <= area.cy)
            << "a dialog at " << place.left << "," << place.top << "-" << place.right << "," << place.bottom
            << " in a container of " << area.cx << "x" << area.cy;
        for (const RECT& other : dialogs) {
            RECT both{};
            EXPECT_FALSE(::IntersectRect(&both, &place, &other)) << "two dialogs overlap at " << both.left << ","
                                                                  << both.top;
        }
        dialogs.push_back(place);
        const SIZE inside = ClientSizeOf(dialog);
        for (HWND control = ::GetWindow(dialog, GW_CHILD); control; control = ::GetWindow(control, GW_HWNDNEXT)) {
            if (!IsShown(control))
                continue;
            const RECT at = RectInParent(control);
            EXPECT_TRUE(at.left >= 0 && at.top >= 0 && at.right <= inside.cx && at.bottom <= inside.cy)
                << "control " << ::GetDlgCtrlID(control) << " '" << TextOf(control) << "' at " << at.left << ","
                << at.top << "-" << at.right << "," << at.bottom << " in a dialog of " << inside.cx << "x" << inside.cy;
        }
    }
}

} // namespace

class FeatureDialogsTest : public ProgramTest
{
protected:
    // The program against the recorders, its container shown; false when it did not come up.
    bool StartWith(const std::vector<std::string>& addresses)
    {
        std::string setting;
        for (const std::string& address : addresses)
            setting += (setting.empty() ? "" : " ") + address;
        SetMachineText("RecorderAddress", setting);
        SetUserNumber("ShowWindow", 1);
        SetUserNumber("WindowLeft", 20);
        SetUserNumber("WindowTop", 20);
        SetUserNumber("LogLevel", 3);
        return StartProgram() && WaitUntil([&] { return IsShown(program.Container()); });
    }

    HWND AnnotationDialog() const { return Dialog(IDC_ANNOTATE_CALL); }
    HWND Field(int id) const { return Control(IDC_ANNOTATE_CALL, id); }
};

TEST_F(FeatureDialogsTest, TheAnnotationFieldsAreBuiltFilledAndSentToBothRecorders)
{
    const json features = {{"annotation", Annotation(json::array({Notes, Outcome}))}};
    const std::string one = AddRecorder(Scenario(2, features));
    const std::string two = AddRecorder(Scenario(2, features));
    ASSERT_TRUE(StartWith({one, two}));
    ASSERT_TRUE(WaitUntil([&] { return IsShown(AnnotationDialog()) && Field(IDC_FIELD_EDIT_FIRST) != nullptr; }));
    HWND dialog = AnnotationDialog();

    // The layout: a row of 25 pixels per field, labels, the edit box, three buttons.
    const struct
    {
        int id;
        RECT place;
    } controls[] = {
        {2200, {10, 25, 100, 45}}, {2100, {105, 25, 450, 45}}, {2201, {10, 50, 100, 70}},
        {2000, {105, 50, 170, 70}}, {2001, {174, 50, 239, 70}}, {2002, {243, 50, 308, 70}},
    };
    for (const auto& c : controls) {
        const RECT at = RectInParent(Field(c.id));
        EXPECT_EQ(at.left, c.place.left) << c.id;
        EXPECT_EQ(at.top, c.place.top) << c.id;
        EXPECT_EQ(at.right, c.place.right) << c.id;
        EXPECT_EQ(at.bottom, c.place.bottom) << c.id;
    }
    EXPECT_EQ(Field(2101), nullptr);
    EXPECT_EQ(Field(2003), nullptr);
    EXPECT_EQ(TextOf(Field(2200)), "Notes");
    EXPECT_EQ(TextOf(Field(2001)), "No sale");
    EXPECT_EQ(RectInParent(Field(IDC_ANNOTATE_CALL)).top, 75);
    EXPECT_EQ(ClientSizeOf(dialog).cx, 460);
    EXPECT_EQ(FocusOf(dialog), Field(IDC_FIELD_EDIT_FIRST)) << "the first input has the focus";
    ExpectNothingCutOrOverlapping(program.Container());
    Screenshot("container-annotation-only", program.Id());

    // At most ten characters go into the edit box; the second button replaces the first.
    Type(Field(2100), "Card 1234 5678");
    ASSERT_TRUE(WaitUntil([&] { return TextOf(Field(2100)) == "Card 1234 "; })) << TextOf(Field(2100));
    Click(Field(2000));
    EXPECT_TRUE(Checked(Field(2000)));
    Click(Field(2001));
    EXPECT_FALSE(Checked(Field(2000)));
    EXPECT_TRUE(Checked(Field(2001)));

    int since = sim->LastSeq();
    Click(Field(IDC_ANNOTATE_CALL));
    const std::string expected = AnnotateImage({{1001, "Card 1234 "}, {1002, "No sale made"}});
    for (const std::string& address : {one, two}) {
        const json annotation = Received(address, "DKA_ANNOTATE_CALL", since);
        ASSERT_FALSE(annotation.is_null()) << address;
        EXPECT_EQ(annotation["hex"].get<std::string>(), expected) << address;
    }
    // Everything is cleared for the next call.
    EXPECT_TRUE(WaitUntil([&] { return TextOf(Field(2100)).empty(); }));
    EXPECT_FALSE(Checked(Field(2001)));
    EXPECT_EQ(FocusOf(dialog), Field(IDC_FIELD_EDIT_FIRST));

    // Nothing entered: nothing sent. The button's second click clears its field again.
    Click(Field(2002));
    Click(Field(2002));
    EXPECT_FALSE(Checked(Field(2002)));
    since = sim->LastSeq();
    Click(Field(IDC_ANNOTATE_CALL));
    Type(Field(2100), "x");
    ASSERT_TRUE(WaitUntil([&] { return TextOf(Field(2100)) == "x"; }));
    Click(Field(IDC_ANNOTATE_CALL));
    const json next = Received(one, "DKA_ANNOTATE_CALL", since);
    ASSERT_FALSE(next.is_null());
    EXPECT_EQ(next["hex"].get<std::string>(), AnnotateImage({{1001, "x"}})) << "the empty press sent nothing";
}

TEST_F(FeatureDialogsTest, RecordersWithDifferentFieldsShowNoFieldsAndSaySo)
{
    json longer = Notes;
    longer["input"]["max_length"] = 80;
    const std::string one = AddRecorder(Scenario(2, {{"annotation", Annotation(json::array({Notes, Outcome}))}}));
    const std::string two = AddRecorder(Scenario(2, {{"annotation", Annotation(json::array({longer, Outcome}))}}));
    ASSERT_TRUE(StartWith({one, two}));
    HWND text = nullptr;
    const std::string expected =
        "There are differences in the annotation configuration from the recorder at '" + one + "' and '" + two + "'";
    ASSERT_TRUE(WaitUntil([&] {
        text = Control(IDC_STATUS_TEXT, IDC_STATUS_TEXT);
        return text != nullptr && TextOf(text) == expected;
    })) << (text ? TextOf(text) : "");
    EXPECT_TRUE(WaitForLog("Different annotation configurations for Recorders detected"));
    EXPECT_FALSE(IsShown(AnnotationDialog()));
    EXPECT_EQ(Field(IDC_FIELD_EDIT_FIRST), nullptr);
    ExpectNothingCutOrOverlapping(program.Container());
    Screenshot("recorders-disagree", program.Id());
}

TEST_F(FeatureDialogsTest, AFieldOfAnUnknownInputTypeIsRefusedWithItsConfiguration)
{
    // A field of input type 7 cannot be read, so the configuration that holds it is refused as
    // a whole: no fields, and the reason in the log. Manual suppression keeps the container up.
    const json odd = {{"field_id", 1003}, {"field_name", "Mood"}, {"input", {{"type", 7}}}};
    const json features = {{"annotation", Annotation(json::array({Notes, odd}))},
                           {"manual_suppression", {{"id_config", HostNameID(3)}, {"config", {{"enabled", true}}}}}};
    const std::string address = AddRecorder(Scenario(6, features));
    ASSERT_TRUE(StartWith({address}));
    ASSERT_FALSE(Received(address, "DKA_GET_ANNOTATION_CONFIG", 0).is_null());
    EXPECT_TRUE(WaitForLog("Read DKA_ANNOTATION_CONFIG failed. Exception: Annotation Type 7 is not valid"));
    EXPECT_TRUE(WaitUntil([&] { return IsShown(Dialog(IDC_SUPPRESSION_START)); }));
    EXPECT_FALSE(IsShown(AnnotationDialog()));
}

TEST_F(FeatureDialogsTest, StartStopKeepAndDiscardGoToEveryRecorder)
{
    const json features = {
        {"manual_suppression", {{"id_config", HostNameID(3)}, {"config", {{"enabled", true}}}}},
        {"record_on_demand",
         {{"id_config", HostNameID(4)}, {"config", {{"type", 1}, {"mode", 2}}}, {"state", 1}, {"default_state", 2}}}};
    const std::string one = AddRecorder(Scenario(12, features));
    const std::string two = AddRecorder(Scenario(12, features));
    ASSERT_TRUE(StartWith({one, two}));
    HWND start = nullptr;
    HWND keep = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        start = Control(IDC_SUPPRESSION_START, IDC_SUPPRESSION_START);
        keep = Control(IDC_KEEP, IDC_KEEP);
        return IsShown(Dialog(IDC_SUPPRESSION_START)) && IsShown(Dialog(IDC_KEEP));
    }));

    // The two 24-pixel buttons spread over the dialog's width; the state text beside Keep and Discard.
    EXPECT_EQ(RectInParent(start).left, 56);
    EXPECT_EQ(RectInParent(start).top, 25);
    EXPECT_EQ(RectInParent(Control(IDC_SUPPRESSION_START, IDC_SUPPRESSION_STOP)).left, 121);
    EXPECT_EQ(ClientSizeOf(start).cx, 24);
    EXPECT_EQ(ClientSizeOf(Dialog(IDC_SUPPRESSION_START)).cx, 203);
    EXPECT_EQ(ClientSizeOf(Dialog(IDC_SUPPRESSION_START)).cy, 64);
    HWND state = Control(IDC_KEEP, IDC_RECORD_ON_DEMAND_STATE);
    EXPECT_EQ(RectInParent(state).left, 15);
    EXPECT_LT(RectInParent(state).right, RectInParent(keep).left) << "the text ends before Keep";
    ExpectNothingCutOrOverlapping(program.Container());

    const struct
    {
        HWND button;
        const char* message;
        std::uint32_t action;
    } presses[] = {
        {start, "DKA_PCI_SUPPRESS", 1},
        {Control(IDC_SUPPRESSION_START, IDC_SUPPRESSION_STOP), "DKA_PCI_SUPPRESS", 2},
        {keep, "DKA_RECORD_ON_DEMAND", 1},
        {Control(IDC_KEEP, IDC_DISCARD), "DKA_RECORD_ON_DEMAND", 2},
    };
    for (const auto& p : presses) {
        SCOPED_TRACE(std::string(p.message) + " " + std::to_string(p.action));
        const int since = sim->LastSeq();
        Click(p.button);
        for (const std::string& address : {one, two}) {
            const json sent = Received(address, p.message, since);
            ASSERT_FALSE(sent.is_null()) << address;
            EXPECT_EQ(sent["message"]["action"].get<std::uint32_t>(), p.action);
            EXPECT_EQ(sent["message"]["id_type"].get<std::uint32_t>(), std::string(p.message) == "DKA_PCI_SUPPRESS" ? 3u : 4u);
        }
    }

    // The state text follows the recorders: their mode, state and default state, and the call.
    const struct
    {
        std::uint32_t action, defaultAction, call;
        const char* text;
    } states[] = {
        {1, 2, 1, "Keeping This Call"},  {1, 2, 0, "Keeping Next Call"},   {2, 1, 1, "Discarding This Call"},
        {2, 1, 0, "Discarding Next Call"}, {2, 2, 0, "Discarding All Calls"}, {1, 1, 1, "Keeping All Calls"},
        {0, 2, 1, "Not Available"},
    };
    for (const auto& c : states) {
        for (const std::string& address : {one, two}) {
            Do(address, {{"op", "send"}, {"message", {{"name", "DKA_RECORD_ON_DEMAND_DEFAULT_STATE"}, {"state", c.defaultAction}}}});
            Do(address, {{"op", "send"}, {"message", {{"name", "DKA_RECORD_ON_DEMAND_STATE"}, {"state", c.action}}}});
            Do(address, {{"op", "send"}, {"message", {{"name", "DKA_CALL_STATE"}, {"state", c.call}}}});
        }
        EXPECT_TRUE(WaitUntil([&] { return TextOf(state) == c.text; })) << c.text << ": " << TextOf(state);
    }
}

TEST_F(FeatureDialogsTest, TheContainerGrowsAndShrinksWithWhatTheRecordersEnable)
{
    const std::string address = AddRecorder(Scenario(2, EveryFeature()));
    ASSERT_TRUE(StartWith({address}));
    ASSERT_TRUE(WaitUntil([&] { return IsShown(AnnotationDialog()); }));
    const SIZE annotationOnly = ClientSizeOf(program.Container());
    EXPECT_EQ(annotationOnly.cy, ClientSizeOf(AnnotationDialog()).cy);

    // Every feature: the row of the status image, manual suppression and record on demand joins.
    Do(address, {{"op", "tasks"}, {"mask", 15}});
    ASSERT_TRUE(WaitUntil([&] { return IsShown(Dialog(IDC_KEEP)) && IsShown(Dialog(IDC_STATUS_PICTURE)); }));
    EXPECT_TRUE(WaitUntil([&] { return ClientSizeOf(program.Container()).cy > annotationOnly.cy; }));
    const RECT row = RectInParent(Dialog(IDC_STATUS_PICTURE));
    EXPECT_EQ(row.left, 0);
    EXPECT_EQ(row.top, ClientSizeOf(AnnotationDialog()).cy) << "the row sits below the annotation dialog";
    EXPECT_EQ(RectInParent(Dialog(IDC_SUPPRESSION_START)).left, ClientSizeOf(Dialog(IDC_STATUS_PICTURE)).cx);
    ExpectNothingCutOrOverlapping(program.Container());
    Screenshot("container-every-feature", program.Id());

    // Back to annotation only, then to nothing: the container and the icon go.
    Do(address, {{"op", "tasks"}, {"mask", 2}});
    EXPECT_TRUE(WaitUntil([&] { return !IsShown(Dialog(IDC_KEEP)) && ClientSizeOf(program.Container()).cy == annotationOnly.cy; }));
    Do(address, {{"op", "tasks"}, {"mask", 0}});
    EXPECT_TRUE(WaitUntil([&] { return !IsShown(program.Container()); }));
    EXPECT_TRUE(WaitUntil([] { return !TrayIconShown(); }));
    // A feature again: both come back.
    Do(address, {{"op", "tasks"}, {"mask", 4}});
    EXPECT_TRUE(WaitUntil([&] { return IsShown(program.Container()) && IsShown(Dialog(IDC_SUPPRESSION_START)); }));
    EXPECT_TRUE(WaitUntil([] { return TrayIconShown(); }));
}

TEST_F(FeatureDialogsTest, EveryDialogAtOnce)
{
    const std::string address = AddRecorder(Scenario(15, EveryFeature()));
    ASSERT_TRUE(StartWith({address, UnusedAddress()})); // the second never answers: a status text
    ASSERT_TRUE(WaitUntil([&] {
        return IsShown(AnnotationDialog()) && IsShown(Dialog(IDC_KEEP)) && IsShown(Dialog(IDC_STATUS_TEXT));
    }));
    Do(address, {{"op", "send"}, {"message", {{"name", "DKA_CALL_STATE"}, {"state", 1}}}});
    ASSERT_TRUE(WaitUntil([&] { return TextOf(program.Container()) == "KZB Voralis - Recording"; }));
    ExpectNothingCutOrOverlapping(program.Container());
    Screenshot("container-all-dialogs", program.Id());
}

TEST_F(FeatureDialogsTest, APaymentWindowSuppressesOnBothRecordersUntilItCloses)
{
    // A second trigger matches the program's own caption: its own windows are never looked
    // at, so it never holds the suppression.
    json features = EveryFeature();
    features["pci"]["config"]["methods"].push_back(
        {{"type", 2}, {"trigger", 1}, {"match_pattern", 2}, {"window_text", "KZB Voralis"}, {"minimum_suppression_time", 0}});
    const std::string one = AddRecorder(Scenario(15, features));
    const std::string two = AddRecorder(Scenario(15, features));
    ASSERT_TRUE(StartWith({one, two}));
    for (const std::string& address : {one, two})
        ASSERT_FALSE(Received(address, "DKA_GET_PCI_SUPPRESSION_CONFIG", 0).is_null());
    ASSERT_TRUE(WaitUntil([&] { return IsShown(AnnotationDialog()); }));

    int since = sim->LastSeq();
    TriggerWindow payment("Card Payment - CRM");
    ASSERT_TRUE(payment.Shown());
    std::map<std::string, double> started;
    for (const std::string& address : {one, two}) {
        const json start = Received(address, "DKA_PCI_SUPPRESS", since);
        ASSERT_FALSE(start.is_null()) << address;
        EXPECT_EQ(start["message"]["action"].get<std::uint32_t>(), 1u);
        EXPECT_EQ(start["message"]["id_type"].get<std::uint32_t>(), 4u);
        started[address] = start["time"].get<double>();
    }
    // The recorders answer with the suppressing call state.
    EXPECT_TRUE(WaitUntil([&] { return TextOf(program.Container()) == "KZB Voralis - Suppressing"; }));
    EXPECT_EQ(HoverTrayIcon(), "KZB Voralis - Suppressing");
    ExpectNothingCutOrOverlapping(program.Container());
    Screenshot("suppressing", program.Id());

    since = sim->LastSeq();
    payment.Close();
    for (const std::string& address : {one, two}) {
        const json end = Received(address, "DKA_PCI_SUPPRESS", since);
        ASSERT_FALSE(end.is_null()) << address;
        EXPECT_EQ(end["message"]["action"].get<std::uint32_t>(), 2u);
        EXPECT_GE(end["time"].get<double>() - started[address], 1.9) << "held for the 2 s minimum";
    }
    EXPECT_TRUE(WaitUntil([&] { return TextOf(program.Container()) == "KZB Voralis"; }));
}
