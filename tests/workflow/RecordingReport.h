// A RunReport that keeps what it is told, for cases that need no live dialog. Any thread may
// report to it.
#pragma once

#include <mutex>
#include <vector>

#include "RunReport.h"

class RecordingReport : public RunReport {
public:
    bool Log(const GbkString& line) override {
        return Keep([&] { m_lines.push_back(line); });
    }
    bool ClearLog() override {
        return Keep([&] { m_lines.clear(); });
    }
    bool RunBegun() override {
        return Keep([&] { m_stages.push_back(0); });
    }
    bool Stage(int position) override {
        return Keep([&] { m_stages.push_back(position); });
    }
    bool Download(const DownloadFigures& figures) override {
        return Keep([&] { m_figures.push_back(figures); });
    }
    bool StepStarted() override { return true; }
    bool InstalledVersion(const GbkString&) override { return true; }
    bool Links(const LinkTargets&) override { return true; }
    bool Title(const GbkString&) override { return true; }
    bool RunEnded() override {
        return Keep([&] { ++m_ends; });
    }
    bool Reachable() const override { return true; }

    std::vector<GbkString> Lines() const { return Read(m_lines); }
    std::vector<int> Stages() const { return Read(m_stages); }
    std::vector<DownloadFigures> Figures() const { return Read(m_figures); }
    int Ends() const { return Read(m_ends); }

private:
    template <typename Change>
    bool Keep(Change change) {
        std::lock_guard<std::mutex> hold(m_lock);
        change();
        return true;
    }
    template <typename Value>
    Value Read(const Value& value) const {
        std::lock_guard<std::mutex> hold(m_lock);
        return value;
    }

    mutable std::mutex m_lock;
    std::vector<GbkString> m_lines;
    std::vector<int> m_stages;
    std::vector<DownloadFigures> m_figures;
    int m_ends = 0;
};
