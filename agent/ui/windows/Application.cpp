#include "Application.h"

namespace kzb::ui {

int Application::ExitInstance()
{
    return m_exitCode;
}

bool Application::PreTranslateMessage(MSG&)
{
    return false;
}

int Application::Run()
{
    MSG message{};
    for (;;) {
        const BOOL got = ::GetMessageA(&message, nullptr, 0, 0);
        if (got == 0)
            break;
        if (got == -1)
            return 1;
        if (PreTranslateMessage(message))
            continue;
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
    m_exitCode = static_cast<int>(message.wParam);
    return m_exitCode;
}

int Application::Main()
{
    if (!InitInstance()) {
        ExitInstance();
        return 1;
    }
    Run();
    return ExitInstance();
}

} // namespace kzb::ui
