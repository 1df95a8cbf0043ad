#include "watch/watchoutputs.h"

#include "destinations/destinationsfile.h"
#include "watch/destinationsoutput.h"
#include "watch/metricsoutput.h"
#include "watch/notificationoutput.h"
#include "watch/presencelogoutput.h"
#include "watch/watchsession.h"

void addSharedOutputs(WatchSession &session, const SharedOutputs &outputs)
{
    if (!outputs.notifier.expired())
        session.addOutput(std::make_unique<NotificationOutput>(outputs.notifier));
    if (!outputs.metricsFile.isEmpty())
        session.addOutput(std::make_unique<MetricsOutput>(outputs.metricsFile));
    session.addOutput(std::make_unique<PresenceLogOutput>());
    session.addOutput(std::make_unique<DestinationsOutput>(destinationsFilePath(), destinationsConfigFolder()));
}
