#pragma once

#include "controller/finishedrun.h"
#include "history/devicehistory.h"

#include <QDateTime>
#include <QString>

// The device history's part of a run's end: the run's devices judged against the history
// file, recorded in it, and their changes appended to the presence log beside it. The file is
// read afresh at each run's end, so that another instance's runs count too. Main thread.
class RunRecorder final {
public:
    // Who the presence log names for the runs: the window, or a command (discover and scan
    // name themselves).
    enum class RunSource { Window, Command };

    // Empty: no history, as --no-history asks.
    void setHistoryFile(const QString &path) { m_historyFile = path; }
    const QString &historyFile() const { return m_historyFile; }
    // The presence log of the history file; empty without one.
    QString presenceLogPath() const;
    // Why the history file is not used (another kind of file, a newer version's, or one that
    // cannot be read now), which the latest run left untouched; empty when it is used.
    const QString &historyProblem() const { return m_historyProblem; }
    void setRunSource(RunSource source) { m_runSource = source; }
    // While a watch judges the runs (its own rounds, and every discovery), it logs their
    // changes as it judges them, and none of them are logged here.
    void setWatchLogsRuns(bool watchLogs) { m_watchLogsRuns = watchLogs; }
    void setSiteName(const QString &site) { m_siteName = site; }
    const QString &siteName() const { return m_siteName; }

    // What the run changed against the history, and the time the history recorded it at
    // (invalid when it did not: no history, a failed run, a file not used, a clock before 2000).
    struct Recorded {
        DeviceChanges changes;
        QDateTime at;
    };
    Recorded record(const FinishedRun &finished);

private:
    void logChanges(const FinishedRun &finished, const Recorded &recorded) const;

    QString m_historyFile;
    QString m_historyProblem;
    RunSource m_runSource = RunSource::Window;
    bool m_watchLogsRuns = false;
    QString m_siteName;
};
