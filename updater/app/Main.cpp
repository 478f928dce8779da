#include <windows.h>

#include "UpdaterApp.h"

namespace {
UpdaterApp theApp;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    return theApp.Run(instance, GetCommandLineW());
}
