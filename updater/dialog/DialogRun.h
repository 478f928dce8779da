// A worker's binding to the dialog, which the user may close at any moment. Made once at the
// start of the worker: it reads the run's settings, shares the run's state, and reports by
// queueing entries that the dialog applies on its own thread. Every reach into the dialog
// happens here, for the moment of one call, and only while the dialog lives.
#pragma once

#include <optional>

#include "RunControl.h"
#include "RunReport.h"
#include "RunSettings.h"

class UpdateDialog;

class DialogRun : public RunReport {
public:
    explicit DialogRun(UpdateDialog* dialog);

    // Whether the dialog was still there when the worker began.
    bool Bound() const { return m_control.has_value(); }
    const RunSettings& Settings() const { return m_settings; }
    RunControl& Control() { return *m_control; }

    bool Log(const GbkString& line) override;
    bool ClearLog() override;
    bool RunBegun() override;
    bool Stage(int position) override;
    bool StepStarted() override;
    bool Download(const DownloadFigures& figures) override;
    bool InstalledVersion(const GbkString& version) override;
    bool Links(const LinkTargets& targets) override;
    bool Title(const GbkString& title) override;
    bool RunEnded() override;
    bool Reachable() const override;

private:
    template <typename Entry>
    bool Send(Entry entry);

    UpdateDialog* m_dialog;
    RunSettings m_settings;
    std::optional<RunControl> m_control;
};
