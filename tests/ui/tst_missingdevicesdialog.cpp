#include "ui/missingdevicesdialog.h"

#include <QDesktopServices>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

using namespace Qt::StringLiterals;

// The dialog offscreen: device texts as plain text, "Open" only for an address.
class TestMissingDevicesDialog final : public QObject {
    Q_OBJECT

public slots:
    void openedUrl(const QUrl &url) { m_opened.append(url); }

private slots:
    void rows()
    {
        qputenv("TZ", "UTC");
        QDesktopServices::setUrlHandler(u"http"_s, this, "openedUrl");
        const QDateTime seen(QDate(2026, 12, 8), QTime(9, 14), Qt::UTC);
        const auto entry = [&](const QString &hostname, const QString &address) {
            return HistoryEntry{std::make_shared<const DeviceRecord>(QJsonObject{{u"hostname"_s, hostname}}), address, seen, seen};
        };
        MissingDevicesDialog dialog({entry(u"<b>lobby</b>\u001b[2J"_s, u"198.18.0.7"_s), entry(u"hall"_s, u"evil.example/x"_s)}, seen);
        const auto *table = dialog.findChild<QTableWidget *>();
        QCOMPARE(table->rowCount(), 2);
        QCOMPARE((QStringList{table->item(0, 0)->text(), table->item(0, 1)->text(), table->item(0, 2)->text()}),
                 (QStringList{u"<b>lobby</b>\\x1b[2J"_s, u"198.18.0.7"_s, u"8 Dec 09:14"_s}));
        QVERIFY(!table->cellWidget(1, 3)->isEnabled());
        qobject_cast<QPushButton *>(table->cellWidget(0, 3))->click();
        QCOMPARE(m_opened, (QList<QUrl>{QUrl(u"http://198.18.0.7"_s)}));
        QDesktopServices::unsetUrlHandler(u"http"_s);
    }

private:
    QList<QUrl> m_opened;
};

QTEST_MAIN(TestMissingDevicesDialog)
#include "tst_missingdevicesdialog.moc"
