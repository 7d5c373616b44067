#include "NetworkStream.h"

namespace net = kzb::net;

NetworkStream::~NetworkStream()
{
    net::CloseSocket(m_socket);
}

bool NetworkStream::Read(ByteArray& data, std::size_t maxCount)
{
    data.resize(maxCount);
    const long count = net::Receive(m_socket, data.data(), maxCount);
    if (count < 0) {
        data.clear();
        return net::IsWouldBlock(net::LastError());
    }
    data.resize(static_cast<std::size_t>(count));
    // 0 bytes: the peer has closed its side; nothing more will come.
    return count > 0 || maxCount == 0;
}

bool NetworkStream::Write(const ByteArray& data)
{
    const auto deadline = std::chrono::steady_clock::now() + WriteTimeout;
    std::size_t sent = 0;
    while (sent < data.size()) {
        const long count = net::SendSome(m_socket, data.data() + sent, data.size() - sent);
        if (count > 0) {
            sent += static_cast<std::size_t>(count);
            continue;
        }
        if (count < 0 && !net::IsWouldBlock(net::LastError()))
            return false;
        if (!WaitFor(false, true, deadline))
            return false;
    }
    return true;
}

bool NetworkStream::WaitFor(bool read, bool write, std::chrono::steady_clock::time_point deadline) const
{
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        net::PollItem item{m_socket, read, write};
        const int rc = net::Poll({&item, 1}, static_cast<int>(left.count()) + 1);
        if (rc < 0)
            return false;
        if (rc > 0)
            return true;
    }
}
