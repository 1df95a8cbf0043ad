#include "history/presencelog.h"
#include "support/fakecontrols.h"
#include "support/letterdevices.h"
#include "support/logcapture.h"
#include "watch/presencelogoutput.h"
#include "watch/watchsession.h"

#include <QTemporaryDir>
#include <QTest>

#include <net/if.h>

using namespace Qt::StringLiterals;

namespace {

// What an output heard, a line a call: "changed new b, missing a", "round asked" or
// "round failed: WHY".
class Recorder final : public WatchOutput {
public:
    explicit Recorder(QStringList &heard) : m_heard(heard) {}
    void changed(const WatchSession &, const QList<WatchChange> &changes) override
    {
        QStringList said;
        for (const WatchChange &change : changes)
            said.append(QLatin1StringView(watchEventName(change.event.kind)) + u' '
                        + nameOf(change.event.device->text(DeviceKey::macAddress)));
        m_heard.append(u"changed "_s + said.join(u", "_s));
    }
    void roundEnded(const WatchSession &, const WatchRoundEnd &end) override
    {
        m_heard.append(end.asked ? u"round asked"_s : u"round failed: "_s + end.failure);
    }

private:
    QStringList &m_heard;
};

// A run's end as the controller tells it: "D:a@1" a round of the watch's that discovered,
// "D~:" one whose broadcasts did not all go out, "W:" one that only walked ranges, "d:" a
// discovery the user started, "U:" a scan the user started, "S:" a stopped round, "F:WHY" a
// round that could ask nobody.
MainViewController::FinishedRun finishedRun(const QString &text, const QDateTime &time)
{
    MainViewController::FinishedRun run;
    const QString kind = text.section(u':', 0, 0);
    run.found = devices(text.section(u':', 1));
    run.askedEveryone = !kind.contains(u'~');
    run.stopped = kind == u"S";
    run.kind = kind == u"U" || kind == u"W" ? Run::Kind::Scan : Run::Kind::Discovery;
    if (kind == u"F") {
        run.failure = text.section(u':', 1);
        run.found.clear();
    }
    if (kind.startsWith(u'D') || kind == u"W" || kind == u"S" || kind == u"F")
        run.round.emplace();
    run.recordedAt = time;
    return run;
}

} // namespace

