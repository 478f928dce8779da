// What an update run and the information loader tell the user, as values: the workers know
// no window and no control. The dialog's implementation applies each call on its own thread
// and returns once it has (or the dialog has gone).
#pragma once

#include <optional>

#include "DownloadMeter.h"
#include "GbkString.h"

// The three links' targets; no manual page turns that link off.
struct LinkTargets {
    GbkString home;
    GbkString log;
    std::optional<GbkString> manual;
};

// Every call returns false when there is nobody to tell any more.
class RunReport {
public:
    virtual ~RunReport() = default;

    // A line for the log panel, starting with "* ".
    virtual bool Log(const GbkString& line) = 0;
    virtual bool ClearLog() = 0;
    // A run has begun: Start is off and the stage bar stands at 0 of 3.
    virtual bool RunBegun() = 0;
    virtual bool Stage(int position) = 0;
    // The step that installs with rights is asked for: from now on Stop is off, and closing
    // waits for the run to end.
    virtual bool StepStarted() = 0;
    // The download's size, speed and percentage labels.
    virtual bool Download(const DownloadFigures& figures) = 0;
    // The installed main program's version, "" when it has none.
    virtual bool InstalledVersion(const GbkString& version) = 0;
    virtual bool Links(const LinkTargets& targets) = 0;
    virtual bool Title(const GbkString& title) = 0;
    // The run has ended, however: Start is on again.
    virtual bool RunEnded() = 0;
    // Whether anybody is there to tell.
    virtual bool Reachable() const = 0;
};
