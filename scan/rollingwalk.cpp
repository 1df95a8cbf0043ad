#include "scan/rollingwalk.h"

#include <algorithm>

WalkPart planWalk(const WalkBudget &budget)
{
    if (budget.size <= 0)
        return {};
    const WalkPart whole{((budget.resumeAt % budget.size) + budget.size) % budget.size, budget.size};
    if (budget.arpRate == 0 || budget.every <= std::chrono::milliseconds(0))
        return whole;
    const int perAddress = std::max(1, budget.requestsPerAddress);
    const qint64 walking = std::max<qint64>(0, (budget.every - walkMargin - budget.verdictWait).count());
    const qint64 requests = walking * qint64(budget.arpRate) / 1000 - qint64(budget.knownAsks) * requestsPerKnownAsk;
    const qint64 count = std::max(requests / perAddress, std::max<qint64>(1, qint64(budget.arpRate) / perAddress));
    if (count >= budget.size)
        return whole;
    return {whole.start, count};
}

qint64 walkResumesAt(const WalkBudget &budget, const WalkPart &part, qint64 walked)
{
    if (budget.size <= 0)
        return 0;
    return (part.start + std::clamp<qint64>(walked, 0, part.count)) % budget.size;
}
