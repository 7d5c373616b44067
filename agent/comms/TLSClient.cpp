#include "TLSClient.h"

#include "Log.h"
#include "TLSStream.h"
#include "TLSText.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace net = kzb::net;
using kzb::tls::OpenSSLErrorText;

namespace {

// OpenSSL 3 sets itself up and locks for itself; what is left is loading the error texts once,
// and keeping it from reading a configuration file (OPENSSL_CONF or the built-in path): the
// agent's TLS is what its own settings say, whatever else is installed on the workstation.
void InitialiseOpenSSL()
{
    static std::once_flag once;
    std::call_once(once, [] {
        OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS |
                             OPENSSL_INIT_NO_LOAD_CONFIG,
                         nullptr);
    });
}

int PasswordCallback(char* buffer, int size, int /*rwflag*/, void* userdata)
{
    const auto* password = static_cast<const std::string*>(userdata);
    if (password == nullptr || size <= 0)
        return 0;
    const int length = static_cast<int>(std::min<std::size_t>(password->size(), static_cast<std::size_t>(size - 1)));
    std::memcpy(buffer, password->data(), static_cast<std::size_t>(length));
    buffer[length] = '\0';
    return length;
}

// Waits for the socket as the TLS connection asks, until the deadline; false when cancelled.
bool WaitForSocket(net::SocketHandle socket, int sslError, std::chrono::steady_clock::time_point deadline,
                   net::SocketHandle cancel)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0)
        return true;
    net::PollItem items[2] = {{socket, sslError == SSL_ERROR_WANT_READ, sslError == SSL_ERROR_WANT_WRITE},
                              {cancel, true, false}};
    net::Poll({items, cancel == net::InvalidSocket ? 1u : 2u}, static_cast<int>(left.count()) + 1);
    return !(cancel != net::InvalidSocket && items[1].readable);
}

bool IsNumericAddress(const std::string& host)
{
    return host.find_first_not_of("0123456789.") == std::string::npos || host.find(':') != std::string::npos;
}

} // namespace

bool TLSClient::Available()
{
    return true;
}

TLSClient::TLSClient(const std::string& certificatePath, const std::string& password,
                     const std::string& authorityPath)
    : m_password(password)
{
    InitialiseOpenSSL();
    ERR_clear_error();
    m_context = SSL_CTX_new(TLS_client_method());
    if (m_context == nullptr)
        throw std::runtime_error("SSL_CTX_new failed. Could not create new context.\n" + OpenSSLErrorText());
    try {
        SSL_CTX_set_min_proto_version(m_context, TLS1_2_VERSION);
        SSL_CTX_set_default_passwd_cb_userdata(m_context, &m_password);
        SSL_CTX_set_default_passwd_cb(m_context, &PasswordCallback);

        AGENT_LOG(kzb::log::Print, "Using certificate chain: %s\n", certificatePath.c_str());
        if (SSL_CTX_use_certificate_chain_file(m_context, certificatePath.c_str()) <= 0)
            throw std::runtime_error("Cannot load certificate chain.\n" + OpenSSLErrorText());
        AGENT_LOG(kzb::log::Print, "Using private key: %s", certificatePath.c_str());
        if (SSL_CTX_use_PrivateKey_file(m_context, certificatePath.c_str(), SSL_FILETYPE_PEM) <= 0)
            throw std::runtime_error("Cannot load private key.\n" + OpenSSLErrorText());

        if (authorityPath.empty()) {
            SSL_CTX_set_verify(m_context, SSL_VERIFY_NONE, nullptr);
        } else {
            if (SSL_CTX_load_verify_locations(m_context, authorityPath.c_str(), nullptr) <= 0)
                throw std::runtime_error("Cannot load certificate authority.\n" + OpenSSLErrorText());
            SSL_CTX_set_verify(m_context, SSL_VERIFY_PEER, nullptr);
            m_verifyPeer = true;
        }
        SSL_CTX_set_verify_depth(m_context, 4);
    } catch (...) {
        SSL_CTX_free(m_context);
        throw;
    }
}

