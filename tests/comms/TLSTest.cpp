#include "CommsFixture.h"
#include "comms/TLSClient.h"
#include "protocol/SessionMessages.h"

#ifdef KZB_HAVE_TLS
#include "comms/TLSText.h"
#endif

#include <chrono>
#include <stdexcept>
#include <string>

using namespace std::chrono_literals;

namespace {

class TLS : public CommsTest
{
protected:
    void SetUp() override
    {
        CommsTest::SetUp();
        if (IsSkipped())
            return;
        if (!TLSClient::Available())
            GTEST_SKIP() << "this build has no TLS";
        if (!CertificatesAvailable())
            GTEST_SKIP() << "no test certificates (openssl command line missing)";
    }

    // A TLS recorder; clientAuthority: the CA it requires client certificates from (or none).
    SimControl::Recorder TLSRecorder(const std::string& clientAuthority = "ca.pem", nlohmann::json extra = {})
    {
        nlohmann::json tls{{"cert", SimulatorCertificate("server.crt")}, {"key", SimulatorCertificate("server.key")}};
        if (!clientAuthority.empty())
            tls["client_ca"] = SimulatorCertificate(clientAuthority);
        if (extra.is_object())
            tls.update(extra);
        return sim->AddRecorder({{"tls", tls}});
    }

