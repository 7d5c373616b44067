#include "ProgramDriver.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace gui {

namespace {

constexpr const char* FrameClass = "KZBDKAMainFrame";

// A program beside the test's own executable.
std::string Beside(const char* name)
{
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    folder.erase(folder.find_last_of("\\/") + 1);
    return folder + name;
}

POINT Centre(HWND window)
{
    RECT rect{};
    ::GetWindowRect(window, &rect);
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

} // namespace

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

std::string TextOf(HWND window)
{
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
        return {};
    std::string text(length + 1, '\0');
    DWORD_PTR copied = 0;
    if (!::SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                               5000, &copied))
        return {};
    text.resize(std::strlen(text.c_str()));
    return text;
}

std::string ClassOf(HWND window)
{
    char name[256] = {};
    ::GetClassNameA(window, name, sizeof name);
    return name;
}

SIZE ClientSizeOf(HWND window)
{
    RECT rect{};
    ::GetClientRect(window, &rect);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

RECT RectInParent(HWND window)
{
    RECT rect{};
    ::GetWindowRect(window, &rect);
    if (HWND parent = ::GetParent(window))
        ::MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

bool IsShown(HWND window)
{
    return window != nullptr && ::IsWindowVisible(window);
}

std::vector<HWND> TopLevelWindows(DWORD processId)
{
    struct Search
    {
        DWORD processId;
        std::vector<HWND> found;
    } search{processId, {}};
    ::EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            auto& search = *reinterpret_cast<Search*>(context);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(window, &owner);
            if (owner == search.processId)
                search.found.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<HWND> Descendants(HWND parent, const std::string& className)
{
    struct Search
    {
        std::string className;
        std::vector<HWND> found;
    } search{className, {}};
    ::EnumChildWindows(
        parent,
        [](HWND window, LPARAM context) -> BOOL {
            auto& search = *reinterpret_cast<Search*>(context);
            if (search.className.empty() || ClassOf(window) == search.className)
                search.found.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND DialogHolding(HWND container, int controlId)
{
    for (HWND child = ::GetWindow(container, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (::GetDlgItem(child, controlId) != nullptr)
            return child;
    }
    return nullptr;
}

// ---------------------------------------------------------------- the program

Program::~Program()
{
    Kill();
}

bool Program::Start(const std::vector<std::pair<std::string, std::string>>& environment, const char* program)
{
    std::string block;
    if (char* strings = ::GetEnvironmentStringsA()) {
        for (const char* entry = strings; *entry != '\0'; entry += std::strlen(entry) + 1)
            block.append(entry).push_back('\0');
        ::FreeEnvironmentStringsA(strings);
    }
    for (const auto& [name, value] : environment)
        block.append(name).append("=").append(value).push_back('\0');
    block.push_back('\0');

    std::string command = "\"" + Beside(program) + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    m_started = ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, block.data(), nullptr, &startup,
                                 &m_information) != FALSE;
    return m_started;
}

bool Program::Running() const
{
    return m_started && ::WaitForSingleObject(m_information.hProcess, 0) == WAIT_TIMEOUT;
}

std::optional<DWORD> Program::WaitForExit(std::chrono::milliseconds timeout)
{
    if (!m_started)
        return std::nullopt;
    if (::WaitForSingleObject(m_information.hProcess, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0)
        return std::nullopt;
    DWORD code = 0;
    ::GetExitCodeProcess(m_information.hProcess, &code);
    return code;
}

void Program::Kill()
{
    if (!m_started)
        return;
    if (Running()) {
        ::TerminateProcess(m_information.hProcess, 99);
        ::WaitForSingleObject(m_information.hProcess, 10000);
    }
    ::CloseHandle(m_information.hThread);
    ::CloseHandle(m_information.hProcess);
    m_started = false;
}

HWND Program::Frame() const
{
    for (HWND window : TopLevelWindows(Id())) {
        if (ClassOf(window) == FrameClass)
            return window;
    }
    return nullptr;
}

HWND Program::Container() const
{
    for (HWND window : TopLevelWindows(Id())) {
        if (ClassOf(window) == "#32770" && (::GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_APPWINDOW))
            return window;
    }
    return nullptr;
}

HWND Program::WindowTitled(const std::string& title) const
{
    for (HWND window : TopLevelWindows(Id())) {
        if (IsShown(window) && TextOf(window) == title && ClassOf(window) == "#32770" &&
            !(::GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_APPWINDOW))
            return window;
    }
    return nullptr;
}

std::vector<HWND> Program::OpenMenus() const
{
    std::vector<HWND> menus;
    for (HWND window : TopLevelWindows(Id())) {
        if (ClassOf(window) == "#32768" && IsShown(window))
            menus.push_back(window);
    }
    // Top-level windows come in z-order: usually the newest menu, on top, first.
    return menus;
}

HWND Program::OpenMenu() const
{
    const std::vector<HWND> menus = OpenMenus();
    return menus.empty() ? nullptr : menus.front();
}

// ---------------------------------------------------------------- another program's window

TriggerWindow::TriggerWindow(const std::string& title) : m_title(title)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read = nullptr;
    if (!::CreatePipe(&read, &m_input, &inherit, 0))
        return;
    ::SetHandleInformation(m_input, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = read;
    startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    std::string command = "\"" + Beside("trigger_window_app.exe") + "\" 300 \"" + title + "\"";
    ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &m_process);
    ::CloseHandle(read);
    WaitUntil([this] { return Shown(); });
    // Out of the way of the container, as a person would put it.
    if (HWND window = ::FindWindowA("KZBTriggerWindow", m_title.c_str()))
        ::SetWindowPos(window, nullptr, 560, 330, 400, 240, SWP_NOZORDER | SWP_NOACTIVATE);
}

TriggerWindow::~TriggerWindow()
{
    Close();
}

bool TriggerWindow::Shown() const
{
    HWND window = ::FindWindowA("KZBTriggerWindow", m_title.c_str());
    return window != nullptr && ::IsWindowVisible(window);
}

void TriggerWindow::Close()
{
    if (m_input != nullptr) {
        ::CloseHandle(m_input); // the program ends when its input does, and its window with it
        m_input = nullptr;
    }
    if (m_process.hProcess != nullptr) {
        if (::WaitForSingleObject(m_process.hProcess, 30000) != WAIT_OBJECT_0)
            ::TerminateProcess(m_process.hProcess, 1);
        ::CloseHandle(m_process.hThread);
        ::CloseHandle(m_process.hProcess);
        m_process = PROCESS_INFORMATION{};
    }
}

// ---------------------------------------------------------------- the notification area

namespace {

HWND Taskbar()
{
    return ::FindWindowA("Shell_TrayWnd", nullptr);
}

// The middle of the rightmost icon, in the taskbar's client coordinates.
POINT TrayIconPoint()
{
    RECT client{};
    ::GetClientRect(Taskbar(), &client);
    return {client.right - 10, client.bottom / 2};
}

// Rests the mouse on a screen point until a tooltip of the process shows; a tooltip waits
// for the mouse to stop, so it is nudged only now and then.
std::string RestMouse(POINT point, DWORD processId)
{
    std::string text;
    ::SetCursorPos(0, 0);
    ::SetCursorPos(point.x, point.y);
    auto shown = std::chrono::steady_clock::now();
    int nudge = 0;
    WaitUntil(
        [&] {
            for (HWND window : TopLevelWindows(processId)) {
                if (ClassOf(window) == "tooltips_class32" && IsShown(window)) {
                    text = TextOf(window);
                    if (!text.empty())
                        return true;
                }
            }
            if (std::chrono::steady_clock::now() - shown > 3s) {
                ::SetCursorPos(point.x + (++nudge % 2), point.y);
                shown = std::chrono::steady_clock::now();
            }
            return false;
        },
        20s);
    ::SetCursorPos(0, 0);
    return text;
}

} // namespace

bool TrayIconShown()
{
    // The program's icon is a blue disc: its left part shows where the icon is drawn.
    HWND taskbar = Taskbar();
    if (taskbar == nullptr)
        return false;
    POINT point = TrayIconPoint();
    point.x -= 6;
    ::ClientToScreen(taskbar, &point);
    HDC screen = ::GetDC(nullptr);
    const COLORREF colour = ::GetPixel(screen, point.x, point.y);
    ::ReleaseDC(nullptr, screen);
    return GetBValue(colour) > 140 && GetRValue(colour) < 90;
}

std::string HoverTrayIcon()
{
    HWND taskbar = Taskbar();
    POINT point = TrayIconPoint();
    ::ClientToScreen(taskbar, &point);
    DWORD shell = 0;
    ::GetWindowThreadProcessId(taskbar, &shell);
    return RestMouse(point, shell);
}

std::string HoverTooltip(HWND window)
{
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    return RestMouse(Centre(window), owner);
}

void RightClickTrayIcon()
{
    const POINT point = TrayIconPoint();
    const LPARAM where = MAKELPARAM(point.x, point.y);
    ::PostMessageA(Taskbar(), WM_RBUTTONDOWN, MK_RBUTTON, where);
    ::PostMessageA(Taskbar(), WM_RBUTTONUP, 0, where);
}

void DoubleClickTrayIcon()
{
    const POINT point = TrayIconPoint();
    const LPARAM where = MAKELPARAM(point.x, point.y);
    ::PostMessageA(Taskbar(), WM_LBUTTONDOWN, MK_LBUTTON, where);
    ::PostMessageA(Taskbar(), WM_LBUTTONUP, 0, where);
    ::PostMessageA(Taskbar(), WM_LBUTTONDBLCLK, MK_LBUTTON, where);
    ::PostMessageA(Taskbar(), WM_LBUTTONUP, 0, where);
}

// ---------------------------------------------------------------- menus

namespace {

// A menu's client area is its items, evenly high, inside a frame of a few pixels.
constexpr int MenuFrame = 3;

int RowTop(const RECT& client, int items, int row)
{
    return MenuFrame + (client.bottom - 2 * MenuFrame) * row / items;
}

} // namespace

std::vector<bool> CheckedRows(HWND menuWindow, int items)
{
    RECT client{};
    ::GetClientRect(menuWindow, &client);
    // The check marks' column, left of the items' texts.
    const int left = 2;
    const int width = 12;
    const int height = client.bottom;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP picture = ::CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = ::SelectObject(memory, picture);
    POINT origin{left, 0};
    ::ClientToScreen(menuWindow, &origin);
    ::BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
    ::GdiFlush();

    std::vector<int> dark(static_cast<std::size_t>(items), 0);
    const auto* pixels = static_cast<const std::uint32_t*>(bits);
    for (int y = MenuFrame; y < height - MenuFrame; ++y) {
        const int row = (y - MenuFrame) * items / (height - 2 * MenuFrame);
        for (int x = 0; x < width; ++x) {
            const std::uint32_t pixel = pixels[y * width + x];
            const int luminance = ((pixel >> 16 & 0xFF) * 3 + (pixel >> 8 & 0xFF) * 6 + (pixel & 0xFF)) / 10;
            dark[static_cast<std::size_t>(row)] += luminance < 100;
        }
    }
    ::SelectObject(memory, previous);
    ::DeleteObject(picture);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    std::vector<bool> checked;
    for (int count : dark)
        checked.push_back(count >= 4);
    return checked;
}

void HoverMenuRow(HWND menuWindow, int items, int row)
{
    RECT client{};
    ::GetClientRect(menuWindow, &client);
    POINT point{client.right / 2, (RowTop(client, items, row) + RowTop(client, items, row + 1)) / 2};
    ::ClientToScreen(menuWindow, &point);
    ::SetCursorPos(point.x, point.y);
    ::SetCursorPos(point.x + 1, point.y);
}

void PressKeys(HWND target, const std::vector<WORD>& keys)
{
    for (WORD key : keys) {
        ::PostMessageA(target, WM_KEYDOWN, key, 1);
        ::PostMessageA(target, WM_KEYUP, key, 0xC0000001);
    }
}

// ---------------------------------------------------------------- screenshots

void Screenshot(const std::string& name, DWORD processId)
{
    // Whatever the program has still to paint is painted first.
    if (processId != 0) {
        for (HWND window : TopLevelWindows(processId)) {
            if (IsShown(window))
                ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        }
    }
    const char* service = std::getenv("KZB_SCREENSHOT");
    if (service == nullptr)
        return;
    const std::string address(service);
    const std::size_t colon = address.find(':');
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET connection = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<u_short>(std::atoi(address.c_str() + colon + 1)));
    ::inet_pton(AF_INET, address.substr(0, colon).c_str(), &peer.sin_addr);
    // A screenshot asked for and not taken fails the test: its picture is part of the result.
    std::string answer;
    if (::connect(connection, reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0) {
        const std::string line = name + "\n";
        ::send(connection, line.data(), static_cast<int>(line.size()), 0);
        char buffer[256];
        const int length = ::recv(connection, buffer, sizeof buffer, 0);
        if (length > 0)
            answer.assign(buffer, static_cast<std::size_t>(length));
    }
    ::closesocket(connection);
    if (answer.rfind("ok", 0) != 0)
        ADD_FAILURE() << "screenshot " << name << " not taken: " << (answer.empty() ? "no answer" : answer);
    ::WSACleanup();
}

} // namespace gui