TLSClient::~TLSClient()
{
    if (m_connection != nullptr)
        SSL_free(m_connection);
    SSL_CTX_free(m_context);
}

void TLSClient::Connect(const std::string& host, std::uint16_t port)
{
    TCPClient::Connect(host, port);
    const net::SocketHandle socket = GetSocket();
    ERR_clear_error();
    m_connection = SSL_new(m_context);
    if (m_connection == nullptr)
        Fail("SSL_new failed. Could not create new SSL structure.\n" + OpenSSLErrorText());
    SSL_set_connect_state(m_connection);
    BIO* bio = BIO_new_socket(static_cast<int>(socket), BIO_NOCLOSE);
    if (bio == nullptr)
        Fail("BIO_new_socket failed. Could not create new BIO socket.\n" + OpenSSLErrorText());
    SSL_set_bio(m_connection, bio, bio);
    if (m_verifyPeer) {
        X509_VERIFY_PARAM* parameters = SSL_get0_param(m_connection);
        const int named = IsNumericAddress(host) ? X509_VERIFY_PARAM_set1_ip_asc(parameters, host.c_str())
                                                 : X509_VERIFY_PARAM_set1_host(parameters, host.c_str(), 0);
        if (named != 1)
            Fail("Cannot verify the recorder's name " + host + ".\n" + OpenSSLErrorText());
    }
    if (!IsNumericAddress(host))
        SSL_set_tlsext_host_name(m_connection, host.c_str());

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(HandshakeSeconds);
    int result = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        ERR_clear_error();
        result = SSL_connect(m_connection);
        const int error = SSL_get_error(m_connection, result);
        if (error != SSL_ERROR_NONE && error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
            Fail("SSL handshake failed. Dropping unsecure connection.\n" + kzb::tls::StatusText(m_connection, result));
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            if (!WaitForSocket(socket, error, deadline, GetCancel()))
                break;
        } else if (result > 0)
            break;
    }
    if (result != 1)
        Fail("Failed to connect to " + host);
}

void TLSClient::Fail(const std::string& text)
{
    if (m_connection != nullptr)
        SSL_free(m_connection);
    m_connection = nullptr;
    CloseSocket();
    throw std::runtime_error(text);
}

std::shared_ptr<NetworkStream> TLSClient::GetStream()
{
    if (GetSocket() == net::InvalidSocket || m_connection == nullptr)
        throw std::runtime_error("Failed to connect socket: " + net::ErrorText(net::LastError()));
    HandOver();
    ssl_st* connection = m_connection;
    m_connection = nullptr;
    auto stream = std::make_shared<TLSStream>(GetSocket(), connection);
    PrepareStream(*stream);
    return stream;
}

TLSStream::TLSStream(net::SocketHandle socket, ssl_st* connection) : TCPStream(socket), m_connection(connection)
{
}

TLSStream::~TLSStream()
{
    SSL_free(m_connection);
}

bool TLSStream::Read(ByteArray& data, std::size_t maxCount)
{
    data.resize(maxCount);
    ERR_clear_error();
    const int result = SSL_read(m_connection, data.data(), static_cast<int>(maxCount));
    const int error = SSL_get_error(m_connection, result);
    if (error == SSL_ERROR_NONE) {
        data.resize(static_cast<std::size_t>(result));
        return true;
    }
    data.clear();
    return error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE;
}

bool TLSStream::Write(const ByteArray& data)
{
    const auto deadline = std::chrono::steady_clock::now() + WriteTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        ERR_clear_error();
        const int result = SSL_write(m_connection, data.data(), static_cast<int>(data.size()));
        const int error = SSL_get_error(m_connection, result);
        if (error == SSL_ERROR_NONE)
            return true;
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
            return false;
        WaitFor(error == SSL_ERROR_WANT_READ, error == SSL_ERROR_WANT_WRITE, deadline);
    }
    return false;
}

bool TLSStream::HasBufferedData() const
{
    return SSL_pending(m_connection) > 0;
}
