// What workers ask the dialog to show, as values queued for the dialog's thread.
#pragma once

#include <variant>

#include "RunReport.h"

namespace report {
struct LogLine {
    GbkString line;
};
struct LogCleared {};
struct RunBegun {};
struct StageReached {
    int position;
};
struct StepStarted {};
struct VersionRead {
    GbkString version;
};
struct TitleSet {
    GbkString title;
};
struct RunEnded {};
}  // namespace report

using ReportEntry =
    std::variant<report::LogLine, report::LogCleared, report::RunBegun, report::StageReached,
                 report::StepStarted, DownloadFigures, report::VersionRead, LinkTargets,
                 report::TitleSet, report::RunEnded>;
