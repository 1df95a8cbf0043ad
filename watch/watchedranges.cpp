#include "watch/watchedranges.h"

#include "controller/mainviewcontroller.h"
#include "platform/log.h"
#include "platform/preferences.h"

WatchedRanges fixedRanges(RangeList ranges, const QString &text)
{
    auto held = std::make_shared<const RangeList>(std::move(ranges));
    return [held, text] { return RangeReading{held, text, {}}; };
}

WatchedRanges localNetworkRanges(std::weak_ptr<const MainViewController> controller)
{
    auto watched = std::make_shared<QStringList>();
    return [controller = std::move(controller), watched] {
        const auto held = controller.lock();
        QStringList taken;
        RangeList ranges = held ? held->localNetworkRanges(false, &taken) : RangeList();
        for (const QString &range : std::as_const(taken))
            if (!watched->contains(range))
                logLine(lcApp, "Watching %@ from now on: a network of this computer", range);
        for (const QString &range : std::as_const(*watched))
            if (!taken.contains(range))
                logLine(lcApp, "No longer watching %@: this computer is not on it now", range);
        *watched = taken;
        if (ranges.isEmpty())
            return RangeReading{nullptr, {}, QStringLiteral("no network of this computer to scan")};
        return RangeReading{std::make_shared<const RangeList>(std::move(ranges)), taken.join(u' '), {}};
    };
}

WatchedRanges rangeBoxRanges(std::weak_ptr<MainViewController> controller)
{
    auto box = std::make_shared<RangeReading>();
    const auto read = [controller = std::move(controller), box] {
        // Once expanded, the box's ranges are the watch's until its choices change; until
        // then the box is read again, as it is now.
        const auto held = controller.lock();
        if (box->ranges || !held)
            return *box;
        const QString expression = held->rangeBoxText().trimmed();
        RangeListResult built = rangeListFromTexts(rangeBoxTexts(expression));
        const QString problem = built.reason();
        if (problem != box->problem && !problem.isEmpty())
            logLine(lcScan, "The range cannot be watched: %@", problem);
        box->problem = problem;
        held->markRangeBox(bool(built));
        if (built) {
            logLine(lcScan, "Watching %@ from now on", expression);
            // The range box shows it at the next start, which watches it again.
            Preferences::standard().setValue(LastScanAddressKey, expression);
            box->ranges = std::make_shared<const RangeList>(*std::move(built));
            box->text = expression;
        }
        return *box;
    };
    read();
    return read;
}
