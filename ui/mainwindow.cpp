#include "ui/mainwindow.h"

#include "settings/rowactions.h"
#include "settings/settingstransfer.h"
#include "history/devicehistory.h"
#include "labels/devicelabels.h"
#include "platform/boundedjson.h"
#include "ui/discoveryreportdialog.h"
#include "ui/exportfile.h"
#include "ui/takesettingsdialog.h"

#include "platform/safetext.h"
#include "platform/englishtext.h"
#include "platform/preferences.h"
#include "platform/wholefile.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMenuBar>
#include <QMessageBox>

namespace {

// The user's own files that the settings move.
SettingsFiles usersSettingsFiles()
{
    return {DeviceLabels::defaultPath(), rowActionsPath(), DeviceHistory::defaultPath()};
}

// "3 labels", "1 label".
QString counted(qsizetype count, const QString &one, const QString &many)
{
    return count == 1 ? QStringLiteral("1 ") + one : groupedNumber(quint64(count)) + u' ' + many;
}

// What an import took in and what not, every action, watch choice taken in, difference and
// unknown key one line.
QString importedText(const SettingsImport &imported, const QStringList &unknownKeys)
{
    QStringList taken;
    if (imported.labels > 0)
        taken.append(counted(imported.labels, QStringLiteral("label"), QStringLiteral("labels")));
    if (imported.watchChoices > 0)
        taken.append(counted(imported.watchChoices, QStringLiteral("watch choice"), QStringLiteral("watch choices")));
    if (!imported.windowChoices.isEmpty())
        taken.append(
            QStringLiteral("the window's %1 (at its next start)").arg(imported.windowChoices.join(QStringLiteral(", "))));
    if (!imported.actions.isEmpty())
        taken.append(counted(imported.actions.size(), QStringLiteral("action"), QStringLiteral("actions")));
    QString text = taken.isEmpty() ? QStringLiteral("Nothing was taken in.")
                                   : QStringLiteral("Taken in: %1.").arg(taken.join(QStringLiteral(", ")));
    for (const QString &line : imported.actions + imported.watched)
        text += u'\n' + terminalText(line);
    const QStringList notTaken = imported.kept + unknownKeys;
    if (!notTaken.isEmpty())
        text += QStringLiteral("\n\nNot taken in:");
    for (const QString &line : notTaken)
        text += u'\n' + terminalText(line);
    return text;
}

} // namespace

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Device Finder"));

    QMenu *file = menuBar()->addMenu(tr("&File"));
    QAction *exportAction = file->addAction(tr("&Export..."), this, &MainWindow::exportRows);
    exportAction->setShortcut(QKeySequence(tr("Ctrl+E")));
    file->addAction(tr("ARP &Pace…"), this, &MainWindow::askArpRate)->setObjectName(QStringLiteral("arpPaceAction"));
    file->addSeparator();
    file->addAction(tr("Export &Settings..."), this, &MainWindow::exportSettingsFile)
        ->setObjectName(QStringLiteral("exportSettingsAction"));
    file->addAction(tr("&Import Settings..."), this, &MainWindow::importSettingsFile)
        ->setObjectName(QStringLiteral("importSettingsAction"));
    file->addSeparator();
    QAction *quit = file->addAction(tr("&Quit"), qApp, &QCoreApplication::quit);
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);

    QMenu *help = menuBar()->addMenu(tr("&Help"));
    m_helpMenu = help->menuAction();
    help->addAction(tr("Discovery &Report…"), this, &MainWindow::showDiscoveryReport)
        ->setObjectName(QStringLiteral("discoveryReportAction"));
    help->addAction(tr("&About Device Finder"), this, &MainWindow::showAbout)->setMenuRole(QAction::AboutRole);
}

void MainWindow::setContentView(QObject *view)
{
    auto *widget = qobject_cast<QWidget *>(view);
    if (!widget)
        return;
    // The window takes the size the view's form gives it, below the menu bar.
    const QSize formSize = widget->size();
    setCentralWidget(widget);
    // What the view can do besides its buttons (Stop) goes in a menu of its own.
    if (!widget->actions().isEmpty()) {
        QMenu *run = new QMenu(tr("&Run"), this);
        run->addActions(widget->actions());
        menuBar()->insertMenu(m_helpMenu, run);
    }
    // A screen reader names an open menu by its title.
    for (QMenu *menu : findChildren<QMenu *>())
        menu->setAccessibleName(QString(menu->title()).remove(u'&'));
    resize(formSize.width(), formSize.height() + menuBar()->sizeHint().height());
}

QRectF MainWindow::frame() const
{
    return QRectF(geometry());
}

void MainWindow::setFrame(const QRectF &frame, bool display, bool /*animate*/)
{
    setGeometry(frame.toAlignedRect());
    if (display)
        update();
}