class TestWatchSession final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        QCoreApplication::setOrganizationName(u"devicefinder-tests"_s);
        QCoreApplication::setApplicationName(u"tst_watchsession"_s);
    }

    // The rounds of a watch, judged from the history, against what each output hears and the
    // presence log keeps: the same for the command and the window, but for the name of the
    // face. This computer is on 10.0.0.0/24 alone.
    void rounds_data()
    {
        QTest::addColumn<QStringList>("history"); // as historyOf reads it
        QTest::addColumn<int>("missingAfter");
        QTest::addColumn<QStringList>("runs");  // as finishedRun reads them, a minute apart
        QTest::addColumn<QStringList>("heard");
        for (const WatchFace face : {WatchFace::Command, WatchFace::Window}) {
            const char *name = face == WatchFace::Command ? "command: " : "window: ";
            const auto row = [&](const char *what) -> QTestData & { return QTest::newRow((QByteArray(name) + what).constData()); };
            row("a known device silent from the start, missing after two rounds, then back")
                << QStringList{u"C:a@1 b@2"_s} << 2 << QStringList{u"D:a@1"_s, u"D:a@1"_s, u"D:a@1 b@2"_s}
                << QStringList{u"round asked"_s, u"changed missing b"_s, u"round asked"_s, u"changed back b"_s,
                               u"round asked"_s};
            row("failed and stopped rounds and the user's scan judge nobody; the user's discovery does")
                << QStringList{u"C:a@1"_s} << 1
                << QStringList{u"F:no network of this computer to scan"_s, u"S:"_s, u"U:"_s, u"d:"_s}
                << QStringList{u"round failed: no network of this computer to scan"_s, u"changed missing a"_s,
                               u"round asked"_s};
            row("a round that could not ask everyone calls nobody missing")
                << QStringList{u"C:a@1 b@2"_s} << 1 << QStringList{u"D~:a@1"_s} << QStringList{u"round asked"_s};
            row("a discovery judges the networks this computer is on now")
                << QStringList{u"C:a@1 z@192.168.7.9"_s} << 1 << QStringList{u"D:"_s}
                << QStringList{u"changed missing a"_s, u"round asked"_s};
        }
    }

    void rounds()
    {
        QFETCH(QStringList, history);
        QFETCH(int, missingAfter);
        QFETCH(QStringList, runs);
        const WatchFace face = QByteArray(QTest::currentDataTag()).startsWith("window") ? WatchFace::Window : WatchFace::Command;
        const QTemporaryDir data;
        const QString path = data.filePath(u"history.json"_s);
        QVERIFY(historyOf(history).save(path));
        // Nothing is sent: no round is started, and each run's end is told to the session.
        auto controller = std::make_shared<MainViewController>(Address());
        controller->setHistoryFile(path);
        QStringList heard;
        {
            WatchSession session(controller, face, {.discover = true, .rule = {.missingAfter = missingAfter}, .site = u"roof"_s});
            session.setInterfaces([] {
                return QList<NetworkInterface>{{u"eth0"_s, 2, IFF_UP | IFF_BROADCAST, 0x0a0000c8, 24}};
            });
            session.addOutput(std::make_unique<Recorder>(heard));
            session.addOutput(std::make_unique<PresenceLogOutput>());
            for (qsizetype i = 0; i < runs.size(); ++i)
                session.runEnded(finishedRun(runs[i], letterStart.addDays(1).addSecs(60 * i)));
        }
        QTEST(heard, "heard");
        // Each change heard is a line of the presence log.
        qsizetype changes = 0;
        for (const QString &line : std::as_const(heard))
            changes += line.startsWith(u"changed "_s) ? line.count(u", "_s) + 1 : 0;
        const QList<PresenceEvent> logged = PresenceLog(data.filePath(u"events.jsonl"_s)).events({}, nullptr);
        QCOMPARE(logged.size(), changes);
        for (const PresenceEvent &event : logged) {
            QCOMPARE(event.source, face == WatchFace::Window ? u"window"_s : u"watch"_s);
            QCOMPARE(event.site, u"roof"_s);
        }
    }

    // Each known device asked before it counts as absent says so in the log: in a round of
    // ranges only one that did not answer, since the asks are its first step.
    void asksSaidInTheLog_data()
    {
        QTest::addColumn<bool>("discover");
        QTest::addColumn<QStringList>("said");
        const QString asked = u"Asked %1 at 10.0.0.%2 before calling it missing: it %3"_s;
        QTest::newRow("a discovery") << true
                                     << QStringList{asked.arg(macOf(u"a"_s), u"1"_s, u"answered"_s),
                                                    asked.arg(macOf(u"b"_s), u"2"_s, u"did not answer"_s)};
        QTest::newRow("ranges alone") << false << QStringList{asked.arg(macOf(u"b"_s), u"2"_s, u"did not answer"_s)};
    }

    void asksSaidInTheLog()
    {
        QFETCH(bool, discover);
        auto controller = std::make_shared<MainViewController>(Address());
        WatchSession session(controller, WatchFace::Command,
                             {.discover = discover, .ranges = fixedRanges(RangeList(), u"none"_s)});
        MainViewController::FinishedRun run = finishedRun(discover ? u"D:a@1"_s : u"W:a@1"_s, letterStart);
        run.round->asked = {{macOf(u"a"_s), u"10.0.0.1"_s}, {macOf(u"b"_s), u"10.0.0.2"_s}};
        const LogCapture log;
        session.runEnded(run);
        QTEST(log.lines().filter(u"Asked "_s), "said");
    }

    // A round comes due every 100 ms; one due while a run is in progress waits for its end.
    void aRoundDueDuringARunWaitsForItsEnd()
    {
        FakeControls ui;
        QList<bool> stopped;
        ui.controller->setRunFinishedHandler([&](const MainViewController::FinishedRun &run) { stopped.append(run.stopped); });
        {
            WatchSession session(ui.controller, WatchFace::Window, {.every = std::chrono::milliseconds(100)});
            session.start();
            QTRY_VERIFY(ui.controller->discovering());
            QTRY_VERIFY_WITH_TIMEOUT(stopped.size() == 2, 30'000);
        }
        ui.controller->stopRun();
        QCOMPARE(stopped.first(2), (QList<bool>{false, false}));
    }

private:
    QTemporaryDir m_config;
};

QTEST_GUILESS_MAIN(TestWatchSession)
#include "tst_watchsession.moc"
