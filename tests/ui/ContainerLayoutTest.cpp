#include "ui/ContainerLayout.h"
#include "ui/Registry.h"
#include "ui/WindowSettings.h"

#include "MachineSettings.h"

#include <gtest/gtest.h>

#include <vector>

using kzb::ui::ContainerLayout;
using kzb::ui::PanePlace;
using kzb::ui::PaneSize;

namespace {

struct LayoutCase
{
    const char* name;
    bool annotation;
    PaneSize annotationSize;
    std::vector<PaneSize> row;
    bool status;
    PaneSize statusSize;
    std::vector<PanePlace> rowPlaces;
    PanePlace statusPlace;
    PaneSize client;
};

} // namespace

TEST(ContainerLayout, PanesStackAsTheAgentSeesThem)
{
    const LayoutCase cases[] = {
        {"nothing shown", false, {}, {}, false, {}, {}, {0, 0}, {0, 0}},
        {"annotation alone", true, {470, 110}, {}, false, {}, {}, {0, 110}, {470, 110}},
        {"row under the annotation, tallest pane sets its height", true, {470, 110},
         {{90, 70}, {193, 62}, {193, 66}}, false, {}, {{0, 110}, {90, 110}, {283, 110}}, {0, 180}, {476, 180}},
        {"row wider than the annotation", true, {300, 80}, {{200, 60}, {200, 50}}, false, {},
         {{0, 80}, {200, 80}}, {0, 140}, {400, 140}},
        {"row alone starts at the top", false, {}, {{90, 70}}, false, {}, {{0, 0}}, {0, 70}, {90, 70}},
        {"status under everything and widest", true, {470, 110}, {{90, 70}}, true, {460, 45}, {{0, 110}},
         {0, 180}, {470, 225}},
        {"status alone", false, {}, {}, true, {460, 45}, {}, {0, 0}, {460, 45}},
        {"an annotation of no width keeps its height", true, {0, 30}, {{90, 70}}, false, {}, {{0, 30}}, {0, 100},
         {90, 100}},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.name);
        ContainerLayout layout;
        if (c.annotation)
            layout.AddAnnotation(c.annotationSize);
        std::vector<PanePlace> places;
        for (const PaneSize& pane : c.row)
            places.push_back(layout.AddToRow(pane));
        EXPECT_EQ(places, c.rowPlaces);
        EXPECT_EQ(layout.StatusPlace(), c.statusPlace);
        if (c.status)
            layout.AddStatus(c.statusSize);
        EXPECT_EQ(layout.ClientSize(), c.client);
    }
}

TEST(WindowSettings, CornerIsKeptOnTheDesktop)
{
    struct Case
    {
        int top, left, keptTop, keptLeft;
    } const cases[] = {
        {40, 60, 40, 60},       // inside
        {-50, -1, 0, 0},        // above and left of it
        {924, 1180, 924, 1180}, // exactly 100 inside the bottom right
        {925, 1181, 924, 1180}, // beyond
        {5000, 5000, 924, 1180},
    };
    for (const Case& c : cases) {
        kzb::ui::WindowSettings settings;
        settings.windowTop = c.top;
        settings.windowLeft = c.left;
        settings.KeepOnDesktop({0, 0, 1280, 1024});
        EXPECT_EQ(settings.windowTop, c.keptTop) << c.top;
        EXPECT_EQ(settings.windowLeft, c.keptLeft) << c.left;
    }
}

TEST(WindowSettings, WhatIsSavedIsReadBack)
{
    UseTestSettingsStore();
    kzb::ui::WindowSettings saved;
    saved.showWindow = true;
    saved.alwaysOnTop = true;
    saved.windowTop = -20; // a corner on a screen above the main one is stored as is
    saved.windowLeft = 300;
    CRegistry writer;
    ASSERT_TRUE(saved.Save(writer, 3));
    writer.Close();

    CRegistry reader;
    const kzb::ui::WindowSettings read = kzb::ui::WindowSettings::Read(reader);
    EXPECT_TRUE(read.showWindow);
    EXPECT_TRUE(read.alwaysOnTop);
    EXPECT_EQ(read.windowTop, -20);
    EXPECT_EQ(read.windowLeft, 300);
    EXPECT_FALSE(read.autoSuppressionMessages);
    EXPECT_EQ(reader.ReadNumber(CRegistry::Root::CurrentUser, "LogLevel", 99), 3u);

    CRegistry cleaner;
    ASSERT_TRUE(cleaner.OpenProgramKeyForWriting());
    for (const char* name : {"ShowWindow", "AlwaysOnTop", "WindowTop", "WindowLeft", "LogLevel"})
        cleaner.DeleteValue(name);
}
