#pragma once

// The inspection load of a busy workstation: 50 window-title methods, none of which
// matches, over 300 windows, so every Check walks every title.

#include "Config/ConfigObject.h"
#include "inspection/InspectionSnapshot.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

constexpr int SceneWindows = 300;
constexpr int SceneMethods = 50;

inline std::string SceneWindowTitle(int i)
{
    return "Application window " + std::to_string(i) + " - Customer Relationship Management";
}

inline std::vector<std::unique_ptr<AutoSuppressionMethod>> SceneMethodsList()
{
    std::vector<std::unique_ptr<AutoSuppressionMethod>> methods;
    for (int i = 0; i < SceneMethods; ++i) {
        auto method = CreateAutoSuppressionMethod(2);
        const std::string ini = "1|4|0|Payment screen " + std::to_string(i) + "|";
        method->ParseIniString(ini.c_str());
        methods.push_back(std::move(method));
    }
    return methods;
}

// One inspection: every method checks once, each reading the desktop itself or all of
// them sharing one snapshot. Returns how many fired (none).
inline int RunInspection(const std::vector<std::unique_ptr<AutoSuppressionMethod>>& methods, bool shared)
{
    std::optional<kzb::inspection::InspectionSnapshot> snapshot;
    if (shared)
        snapshot.emplace();
    int fired = 0;
    for (const auto& method : methods)
        fired += method->Check() ? 1 : 0;
    return fired;
}
