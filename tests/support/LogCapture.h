#pragma once

#include <chrono>
#include <string>
#include <vector>

// Takes every agent log line for the lifetime of the object (one at a time per process).
class LogCapture
{
public:
    struct Line
    {
        int level;
        std::string file;
        std::string text;
    };

    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<Line> Lines() const;
    // Lines that contain part.
    std::size_t Count(const std::string& part) const;
    // Waits until at least count lines contain part; false when the time-out passes first.
    bool WaitFor(const std::string& part, std::size_t count = 1,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    void Clear();
};
