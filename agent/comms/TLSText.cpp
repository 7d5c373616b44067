#include "TLSText.h"

#include "Net.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cstdio>

namespace kzb::tls {

std::string OpenSSLErrorText()
{
    const unsigned long code = ERR_get_error();
    if (code == 0)
        return {};
    char hex[32];
    std::snprintf(hex, sizeof hex, "%lx", code);
    const char* library = ERR_lib_error_string(code);
    const char* reason = ERR_reason_error_string(code);
    // OpenSSL 3 keeps no function names; that part stays empty.
    std::string text = std::string("OpenSSL Error: ") + hex + "\n";
    text += std::string(library ? library : "") + ": " + ": " + (reason ? reason : "") + "\n\n";
    return text;
}

std::string SSLErrorName(int error)
{
    switch (error) {
    case 0: return "SSL_ERROR_NONE";
    case 1: return "SSL_ERROR_SSL";
    case 2: return "SSL_ERROR_WANT_READ";
    case 3: return "SSL_ERROR_WANT_WRITE";
    case 4: return "SSL_ERROR_WANT_X509_LOOKUP";
    case 5: return "SSL_ERROR_SYSCALL: (details in OpenSSL Error section)";
    case 6: return "SSL_ERROR_ZERO_RETURN";
    case 7: return "SSL_ERROR_WANT_CONNECT";
    case 8: return "SSL_ERROR_WANT_ACCEPT";
    default: return {};
    }
}

std::string StatusText(const ssl_st* connection, int result)
{
    const int socketError = kzb::net::LastError();
    const int error = SSL_get_error(connection, result);
    std::string text = "Status: " + std::to_string(result) + "\n\n";
    text += "SSL Error: " + std::to_string(error) + "\n";
    text += SSLErrorName(error) + "\n";
    text += OpenSSLErrorText();
    text += "WinSock Error:\n" + kzb::net::ErrorText(socketError) + "\n";
    return text;
}

} // namespace kzb::tls
