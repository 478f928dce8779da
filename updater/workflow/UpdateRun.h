// One automatic update: ask whether an update may run, read the offer, and when it is newer,
// end the running main program and download the new one over it. Every step is told to the
// report; a stop is seen between steps and inside each request.
//
// The run's pieces answer bool, true when done; DownloadFile alone keeps its 0 and -1.
#pragma once

#include "RunControl.h"
#include "RunReport.h"
#include "RunSettings.h"

void RunUpdate(RunSettings settings, RunControl& control, RunReport& report);