void MainWindow::exportRows()
{
    const QString csv = tr("CSV (*.csv)");
    const QString json = tr("JSON (*.json)");
    QString filter = csv;
    QString path = QFileDialog::getSaveFileName(this, tr("Export Devices"), QDir::home().filePath(QStringLiteral("devices.csv")),
                                                csv + QStringLiteral(";;") + json, &filter);
    if (path.isEmpty())
        return;
    // A name without a type takes the one of the chosen filter.
    if (QFileInfo(path).suffix().isEmpty())
        path += filter == json ? QStringLiteral(".json") : QStringLiteral(".csv");
    const ExportRows rows = m_exportRows ? m_exportRows() : ExportRows();
    if (const Result<> written = writeExportFile(path, rows.devices, rows.labelOf); !written)
        QMessageBox::warning(this, tr("Export Devices"), tr("The devices could not be saved to %1: %2")
                                                              .arg(QDir::toNativeSeparators(path), written.reason()));
}

void MainWindow::exportSettingsFile()
{
    const QString title = tr("Export Settings");
    const QString path = QFileDialog::getSaveFileName(this, title, QDir::home().filePath(QStringLiteral("devicefinder-settings.json")),
                                                      tr("JSON (*.json)"));
    if (path.isEmpty())
        return;
    const SettingsExport exported = exportSettings(usersSettingsFiles());
    QString problem = exported.problem;
    if (problem.isEmpty())
        problem = writeWholeFile(path, exported.document, FileOwner::User).reason();
    if (!problem.isEmpty())
        QMessageBox::warning(this, title, tr("The settings could not be saved to %1: %2").arg(QDir::toNativeSeparators(path), problem));
}

void MainWindow::importSettingsFile()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Import Settings"), QDir::homePath(), tr("JSON (*.json)"));
    if (!path.isEmpty())
        importSettingsFrom(path);
}

void MainWindow::importSettingsFrom(const QString &path)
{
    const FileBytes bytes = readBoundedFile(path, true);
    const SettingsReading reading =
        bytes.problem.isEmpty() ? readSettings(bytes.bytes) : SettingsReading{std::nullopt, bytes.problem};
    SettingsImport imported{reading.problem, 0, 0, {}, {}, {}, {}};
    if (reading.document) {
        const SettingsFiles files = usersSettingsFiles();
        bool takeActions = false;
        if (reading.document->actions && !reading.document->actions->isEmpty())
            takeActions = TakeSettingsDialog(*reading.document->actions, this).exec() == QDialog::Accepted;
        const QStringList watchChoices = keptWatchChoices(*reading.document, files);
        const bool takeWatchChoices =
            !watchChoices.isEmpty() && TakeSettingsDialog(watchChoices, this).exec() == QDialog::Accepted;
        imported = importSettings(*reading.document, files, {false, takeActions, takeWatchChoices});
        if (m_settingsImported)
            m_settingsImported();
    }
    QMessageBox box(QMessageBox::Information, tr("Import Settings"), QString(), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    if (!imported.problem.isEmpty()) {
        box.setIcon(QMessageBox::Warning);
        box.setText(tr("The settings of %1 were not taken in: %2").arg(QDir::toNativeSeparators(path), imported.problem));
    } else {
        box.setText(importedText(imported, reading.document->unknownKeys));
    }
    box.exec();
}

void MainWindow::showDiscoveryReport()
{
    const std::optional<DiscoveryReport> report = m_discoveryReport ? m_discoveryReport() : std::nullopt;
    if (m_reportDialog)
        m_reportDialog->close();
    m_reportDialog = new DiscoveryReportDialog(report ? report->toText() : tr("No discovery run has ended yet."), this);
    m_reportDialog->setAttribute(Qt::WA_DeleteOnClose);
    m_reportDialog->show();
}

void MainWindow::showAbout()
{
    QMessageBox box(this);
    box.setWindowTitle(tr("About Device Finder"));
    box.setIconPixmap(windowIcon().pixmap(64, 64));
    box.setText(QStringLiteral("<b>Device Finder</b> %1").arg(QCoreApplication::applicationVersion()));
    box.setInformativeText(tr("Finds networked devices on the local network, lists their details and opens their "
                              "web pages."));
    box.exec();
}

void MainWindow::askArpRate()
{
    bool ok = false;
    const int rate = QInputDialog::getInt(
        this, tr("ARP Pace"),
        tr("ARP requests a second, at most, that a scan makes leave (0: as fast as it goes).\n"
           "Switches with ARP inspection allow 15 a second on a port."),
        Preferences::standard().value(ArpRateKey).toInt(), 0, 100'000, 1, &ok);
    if (!ok)
        return;
    Preferences::standard().setValue(ArpRateKey, rate);
    if (m_arpRateChanged)
        m_arpRateChanged(quint32(rate));
}
