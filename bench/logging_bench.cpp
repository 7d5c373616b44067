// Sustained lines per second reaching the log file, from 1 and from 4 logging threads:
// KZBLogging (queue on, writer thread) against spdlog's asynchronous file logger.
//
// One run logs kLines lines and ends when every line is in the file and the file is
// closed (our Shutdown; spdlog's thread pool joined). The lines are then counted: a lost
// line shows as "lost" and the program ends with 1. The two sides run interleaved (one
// run each in turn, the first side alternating), so that both meet the same machine load,
// and their lines are of the same mean length: a short calibration run of each measures
// its line, and the shorter side's message is padded to match.
//
//   logging_bench [RUNS]      (default 10 runs per side and thread count)
#include "KZBLogThis.h"

#include <spdlog/async.h>
#include <spdlog/async_logger.h>
#include <spdlog/sinks/basic_file_sink.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kLines = 200'000;

fs::path g_folder;

struct FileFigures
{
    std::size_t lines = 0;
    std::uintmax_t bytes = 0;
};

FileFigures Count(const fs::path& file)
{
    FileFigures figures;
    std::ifstream in(file, std::ios::binary);
    char buffer[1 << 16];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        figures.bytes += static_cast<std::uintmax_t>(in.gcount());
        for (std::streamsize i = 0; i < in.gcount(); ++i)
            figures.lines += buffer[i] == '\n';
    }
    return figures;
}

template <class LogOne>
void RunThreads(int threads, int lines, LogOne logOne)
{
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([=] {
            for (int i = t; i < lines; i += threads)
                logOne(t, i);
        });
    }
    for (auto& worker : workers)
        worker.join();
}

struct Run
{
    double seconds = 0;
    long long lost = 0;
    double meanLineBytes = 0;
};

// Our logger: lines plus its start-up line.
Run Ours(int threads, int lines, const std::string& pad)
{
    const auto module = kzb::logging::ThisModule();
    const fs::path file = g_folder / "ours.txt";
    fs::remove(file);
    Setup(file.string().c_str(), module);
    const FileFigures startUp = Count(file);
    const auto start = std::chrono::steady_clock::now();
    RunThreads(threads, lines, [module, &pad](int t, int i) {
        CreateLogMessage(kzb::logging::LEVEL_ERROR, __FILE__, __LINE__, kzb::logging::ThisThreadId(), module)
            ->Printf("Recorder %u - message %d from thread %d%s", 1u, i, t, pad.c_str());
    });
    Shutdown(module);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    DestroyLogger(module);
    const FileFigures all = Count(file);
    // The start-up line is written by Setup, before the clock starts; it may still be queued then.
    const std::size_t ours = all.lines - std::max<std::size_t>(startUp.lines, 1);
    const double startUpBytes = startUp.lines ? static_cast<double>(startUp.bytes) : 0.0;
    return {elapsed.count(), static_cast<long long>(lines) - static_cast<long long>(ours),
            ours ? (static_cast<double>(all.bytes) - startUpBytes) / static_cast<double>(ours) : 0.0};
}

Run Spdlog(int threads, int lines, const std::string& pad)
{
    const fs::path file = g_folder / "spdlog.txt";
    fs::remove(file);
    auto pool = std::make_shared<spdlog::details::thread_pool>(8192, 1);
    auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(file.string(), true);
    auto logger = std::make_shared<spdlog::async_logger>("bench", sink, pool, spdlog::async_overflow_policy::block);
    const auto start = std::chrono::steady_clock::now();
    RunThreads(threads, lines, [&logger, &pad](int t, int i) {
        logger->error("Recorder {} - message {} from thread {}{}", 1u, i, t, pad);
    });
    // Joining the pool's thread writes out its queue; the last owner closes the file.
    logger.reset();
    pool.reset();
    sink.reset();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    const FileFigures all = Count(file);
    return {elapsed.count(), static_cast<long long>(lines) - static_cast<long long>(all.lines),
            all.lines ? static_cast<double>(all.bytes) / static_cast<double>(all.lines) : 0.0};
}

using Side = std::function<Run(int, int, const std::string&)>;

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    // A root of our own: the logger's configuration file lands there, with a size limit
    // large enough that no run rotates its file.
    g_folder = fs::temp_directory_path() / ("kzb-bench-" + std::to_string(::getpid()));
    fs::create_directories(g_folder / "QVN" / "Config" / "logging");
    setenv("KZB_ROOT", g_folder.c_str(), 1);
    const fs::path self = fs::read_symlink("/proc/self/exe");
    std::ofstream(g_folder / "QVN" / "Config" / "logging" / (self.stem().string() + ".log.config"))
        << "[LogFile]\nMaxSizeMB=2000\n";

    // Calibration: the same message makes a longer line in one format; pad the other side.
    const Side sides[2] = {Ours, Spdlog};
    const char* names[2] = {"ours", "spdlog"};
    const double bare[2] = {Ours(1, 2000, "").meanLineBytes, Spdlog(1, 2000, "").meanLineBytes};
    std::string pads[2];
    const int shorter = bare[0] < bare[1] ? 0 : 1;
    pads[shorter] = std::string(static_cast<std::size_t>(std::lround(std::abs(bare[1] - bare[0]))), ' ');

    bool failed = false;
    for (int threads : {1, 4}) {
        double seconds[2] = {0, 0};
        double length[2] = {0, 0};
        long long lost[2] = {0, 0};
        for (int run = 0; run < runs; ++run) {
            for (int k = 0; k < 2; ++k) {
                const int side = (run + k) % 2; // the first side alternates
                const Run figures = sides[side](threads, kLines, pads[side]);
                seconds[side] += figures.seconds;
                length[side] += figures.meanLineBytes / runs;
                lost[side] += figures.lost;
            }
        }
        double rate[2];
        for (int side = 0; side < 2; ++side) {
            rate[side] = static_cast<double>(kLines) * runs / seconds[side];
            std::printf("%d thread(s), %-6s: %.0f lines/s over %d interleaved runs, lines of %.1f bytes, %lld lost\n",
                        threads, names[side], rate[side], runs, length[side], lost[side]);
            failed = failed || lost[side] != 0;
        }
        std::printf("%d thread(s): ours %.0f lines/s, spdlog %.0f lines/s, ratio %.2f\n", threads, rate[0], rate[1],
                    rate[0] / rate[1]);
        std::fflush(stdout);
    }
    fs::remove_all(g_folder);
    return failed ? 1 : 0;
}
