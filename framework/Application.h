// The application object: one per program, made as a global. Run (called from the program's
// entry point) fills in the instance handle and the command-line tail and calls InitInstance;
// a FALSE result ends the program without a message loop.
#pragma once

#include <windows.h>

#include "GbkString.h"

class Window;

class Application {
public:
    Application();
    virtual ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    static Application* Current();

    int Run(HINSTANCE instance, const wchar_t* commandLine);

    virtual BOOL InitInstance() { return FALSE; }
    virtual int ExitInstance() { return 0; }

    // Registers the common control classes the dialogs use (progress bars, tooltips).
    static void EnableCommonControls();

    HINSTANCE m_hInstance = nullptr;
    GbkString m_lpCmdLine;  // the command-line tail, GBK
    Window* m_pMainWnd = nullptr;

private:
    int MessageLoop();
};
