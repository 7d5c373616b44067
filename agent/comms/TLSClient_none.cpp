// This build has no TLS library: a configured client certificate cannot be used.
#include "TLSClient.h"

#include <stdexcept>

bool TLSClient::Available()
{
    return false;
}

TLSClient::TLSClient(const std::string& certificatePath, const std::string&, const std::string&)
{
    throw std::runtime_error("TLS is not available in this build of the agent; the client certificate '" +
                             certificatePath + "' cannot be used. Remove ClientCertificatePath for plain TCP "
                             "or install a build with TLS.");
}

TLSClient::~TLSClient() = default;

void TLSClient::Connect(const std::string&, std::uint16_t)
{
}

std::shared_ptr<NetworkStream> TLSClient::GetStream()
{
    return nullptr;
}
