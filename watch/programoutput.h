#pragma once

#include "platform/programqueue.h"
#include "watch/watchoutput.h"

// `watch -- PROGRAM`: the program once per change, one at a time in their order
// (platform/programqueue.h), the change's JSON line on its standard input and its texts in
// its environment (history/watchenvironment.h). Its programs end with it.
class ProgramOutput final : public WatchOutput {
public:
    explicit ProgramOutput(QStringList command) : m_programs(std::move(command)) {}
    void changed(const WatchSession &session, const QList<WatchChange> &changes) override;
    // What kills its programs at once, from any thread (see ProgramQueue::killer).
    std::function<void()> killer() const { return m_programs.killer(); }

private:
    ProgramQueue m_programs;
};
