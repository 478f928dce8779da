// Reads the installed version, asks the server for the manual-download page, and gives the
// three links their targets and the title the version.
#pragma once

#include "RunReport.h"
#include "RunSettings.h"

void LoadInfo(RunSettings settings, RunReport& report);
