#include "app/jsonlinesoutput.h"

#include "app/output.h"
#include "watch/watchsession.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

bool JsonLinesOutput::readerGone()
{
    pollfd output{STDOUT_FILENO, 0, 0};
    return poll(&output, 1, 0) == 1 && (output.revents & (POLLERR | POLLHUP));
}

void JsonLinesOutput::changed(const WatchSession &session, const QList<WatchChange> &changes)
{
    const LabelOf labelOf = session.labelOf();
    for (const WatchChange &change : changes) {
        if (!m_writing)
            return;
        // Each line as it happens, for whatever reads it.
        if (!writeOutput(stdout, watchEventLine(change.event, change.time, labelOf))) {
            m_writing = false;
            m_failed(errno == EPIPE || readerGone());
        }
    }
}

void JsonLinesOutput::roundEnded(const WatchSession &, const WatchRoundEnd &end)
{
    if (!end.asked)
        writeMessage(stderr, QStringLiteral("no device could be asked: %1").arg(end.failure));
}
