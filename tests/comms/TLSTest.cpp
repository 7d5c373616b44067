#include "CommsFixture.h"
#include "Log.h"
#include "comms/TLSClient.h"
#include "protocol/SessionMessages.h"

#ifdef KZB_HAVE_TLS
#include "comms/TLSText.h"
#endif

#include <chrono>
#include <filesystem>
#include <regex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using namespace std::chrono_literals;

namespace {

using Lines = std::vector<std::pair<int, std::string>>;

// What the TLS client itself logged (level and text), in order.
Lines TLSClientLines(const LogCapture& log)
{
    Lines lines;
    for (const LogCapture::Line& line : log.Lines())
        if (std::filesystem::path(line.file).stem() == "TLSClient")
            lines.emplace_back(line.level, line.text);
    return lines;
}

// The two lines of a client that got as far as loading the key from the one file.
Lines LoadingLines(const std::string& file, bool key = true)
{
    Lines lines{{kzb::log::Print, "Using certificate chain: " + file}};
    if (key)
        lines.emplace_back(kzb::log::Print, "Using private key: " + file);
    return lines;
}

bool StartsWith(const std::string& text, const std::string& start)
{
    return text.rfind(start, 0) == 0;
}

// "<what>\n" and the OpenSSL error text: code, library, (no function), reason (which OpenSSL 3
// leaves empty for system errors such as a missing file).
bool IsOpenSSLFailure(const std::string& text, const std::string& what)
{
    static const std::regex errorText("OpenSSL Error: [0-9a-f]+\n[^\n]*: : [^\n]*\n\n");
    return StartsWith(text, what + "\n") && std::regex_match(text.substr(what.size() + 1), errorText);
}

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

TEST_F(TLS, AConfiguredCertificateMakesEveryConnectionTLS)
{
    const auto recorder = TLSRecorder();
    // Chain and key from one file, the key in the clear or under the password.
    const std::pair<const char*, const char*> cases[] = {{"client.pem", ""}, {"client_encrypted.pem", "secret"}};
    for (const auto& [certificate, password] : cases) {
        SCOPED_TRACE(certificate);
        comms.reset();
        log.Clear();
        lost = 0;
        const int start = sim->LastSeq();
        settings.certificatePath = AgentCertificate(certificate);
        settings.certificatePassword = password;
        CTCPComms& c = MakeComms();
        c.Initialize(&queue, 1, "127.0.0.1", recorder.port);
        ASSERT_TRUE(WaitConnected());
        EXPECT_EQ(TLSClientLines(log), LoadingLines(AgentCertificate(certificate)));
        EXPECT_EQ(log.Count("Recorder 1 - The recorder's certificate is not verified"), 1u);
        const auto established = sim->WaitFor(recorder.number, "tls_established", "", start);
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
}

TEST_F(TLS, CertificateFileFailuresRepeatWithTheirTexts)
{
    const auto recorder = TLSRecorder();
    struct Case
    {
        const char* certificate;
        const char* password;
        const char* authority;
        const char* failure;
        bool keyLoaded; // got as far as the private key
    };
    const Case cases[] = {
        {"missing.pem", "", "", "Cannot load certificate chain.", false},
        {"client_encrypted.pem", "wrong", "", "Cannot load private key.", true},
        {"client_encrypted.pem", "", "", "Cannot load private key.", true},
        {"client.pem", "", "missing_ca.pem", "Cannot load certificate authority.", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.certificate) + " / " + c.password + " / " + c.authority);
        log.Clear();
        const std::string text = ConnectError(c.certificate, c.password, recorder.port, c.authority);
        EXPECT_TRUE(IsOpenSSLFailure(text, c.failure)) << text;
        EXPECT_EQ(TLSClientLines(log), LoadingLines(AgentCertificate(c.certificate), c.keyLoaded));
    }
    EXPECT_EQ(ConnectionsBeforeAProbe(recorder.number, recorder.port, 0), std::vector<std::string>{})
        << "no socket was opened";

    // Through the connection thread: the same text, logged and retried with the same lines.
    const std::string text = ConnectError("missing.pem", "", recorder.port);
    log.Clear();
    kzb::ManualClock& clock = manualClock;
    settings.certificatePath = AgentCertificate("missing.pem");
    CTCPComms& comms = MakeComms(clock);
    comms.Initialize(&queue, 1, "127.0.0.1", recorder.port);
    const std::string failed = "Failed to start Client Connection: " + text + ". Retrying...";
    ASSERT_TRUE(log.WaitFor(failed));
    clock.Advance(5);
    ASSERT_TRUE(log.WaitFor(failed, 2));
    const Lines chain = LoadingLines(AgentCertificate("missing.pem"), false);
    EXPECT_EQ(TLSClientLines(log), Lines({chain[0], chain[0]}));
    for (const LogCapture::Line& line : log.Lines())
        if (line.text == failed) {
            EXPECT_EQ(line.level, kzb::log::Error);
            EXPECT_EQ(std::filesystem::path(line.file).stem(), "TCPComms");
        }
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
    EXPECT_EQ(TLSClientLines(log), LoadingLines(AgentCertificate("client.pem")));
}

TEST_F(TLS, ARecorderThatRejectsTheCertificateFailsTheHandshake)
{
    // A TLS 1.2 recorder rejects inside the handshake; with 1.3 the rejection comes after it.
    const auto recorder = TLSRecorder("ca.pem", {{"max_version", "1.2"}});
    const std::string text = ConnectError("stranger.pem", "", recorder.port);
    // Status, SSL error number and name, the OpenSSL error text, the socket error (whose system
    // text ends with its own line break on Windows).
    static const std::regex status("SSL handshake failed\\. Dropping unsecure connection\\.\n"
                                   "Status: -?[0-9]+\n\nSSL Error: [0-9]+\n[^\n]*\n"
                                   "(OpenSSL Error: [0-9a-f]+\n[^\n]*: : [^\n]*\n\n)?"
                                   "WinSock Error:\n\\([0-9]+\\) [^\n]*\n\n?");
    EXPECT_TRUE(std::regex_match(text, status)) << text;
    EXPECT_EQ(TLSClientLines(log), LoadingLines(AgentCertificate("stranger.pem")));

    const auto modern = TLSRecorder("ca.pem");
    settings.certificatePath = AgentCertificate("stranger.pem");
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

    settings.certificatePath = AgentCertificate("client.pem");
    settings.authorityPath = AgentCertificate("ca.pem");
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
    settings.certificatePath = "C:\\certificates\\agent.pem";
    CTCPComms& c = MakeComms(manualClock);
    c.Initialize(&queue, 1, "127.0.0.1", recorder.port);
    const std::string failed = "Failed to start Client Connection: TLS is not available in this build of the agent; "
                               "the client certificate 'C:\\certificates\\agent.pem' cannot be used.";
    ASSERT_TRUE(log.WaitFor(failed));
    manualClock.Advance(5);
    ASSERT_TRUE(log.WaitFor(failed, 2));
    EXPECT_EQ(ConnectionsBeforeAProbe(recorder.number, recorder.port, 0), std::vector<std::string>{})
        << "never a plain connection";
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
