#include "Application.h"

#include <commctrl.h>

#include "CodePage.h"
#include "CommandLine.h"

namespace {
Application* g_current = nullptr;
}

Application::Application() {
    g_current = this;
}

Application::~Application() {
    if (g_current == this) g_current = nullptr;
}

Application* Application::Current() {
    return g_current;
}

int Application::Run(HINSTANCE instance, const wchar_t* commandLine) {
    m_hInstance = instance;
    m_lpCmdLine = ToGbk(CommandLineTail(commandLine ? commandLine : L""));
    if (!InitInstance()) return ExitInstance();
    MessageLoop();
    return ExitInstance();
}

int Application::MessageLoop() {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

void Application::EnableCommonControls() {
    INITCOMMONCONTROLSEX controls{sizeof(controls),
                                  ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
}
