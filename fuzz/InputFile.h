// A file the fuzz input is written to, for readers that take a path: in memory where the
// machine has /dev/shm, named after the process, removed when the process ends.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace fuzz {

inline std::filesystem::path& InputFilePath()
{
    static std::filesystem::path path;
    return path;
}

// Chooses the file (call once, from LLVMFuzzerInitialize); kind names it.
inline const std::filesystem::path& MakeInputFile(const std::string& kind)
{
    const std::filesystem::path folder =
        std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
    InputFilePath() = folder / ("kzb-" + kind + "-fuzz-" + std::to_string(::getpid()) + ".json");
    std::atexit([] {
        std::error_code error;
        std::filesystem::remove(InputFilePath(), error);
    });
    return InputFilePath();
}

inline void WriteInputFile(const std::uint8_t* data, std::size_t size)
{
    std::ofstream out(InputFilePath(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

} // namespace fuzz
