#pragma once

#include "watch/watchoutput.h"

// The metrics file (history/watchmetrics.h), written whole after every round; a file that
// cannot be written says so once, and again after it was written again.
class MetricsOutput final : public WatchOutput {
public:
    explicit MetricsOutput(QString path) : m_path(std::move(path)) {}
    void roundEnded(const WatchSession &session, const WatchRoundEnd &end) override;

private:
    const QString m_path;
    QString m_problem;
};
