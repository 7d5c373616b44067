#include "TestFiles.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

namespace testing_support {

namespace fs = std::filesystem;

fs::path FixedConfigFolder()
{
    return FixedRoot() / "QVN" / "Config" / "logging";
}

fs::path DebugSwitch()
{
    return FixedRoot() / "QVN" / "DEBUG.ON";
}

void ResetFixedRoot()
{
    std::error_code error;
    fs::remove_all(FixedRoot() / "QVN", error);
}

fs::path ScratchFolder()
{
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = test != nullptr ? std::string(test->test_suite_name()) + "." + test->name() : "outside";
    for (char& c : name) {
        if (c == '/' || c == '\\' || c == ':')
            c = '_';
    }
    const fs::path folder = FixedRoot() / "kzb-scratch" / name;
    std::error_code error;
    fs::remove_all(folder, error);
    fs::create_directories(folder);
    return folder;
}

std::string ReadText(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> ReadLines(const fs::path& file)
{
    std::vector<std::string> lines;
    std::istringstream in(ReadText(file));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

void WriteText(const fs::path& file, const std::string& text)
{
    if (file.has_parent_path())
        fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
}

bool Contains(const std::vector<std::string>& lines, const std::string& part)
{
    return CountContaining(lines, part) > 0;
}

std::size_t CountContaining(const std::vector<std::string>& lines, const std::string& part)
{
    std::size_t count = 0;
    for (const auto& line : lines)
        count += line.find(part) != std::string::npos ? 1 : 0;
    return count;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

fs::path AppendedConfig(const fs::path& moduleFile)
{
    fs::path path = moduleFile;
    path += ".log.config.ini";
    return path;
}

fs::path ReplacedConfig(const fs::path& moduleFile)
{
    fs::path path = moduleFile;
    path.replace_extension(".log.config");
    return path;
}

void RemoveConfigBeside(const fs::path& moduleFile)
{
    std::error_code error;
    fs::remove(AppendedConfig(moduleFile), error);
    fs::remove(ReplacedConfig(moduleFile), error);
}

} // namespace testing_support
