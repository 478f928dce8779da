// The updater's application object: one instance per logon, the skin over its windows, and
// the update dialog for the life of the process.
#pragma once

#include "Application.h"

class UpdaterApp : public Application {
public:
    BOOL InitInstance() override;
    int ExitInstance() override { return Application::ExitInstance(); }
};
