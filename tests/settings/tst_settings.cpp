#include "app/settingscommand.h"
#include "settings/rowactions.h"
#include "history/devicehistory.h"
#include "labels/devicelabels.h"
#include "platform/preferences.h"
#include "support/devices.h"
#include "support/files.h"

#include <QDir>
#include <QJsonDocument>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// This computer before each import: two labels' worth of choices, one action, one window
// choice, and 0d in its history only (as its device wrote its MAC address).
const QString a = u"02:00:00:00:00:0a"_s, b = u"02:00:00:00:00:0b"_s;
const char *const hereBefore = "labels 02:00:00:00:00:0a=Attic 02:00:00:00:00:0b=off | actions Ping | window WatchMissingAfter=5";

// A settings document of these parts, written with ' for ", for legibility.
QByteArray document(const char *parts)
{
    return QByteArray("{'format': 'devicefinder-settings', 'version': 1, ").append(parts).append('}').replace('\'', '"');
}

// The labels and watch choices, the actions' names and the window's choices, as one line.
QString describe(const SettingsFiles &files)
{
    const DeviceLabels labels(files.labels);
    QStringList entries;
    for (auto it = labels.labels().cbegin(); it != labels.labels().cend(); ++it)
        entries.append(it.key() + u'=' + it.value());
    for (const QString &mac : labels.unwatched())
        entries.append(mac + u"=off"_s);
    entries.sort();
    QStringList actions;
    for (const RowAction &action : readRowActions(files.actions).actions)
        actions.append(action.name);
    QStringList window;
    for (const QString &key : {WatchKey, WatchIntervalKey, WatchMissingAfterKey, WatchLocalNetworkKey, WatchRangeKey, LastScanAddressKey})
        window.append(Preferences::standard().isStored(key) ? key + u'=' + Preferences::standard().value(key).toString() : QString());
    window.removeAll(QString());
    return u"labels "_s + entries.join(u' ') + u" | actions "_s + actions.join(u' ') + u" | window "_s + window.join(u' ');
}

// This computer as hereBefore says, its files in `folder`.
SettingsFiles here(const QString &folder)
{
    const SettingsFiles files{folder + u"/data/labels.json"_s, folder + u"/config/actions.json"_s,
                              folder + u"/data/history.json"_s};
    DeviceLabels labels(files.labels);
    QSettings().clear();
    DeviceHistory history;
    if (!history.record({record(u"cellar"_s, u"02-00-00-00-00-0D"_s)}, true, QDateTime::currentDateTimeUtc())
        || !history.save(files.history))
        return {};
    Preferences::standard().setValue(WatchMissingAfterKey, 5);
    if (!labels.setLabel(a, u"Attic"_s).isEmpty() || !labels.setWatched(b, false).isEmpty() || !QDir().mkpath(folder + u"/config"_s)
        || !writeFile(files.actions, "[{\"name\": \"Ping\", \"command\": [\"ping\", \"{address}\"]}]"))
        return {};
    return files;
}

int run(const SettingsRequest &request, const SettingsFiles &files, QByteArray (&written)[2])
{
    return runWithStreams([&](std::FILE *out, std::FILE *err) { return runSettingsCommand(request, files, out, err); }, written);
}

} // namespace

