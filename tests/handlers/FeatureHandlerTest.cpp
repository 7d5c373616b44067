// The client identity rules shared by the feature handlers, without a recorder: the
// handlers are constructed but not started, and their connection never connects.

#include "LogCapture.h"
#include "MachineSettings.h"

#include "handlers/AnnotationHandler.h"
#include "handlers/ManualSuppressionHandler.h"
#include "handlers/PCISuppressionHandler.h"
#include "handlers/RecordOnDemandHandler.h"
#include "inspection/InspectionClock.h"
#include "handlers/GeneralMessageHandler.h"
#include "ui/MainFrameCore.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class FeatureHandlerTest : public testing::Test
{
protected:
    FeatureHandlerTest() { UseTestSettingsStore(); }

    std::shared_ptr<CTCPComms> connection = std::make_shared<CTCPComms>();
    kzb::inspection::InspectionClock inspections;
    LogCapture log;
};

TEST_F(FeatureHandlerTest, SetIDInfoChecksTheTypeAgainstTheMethodCount)
{
    CManualSuppressionHandler manual(1, nullptr, connection);
    CPCISuppressionHandler pci(2, nullptr, connection, nullptr, inspections);
    const struct
    {
        CFeatureMessageHandler* handler;
        std::uint32_t idType;
        std::size_t methods;
        bool accepted;
        const char* line;
    } cases[] = {
        {&manual, 3, 0, true, nullptr},
        {&manual, 1, 1, false, "Recorder 1 - SetIDInfo(): IDType 'Agent_Name_To_Agent_ID' (1) is not supported"},
        {&manual, 7, 1, false,
         "Recorder 1 - SetHostNameInfo(): Number of ID methods is greater than zero (1). Ignoring message..."},
        {&manual, 10, 0, false, "Recorder 1 - SetIDInfo(): IDType 'Unknown DKA::IDType' (10) is not supported"},
        {&pci, 1, 0, false, "Recorder 2 - SetAgentNameInfo(): Number of ID methods is zero. Ignoring message..."},
        {&pci, 0, 0, false, "Recorder 2 - SetIDInfo(): Unexpected IDType (0)"},
        {&pci, 1, 2, true, nullptr},
        {&pci, 8, 0, true, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.idType << "/" << c.methods);
        log.Clear();
        const std::uint32_t before = c.handler->GetIDType();
        EXPECT_EQ(c.handler->SetIDInfo(c.idType, c.methods), c.accepted);
        EXPECT_EQ(c.handler->GetIDType(), c.accepted ? c.idType : before);
        if (c.line)
            EXPECT_EQ(log.Count(c.line), 1u);
        else
            EXPECT_EQ(log.Lines().size(), 0u);
    }
}

TEST_F(FeatureHandlerTest, TheClientIdentifierFollowsTheIDType)
{
    CPCISuppressionHandler pci(1, nullptr, connection, nullptr, inspections);
    ASSERT_TRUE(pci.SetIDInfo(2, 0));
    EXPECT_EQ(pci.GetClientID(), pci.GetUserName());
    ASSERT_TRUE(pci.SetIDInfo(9, 0));
    EXPECT_EQ(pci.GetClientID(), pci.GetHostName());
    // Every position is supported, so type 0 is too; it names no identifier and logs nothing.
    EXPECT_TRUE(pci.IsIDTypeSupported(0));
    EXPECT_FALSE(pci.IsIDTypeSupported(10));

    // Before any ID configuration the type is 1, which annotation does not take.
    CAnnotationHandler annotation(2, nullptr, connection);
    EXPECT_EQ(annotation.GetClientID(), "");
    EXPECT_EQ(log.Count("Recorder 2 - GetClientID(): IDType 'Agent_Name_To_Agent_ID' (1) is not supported"), 1u);
}

TEST_F(FeatureHandlerTest, SupportedIDTypesOfEachFeature)
{
    CPCISuppressionHandler pci(1, nullptr, connection, nullptr, inspections);
    CAnnotationHandler annotation(1, nullptr, connection);
    CManualSuppressionHandler manual(1, nullptr, connection);
    CRecordOnDemandHandler recordOnDemand(1, nullptr, connection);
    const char* expected[] = {"1111111111", "0011110011", "0011111111", "0011100011"};
    const CFeatureMessageHandler* handlers[] = {&pci, &annotation, &manual, &recordOnDemand};
    for (int h = 0; h < 4; ++h) {
        std::string bits;
        for (std::uint32_t type = 0; type < 10; ++type)
            bits += handlers[h]->IsIDTypeSupported(type) ? '1' : '0';
        EXPECT_EQ(bits, expected[h]) << h;
    }
}

TEST(RecorderAddressesTest, QuotesGoAndWhiteSpaceSeparates)
{
    EXPECT_EQ(ParseRecorderAddresses("\"10.0.0.1\" 10.0.0.2\t 10.0.0.3\r\n"),
              (std::vector<std::string>{"10.0.0.1", "10.0.0.2", "10.0.0.3"}));
    EXPECT_EQ(ParseRecorderAddresses("  "), std::vector<std::string>{});
    EXPECT_EQ(ParseRecorderAddresses("rec\"ord\"er"), std::vector<std::string>{"recorder"});
}

TEST(MainFrameCoreTest, StartLogsTheAddressesAndUsesTheFirstTwo)
{
    UseTestSettingsStore();
    LogCapture log;
    {
        CMainFrameCore core;
        RecorderSettings none;
        EXPECT_FALSE(core.Start(none));
        EXPECT_EQ(log.Count("No recorder address acquired from registry!"), 1u);
    }
    {
        CMainFrameCore core;
        RecorderSettings settings;
        settings.addresses = {"127.0.0.1", "127.0.0.2", "127.0.0.3"};
        settings.port = 1; // nothing listens: the sessions keep retrying
        ASSERT_TRUE(core.Start(settings));
        EXPECT_EQ(log.Count("3 recorder addresses acquired from registry. Only the first 2 will be used."), 1u);
        EXPECT_EQ(log.Count("Recorder UpdateMode not set in registry."), 1u);
        EXPECT_EQ(log.Count("Recorder 1: Address: '127.0.0.1'"), 1u);
        EXPECT_EQ(log.Count("Recorder 2: Address: '127.0.0.2'"), 1u);
        EXPECT_EQ(core.GetSession(3), nullptr);
        EXPECT_EQ(core.GetStatusTable().Get(2, &RecorderStatus::connectionStatus), ConnectionStatus::NotConnected);
        EXPECT_TRUE(core.Supervise());
    }
    {
        CMainFrameCore core;
        RecorderSettings settings;
        settings.addresses = {"127.0.0.1"};
        settings.port = 1;
        settings.updateMode = "ActiveOnly";
        settings.updateModeSet = true;
        ASSERT_TRUE(core.Start(settings));
        EXPECT_EQ(log.Count("1 recorder address acquired from registry."), 1u);
        EXPECT_EQ(log.Count("Recorder UpdateMode: ActiveOnly"), 1u);
    }
}

TEST(MainFrameCoreTest, AStoppedSessionIsRestarted)
{
    UseTestSettingsStore();
    LogCapture log;
    CMainFrameCore core;
    RecorderSettings settings;
    settings.addresses = {"127.0.0.1"};
    settings.port = 1;
    ASSERT_TRUE(core.Start(settings));
    CGeneralMessageHandler* session = core.GetSession(1);
    session->Stop();
    session->Join();
    EXPECT_TRUE(core.Supervise());
    EXPECT_EQ(log.Count("Restarting GMH1 thread"), 1u);
    EXPECT_TRUE(session->IsRunning());
}

} // namespace
