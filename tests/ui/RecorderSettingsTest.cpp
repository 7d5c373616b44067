#include "ui/MainFrameCore.h"

#include "MachineSettings.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char* const ConnectionValues[] = {"ClientCertificatePath", "ClientCertificatePassword",
                                        "ServerCertificateAuthorityPath"};

class RecorderSettingsRead : public testing::Test
{
protected:
    void SetUp() override
    {
        UseTestSettingsStore();
        for (const char* name : ConnectionValues)
            ClearMachineValue(name);
    }
    void TearDown() override
    {
        for (const char* name : ConnectionValues)
            ClearMachineValue(name);
    }
};

} // namespace

TEST_F(RecorderSettingsRead, TheConnectionIsConfiguredFromTheMachineKey)
{
    EXPECT_EQ(ReadRecorderSettings({"recorder"}).connection.certificatePath, "") << "nothing set: plain TCP";

    SetMachineText("ClientCertificatePath", "C:\\certificates\\agent.pem");
    SetMachineText("ClientCertificatePassword", "secret");
    SetMachineText("ServerCertificateAuthorityPath", "C:\\certificates\\ca.pem");
    const ConnectionSettings read = ReadRecorderSettings({"recorder"}).connection;
    EXPECT_EQ(read.certificatePath, "C:\\certificates\\agent.pem");
    EXPECT_EQ(read.certificatePassword, "secret");
    EXPECT_EQ(read.authorityPath, "C:\\certificates\\ca.pem");
}

TEST_F(RecorderSettingsRead, AValueLongerThanItsBufferIsNotUsed)
{
    // Paths have 260 characters with the terminator, the password 128.
    const struct
    {
        const char* name;
        std::size_t buffer;
        std::string ConnectionSettings::*field;
    } cases[] = {
        {"ClientCertificatePath", 260, &ConnectionSettings::certificatePath},
        {"ClientCertificatePassword", 128, &ConnectionSettings::certificatePassword},
        {"ServerCertificateAuthorityPath", 260, &ConnectionSettings::authorityPath},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string fits(c.buffer - 1, 'a');
        SetMachineText(c.name, fits);
        EXPECT_EQ(ReadRecorderSettings({"recorder"}).connection.*c.field, fits);
        SetMachineText(c.name, fits + "a");
        EXPECT_EQ(ReadRecorderSettings({"recorder"}).connection.*c.field, "");
    }
}
