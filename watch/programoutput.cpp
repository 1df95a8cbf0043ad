#include "watch/programoutput.h"

#include "history/watchenvironment.h"
#include "watch/watchsession.h"

void ProgramOutput::changed(const WatchSession &session, const QList<WatchChange> &changes)
{
    const LabelOf labelOf = session.labelOf();
    for (const WatchChange &change : changes) {
        const WatchEvent &event = change.event;
        m_programs.enqueue({watchEventLine(event, change.time, labelOf),
                            watchEventEnvironment(event, labelOf && event.device ? labelOf(*event.device) : QString())});
    }
}
