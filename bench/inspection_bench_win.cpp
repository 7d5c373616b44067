// One inspection over real windows (run under Wine or on Windows): prints the time per
// inspection. Google Benchmark is not part of the cross toolchain, so it times itself.
#include "InspectionScene.h"
#include "inspection/Desktop.h"

#include <windows.h>

#include <chrono>
#include <cstdio>

int main()
{
    for (int i = 0; i < SceneWindows; ++i) {
        CreateWindowExA(0, "STATIC", SceneWindowTitle(i).c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                        GetModuleHandleA(nullptr), nullptr);
    }
    const auto methods = SceneMethodsList();
    for (bool shared : {false, true}) {
        RunInspection(methods, shared); // warm-up
        constexpr int Rounds = 20;
        const auto start = std::chrono::steady_clock::now();
        for (int round = 0; round < Rounds; ++round)
            RunInspection(methods, shared);
        const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
        std::printf("inspection of %d methods over %d windows, %s: %.2f ms\n", SceneMethods, SceneWindows,
                    shared ? "one shared snapshot" : "each method on its own", elapsed.count() / Rounds);
    }
    std::fflush(stdout);
    ExitProcess(0); // no DestroyWindow round trips
}