class TestSettings final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QCoreApplication::setOrganizationName(u"devicefinder-tests"_s); // without one, QSettings reports every write failed
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.filePath(u"config"_s));
    }

    // Each row imports a document into this computer as it was before (hereBefore) and gives
    // the exit status, the lines printed (" | " between them) and this computer after.
    void import_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QStringList>("options");
        // "actions": its file cannot be written; "window": the preferences; "history": it cannot be read
        QTest::addColumn<QString>("breaking");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("after"); // empty: as before, every file as it was
        const QByteArray ssh = "{'name': 'SSH', 'command': ['ssh', 'admin@{address}']}";
        const QString sshLine = uR"(action "SSH" taken in: ssh admin@{address})"_s;
        const auto row = [](const char *name, const QByteArray &parts, const QStringList &options, int status, const QString &out,
                            const char *after, const char *breaking = "") {
            QTest::newRow(name) << document(parts.constData()) << options << QString::fromUtf8(breaking) << status << out
                                << QString::fromUtf8(after);
        };
        const QString replace = u"--replace"_s, actions = u"--actions"_s, watchChoices = u"--watch-choices"_s;
        row("actions without --actions: named, not taken in",
            "'actions': [" + ssh + ", {'name': 'Run', 'command': ['sh', '-c', 'curl x | sh']}]", {}, 0,
            uR"(action "SSH" not taken in: ssh admin@{address} | action "Run" not taken in: sh -c "curl x | sh")"_s, "");
        row("--actions merges by name: the one here stays",
            "'actions': [{'name': ' ping', 'command': ['ping', '-c', '1', '{address}']}, " + ssh + "]", {actions}, 0,
            sshLine + uR"( | action "ping": kept ping {address}, not ping -c 1 {address})"_s,
            "labels 02:00:00:00:00:0a=Attic 02:00:00:00:00:0b=off | actions Ping SSH | window WatchMissingAfter=5");
        row("--replace --actions replaces the actions", "'actions': [" + ssh + "]", {replace, actions}, 0, sshLine,
            "labels 02:00:00:00:00:0a=Attic 02:00:00:00:00:0b=off | actions SSH | window WatchMissingAfter=5");
        row("a built-in name, even without --actions", "'actions': [{'name': ' &Open in BROWSER', 'command': ['sh']}]",
            {}, 2, {}, "");
        row("a built-in name with a Cyrillic O", "'actions': [{'name': '\u041epen in Browser', 'command': ['sh']}]", {}, 2,
            {}, "");
        row("actions that are no list refuse the whole document",
            "'labels': [{'macAddress': '02:00:00:00:00:0c', 'label': 'Cellar'}], 'actions': " + ssh, {actions}, 2, {}, "");
        row("a label entry the labels file would refuse refuses the whole document",
            "'labels': [{'macAddress': '02:00:00:00:00:0c', 'label': 'a'}, {'macAddress': '02-00-00-00-00-0C', 'label': 'b'}]",
            {replace}, 2, {}, "");
        row("no labels with --replace: the labels stay", "'window': {'WatchMissingAfter': 3}", {replace}, 0, {},
            "labels 02:00:00:00:00:0a=Attic 02:00:00:00:00:0b=off | actions Ping | window WatchMissingAfter=3");
        // 0a, 0b and 0d are known here, 0c is not.
        const QByteArray watching = "'labels': [{'macAddress': '02:00:00:00:00:0a', 'label': 'Roof', 'watch': false},"
                                    " {'macAddress': '02:00:00:00:00:0b', 'label': 'Boiler'}, {'macAddress': "
                                    "'02:00:00:00:00:0c', 'watch': false}, {'macAddress': '02:00:00:00:00:0d', 'watch': false}],"
                                    " 'window': {'WatchMissingAfter': 3, 'WatchIntervalMinutes': 1440}";
        const QString labelKept = u"label 02:00:00:00:00:0a: kept \"Attic\", not \"Roof\""_s;
        const QString windowKept = u" | window WatchMissingAfter: kept 5, not 3"_s;
        const char *const watchingAfter = "labels 02:00:00:00:00:0a=Attic 02:00:00:00:00:0b=Boiler 02:00:00:00:00:0b=off "
                                          "02:00:00:00:00:0c=off | actions Ping | window WatchIntervalMinutes=1440 "
                                          "WatchMissingAfter=5";
        row("a merge keeps what is here, watching too, but for a device not known here", watching, {}, 0,
            u"watch 02:00:00:00:00:0c taken in: off | "_s + labelKept
                + u" | watch 02:00:00:00:00:0a: kept on, not off | watch 02:00:00:00:00:0b: kept off, not on | "
                  "watch 02:00:00:00:00:0d: kept on, not off"_s + windowKept,
            watchingAfter);
        row("a history that cannot be read: every device known", "'labels': [{'macAddress': '02:00:00:00:00:0c', 'watch': false}]",
            {}, 0, u"watch: the device history /proc cannot be used (a folder, not a file), so every device keeps its choice "
                   "here | watch 02:00:00:00:00:0c: kept on, not off"_s, "", "history");
        row("--watch-choices takes every one", watching, {watchChoices}, 0,
            u"watch 02:00:00:00:00:0a taken in: off | watch 02:00:00:00:00:0b taken in: on | watch 02:00:00:00:00:0c taken "
            "in: off | watch 02:00:00:00:00:0d taken in: off | "_s + labelKept + windowKept,
            "labels 02:00:00:00:00:0a=Attic 02:00:00:00:00:0a=off 02:00:00:00:00:0b=Boiler 02:00:00:00:00:0c=off "
            "02:00:00:00:00:0d=off | actions Ping | window WatchIntervalMinutes=1440 WatchMissingAfter=5");
        row("what the window watches", "'window': {'WatchLocalNetwork': false, 'WatchRange': true}", {}, 0, {},
            "labels 02:00:00:00:00:0a=Attic 02:00:00:00:00:0b=off | actions Ping | "
            "window WatchMissingAfter=5 WatchLocalNetwork=false WatchRange=true");
        row("--replace lets the file win", "'labels': [{'macAddress': '02:00:00:00:00:0a', 'watch': false}]", {replace}, 0, {},
            "labels 02:00:00:00:00:0a=off | actions Ping | window WatchMissingAfter=5");
        const QByteArray every = "'labels': [{'macAddress': '02:00:00:00:00:0c', 'label': 'Cellar'}], 'actions': [" + ssh
                                 + "], 'window': {'WatchMissingAfter': 3}";
        row("the actions cannot be written: nothing changed", every, {replace, actions}, 1, {}, "", "actions");
        row("the window's choices cannot be written: the files put back", every, {replace, actions}, 1, {}, "", "window");
        QTest::newRow("a newer version") << QByteArray(R"({"format": "devicefinder-settings", "version": 2})") << QStringList()
                                         << QString() << 2 << QString() << QString();
    }

    void import()
    {
        QFETCH(QByteArray, document);
        QFETCH(QStringList, options);
        QFETCH(QString, breaking);
        QFETCH(int, status);
        QFETCH(QString, after);
        const QTemporaryDir dir;
        const SettingsFiles files = here(dir.path());
        QCOMPARE(describe(files), QString::fromUtf8(hereBefore));
        const QByteArray history = readFile(files.history);

        const QString path = dir.filePath(u"settings.json"_s);
        QVERIFY(writeFile(path, document));
        SettingsFiles used = files;
        if (breaking == u"actions")
            used.actions = u"/proc/devicefinder-no-such-folder/actions.json"_s; // nothing can be made there
        if (breaking == u"history")
            used.history = u"/proc"_s;
        if (breaking == u"window") {
            QVERIFY(writeFile(dir.filePath(u"blocked"_s), "a file where the preferences' folder would be"));
            QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.filePath(u"blocked/config"_s));
        }
        QByteArray written[2];
        const int exited = run({true, path, options.contains(u"--replace"_s), options.contains(u"--actions"_s),
                                options.contains(u"--watch-choices"_s)},
                               used, written);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.filePath(u"config"_s));
        QVERIFY2(exited == status, written[1].constData());
        QTEST(QString::fromUtf8(written[0]).trimmed().replace(u'\n', u" | "_s), "out");
        QCOMPARE(written[1].count('\n'), status == 0 ? 0 : 1);
        // All or nothing: as before (every part of it), or as after.
        QCOMPARE(describe(files), after.isEmpty() ? QString::fromUtf8(hereBefore) : after);
        // Nothing is left beside the files, a change made or not, and the history is only read.
        QCOMPARE(QDir(dir.filePath(u"data"_s)).entryList(QDir::Files), (QStringList{u"history.json"_s, u"labels.json"_s}));
        QCOMPARE(readFile(files.history), history);
        QCOMPARE(QDir(dir.filePath(u"config"_s)).entryList(QDir::Files), QStringList{u"actions.json"_s});
    }

    // Exported, then taken into a fresh computer, merged or whole: the same labels, watch
    // choices, actions and window choices.
    void roundTrip()
    {
        for (const bool replace : {false, true}) {
            const QTemporaryDir dir;
            const QString file = dir.filePath(u"settings.json"_s);
            QByteArray written[2];
            QCOMPARE(run({false, file}, here(dir.path()), written), 0);
            QSettings().clear();
            const QString fresh = dir.filePath(u"fresh/"_s);
            const SettingsFiles files{fresh + u"labels.json"_s, fresh + u"actions.json"_s, fresh + u"history.json"_s};
            QCOMPARE(run({true, file, replace, true}, files, written), 0);
            QCOMPARE(describe(files), QString::fromUtf8(hereBefore));
        }
    }

    // Each key it does not read is named, at most 20, and the file is taken in.
    void unknownKeys()
    {
        const QTemporaryDir dir;
        const SettingsFiles files = here(dir.path());
        const QString path = dir.filePath(u"settings.json"_s);
        QByteArray labels = "{'macAddress': '02:00:00:00:00:0c', 'label': 'Cellar'";
        for (int i = 0; i < 21; ++i)
            labels += ", 'k" + QByteArray::number(i) + "': 0";
        QVERIFY(writeFile(path, document("'colour': 1, 'labels': [" + labels + "}], 'actions': [{'name': 'SSH', "
                                         "'command': ['ssh'], 'icon': 1}], 'window': {'WatchIntervall': 5}")));
        QByteArray written[2];
        QCOMPARE(run({true, path, false, true}, files, written), 0);
        const QStringList lines = QString::fromUtf8(written[1]).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 21);
        QCOMPARE(lines.first(), u"devicefinder: %1: unknown key \"colour\", not used"_s.arg(path));
        QVERIFY(lines.at(1).endsWith(u": unknown key \"k0\" in label 1, not used"_s));
        QVERIFY(lines.last().endsWith(u": 4 more unknown keys, not used"_s)); // two of 0c's, the action's, the window's
        QCOMPARE(describe(files), u"labels 02:00:00:00:00:0a=Attic 02:00:00:00:00:0b=off 02:00:00:00:00:0c=Cellar | "
                                  "actions Ping SSH | window WatchMissingAfter=5"_s);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
