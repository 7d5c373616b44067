// Sustained lines per second reaching the log file, from 1 and from 4 logging threads:
// KZBLogging (queue on, writer thread) against spdlog's asynchronous file logger.
//
// One iteration logs kLines lines and ends when every line is in the file and the file
// is closed (our Shutdown; spdlog's thread pool joined). The lines are then counted:
// a lost line shows as "lost" and the run is marked as failed.
#include "KZBLogThis.h"

#include <benchmark/benchmark.h>
#include <spdlog/async.h>
#include <spdlog/async_logger.h>
#include <spdlog/sinks/basic_file_sink.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kLines = 200'000;

fs::path g_folder;
std::map<std::string, double> g_rates; // "ours/1" -> lines per second

std::size_t CountLines(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::size_t lines = 0;
    char buffer[1 << 16];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        for (std::streamsize i = 0; i < in.gcount(); ++i)
            lines += buffer[i] == '\n';
    }
    return lines;
}

template <class LogOne>
void RunThreads(int threads, LogOne logOne)
{
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([=] {
            for (int i = t; i < kLines; i += threads)
                logOne(t, i);
        });
    }
    for (auto& worker : workers)
        worker.join();
}

void Report(benchmark::State& state, const std::string& name, double seconds, std::size_t lost)
{
    const double rate = static_cast<double>(kLines) * static_cast<double>(state.iterations()) / seconds;
    state.counters["lines_per_s"] = rate;
    state.counters["lost"] = static_cast<double>(lost);
    g_rates[name + "/" + std::to_string(state.range(0))] = rate;
    if (lost != 0)
        state.SkipWithError("lines were lost");
}

void Ours(benchmark::State& state)
{
    const int threads = static_cast<int>(state.range(0));
    const auto module = kzb::logging::ThisModule();
    const fs::path file = g_folder / "ours.txt";
    double seconds = 0;
    std::size_t lost = 0;
    for (auto _ : state) {
        fs::remove(file);
        Setup(file.string().c_str(), module);
        const auto start = std::chrono::steady_clock::now();
        RunThreads(threads, [module](int t, int i) {
            CreateLogMessage(kzb::logging::LEVEL_ERROR, __FILE__, __LINE__, kzb::logging::ThisThreadId(), module)
                ->Printf("Recorder %u - message %d from thread %d", 1u, i, t);
        });
        Shutdown(module);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(elapsed.count());
        seconds += elapsed.count();
        // Our lines plus the logger's start-up line.
        lost += kLines + 1 - CountLines(file);
        DestroyLogger(module);
    }
    Report(state, "ours", seconds, lost);
}

void Spdlog(benchmark::State& state)
{
    const int threads = static_cast<int>(state.range(0));
    const fs::path file = g_folder / "spdlog.txt";
    double seconds = 0;
    std::size_t lost = 0;
    for (auto _ : state) {
        fs::remove(file);
        auto pool = std::make_shared<spdlog::details::thread_pool>(8192, 1);
        auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(file.string(), true);
        auto logger = std::make_shared<spdlog::async_logger>("bench", sink, pool, spdlog::async_overflow_policy::block);
        const auto start = std::chrono::steady_clock::now();
        RunThreads(threads, [&logger](int t, int i) {
            logger->error("Recorder {} - message {} from thread {}", 1u, i, t);
        });
        // Joining the pool's thread writes out its queue; the last owner closes the file.
        logger.reset();
        pool.reset();
        sink.reset();
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(elapsed.count());
        seconds += elapsed.count();
        lost += kLines - CountLines(file);
    }
    Report(state, "spdlog", seconds, lost);
}

// Interleaved, so that both loggers of one thread count meet the same machine load.
BENCHMARK(Ours)->Arg(1)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Spdlog)->Arg(1)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Ours)->Arg(4)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Spdlog)->Arg(4)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    // A root of our own: the logger's configuration file lands there, with a size limit
    // large enough that no run rotates its file.
    g_folder = fs::temp_directory_path() / ("kzb-bench-" + std::to_string(::getpid()));
    fs::create_directories(g_folder / "QVN" / "Config" / "logging");
    setenv("KZB_ROOT", g_folder.c_str(), 1);
    const fs::path self = fs::read_symlink("/proc/self/exe");
    std::ofstream(g_folder / "QVN" / "Config" / "logging" / (self.stem().string() + ".log.config"))
        << "[LogFile]\nMaxSizeMB=2000\n";

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    for (const char* threads : {"1", "4"}) {
        const auto ours = g_rates.find(std::string("ours/") + threads);
        const auto theirs = g_rates.find(std::string("spdlog/") + threads);
        if (ours != g_rates.end() && theirs != g_rates.end())
            std::printf("%s thread(s): ours %.0f lines/s, spdlog %.0f lines/s, ratio %.2f\n", threads, ours->second,
                theirs->second, ours->second / theirs->second);
    }
    fs::remove_all(g_folder);
    return 0;
}
