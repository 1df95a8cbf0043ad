#pragma once

#include "controller/mainviewcontroller.h"
#include "history/devicewatch.h"
#include "history/watchmetrics.h"
#include "localnet/networkinterfaces.h"
#include "scan/rollingwalk.h"
#include "watch/watchedranges.h"
#include "watch/watchoutput.h"

#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Who watches: `watch` (the command, the user service) or the window. The presence log names
// the face's events "watch" or "window".
enum class WatchFace { Command, Window };

// What a watch asks and how it judges.
struct WatchChoices final {
    bool discover = true;                      // the broadcasts, each round
    std::optional<WatchedRanges> ranges = {};  // the ranges walked each round, besides or instead
    std::chrono::milliseconds every{60'000};
    WatchRule rule = {};
    QString site = {};
};

// A range watch's ARP pace when the controller has none (MainViewController::arpRate, that of
// its scans, which a round keeps otherwise): a /24 in about 5 s, gentle on any switch.
inline constexpr quint32 rangeWatchArpRate = 100;

// One watch, for the window and the command alike: it starts a round every `every` (one due
// while another run is in progress starts at that run's end), each through the controller,
// and judges it with the watch rule of history/ (DeviceWatch), from the device history as its
// start. A round asks the known devices before any counts as absent, walks its ranges whole
// when the pace allows it and otherwise the next part where the previous round stopped
// (scan/rollingwalk.h), and judges only what it asked: a discovery the devices last seen on a
// network this computer is on now (everyone, with a broadcast address of the user's), a walk
// the addresses it reached. A discovery the user starts in the window is judged as a round.
// Its changes go to its outputs, in the order they were added. Main thread.
class WatchSession final {
public:
    // Watching begins with the next start().
    WatchSession(std::shared_ptr<MainViewController> controller, WatchFace face, WatchChoices choices);
    ~WatchSession();
    WatchSession(const WatchSession &) = delete;
    WatchSession &operator=(const WatchSession &) = delete;

    void addOutput(std::unique_ptr<WatchOutput> output);
    // The first round, now or at the end of the run in progress (a discovery in progress is
    // the first round of a watch that discovers).
    void start();
    // What it asks from the next round on; another number of rounds for missing starts the
    // judgement anew, from the history.
    void setChoices(WatchChoices choices);
    // Asked before each round starts: a round starts only when it says so.
    void setBeforeEachRound(std::function<bool()> before) { m_beforeRound = std::move(before); }
    // This computer's interfaces, which say which networks it is on now (the system's by
    // default; tests give their own).
    void setInterfaces(std::function<QList<NetworkInterface>()> interfaces) { m_interfaces = std::move(interfaces); }

    // A run ended: judged when it is one of the watch's rounds or a completed discovery.
    // The controller tells it; public for tests.
    void runEnded(const MainViewController::FinishedRun &finished);

    // What the outputs read.
    WatchFace face() const { return m_face; }
    const WatchChoices &choices() const { return m_choices; }
    const QString &site() const { return m_choices.site; }
    LabelOf labelOf() const { return m_controller->labelOf(); }
    QList<DeviceWatch::DeviceState> devicesNow() const { return m_watch.devicesNow(); }
    QList<HistoryEntry> missingNow() const { return m_watch.missingNow(); }
    const WatchRounds &rounds() const { return m_rounds; }
    const QString &historyFile() const { return m_controller->historyFile(); }
    // What it watches, in words ("Watching the local network and 10.2.0.0/24"); why its
    // ranges cannot be watched now, and whether they are all it watches.
    QString watchingText() const;
    const QString &rangeProblem() const { return m_ranges.problem; }
    bool watchesRangesAlone() const { return !m_choices.discover; }

private:
    void startRound();
    void scheduleNext();
    void roundFailed(const QString &failure);
    // The next part of the walk, logged when it is not the whole.
    struct Walk {
        std::shared_ptr<const RangeList> part;
        WalkBudget budget;
        WalkPart planned;
    };
    Walk nextWalk(const RangeList &ranges, qsizetype knownAsks, quint32 arpRate);
    // The devices last seen on a network this computer is on now (everyone, with a broadcast
    // address of the user's), and what the round that ended asked, for the judgement.
    RunScope networksNow() const;
    static RunScope anyOf(const RunScope &one, const RunScope &other);
    RunScope judgedScope(const MainViewController::FinishedRun &finished) const;
    void endWalk(const MainViewController::FinishedRun &finished);
    DeviceWatch startingWatch() const;

    const std::shared_ptr<MainViewController> m_controller;
    const WatchFace m_face;
    WatchChoices m_choices;
    DeviceWatch m_watch;
    WatchRounds m_rounds;
    std::vector<std::unique_ptr<WatchOutput>> m_outputs;
    std::shared_ptr<const MainViewController::RunEnded> m_observing;
    std::function<bool()> m_beforeRound;
    std::function<QList<NetworkInterface>()> m_interfaces = ipv4Interfaces;
    QTimer m_next;
    bool m_due = false;         // a round came due while another run was in progress
    bool m_awaiting = false;    // the run in progress counts as a round of this watch
    std::chrono::steady_clock::time_point m_roundStart;
    RangeReading m_ranges;      // the latest round's
    std::optional<Walk> m_walk; // the round in progress's
    QString m_walkKey;          // the ranges the walk goes over, and where its next part starts
    qint64 m_walkResumesAt = 0;
};
