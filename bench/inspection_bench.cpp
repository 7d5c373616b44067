// One inspection over the desktop-file stand-in.
#include "InspectionScene.h"
#include "inspection/DesktopFile.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>

static void BM_InspectionOverDesktopFile(benchmark::State& state)
{
    const auto path = std::filesystem::temp_directory_path() / "kzb-bench-desktop.json";
    nlohmann::json windows = nlohmann::json::array();
    for (int i = 0; i < SceneWindows; ++i)
        windows.push_back({{"title", SceneWindowTitle(i)}});
    std::ofstream(path) << nlohmann::json{{"windows", windows}}.dump();
    kzb::inspection::SetDesktop(std::make_shared<kzb::inspection::DesktopFile>(path));

    const auto methods = SceneMethodsList();
    const bool shared = state.range(0) != 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(RunInspection(methods, shared));
    state.counters["titles/s"] =
        benchmark::Counter(double(SceneWindows) * SceneMethods, benchmark::Counter::kIsIterationInvariantRate);

    kzb::inspection::SetDesktop(nullptr);
    std::filesystem::remove(path);
}
BENCHMARK(BM_InspectionOverDesktopFile)->ArgName("snapshot")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
