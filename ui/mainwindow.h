#pragma once

#include "discovery/discoveryreport.h"
#include "model/devicelist.h"
#include "platform/window.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <optional>

class DiscoveryReportDialog;

// The tool's one window: the controller's view as its content, and the menus. File >
// Export... saves the rows as the table shows them, File > Quit ends the tool, Run > Stop
// stops the run in progress, File > ARP Pace… sets (and remembers) how many ARP requests a
// second the scans may make leave, Help > Discovery Report… tells what the last discovery run
// sent and heard, Help > About tells what it is. Main thread.
class MainWindow final : public QMainWindow, public Window {
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);

    // Where File > Export... takes its rows from: the table's, in their present filter
    // and order, with their labels.
    struct ExportRows {
        DeviceList devices;
        LabelOf labelOf;
    };
    void setExportRows(std::function<ExportRows()> rows) { m_exportRows = std::move(rows); }
    // Called once Import Settings... has taken settings in.
    void setSettingsImported(std::function<void()> imported) { m_settingsImported = std::move(imported); }
    // Where Help > Discovery Report… takes its report from: the last discovery run's,
    // nothing before one has ended.
    void setDiscoveryReport(std::function<std::optional<DiscoveryReport>()> report)
    {
        m_discoveryReport = std::move(report);
    }
    // What File > ARP Pace… does with the pace it remembered: 0 for none.
    void setArpRateChanged(std::function<void(quint32)> changed) { m_arpRateChanged = std::move(changed); }
    // Opens the report as it is now, in place of one already open.
    void showDiscoveryReport();
    // Import Settings... once the file is chosen: merges its settings, its actions and its watch
    // choices for devices known here only when the user takes them (see TakeSettingsDialog),
    // and says what was taken in and what not, its unknown keys too.
    void importSettingsFrom(const QString &path);

    void setContentView(QObject *view) override;
    QRectF frame() const override;
    void setFrame(const QRectF &frame, bool display, bool animate) override;

private:
    void exportRows();
    // File > Export Settings... and Import Settings...: the user's labels, watch choices,
    // actions and window choices (see settings/settingstransfer.h), merged on import.
    void exportSettingsFile();
    void importSettingsFile();
    void showAbout();
    void askArpRate();

    std::function<ExportRows()> m_exportRows;
    std::function<void()> m_settingsImported;
    std::function<std::optional<DiscoveryReport>()> m_discoveryReport;
    std::function<void(quint32)> m_arpRateChanged;
    QPointer<DiscoveryReportDialog> m_reportDialog;
    QAction *m_helpMenu = nullptr; // the Help menu's entry in the menu bar
};
