#pragma once

#include "controller/finishedrun.h"
#include "controller/historyview.h"
#include "controller/runrecorder.h"
#include "discovery/discoveryreport.h"
#include "history/devicehistory.h"
#include "history/devicewatch.h"
#include "labels/devicelabels.h"
#include "model/devicelist.h"
#include "platform/controls.h"
#include "platform/resolver.h"
#include "probes/probesink.h"
#include "probes/run.h"
#include "scan/rangelist.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

// The one controller of the tool: the owner of every list of devices, the run in progress
// (the discovering flag is whether it is a discovery or a scan) and the weak references to the window's controls. It starts every
// run and ends it; what a run does in the background lives in discovery/, scan/ and
// probes/, which report back through the Run and the callbacks it gives them. The window and
// the command line drive it through the operations below. Unless an operation says
// otherwise, it runs on the main thread, which is the only thread that reads or changes the
// lists, the run and the controls. Made and held by std::shared_ptr: a run's background
// task holds the controller until it ends. Each section names the file that defines it.
//
// Some names are older than the protocols' present names, and stay: xpicoDevices, the
// records of the gateways' (XPico) "/getdata.json"; vudiduDevices, those of the Corva
// devices' "/info".
class MainViewController final : public std::enable_shared_from_this<MainViewController>,
                                 public TableViewDataSource,
                                 public TableViewDelegate,
                                 public ProbeSink {
public:
    // Builds the model-name table. Each discovery broadcast goes once to broadcastAddress
    // (tests pass a loopback address, the user one with --broadcast); when it is empty, to
    // 255.255.255.255 out of every interface that can broadcast, as the tool does. Name
    // look-ups go through the resolver.
    explicit MainViewController(Address broadcastAddress, std::shared_ptr<Resolver> resolver = systemResolver());
    MainViewController(const MainViewController &) = delete;
    MainViewController &operator=(const MainViewController &) = delete;

    // Creates the view's controls, connects them to this controller's control references
    // and returns the view, a widget of the window's toolkit. Without one the controller
    // runs headless.
    using ViewLoader = std::function<QObject *(MainViewController &)>;
    void setViewLoader(ViewLoader loader) { m_viewLoader = std::move(loader); }
    // The view, loaded on the first request: the lists start empty, the table is wired and
    // the range text box shows the remembered range.
    QObject *view();

    // --- The device list: controller/mainviewcontroller.cpp -------------------------------

    // Appends a record to devices and, when it passes the search, to filteredDevices. No
    // duplicate check and no table reload.
    void addDevice(const Device &device);
    // The search field's action: the text becomes the filter, the rows are searched anew
    // in the order of adding, and the table reloads.
    void search(const QString &text);
    // Sorts the rows by the table's present sort descriptors and reloads the table.
    void tableViewSortDescriptorsDidChange() override;
    qsizetype numberOfRowsInTableView() const override { return m_filteredDevices.size(); }
    // A probe's merge step (see ProbeSink).
    bool addIfNew(const Device &record, ProbeKind kind) override;
    // The end of a run: keeps in filteredDevices and devices, in order, the records of the
    // devices that a found list holds, then reloads the table.
    void pruneToFoundDevices();

    // --- Runs: controller/runs.cpp ---------------------------------------------------------

    // Starts a discovery run unless a run is in progress: both broadcasts, each followed by
    // probing its responders one by one, then the run's end.
    void startDiscovery();
    void discoveryStopped();
    // The local UDP port both discovery sockets are bound to (0: one the system picks), so
    // that a firewall can let the replies in. Set before the first run.
    void setReplyPort(quint16 port) { m_replyPort = port; }
    // Where each discovery broadcast goes: empty for 255.255.255.255 out of every interface.
    const Address &broadcastAddress() const { return m_broadcastAddress; }
    // ARP requests a second, at most, that a scan makes leave; 0 for no pace. Main thread.
    void setArpRate(quint32 rate) { m_arpRate = rate; }
    quint32 arpRate() const { return m_arpRate; }
    // What the latest discovery run sent and heard, and why each responder that answered is
    // not listed; nothing before the first discovery run's end.
    const std::optional<DiscoveryReport> &latestReport() const { return m_latestReport; }

    // Scans the range typed in the range text box unless a run is in progress; marks the
    // text orange when it cannot be expanded.
    void startIPRangeScan();
    // Scans the range unless a run is in progress, and remembers it in LastScanAddress; false
    // when it cannot be expanded (as the log says) or a run is in progress. Several ranges,
    // between blanks or commas, are scanned as one (see scanRanges).
    bool scanRange(const QString &expression);
    // Scans the ranges as one scan, each address once in the order they give, unless a run is
    // in progress; LastScanAddress is left alone. False when a run is in progress.
    bool scanRanges(RangeList ranges);
    // Scans each of the computer's own networks (up, not loopback; one wider than a /16 as
    // the /24 around the computer's address) in turn, as one run, unless a run is in
    // progress; LastScanAddress is left alone. False when there is no such network.
    bool startLocalNetworksScan();
    void scanStopped();
    // The ranges of the computer's own networks as startLocalNetworksScan takes them, with a
    // log line for each network when `logEach`; `taken` gets the ranges' texts.
    RangeList localNetworkRanges(bool logEach, QStringList *taken = nullptr) const;

    // One round of a watch, as one run: the broadcasts when it discovers; then the known
    // devices (MAC address, address text) that the broadcasts did not find, each asked once
    // at its address as a scan asks it, within the ARP pace (the ask before missing: one that
    // answers is found in this run); then the walk, whose last probe starts before
    // `walkUntil`. Requests keep `arpRate` a second (0: no pace). A discovering round is a
    // discovery run (it judges every device); one without is a scan run that judges the known
    // devices it asked and the addresses it walked, as its end tells (FinishedRun). False when
    // a run is in progress or the round has nothing to ask.
    struct WatchRound {
        bool discover = true;
        std::shared_ptr<const RangeList> walk = {}; // null: none
        QList<std::pair<QString, QString>> known = {};
        std::optional<std::chrono::steady_clock::time_point> walkUntil = {};
        quint32 arpRate = 0;
    };
    bool startWatchRound(WatchRound round);
    // How far the latest range scan has come: probes ended of the addresses in its range,
    // and the records found. Nothing before the first scan; kept once the scan has ended,
    // until the next.
    struct ScanProgress {
        quint64 probed = 0;
        quint64 total = 0;
        quint64 found = 0;
        bool finished = false;
    };
    std::optional<ScanProgress> scanProgress() const;

    // Asks one address for its details, as a run of its own, unless a run is in progress.
    void startProbe(const Address &address);

    // Ends the run in progress, if any: the one place where every run ends, completed or
    // stopped. The run is stopped, so whatever of it is still under way winds down and
    // reaches nothing; the kind's own step (discoveryStopped, scanStopped) puts the
    // controls back to idle; a completed run prunes the lists to the devices that answered
    // in it, while a stopped one, which did not ask every device, logs how far it got and
    // keeps them; the run is recorded in the history, the table reloads, the busy indicator
    // hides, and the run-finished handler is called.
    void finishRun(bool stopped);
    // Stop, Escape, Run > Stop, SIGINT and SIGTERM.
    void stopRun() { finishRun(true); }
    // Whether a run of any kind is in progress: while it is, no run starts.
    bool isRunning() const { return m_run != nullptr; }
    // Whether a discovery run or a range scan is in progress.
    bool discovering() const { return m_run && m_run->kind() != Run::Kind::Probe; }

    // How a run ended, as the run-finished handler and the observers of run ends hear it.
    using FinishedRun = ::FinishedRun;
    // Called on the main thread at the very end of every run: the command line waits for
    // it. Not part of any run's own steps.
    void setRunFinishedHandler(std::function<void(const FinishedRun &)> handler)
    {
        m_runFinished = std::move(handler);
    }
    // Told of every run's end while the returned handle lives, before the line under the
    // table is shown and before the run-finished handler: a watch judges the run there.
    using RunEnded = std::function<void(const FinishedRun &)>;
    std::shared_ptr<const RunEnded> observeRunEnds(RunEnded observer);

    // --- The device history: controller/runhistory.cpp ------------------------------------

    // The file in which every run's devices are recorded, and against which new, missing
    // and moved devices are judged (empty: none, as --no-history asks). It is read afresh
    // at each run's end, so that another instance's runs count too.
    void setHistoryFile(const QString &path) { m_recorder.setHistoryFile(path); }
    // What the latest run changed against the history: nothing before the first run's end,
    // or without a history file.
    const DeviceChanges &latestChanges() const { return m_historyView.changes(); }
    // Why the history file is not used (another kind of file, a newer version's, or one that
    // cannot be read now), which the latest run left untouched; empty when it is used or
    // there is none.
    const QString &historyProblem() const { return m_recorder.historyProblem(); }
    const QString &historyFile() const { return m_recorder.historyFile(); }
    // Who the presence log (events.jsonl beside the history file) names for this
    // controller's runs: the window, or a command (discover and scan name themselves).
    using RunSource = RunRecorder::RunSource;
    void setRunSource(RunSource source) { m_recorder.setRunSource(source); }
    // While a watch judges the runs (its own rounds, and every discovery), it logs their
    // changes to the presence log as it judges them, and the controller logs none of them.
    void setWatchLogsRuns(bool watchLogs) { m_recorder.setWatchLogsRuns(watchLogs); }
    // The name of the place this computer watches, in every line of the presence log.
    void setSiteName(const QString &site) { m_recorder.setSiteName(site); }
    const QString &siteName() const { return m_recorder.siteName(); }
    // The presence log of the history file; empty without one.
    QString presenceLogPath() const { return m_recorder.presenceLogPath(); }

    // --- The user's labels: controller/labels.cpp -----------------------------------------

    // The file of the user's labels, keyed by MAC address (empty: none). Read now, and again
    // at each run's end, so that another instance's edits show.
    void setLabelsFile(const QString &path);
    // The user's label of a device, by its record, as the table, the search, the sort and
    // every export show it.
    LabelOf labelOf() const;
    // Gives the device of a row the label (an empty one removes it); the labels file is
    // re-read and written whole. Why not, or empty.
    QString setLabel(int row, const QString &label);
    // A word for the user about the labels file, once: a damaged one set aside, a newer one
    // left untouched. Empty when there is none.
    QString takeLabelsNotice();
    // Reads the labels file again now (settings taken in) and shows the table anew.
    void reloadLabels();
    // Whether the user watches a device (kept with the labels): every device without a
    // labels file. Main thread; the test reads the labels as they are at each call.
    WatchedTest watchedTest() const;
    bool isRowWatched(int row) const;
    // Leaves the row's device out of watching ("Don't Watch"), or watches it again. Why
    // not, or empty.
    QString setRowWatched(int row, bool watched);
    QString tableViewSetCellText(int column, int row, const QString &text) override;

    // --- What a watch says under the table: controller/runhistory.cpp ---------------------

    // While the window watches, the line under the table and the tray's tooltip say what the
    // watch says (the watch's missing become latestChanges().missing).
    using WatchStatus = HistoryView::WatchStatus;
    void setWatchStatus(WatchStatus status);

    // The range text box's text, as a scan reads it, and its colour: orange when it cannot be
    // expanded, else its own.
    QString rangeBoxText() const;
    void markRangeBox(bool expandable);

    // --- The window's table and actions: controller/mainviewcontroller.cpp ----------------

    // A cell of the row's record: the text of columns 0 to 6, the label (editable), the
    // "Open" button with the row as its tag. The host name of a device that the latest run
    // found new is bold, one that moved is in italics.
    TableCell tableViewCell(int column, int row) const override;
    // No row can be selected.
    bool selectionShouldChangeInTableView() const override { return false; }
    void tableViewButtonPressed(int tag) override { connectToDevice(tag); }
    // A row's device by its MAC address, or by its address for a record without one.
    QString tableViewRowDevice(int row) const override;
    int tableViewRowOfDevice(const QString &device) const override;
    // Opens "http://" followed by the row's redirectAddress in the web browser. A row that
    // no longer exists, or a record without redirectAddress, opens nothing.
    void connectToDevice(int row);
    void didClickDiscoverButton() { startDiscovery(); }
    void didClickIPRangeScanButton() { startIPRangeScan(); }
    // What opens URLs: the desktop's default handlers in the window.
    void setWorkspace(std::shared_ptr<Workspace> workspace) { m_workspace = std::move(workspace); }

    // --- State ------------------------------------------------------------------------------

    // The window's controls, as the view wires them when it loads.
    struct Controls {
        std::weak_ptr<PushButton> discoverButton = {};
        std::weak_ptr<PushButton> ipRangeButton = {};
        std::weak_ptr<TextField> ipRangeTextBox = {};
        std::weak_ptr<SearchField> search = {};
        std::weak_ptr<TableView> tableView = {};
        std::weak_ptr<RunControl> stopButton = {}; // available exactly while a run is in progress
        // The line under the table that counts the devices and what changed; its link names
        // the missing devices.
        std::weak_ptr<InfoLine> historyLine = {};
        // The line under the table that says when responders answered but are not listed;
        // its link opens the discovery report.
        std::weak_ptr<InfoLine> reportLine = {};
        std::weak_ptr<ProgressIndicator> progressIndicator = {};
        // Told the same text as the history line, for a view that shows it elsewhere (the
        // tray icon's tooltip).
        std::weak_ptr<InfoLine> statusTip = {};
        // The range text box's own colour, saved when the view loads.
        std::optional<Color> defaultTextColor = {};
    };
    void setControls(Controls controls) { m_controls = std::move(controls); }
    // The tray icon, a second view, sets its tooltip after the window: it hears the latest
    // text at once.
    void setStatusTip(std::weak_ptr<InfoLine> tip);

    // The records each kind of probe found in this run, and all of them, in the order of
    // the kinds.
    const DeviceList &foundDevices(ProbeKind kind) const { return m_found[std::size_t(kind)]; }
    void setFoundDevices(ProbeKind kind, const DeviceList &devices) { m_found[std::size_t(kind)] = devices; }
    DeviceList foundDevices() const;
    const DeviceList &xpicoDevices() const { return foundDevices(ProbeKind::XpicoData); }
    void setXpicoDevices(const DeviceList &devices) { setFoundDevices(ProbeKind::XpicoData, devices); }
    const DeviceList &vudiduDevices() const { return foundDevices(ProbeKind::DeviceInfo); }
    void setVudiduDevices(const DeviceList &devices) { setFoundDevices(ProbeKind::DeviceInfo, devices); }
    const DeviceList &devices() const { return m_devices; }
    const DeviceList &filteredDevices() const { return m_filteredDevices; }

private:
    // The MAC address of the device on `row` when labels are kept, or nothing with why.
    std::optional<QString> keptRowMac(int row, const QString &withoutMac, QString *why) const;
    // A new run, the run in progress until it ends; its background work holds it too.
    std::shared_ptr<Run> beginRun(Run::Kind kind, quint64 addresses = 0);
    // The end of a run whose work has completed: ends it, unless it has ended already.
    void completeRun(const std::shared_ptr<Run> &run);
    // A watch round's end once its work is done: what it asked, its scope set.
    void endWatchRound(const std::shared_ptr<Run> &run, const std::shared_ptr<const RangeList> &walk,
                       QList<std::pair<QString, QString>> asked, qint64 walked);
    // The MAC addresses of the devices this run found so far.
    QSet<QString> foundMacs() const;
    // The scan's part of a run: the range button is busy, the discover button waits, and the
    // window's progress follows this run.
    void showScanning(const std::shared_ptr<Run> &run);
    // A scan's run: the controls show it, and its background task walks the ranges.
    void beginScan(std::shared_ptr<const RangeList> ranges);
    // A discovery run's start on the main thread: its run, report and controls.
    std::shared_ptr<Run> beginDiscovery(quint64 addresses = 0);

    void loadView();
    void reloadTable() const;
    // Shows or hides the busy indicator, animating it while shown, and the Stop button
    // with it: every run shows it at its start and hides it at its end or stop.
    void showProgress(bool shown) const;

    // How far the run could ask, from what its work noted.
    FinishedRun reachOf(const Run &run, bool stopped) const;
    // The history's part of a run's end: judge the run's devices against what it asked,
    // then record them; a failed run changes nothing.
    void recordInHistory(FinishedRun &finished);
    void showHistoryStatus();
    void tellRunEnded(const FinishedRun &finished);
    // Keeps the report of a discovery run that ended, and says under the table what it
    // explains.
    void showReport(DiscoveryReport report);

    const Address m_broadcastAddress;
    quint16 m_replyPort = 0;
    quint32 m_arpRate = 0;
    const std::shared_ptr<Resolver> m_resolver;
    ViewLoader m_viewLoader;
    std::shared_ptr<Workspace> m_workspace;
    QPointer<QObject> m_view;
    bool m_viewLoaded = false;
    Controls m_controls;
    std::function<void(const FinishedRun &)> m_runFinished;
    QList<std::weak_ptr<const RunEnded>> m_runObservers;

    std::shared_ptr<Run> m_run;              // the run in progress; null when idle
    std::shared_ptr<ReportInProgress> m_report; // the discovery run in progress's report
    std::shared_ptr<const RangeList> m_scanRanges; // the scan in progress's, or the latest's
    QSet<QString> m_askedKnown; // the addresses a watch round asked its known devices at
    std::optional<WatchRoundReach> m_round; // while the run in progress is a watch's round
    bool m_runScans = false; // whether the run in progress walks ranges (a scan, or a watch round's)
    std::shared_ptr<const Run> m_latestScan; // for the scan's progress, until the next scan
    QString m_latestFailure; // why the latest scan could ask nothing
    std::optional<DiscoveryReport> m_latestReport;

    RunRecorder m_recorder;
    HistoryView m_historyView;
    PerProbeKind<DeviceList> m_found; // by ProbeKind
    DeviceList m_devices;
    DeviceList m_filteredDevices;
    QString m_filter;
    std::shared_ptr<DeviceLabels> m_labels; // null without a labels file
};
