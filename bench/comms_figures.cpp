// Two figures of one connected CTCPComms against a silent local recorder:
//  1. idle wake-ups per second of its threads (voluntary context switches, /proc), over a
//     measuring time (default 30 s; first argument);
//  2. time from Send to the bytes arriving at the recorder's socket (loopback), over 2000 sends.
//
//   build-x/bench/bin/comms_figures [seconds]
#include "Log.h"
#include "comms/TCPComms.h"
#include "protocol/SessionMessages.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

void Quiet(int, const char*, int, const char*)
{
}

class Discard : public ICommandSink
{
public:
    void AppendCommand(const DKACommandPtr&) override {}
};

// Voluntary context switches of every thread of this process but the excluded ones.
std::map<int, long> Switches()
{
    std::map<int, long> result;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream status(task.path() / "status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
                result[std::stoi(task.path().filename())] = std::stol(line.substr(24));
        }
    }
    return result;
}

bool ReceiveExactly(int socket, std::size_t count)
{
    char buffer[1024];
    while (count > 0) {
        const ssize_t got = ::recv(socket, buffer, std::min(sizeof buffer, count), 0);
        if (got <= 0)
            return false;
        count -= static_cast<std::size_t>(got);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    KzbSetLogSink(&Quiet);
    ::setenv("KZB_REGISTRY_FILE", "/nonexistent/kzb-bench-registry.json", 1); // plain TCP

    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("listen");
        return 1;
    }

    Discard sink;
    CTCPComms comms;
    comms.Initialize(&sink, 1, "127.0.0.1", ntohs(address.sin_port));
    const int recorder = ::accept(listener, nullptr, nullptr);
    const int one = 1;
    ::setsockopt(recorder, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ReceiveExactly(recorder, 8); // the first heartbeat right after connecting
    std::this_thread::sleep_for(std::chrono::seconds(1));

    // 1. Idle: the main thread sleeps; the connection's threads do whatever they do.
    const int self = static_cast<int>(::gettid());
    const auto before = Switches();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const auto after = Switches();
    long wakeups = 0;
    for (const auto& [tid, count] : after) {
        if (tid == self)
            continue;
        const auto earlier = before.find(tid);
        wakeups += count - (earlier == before.end() ? 0 : earlier->second);
    }
    std::printf("idle: %ld voluntary context switches of the connection's threads in %d s = %.3f wake-ups/s\n",
                wakeups, seconds, static_cast<double>(wakeups) / seconds);

    // 2. Send latency: one command at a time, timed until its last byte reaches the recorder.
    const auto command = std::make_shared<StateMessage>(DKA_CALL_STATE, 1);
    std::vector<double> micros;
    for (int i = 0; i < 2000; ++i) {
        const auto start = std::chrono::steady_clock::now();
        comms.Send(command);
        if (!ReceiveExactly(recorder, command->GetSize()))
            break;
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(micros.begin(), micros.end());
    if (!micros.empty())
        std::printf("send to socket: %zu sends, median %.1f us, p90 %.1f us, p99 %.1f us, max %.1f us\n", micros.size(),
                    micros[micros.size() / 2], micros[micros.size() * 9 / 10], micros[micros.size() * 99 / 100],
                    micros.back());
    ::close(recorder);
    ::close(listener);
    return 0;
}
