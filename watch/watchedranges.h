#pragma once

#include "scan/rangelist.h"

#include <QString>

#include <functional>
#include <memory>

class MainViewController;

// The ranges a watch's round walks, in words too ("10.2.0.0/24" as typed), or why there are
// none now.
struct RangeReading final {
    std::shared_ptr<const RangeList> ranges;
    QString text;
    QString problem;
};

// What a watch walks besides the broadcasts, read before each round from where they come.
using WatchedRanges = std::function<RangeReading()>;

// Ranges given once (the command line's operands, a ranges file).
WatchedRanges fixedRanges(RangeList ranges, const QString &text);

// This computer's own networks, read again before each round; a network that comes or goes
// says so in one log line, and none at all is a round that can ask nobody.
WatchedRanges localNetworkRanges(std::weak_ptr<const MainViewController> controller);

// The window's range box, as a scan reads it: read now (its text remembered as the last
// range, or the box turned orange and why said in one log line), and again before each round
// until it can be expanded.
WatchedRanges rangeBoxRanges(std::weak_ptr<MainViewController> controller);
