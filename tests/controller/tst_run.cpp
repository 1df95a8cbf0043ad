#include "platform/backgroundpool.h"
#include "platform/semaphore.h"
#include "support/devices.h"
#include "support/fakecontrols.h"
#include "support/logcapture.h"

#include <QScopeGuard>
#include <QSettings>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

using namespace Qt::StringLiterals;

// A run's one end, and nothing of an old run in the next; runs ask loopback, where nothing answers.
class TestRun final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        QCoreApplication::setOrganizationName(u"devicefinder-tests"_s);
        QCoreApplication::setApplicationName(u"tst_run"_s);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_config.path());
    }

    void ends_data()
    {
        QTest::addColumn<bool>("scan");
        QTest::addColumn<bool>("waitForCompletion");
        QTest::addColumn<int>("stops");
        QTest::newRow("scan completed") << true << true << 0;
        QTest::newRow("discovery stopped") << false << false << 1;
        QTest::newRow("scan stopped after completion") << true << true << 1;
    }

    // Each run ends once: controls idle, the handler called once; a completed run prunes, a
    // stopped one keeps the list and says how far it got; a stop after the end does nothing.
    void ends()
    {
        QFETCH(bool, scan);
        QFETCH(bool, waitForCompletion);
        QFETCH(int, stops);
        FakeControls ui;
        LogCapture log;
        int finished = 0;
        ui.controller->setRunFinishedHandler([&](const MainViewController::FinishedRun &) { ++finished; });
        ui.controller->addDevice(record(u"earlier"_s, u"02:00:00:00:09:99"_s));
        ui.textBox->text = u"127.0.15.1"_s;
        scan ? ui.controller->startIPRangeScan() : ui.controller->startDiscovery();
        QVERIFY(ui.controller->isRunning() && ui.controller->discovering() && !ui.progress->hidden);
        if (waitForCompletion)
            QTRY_VERIFY_WITH_TIMEOUT(!ui.controller->isRunning(), 10'000);
        for (int i = 0; i < stops; ++i)
            ui.controller->stopRun();

        const bool stopped = stops > 0 && !waitForCompletion;
        QCOMPARE(finished, 1);
        QVERIFY(!ui.controller->isRunning() && !ui.controller->discovering());
        QVERIFY(ui.progress->hidden && !ui.progress->animating);
        QVERIFY(ui.discoverButton->enabled && ui.rangeButton->enabled);
        QCOMPARE(ui.controller->devices().size(), stopped ? 1 : 0);
        const QStringList lines = log.lines();
        QCOMPARE(lines.filter(u"stopped after"_s).size(), stopped ? 1 : 0);
        QCOMPARE(lines.count(u"Discovery Stopped"_s), scan ? 0 : 1);
        QCOMPARE(lines.count(u"SCAN COMPLETE"_s), scan ? 1 : 0);
        if (stopped)
            QVERIFY(lines.contains(u"Discovery stopped after 0 answers"_s));
        // The run's background work lets go of the controller once it has wound down.
        QTRY_VERIFY_WITH_TIMEOUT(ui.controller.use_count() == 1, 5'000);
        QCOMPARE(finished, 1);
    }

    // A stopped scan whose task starts after the next scan began probes nothing.
    void lateTaskOfAStoppedScan()
    {
        FakeControls ui;
        LogCapture log;
        // Shared with the blockers, which may still be leaving its wait when the test ends.
        const auto gate = std::make_shared<Semaphore>(0);
        constexpr int blockers = 64; // more than the pool has threads
        bool released = false;
        const auto release = [&] {
            for (int i = 0; i < blockers && !released; ++i)
                gate->signal();
            released = true;
        };
        const auto releaseAtLast = qScopeGuard(release);
        for (int i = 0; i < blockers; ++i)
            BackgroundPool::global().async([gate] { gate->wait(); });

        ui.textBox->text = u"127.0.16.0/24"_s;
        ui.controller->startIPRangeScan();
        ui.controller->stopRun();
        ui.textBox->text = u"127.1.0.0/20"_s; // still walking when the late task ends
        ui.controller->startIPRangeScan();
        QCOMPARE(ui.controller->scanProgress()->total, quint64(4096));
        release(); // the first scan's task runs now, late
        QTRY_VERIFY_WITH_TIMEOUT(!ui.controller->isRunning(), 10'000);
        QTest::qWait(200);
        const QStringList lines = log.lines();
        QVERIFY(lines.contains(u"Scan stopped after 0 of 256 addresses"_s));
        QVERIFY(lines.filter(u"GET http://127.0.16."_s).isEmpty());
        QCOMPARE(lines.filter(u"GET http://127.1."_s).size(), 4096);
        const auto progress = ui.controller->scanProgress();
        QCOMPARE(progress->probed, quint64(4096));
        QCOMPARE(progress->total, quint64(4096));
        QVERIFY(progress->finished);
    }

private:
    QTemporaryDir m_config;
};

QTEST_GUILESS_MAIN(TestRun)
#include "tst_run.moc"
