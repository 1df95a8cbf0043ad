#pragma once

#include "discovery/discoveryreport.h"
#include "model/devicehistory.h"
#include "model/devicelist.h"
#include "model/responderentry.h"
#include "model/run.h"
#include "platform/controls.h"
#include "platform/dispatchgroup.h"
#include "platform/resolver.h"
#include "platform/semaphore.h"
#include "probes/probejob.h"
#include "scan/iprange.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

struct BroadcastSetting;

// The one controller of the tool. It owns every list of devices, the discovering flag, the
// run in progress and the weak references to the window's controls, and every operation
// of the tool is one of its operations. Unless an operation says otherwise, it runs on the
// main thread, which is the only thread that reads or changes the lists, the flag and the
// controls. Made and held by std::shared_ptr: a run holds the controller until it ends.
// Each section below names the file that defines it.
//
// Some names are older than the protocols' present names, and stay:
//   discoveryBrio, queryBrio, getXpicoInfo, xpicoDevices: the gateways' (XPico) broadcast
//     on UDP 30718 and their "/getdata.json";
//   discoverTram, queryTram, getDeviceInfo, vudiduDevices, "Vudidu": the Corva devices'
//     broadcast on UDP 23109 and their "/info".
class MainViewController final : public std::enable_shared_from_this<MainViewController>,
                                 public TableViewDataSource,
                                 public TableViewDelegate {
public:
    // Builds the model-name table. Each discovery broadcast goes once to broadcastAddress
    // (tests pass a loopback address, the user one with --broadcast); when it is empty, to
    // 255.255.255.255 out of every interface that can broadcast, as the tool does. Name
    // look-ups go through the resolver.
    explicit MainViewController(QString broadcastAddress, std::shared_ptr<Resolver> resolver = systemResolver());
    MainViewController(const MainViewController &) = delete;
    MainViewController &operator=(const MainViewController &) = delete;

    // Creates the view's controls, connects them to this controller's control references
    // and returns the view, a widget of the window's toolkit. Without one the controller
    // runs headless.
    using ViewLoader = std::function<QObject *(MainViewController &)>;
    void setViewLoader(ViewLoader loader) { m_viewLoader = std::move(loader); }
    // The view, loaded on the first request; loading it starts the first discovery run.
    QObject *view();
    bool isViewLoaded() const { return m_viewLoaded; }

    // --- The device list: model/mainviewcontroller.cpp -----------------------------------

    // Appends a record to devices and, when it passes the search, to filteredDevices. No
    // duplicate check and no table reload.
    void addDevice(const Device &device);
    // The search field's action: the text becomes the filter, the rows are searched anew
    // in the order of adding, and the table reloads.
    void search(const QString &text);
    // Sorts the rows by the table's present sort descriptors and reloads the table.
    void tableViewSortDescriptorsDidChange() override;
    qsizetype numberOfRowsInTableView() const override { return m_filteredDevices.size(); }

    // A probe's merge step: notes the record in the found list of its kind of probe and,
    // unless the same device is listed already, adds it. Returns whether it was added.
    bool addIfNew(const Device &record, ProbeKind kind);
    // The end of a run: keeps in filteredDevices and devices, in order, the records of the
    // devices that a found list holds, then reloads the table.
    void pruneToFoundDevices();

    // --- A run's end: model/mainviewcontroller.cpp -----------------------------------------

    // Ends the run in progress, if any; the one place where every run ends, completed or
    // stopped. The run is stopped, so whatever of it is still under way winds down and
    // reaches nothing; the kind's own step (discoveryStopped, scanStopped) puts the
    // controls back to idle; a completed run prunes the lists to the devices that answered
    // in it, while a stopped one, which did not ask every device, logs how far it got and
    // keeps them; the table reloads, the busy indicator hides, and the run-finished
    // handler is called.
    void finishRun(bool stopped);
    // Stop, Escape, Run > Stop, SIGINT and SIGTERM.
    void stopRun() { finishRun(true); }
    bool isRunning() const { return m_run != nullptr; }

    // Called on the main thread at the very end of every run: the command line waits for
    // it. Not part of any run's own steps.
    void setRunFinishedHandler(std::function<void()> handler) { m_runFinished = std::move(handler); }

    // --- The device history: model/runhistory.cpp -----------------------------------------

    // The file in which every run's devices are recorded, and against which new, missing
    // and moved devices are judged (empty: none, as --no-history asks). It is read afresh
    // at each run's end, so that another instance's runs count too.
    void setHistoryFile(const QString &path) { m_historyFile = path; }
    // What the latest run changed against the history: nothing before the first run's end,
    // or without a history file.
    const DeviceChanges &latestChanges() const { return m_latestChanges; }

    // --- The HTTP probes: probes/deviceprobe.cpp -------------------------------------------

    // Starts a probe and returns at once. Any thread. The job's ticket is ended exactly
    // once, after its merge, on every path (a hand-over to the gateway data probe
    // included). Once the job's run is stopped, the probe ends promptly and merges nothing.
    void probe(ProbeJob job);

    // The same as calls of their own. The device name is not used. The caller has taken a
    // unit of processLimiter and entered dispatchGroup (which may be null) for the probe.
    // The asynchronous forms return at once, from any thread. The synchronous forms return
    // once the probe has ended and its record has been merged, saying how it ended; they
    // wait for the main thread, so they never run on it.
    // GET "/info"; a 404 hands the address over to the gateway data probe.
    void getDeviceInfoAsync(const std::optional<QString> &deviceName, const QString &ipAddress,
                            const std::optional<QString> &redirectAddress, std::shared_ptr<Semaphore> processLimiter,
                            std::shared_ptr<DispatchGroup> dispatchGroup, std::shared_ptr<Run> run);
    ProbeOutcome getDeviceInfo(const std::optional<QString> &deviceName, const QString &ipAddress,
                               const std::optional<QString> &redirectAddress, const std::shared_ptr<Run> &run);
    // GET "/getdata.json".
    void getXpicoInfoAsync(const std::optional<QString> &deviceName, const QString &ipAddress,
                           const std::optional<QString> &redirectAddress, std::shared_ptr<Semaphore> processLimiter,
                           std::shared_ptr<DispatchGroup> dispatchGroup, std::shared_ptr<Run> run);
    ProbeOutcome getXpicoInfo(const std::optional<QString> &deviceName, const QString &ipAddress,
                              const std::optional<QString> &redirectAddress, const std::shared_ptr<Run> &run);

    // --- Discovery: discovery/discoveryrun.cpp ---------------------------------------------

    // Starts a discovery run unless a run is in progress: both broadcasts, each followed by
    // probing its responders one by one, then the run's end.
    void startDiscovery();
    // The two broadcasts: block for their receive window; nothing when the socket could not
    // be set up or no request be sent. A stop ends them at once. What they send and hear
    // goes into the run's report, when one is given. Background thread.
    std::optional<QList<ResponderEntry>> discoveryBrio(std::stop_token stop = {},
                                                       const std::shared_ptr<ReportInProgress> &report = nullptr);
    std::optional<QList<ResponderEntry>> discoverTram(std::stop_token stop = {},
                                                      const std::shared_ptr<ReportInProgress> &report = nullptr);
    // Probe the responders with the device info probe / the gateway data probe, reloading
    // the table after each: each address once, at most maxProbedResponders of them, those
    // on the computer's own networks first, none once the run is stopped; how each probe
    // ended goes into the run's report. Background thread.
    static constexpr qsizetype maxProbedResponders = 1024;
    void queryTram(const std::optional<QList<ResponderEntry>> &responders, const std::shared_ptr<Run> &run);
    void queryBrio(const std::optional<QList<ResponderEntry>> &responders, const std::shared_ptr<Run> &run);
    // The local UDP port both discovery sockets are bound to (0: one the system picks), so
    // that a firewall can let the replies in. Set before the first run.
    void setReplyPort(quint16 port) { m_replyPort = port; }
    void discoveryStopped();
    // What the latest discovery run sent and heard, and why each responder that answered is
    // not listed; nothing before the first discovery run's end.
    const std::optional<DiscoveryReport> &latestReport() const { return m_latestReport; }

    // --- The range scan: scan/rangescan.cpp ------------------------------------------------

    // Scans the range typed in the range text box unless a run is in progress; marks the
    // text orange when it cannot be expanded.
    void startIPRangeScan();
    // Scans each of the computer's own networks (up, not loopback; one wider than a /16 as
    // the /24 around the computer's address) in turn, as one run, unless a run is in
    // progress; the range text box and LastScanAddress are left alone. False when there is
    // no such network.
    bool startLocalNetworksScan();
    // Probes every address of the ranges, one range after another, at most 50 at a time, and
    // returns once every probe has ended; after a stop, it starts no further probe. An
    // address is looked up by name only once its probe has found a device. Background
    // thread.
    void scanDevices(const QList<IpRange> &ranges, const std::shared_ptr<Run> &run);
    void scanStopped();

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

    // --- The window's table and actions: model/mainviewcontroller.cpp ----------------------

    // A cell of the row's record: the text of columns 0 to 6, the "Open" button of column 7
    // with the row as its tag. The host name of a device that the latest run found new or
    // moved is marked so.
    TableCell tableViewCell(int column, int row) const override;
    // No row can be selected.
    bool selectionShouldChangeInTableView() const override { return false; }
    void tableViewButtonPressed(int tag) override { connectToDevice(tag); }
    // Opens "http://" followed by the row's redirectAddress in the web browser. A row that
    // no longer exists, or a record without redirectAddress, opens nothing.
    void connectToDevice(int row);
    void didClickDiscoverButton() { startDiscovery(); }
    void didClickIPRangeScanButton() { startIPRangeScan(); }
    // What opens URLs: the desktop's default handlers in the window.
    void setWorkspace(std::shared_ptr<Workspace> workspace) { m_workspace = std::move(workspace); }

    // --- State ------------------------------------------------------------------------------

    bool discovering() const { return m_discovering; }
    void setDiscovering(bool discovering) { m_discovering = discovering; }

    std::weak_ptr<PushButton> discoverButton() const { return m_discoverButton; }
    void setDiscoverButton(std::weak_ptr<PushButton> button) { m_discoverButton = std::move(button); }
    std::weak_ptr<PushButton> ipRangeButton() const { return m_ipRangeButton; }
    void setIpRangeButton(std::weak_ptr<PushButton> button) { m_ipRangeButton = std::move(button); }
    std::weak_ptr<TextField> ipRangeTextBox() const { return m_ipRangeTextBox; }
    void setIpRangeTextBox(std::weak_ptr<TextField> field) { m_ipRangeTextBox = std::move(field); }
    std::weak_ptr<SearchField> search() const { return m_search; }
    void setSearch(std::weak_ptr<SearchField> field) { m_search = std::move(field); }
    std::weak_ptr<TableView> tableView() const { return m_tableView; }
    void setTableView(std::weak_ptr<TableView> table) { m_tableView = std::move(table); }
    // The Stop button: available exactly while a run is in progress.
    std::weak_ptr<RunControl> stopButton() const { return m_stopButton; }
    void setStopButton(std::weak_ptr<RunControl> button) { m_stopButton = std::move(button); }
    // The line under the table that counts the devices and what changed; its link names the
    // missing devices.
    std::weak_ptr<InfoLine> historyLine() const { return m_historyLine; }
    void setHistoryLine(std::weak_ptr<InfoLine> line) { m_historyLine = std::move(line); }
    // The line under the table that says when responders answered but are not listed; its
    // link opens the discovery report.
    std::weak_ptr<InfoLine> reportLine() const { return m_reportLine; }
    void setReportLine(std::weak_ptr<InfoLine> line) { m_reportLine = std::move(line); }
    std::weak_ptr<ProgressIndicator> progressIndicator() const { return m_progressIndicator; }
    void setProgressIndicator(std::weak_ptr<ProgressIndicator> indicator)
    {
        m_progressIndicator = std::move(indicator);
    }

    const DeviceList &xpicoDevices() const { return m_xpicoDevices; }
    void setXpicoDevices(const DeviceList &devices) { m_xpicoDevices = devices; }
    const DeviceList &vudiduDevices() const { return m_vudiduDevices; }
    void setVudiduDevices(const DeviceList &devices) { m_vudiduDevices = devices; }
    const DeviceList &devices() const { return m_devices; }
    void setDevices(const DeviceList &devices) { m_devices = devices; }
    const DeviceList &filteredDevices() const { return m_filteredDevices; }
    void setFilteredDevices(const DeviceList &devices) { m_filteredDevices = devices; }

    // The search text as last taken from the search field; null before the first search.
    const QString &filter() const { return m_filter; }
    void setFilter(const QString &filter) { m_filter = filter; }

    // The range text box's colour as the view made it, saved when the view loads; nothing
    // before that.
    std::optional<Color> defaultTextColor() const { return m_defaultTextColor; }
    void setDefaultTextColor(std::optional<Color> color) { m_defaultTextColor = color; }
    const QString &broadcastAddress() const { return m_broadcastAddress; }
    const std::shared_ptr<Resolver> &resolver() const { return m_resolver; }

private:
    // A new run, the run in progress until it ends; its background work holds it too.
    std::shared_ptr<Run> beginRun(Run::Kind kind, quint64 addresses = 0);
    // The end of a run whose work has completed: ends it, unless it has ended already.
    void completeRun(const std::shared_ptr<Run> &run);
    // A scan's run: the controls show it, and its background task walks the ranges.
    void beginScan(QList<IpRange> ranges);

    void loadView();
    void reloadTable() const;
    // Shows or hides the busy indicator, animating it while shown, and the Stop button
    // with it: every run shows it at its start and hides it at its end or stop.
    void showProgress(bool shown) const;

    ProbeOutcome probeAndWait(ProbeKind kind, const QString &ipAddress, const std::optional<QString> &redirectAddress,
                              const std::shared_ptr<Run> &run);
    // The history's part of a run's end: judge the run's devices, then record them.
    void recordInHistory(bool stopped);
    void showHistoryStatus() const;
    // Keeps the report of a discovery run that ended, and says under the table what it
    // explains.
    void showReport(DiscoveryReport report);
    void markChange(const DeviceRecord &record, TableCell &cell) const;

    // Where and how each discovery broadcast goes.
    BroadcastSetting broadcastSetting(const std::shared_ptr<ReportInProgress> &report) const;
    template <typename Probe>
    void probeResponders(const QList<ResponderEntry> &responders, DiscoveryProtocol protocol,
                         const std::shared_ptr<Run> &run, Probe probe);

    const QString m_broadcastAddress;
    quint16 m_replyPort = 0;
    const std::shared_ptr<Resolver> m_resolver;
    ViewLoader m_viewLoader;
    std::shared_ptr<Workspace> m_workspace;
    QPointer<QObject> m_view;
    bool m_viewLoaded = false;
    std::function<void()> m_runFinished;

    bool m_discovering = false;
    std::shared_ptr<Run> m_run;              // the run in progress; null when idle
    std::shared_ptr<const Run> m_latestScan; // for the scan's progress, until the next scan
    QString m_historyFile;
    DeviceChanges m_latestChanges;
    std::optional<DiscoveryReport> m_latestReport;
    QSet<QString> m_newDevices;          // of the latest changes, by MAC address
    QHash<QString, QString> m_movedFrom; // the same, with the address a device had before
    std::weak_ptr<PushButton> m_discoverButton;
    std::weak_ptr<PushButton> m_ipRangeButton;
    std::weak_ptr<TextField> m_ipRangeTextBox;
    std::weak_ptr<SearchField> m_search;
    DeviceList m_xpicoDevices;
    DeviceList m_vudiduDevices;
    DeviceList m_devices;
    DeviceList m_filteredDevices;
    std::weak_ptr<TableView> m_tableView;
    std::weak_ptr<ProgressIndicator> m_progressIndicator;
    std::weak_ptr<RunControl> m_stopButton;
    std::weak_ptr<InfoLine> m_historyLine;
    std::weak_ptr<InfoLine> m_reportLine;
    QString m_filter;
    std::optional<Color> m_defaultTextColor;
};
