#pragma once

#include "model/devicelist.h"
#include "model/responderentry.h"
#include "platform/controls.h"
#include "platform/dispatchgroup.h"
#include "platform/resolver.h"
#include "platform/semaphore.h"
#include "platform/stoptoken.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class IpRange;
struct BroadcastTarget;

// The one controller of the tool. It owns every list of devices, the discovering flag and
// the weak references to the window's controls, and every operation of the tool is one of
// its operations; each area's operations are defined in that area's folder. Unless an
// operation says otherwise, it runs on the main thread, which is the only thread that reads
// or changes the lists, the flag and the controls. Made and held by std::shared_ptr: a run
// holds the controller until it ends.
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

    // --- The device list (model/) -----------------------------------------------------------

    // Appends a record to devices and, when it passes the search, to filteredDevices. No
    // duplicate check and no table reload.
    void addDevice(const Device &device);
    // The search field's action: the text becomes the filter, the rows are searched anew
    // in the order of adding, and the table reloads.
    void search(const QString &text);
    // Sorts the rows by the table's present sort descriptors and reloads the table.
    void tableViewSortDescriptorsDidChange() override;
    qsizetype numberOfRowsInTableView() const override { return m_filteredDevices.size(); }

    enum class FoundList { Vudidu, Xpico };
    // A probe's merge step: notes the record in the found list and, unless the same device
    // is listed already, adds it. Returns whether it was added.
    bool addIfNew(const Device &record, FoundList foundList);
    // The end of a run: keeps in filteredDevices and devices, in order, the records of the
    // devices that a found list holds, then reloads the table.
    void pruneToFoundDevices();

    // --- The HTTP probes (probes/) ----------------------------------------------------------
    // The device name is not used. The caller has taken a unit of processLimiter and entered
    // dispatchGroup (which may be null) for the probe; the probe gives the unit back and
    // then leaves the group exactly once, after its merge, on every path (a hand-over to
    // the gateway data probe included). The asynchronous forms return at once, from any
    // thread. The synchronous forms return once the probe has ended and its record has been
    // merged; they wait for the main thread, so they never run on it. Once `stop` (null:
    // never stopped) is stopped, the probe ends promptly and merges nothing.

    // GET "/info"; a 404 hands the address over to the gateway data probe.
    void getDeviceInfoAsync(const std::optional<QString> &deviceName, const QString &ipAddress,
                            const std::optional<QString> &redirectAddress, std::shared_ptr<Semaphore> processLimiter,
                            std::shared_ptr<DispatchGroup> dispatchGroup, std::shared_ptr<StopToken> stop = nullptr);
    void getDeviceInfo(const std::optional<QString> &deviceName, const QString &ipAddress,
                       const std::optional<QString> &redirectAddress, std::shared_ptr<StopToken> stop = nullptr);
    // GET "/getdata.json".
    void getXpicoInfoAsync(const std::optional<QString> &deviceName, const QString &ipAddress,
                           const std::optional<QString> &redirectAddress, std::shared_ptr<Semaphore> processLimiter,
                           std::shared_ptr<DispatchGroup> dispatchGroup, std::shared_ptr<StopToken> stop = nullptr);
    void getXpicoInfo(const std::optional<QString> &deviceName, const QString &ipAddress,
                      const std::optional<QString> &redirectAddress, std::shared_ptr<StopToken> stop = nullptr);

    // --- Discovery (discovery/) -------------------------------------------------------------

    // Starts a discovery run unless a run is in progress: both broadcasts, each followed by
    // probing its responders one by one, then the pruning.
    void startDiscovery();
    // The two broadcasts: block for their receive window; nothing when the socket could not
    // be set up or no request be sent. A stop of the token ends them at once. Background
    // thread.
    std::optional<QList<ResponderEntry>> discoveryBrio(const std::shared_ptr<StopToken> &stop = nullptr);
    std::optional<QList<ResponderEntry>> discoverTram(const std::shared_ptr<StopToken> &stop = nullptr);
    // Probe the responders with the device info probe / the gateway data probe, reloading
    // the table after each: each address once, at most maxProbedResponders of them, none
    // once the token is stopped. Background thread.
    static constexpr qsizetype maxProbedResponders = 1024;
    void queryTram(const std::optional<QList<ResponderEntry>> &responders,
                   const std::shared_ptr<StopToken> &stop = nullptr);
    void queryBrio(const std::optional<QList<ResponderEntry>> &responders,
                   const std::shared_ptr<StopToken> &stop = nullptr);
    // The local UDP port both discovery sockets are bound to (0: one the system picks), so
    // that a firewall can let the replies in. Set before the first run.
    void setReplyPort(quint16 port) { m_replyPort = port; }
    void discoveryStopped();

    // --- The range scan (scan/) -------------------------------------------------------------

    // Scans the range typed in the range text box unless a run is in progress; marks the
    // text orange when it cannot be expanded.
    void startIPRangeScan();
    // Probes every address of the range, at most 50 at a time, and returns once every probe
    // has ended; after a stop, it starts no further probe. An address is looked up by name
    // only once its probe has found a device. Background thread.
    void scanDevices(const IpRange &addresses, const std::shared_ptr<StopToken> &stop = nullptr);
    void scanStopped();

    // How far the latest range scan has come: probes ended, of the addresses in its range.
    // Nothing before the first scan; kept once the scan has finished, until the next.
    struct ScanProgress {
        quint64 probed = 0;
        quint64 total = 0;
        bool finished = false;
    };
    std::optional<ScanProgress> scanProgress() const;
    // The records that the present run (or the latest one) has found so far, for the
    // progress text.
    quint64 foundCount() const;

    // --- The window's table and actions (model/) ----------------------------------------------

    // A cell of the row's record: the text of columns 0 to 6, the "Open" button of column 7
    // with the row as its tag.
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

    // Stops the run in progress, if any: its token stops, so nothing new starts and what
    // is in flight is cancelled, and the run ends here and now as a stopped run: one log
    // line says how far it got, the controls go back to idle, the table reloads and the
    // busy indicator hides. Nothing is pruned: a stopped run did not ask every device.
    // The run's background work winds down on its own and reaches nothing any more.
    void stopRun();
    bool isRunning() const { return m_runStop != nullptr; }

    // Called on the main thread at the very end of every run, after the pruning: the
    // command line waits for it. Not part of any run's own steps.
    void setRunFinishedHandler(std::function<void()> handler) { m_runFinished = std::move(handler); }

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
    enum class RunKind { Discovery, Scan };
    // A new run's token, which the run's background work holds; the controller keeps it
    // until the run ends or is stopped. Main thread.
    std::shared_ptr<StopToken> beginRun(RunKind kind);
    // The end of a run that was not stopped. Main thread.
    void endRun() { m_runStop.reset(); }

    void loadView();
    void reloadTable() const;
    // Shows or hides the busy indicator, animating it while shown, and the Stop button
    // with it: every run shows it at its start and hides it at its end or stop.
    void showProgress(bool shown) const;
    void runFinished() const;

    // The targets of each discovery broadcast.
    QList<BroadcastTarget> broadcastTargets() const;
    template <typename Probe>
    void probeResponders(const QList<ResponderEntry> &responders, const char *kind,
                         const std::shared_ptr<StopToken> &stop, Probe probe);

    const QString m_broadcastAddress;
    quint16 m_replyPort = 0;
    const std::shared_ptr<Resolver> m_resolver;
    ViewLoader m_viewLoader;
    std::shared_ptr<Workspace> m_workspace;
    QPointer<QObject> m_view;
    bool m_viewLoaded = false;
    std::function<void()> m_runFinished;

    bool m_discovering = false;
    std::shared_ptr<StopToken> m_runStop; // the run in progress; null when idle
    RunKind m_runKind = RunKind::Discovery;
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
    QString m_filter;
    std::optional<Color> m_defaultTextColor;

    // The latest scan's group, whose leaves count its ended probes, and its size.
    std::shared_ptr<const DispatchGroup> m_scanGroup;
    quint64 m_scanTotal = 0;
    bool m_scanFinished = false;
};
