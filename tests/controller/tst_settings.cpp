#include "app/settingscommand.h"
#include "controller/rowactions.h"
#include "labels/devicelabels.h"
#include "platform/preferences.h"
#include "support/files.h"

#include <QDir>
#include <QJsonDocument>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// This computer before each import: two labels' worth of choices, one action, one window choice.
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
    const SettingsFiles files{folder + u"/data/labels.json"_s, folder + u"/config/actions.json"_s};
    DeviceLabels labels(files.labels);
    QSettings().clear();
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
        QTest::addColumn<QString>("breaking"); // "actions": its file cannot be written; "window": the preferences
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
        const QString replace = u"--replace"_s, actions = u"--actions"_s;
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
        row("actions that are no list refuse the whole document",
            "'labels': [{'macAddress': '02:00:00:00:00:0c', 'label': 'Cellar'}], 'actions': " + ssh, {actions}, 2, {}, "");
        row("a label entry the labels file would refuse refuses the whole document",
            "'labels': [{'macAddress': '02:00:00:00:00:0c', 'label': 'a'}, {'macAddress': '02-00-00-00-00-0C', 'label': 'b'}]",
            {replace}, 2, {}, "");
        row("no labels with --replace: the labels stay", "'window': {'WatchMissingAfter': 3}", {replace}, 0, {},
            "labels 02:00:00:00:00:0a=Attic 02:00:00:00:00:0b=off | actions Ping | window WatchMissingAfter=3");
        row("a merge keeps what is here, watching too",
            "'labels': [{'macAddress': '02:00:00:00:00:0a', 'label': 'Roof', 'watch': false},"
            " {'macAddress': '02:00:00:00:00:0b', 'label': 'Boiler'}, {'macAddress': '02:00:00:00:00:0c', 'watch': false}],"
            " 'window': {'WatchMissingAfter': 3, 'WatchIntervalMinutes': 1440}",
            {}, 0,
            u"label 02:00:00:00:00:0a: kept \"Attic\", not \"Roof\" | watch 02:00:00:00:00:0a: kept on, not off | "
            "watch 02:00:00:00:00:0b: kept off, not on | watch 02:00:00:00:00:0c: kept on, not off | "
            "window WatchMissingAfter: kept 5, not 3"_s,
            "labels 02:00:00:00:00:0a=Attic 02:00:00:00:00:0b=Boiler 02:00:00:00:00:0b=off | actions Ping | "
            "window WatchIntervalMinutes=1440 WatchMissingAfter=5");
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

        const QString path = dir.filePath(u"settings.json"_s);
        QVERIFY(writeFile(path, document));
        SettingsFiles used = files;
        if (breaking == u"actions")
            used.actions = u"/proc/devicefinder-no-such-folder/actions.json"_s; // nothing can be made there
        if (breaking == u"window") {
            QVERIFY(writeFile(dir.filePath(u"blocked"_s), "a file where the preferences' folder would be"));
            QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.filePath(u"blocked/config"_s));
        }
        QByteArray written[2];
        const int exited = run({true, path, options.contains(u"--replace"_s), options.contains(u"--actions"_s)}, used, written);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.filePath(u"config"_s));
        QVERIFY2(exited == status, written[1].constData());
        QTEST(QString::fromUtf8(written[0]).trimmed().replace(u'\n', u" | "_s), "out");
        QCOMPARE(written[1].count('\n'), status == 0 ? 0 : 1);
        // All or nothing: as before (every part of it), or as after.
        QCOMPARE(describe(files), after.isEmpty() ? QString::fromUtf8(hereBefore) : after);
        // Nothing is left beside the files, a change made or not.
        QCOMPARE(QDir(dir.filePath(u"data"_s)).entryList(QDir::Files), QStringList{u"labels.json"_s});
        QCOMPARE(QDir(dir.filePath(u"config"_s)).entryList(QDir::Files), QStringList{u"actions.json"_s});
    }

    // Exported, then taken into a fresh computer whole (--replace, so that its watch choices
    // are too): the same labels, watch choices, actions and window choices.
    void roundTrip()
    {
        const QTemporaryDir dir;
        const QString file = dir.filePath(u"settings.json"_s);
        QByteArray written[2];
        QCOMPARE(run({false, file}, here(dir.path()), written), 0);
        QSettings().clear();
        const SettingsFiles fresh{dir.filePath(u"fresh/labels.json"_s), dir.filePath(u"fresh/actions.json"_s)};
        QCOMPARE(run({true, file, true, true}, fresh, written), 0);
        QCOMPARE(describe(fresh), QString::fromUtf8(hereBefore));
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