    // The text a TLS client throws while being made and connected, or empty text.
    static std::string ConnectError(const std::string& certificate, const std::string& password,
                                    std::uint16_t port, const std::string& authority = {})
    {
        try {
            TLSClient client(AgentCertificate(certificate), password, authority.empty() ? "" : AgentCertificate(authority));
            client.Connect("127.0.0.1", port);
            client.GetStream();
        } catch (const std::runtime_error& error) {
            return error.what();
        }
        return {};
    }
};

bool StartsWith(const std::string& text, const std::string& start)
{
    return text.rfind(start, 0) == 0;
}

TEST_F(TLS, AConfiguredCertificateMakesEveryConnectionTLS)
{
    const auto recorder = TLSRecorder();
    SetMachineText("ClientCertificatePath", AgentCertificate("client_encrypted.pem"));
    SetMachineText("ClientCertificatePassword", "secret");
    CTCPComms& c = MakeComms();
    c.Initialize(&queue, 1, "127.0.0.1", recorder.port);
    ASSERT_TRUE(WaitConnected());
    ASSERT_FALSE(sim->WaitFor(recorder.number, "connected", "", 0).is_null());
    EXPECT_EQ(log.Count("Recorder 1 - The recorder's certificate is not verified"), 1u);
    const auto established = sim->WaitFor(recorder.number, "tls_established", "", 0);
    ASSERT_FALSE(established.is_null());
    EXPECT_EQ(established["client_certificate"]["commonName"], "client");
    const std::string version = established["version"].get<std::string>();
    EXPECT_TRUE(version == "TLSv1.2" || version == "TLSv1.3") << version;

    const int since = sim->LastSeq();
    c.Send(std::make_shared<ID>("PC1", "u1"));
    EXPECT_FALSE(sim->WaitFor(recorder.number, "received", "DKA_ID", since).is_null());
    EXPECT_TRUE(queue.WaitFor(DKA_TASKS));

    // The recorder closing the TLS connection is a lost connection.
    sim->Do(recorder.number, {{"op", "close"}});
    ASSERT_TRUE(log.WaitFor("Recorder 1 - Socket error. Closing socket..."));
    EXPECT_TRUE(WaitForCount(lost, 1));
}

TEST_F(TLS, CertificateFileFailuresRepeatWithTheirTexts)
{
    const auto recorder = TLSRecorder();
    struct Case
    {
        const char* certificate;
        const char* password;
        const char* start;
    };
    const Case cases[] = {
        {"missing.pem", "", "Cannot load certificate chain.\nOpenSSL Error: "},
        {"client_encrypted.pem", "wrong", "Cannot load private key.\nOpenSSL Error: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.certificate);
        const std::string text = ConnectError(c.certificate, c.password, recorder.port);
        EXPECT_TRUE(StartsWith(text, c.start)) << text;
    }
    EXPECT_TRUE(sim->WaitFor(recorder.number, "connected", "", 0, 0.2).is_null()) << "no socket was opened";

    // Through the connection thread: logged and retried.
    kzb::ManualClock& clock = manualClock;
    SetMachineText("ClientCertificatePath", AgentCertificate("missing.pem"));
    CTCPComms& comms = MakeComms(clock);
    comms.Initialize(&queue, 1, "127.0.0.1", recorder.port);
    const std::string failed = "Failed to start Client Connection: Cannot load certificate chain.";
    ASSERT_TRUE(log.WaitFor(failed));
    clock.Advance(5);
    ASSERT_TRUE(log.WaitFor(failed, 2));
}

TEST_F(TLS, ARecorderThatNeverAnswersTheHandshakeFailsAfterAboutTwoSeconds)
{
    const auto recorder = TLSRecorder("", {{"no_handshake", true}});
    const int since = sim->LastSeq();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ConnectError("client.pem", "", recorder.port), "Failed to connect to 127.0.0.1");
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GT(took, 1800ms);
    EXPECT_LT(took, 4s);
    EXPECT_FALSE(sim->WaitFor(recorder.number, "disconnected", "", since).is_null()) << "the socket was closed";
}

TEST_F(TLS, ARecorderThatRejectsTheCertificateFailsTheHandshake)
{
    // A TLS 1.2 recorder rejects inside the handshake; with 1.3 the rejection comes after it.
    const auto recorder = TLSRecorder("ca.pem", {{"max_version", "1.2"}});
    const std::string text = ConnectError("stranger.pem", "", recorder.port);
    EXPECT_TRUE(StartsWith(text, "SSL handshake failed. Dropping unsecure connection.\nStatus: ")) << text;
    EXPECT_NE(text.find("\nWinSock Error:\n("), std::string::npos) << text;

    const auto modern = TLSRecorder("ca.pem");
    SetMachineText("ClientCertificatePath", AgentCertificate("stranger.pem"));
    CTCPComms& c = MakeComms();
    c.Initialize(&queue, 1, "127.0.0.1", modern.port);
    // Either the handshake fails or the connection is dropped right after it.
    EXPECT_FALSE(sim->WaitFor(modern.number, "tls_failed", "", 0).is_null());
    const bool refused = log.WaitFor("Failed to start Client Connection: SSL handshake failed.", 1, 1s) ||
                         log.WaitFor("Recorder 1 - Socket error. Closing socket...", 1, 3s);
    EXPECT_TRUE(refused);
}

TEST_F(TLS, TheRecordersCertificateIsVerifiedWhenAnAuthorityIsConfigured)
{
    const auto recorder = TLSRecorder();
    EXPECT_EQ(ConnectError("client.pem", "", recorder.port, "ca.pem"), "");
    const std::string text = ConnectError("client.pem", "", recorder.port, "other_ca.pem");
    EXPECT_TRUE(StartsWith(text, "SSL handshake failed. Dropping unsecure connection.\nStatus: ")) << text;
    EXPECT_NE(text.find("certificate verify failed"), std::string::npos) << text;

    SetMachineText("ClientCertificatePath", AgentCertificate("client.pem"));
    SetMachineText("ServerCertificateAuthorityPath", AgentCertificate("ca.pem"));
    CTCPComms& c = MakeComms();
    c.Initialize(&queue, 1, "127.0.0.1", recorder.port);
    ASSERT_TRUE(WaitConnected());
    ASSERT_FALSE(sim->WaitFor(recorder.number, "connected", "", 0).is_null());
    EXPECT_EQ(log.Count("is not verified"), 0u);
}

TEST_F(CommsTest, WithoutTLSAConfiguredCertificateFailsEveryAttempt)
{
    if (IsSkipped())
        return;
    if (TLSClient::Available())
        GTEST_SKIP() << "this build has TLS";
    const auto recorder = sim->AddRecorder();
    SetMachineText("ClientCertificatePath", "C:\\certificates\\agent.pem");
    CTCPComms& c = MakeComms(manualClock);
    c.Initialize(&queue, 1, "127.0.0.1", recorder.port);
    const std::string failed = "Failed to start Client Connection: TLS is not available in this build of the agent; "
                               "the client certificate 'C:\\certificates\\agent.pem' cannot be used.";
    ASSERT_TRUE(log.WaitFor(failed));
    manualClock.Advance(5);
    ASSERT_TRUE(log.WaitFor(failed, 2));
    EXPECT_TRUE(sim->WaitFor(recorder.number, "connected", "", 0, 0.2).is_null()) << "never a plain connection";
}

#ifdef KZB_HAVE_TLS
TEST(TLSText, SSLErrorNames)
{
    EXPECT_EQ(kzb::tls::SSLErrorName(0), "SSL_ERROR_NONE");
    EXPECT_EQ(kzb::tls::SSLErrorName(5), "SSL_ERROR_SYSCALL: (details in OpenSSL Error section)");
    EXPECT_EQ(kzb::tls::SSLErrorName(8), "SSL_ERROR_WANT_ACCEPT");
    EXPECT_EQ(kzb::tls::SSLErrorName(9), "");
    EXPECT_EQ(kzb::tls::OpenSSLErrorText(), "") << "nothing queued";
}
#endif

} // namespace
