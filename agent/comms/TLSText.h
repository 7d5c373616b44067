#pragma once

#include <string>

struct ssl_st;

// Texts built from TLS errors for exception messages.
namespace kzb::tls {

// The oldest queued OpenSSL error (taken off the queue), or empty text.
std::string OpenSSLErrorText();
// The name of an SSL_get_error value.
std::string SSLErrorName(int error);
// Result r of a call on connection, the SSL error, the OpenSSL error and the socket error.
std::string StatusText(const ssl_st* connection, int result);

} // namespace kzb::tls
