#include "watch/metricsoutput.h"

#include "history/watchmetrics.h"
#include "platform/log.h"
#include "watch/watchsession.h"

void MetricsOutput::roundEnded(const WatchSession &session, const WatchRoundEnd &)
{
    const QString problem =
        writeWatchMetrics(m_path, watchMetricsText(session.devicesNow(), session.labelOf(), session.rounds(), session.site()));
    if (!problem.isEmpty() && problem != m_problem)
        logLine(lcApp, "Metrics file %@ could not be written: %@", m_path, problem);
    m_problem = problem;
}
