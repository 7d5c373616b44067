#pragma once

#include "inspection/DesktopFile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <thread>

// Points the inspection methods at a desktop file that the test writes.
class DesktopFixture : public ::testing::Test
{
protected:
    DesktopFixture()
    {
        static std::atomic<int> counter{0};
        m_path = std::filesystem::temp_directory_path() /
                 ("kzb-desktop-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                  std::to_string(counter++) + ".json");
        m_desktop = std::make_shared<kzb::inspection::DesktopFile>(m_path);
        kzb::inspection::SetDesktop(m_desktop);
    }
    ~DesktopFixture() override
    {
        kzb::inspection::SetDesktop(nullptr);
        std::error_code ignored;
        std::filesystem::remove(m_path, ignored);
    }

    // Replaces the desktop at once (a reader sees the old file or the new one, never half
    // of one); the size changes with the text, so it is read again.
    void SetDesktopJson(const std::string& json)
    {
        std::filesystem::path next = m_path;
        next += ".next";
        std::ofstream(next, std::ios::trunc) << json << std::string(++m_generation % 7, ' ');
        // On Windows a file that the agent is reading cannot be replaced: the writer tries
        // again, as writers there do.
        std::error_code error;
        for (int attempt = 0; attempt < 1000; ++attempt) {
            std::filesystem::rename(next, m_path, error);
            if (!error)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        FAIL() << "the desktop file cannot be replaced: " << error.message();
    }

    std::filesystem::path m_path;
    std::shared_ptr<kzb::inspection::DesktopFile> m_desktop;
    int m_generation = 0;
};
