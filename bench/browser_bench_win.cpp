// One inspection of 50 page triggers over 5 browser windows (run under Wine or on Windows,
// with a display): prints the time per inspection with each method reading the pages itself
// and with the methods sharing one snapshot. ie_browser_app.exe plays the browsers.
#include "BrowserApp_win.h"
#include "Config/BrowserHTMLMethod.h"
#include "inspection/InspectionSnapshot.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int Windows = 5;
constexpr int Methods = 50;

// Pages that none of the triggers matches, so every Check reads every page.
void ShowPages(BrowserApp& app)
{
    for (int i = 0; i < Windows; ++i) {
        const std::string name = "Browser " + std::to_string(i);
        app.Do("frame\t" + name + (i % 2 ? "\tchrome" : "\tie"));
        app.Do("navigate\t" + name + "\tCustomer record " + std::to_string(i) + "\thttps://crm" + std::to_string(i) +
               ".example/customer\tcrm" + std::to_string(i) + ".example\t<div>" + std::string(2000, 'x') +
               "</div>\t<p>frame</p>");
    }
}

// Triggers on the domain, the title and the body in turn.
std::vector<std::unique_ptr<BrowserHTMLMethod>> Triggers()
{
    std::vector<std::unique_ptr<BrowserHTMLMethod>> methods;
    for (int i = 0; i < Methods; ++i) {
        const std::uint32_t object = std::vector<std::uint32_t>{BrowserHTMLCriteria::Domain,
                                                                BrowserHTMLCriteria::PageTitle,
                                                                BrowserHTMLCriteria::HTMLBody}[i % 3];
        methods.push_back(std::make_unique<BrowserHTMLMethod>(
            std::vector{BrowserHTMLCriteria(object, 4, "payment " + std::to_string(i))}));
    }
    return methods;
}

int g_failures = 0; // Checks that threw, as the handler would log them

double InspectionMs(const std::vector<std::unique_ptr<BrowserHTMLMethod>>& methods, bool shared, int rounds)
{
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < rounds; ++round) {
        std::optional<kzb::inspection::InspectionSnapshot> snapshot;
        if (shared)
            snapshot.emplace();
        for (const auto& method : methods) {
            try {
                method->Check();
            } catch (const std::exception&) {
                ++g_failures;
            }
        }
    }
    const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - start;
    return elapsed.count() / rounds;
}

} // namespace

// browser_bench_win.exe [ROUNDS]: both arms get one warm-up round, then ROUNDS measured
// rounds each (default 2), taken in turn so that a change in the machine's load meets both.
int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2;
    BrowserApp app;
    ShowPages(app);
    const auto methods = Triggers();
    // Under Wine every page costs hundreds of milliseconds (each COM proxy is built from the
    // type library), so rounds without sharing take minutes.
    const bool arms[] = {true, false};
    for (bool shared : arms)
        InspectionMs(methods, shared, 1); // warm-up
    double total[2] = {0, 0};
    for (int round = 0; round < rounds; ++round)
        for (int arm = 0; arm < 2; ++arm)
            total[arm] += InspectionMs(methods, arms[arm], 1);
    for (int arm = 0; arm < 2; ++arm)
        std::printf("inspection of %d page triggers over %d browser windows, %s: %.0f ms (mean of %d rounds)\n",
                    Methods, Windows, arms[arm] ? "one shared snapshot" : "each method on its own",
                    total[arm] / rounds, rounds);
    if (g_failures > 0)
        std::printf("%d checks failed (a browser that did not answer within its second)\n", g_failures);
    return 0;
}
