#pragma once

// Drives ie_browser_app.exe (tests/inspection/IEBrowserApp_win.cpp), the stand-in for
// Internet Explorer, through its standard input and output.

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

class BrowserApp
{
public:
    // Starts the program (next to this executable) and waits until it is ready.
    BrowserApp()
    {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE childInput = nullptr, childOutput = nullptr;
        if (!CreatePipe(&childInput, &m_input, &inherit, 0) || !CreatePipe(&m_output, &childOutput, &inherit, 0))
            throw std::runtime_error("CreatePipe failed");
        SetHandleInformation(m_input, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(m_output, HANDLE_FLAG_INHERIT, 0);

        char path[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, path, MAX_PATH);
        std::string command = path;
        command = "\"" + command.substr(0, command.find_last_of('\\') + 1) + "ie_browser_app.exe\"";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = childInput;
        startup.hStdOutput = childOutput;
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        PROCESS_INFORMATION process{};
        const BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                            &startup, &process);
        CloseHandle(childInput);
        CloseHandle(childOutput);
        if (!started)
            throw std::runtime_error("cannot start " + command);
        CloseHandle(process.hThread);
        m_process = process.hProcess;
        m_reader = std::thread([this] { ReadLines(); });
        if (NextLine() != "ready")
            throw std::runtime_error("ie_browser_app did not start");
    }

    ~BrowserApp()
    {
        CloseHandle(m_input); // the program exits at the end of its input
        if (WaitForSingleObject(m_process, 20000) != WAIT_OBJECT_0)
            TerminateProcess(m_process, 1);
        m_reader.join();
        CloseHandle(m_output);
        CloseHandle(m_process);
    }

    BrowserApp(const BrowserApp&) = delete;
    BrowserApp& operator=(const BrowserApp&) = delete;

    // Sends one command (fields separated by tabs) and returns its answer.
    std::string Do(const std::string& command)
    {
        const std::string line = command + "\n";
        DWORD written = 0;
        WriteFile(m_input, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        return NextLine();
    }

private:
    void ReadLines()
    {
        std::string pending;
        char buffer[1024];
        DWORD read = 0;
        while (ReadFile(m_output, buffer, sizeof buffer, &read, nullptr) && read > 0) {
            pending.append(buffer, read);
            for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
                std::lock_guard lock(m_mutex);
                m_lines.push_back(pending.substr(0, end));
                pending.erase(0, end + 1);
                m_changed.notify_all();
            }
        }
        std::lock_guard lock(m_mutex);
        m_ended = true;
        m_changed.notify_all();
    }

    // The next line the program writes; empty when it ends or says nothing for long.
    std::string NextLine()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::seconds(30), [this] { return !m_lines.empty() || m_ended; });
        if (m_lines.empty())
            return {};
        std::string line = m_lines.front();
        m_lines.pop_front();
        return line;
    }

    HANDLE m_input = nullptr;
    HANDLE m_output = nullptr;
    HANDLE m_process = nullptr;
    std::thread m_reader;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::string> m_lines;
    bool m_ended = false;
};
