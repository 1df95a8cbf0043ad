#include "ui/discoveryreportdialog.h"
#include "ui/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <net/if.h>

using namespace Qt::StringLiterals;

// Help > Discovery Report… offscreen, with a report whose texts would be markup if read so.
class TestDiscoveryReportDialog final : public QObject {
    Q_OBJECT

private slots:
    void fromTheHelpMenu()
    {
        MainWindow window;
        auto *entry = window.findChild<QAction *>(u"discoveryReportAction"_s);
        QCOMPARE(entry->text(), u"Discovery &Report…"_s);
        entry->trigger();
        QCOMPARE(shownText(window), u"No discovery run has ended yet."_s);

        DiscoveryReport report({{u"<b>eth1</b>"_s, 2, IFF_UP, 0xC0A80702, 24}}, 0);
        report.noteUnlisted(DiscoveryProtocol::Corva, u"10.0.0.50"_s, 2, UnlistedReason::NoAnswer);
        window.setDiscoveryReport([report] { return report; });
        entry->trigger();
        QTRY_COMPARE(window.findChildren<DiscoveryReportDialog *>().size(), 1); // in place of the first
        QVERIFY(shownText(window).contains(u"10.0.0.50 answered on <b>eth1</b> (192.168.7.2/24)"_s));
        QCOMPARE(shownText(window), report.toText());
        window.findChild<DiscoveryReportDialog *>()->findChild<QPushButton *>(u"copyButton"_s)->click();
        QCOMPARE(QApplication::clipboard()->text(), report.toText());
    }

private:
    static QString shownText(const MainWindow &window)
    {
        const auto *dialog = window.findChild<DiscoveryReportDialog *>();
        if (!dialog || !dialog->isVisible())
            return {};
        return dialog->findChild<QPlainTextEdit *>(u"reportText"_s)->toPlainText();
    }
};

QTEST_MAIN(TestDiscoveryReportDialog)
#include "tst_discoveryreportdialog.moc"
