// A worker's hold on the dialog, which the user may close at any moment: each call reaches
// the dialog only while it lives, for the moment of the call, and says whether it could.
#pragma once

#include "ObjectLifetime.h"
#include "ServerProtocol.h"
#include "UpdateDialog.h"

class DialogLink {
public:
    explicit DialogLink(UpdateDialog* dialog) : m_dialog(dialog) {}

    // Runs action(dialog) if the dialog still lives; false when it has gone.
    template <typename Action>
    bool With(Action action) const {
        ObjectLifetime::Access access(m_dialog);
        if (!access) return false;
        action(*m_dialog);
        return true;
    }

    bool Log(const char* line) const {
        return With([line](UpdateDialog& dialog) { dialog.AppendLog(line); });
    }
    bool SetStage(int position) const {
        return With([position](UpdateDialog& dialog) {
            dialog.m_progressStage.SendMessage(PBM_SETPOS, static_cast<WPARAM>(position));
        });
    }
    // Stop was pressed, or there is no dialog to report to any more.
    bool StopRequested() const {
        bool stop = true;
        With([&stop](UpdateDialog& dialog) { stop = dialog.m_bDownloadRunning.load() == 0; });
        return stop;
    }
    StopCheck Stopper() const {
        return [this] { return StopRequested(); };
    }

private:
    UpdateDialog* m_dialog;
};
