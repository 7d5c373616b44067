#pragma once

#include "TCPClient.h"

#include <string>

struct ssl_ctx_st;
struct ssl_st;

// TLS over the TCP connection, presenting the client certificate chain and private key
// held in one PEM file (the key optionally encrypted with the password). TLS 1.2 at least.
// With a certificate authority file the recorder's certificate and name are verified;
// without one they are not. In a build without TLS every construction throws.
class TLSClient : public TCPClient
{
public:
    // Throws std::runtime_error when the context, the chain, the key or the authority file
    // cannot be set up.
    TLSClient(const std::string& certificatePath, const std::string& password,
              const std::string& authorityPath = {});
    ~TLSClient() override;

    // TCP connection, then the handshake (at most HandshakeSeconds).
    void Connect(const std::string& host, std::uint16_t port) override;
    std::shared_ptr<NetworkStream> GetStream() override;

    static constexpr int HandshakeSeconds = 2;

    // Whether this build has TLS at all.
    static bool Available();

private:
    // Releases the connection object and the socket, then throws text.
    [[noreturn]] void Fail(const std::string& text);

    ssl_ctx_st* m_context = nullptr;
    ssl_st* m_connection = nullptr;
    std::string m_password;
    bool m_verifyPeer = false;
};
