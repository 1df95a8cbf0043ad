#pragma once

#include "model/devicelist.h"
#include "platform/controls.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// The one controller of the tool. It owns every list of devices, the discovering flag and
// the weak references to the window's controls, and every operation of the tool is one of
// its operations. Unless an operation says otherwise, it runs on the main thread, which is
// the only thread that reads or changes the lists, the flag and the controls.
class MainViewController final : public std::enable_shared_from_this<MainViewController> {
public:
    // Builds the model-name table. Discovery broadcasts go to broadcastAddress; tests and
    // sandboxes pass a loopback or namespace-local address.
    explicit MainViewController(QString broadcastAddress = QStringLiteral("255.255.255.255"));
    MainViewController(const MainViewController &) = delete;
    MainViewController &operator=(const MainViewController &) = delete;

    // Creates the view's controls, connects them to this controller's control references
    // and returns the view, a widget of the window's toolkit. Without one the controller
    // runs headless.
    using ViewLoader = std::function<QObject *(MainViewController &)>;
    void setViewLoader(ViewLoader loader) { m_viewLoader = std::move(loader); }
    // The view, loaded on the first request.
    QObject *view();
    bool isViewLoaded() const { return m_viewLoaded; }

    // --- The device list -----------------------------------------------------------------

    // Appends a record to devices and, when it passes the search, to filteredDevices. No
    // duplicate check and no table reload.
    void addDevice(const Device &device);
    // The search field's action: the text becomes the filter, the rows are searched anew
    // in the order of adding, and the table reloads.
    void search(const QString &text);
    // Sorts the rows by the table's present sort descriptors and reloads the table.
    void tableViewSortDescriptorsDidChange();
    qsizetype numberOfRowsInTableView() const { return m_filteredDevices.size(); }

    enum class FoundList { Vudidu, Xpico };
    // A probe's merge step: notes the record in the found list and, unless the same device
    // is listed already, adds it. Returns whether it was added.
    bool addIfNew(const Device &record, FoundList foundList);
    // The end of a run: keeps in filteredDevices and devices, in order, the records of the
    // devices that a found list holds, then reloads the table.
    void pruneToFoundDevices();

    // --- State ---------------------------------------------------------------------------

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
    const QString &broadcastAddress() const { return m_broadcastAddress; }

private:
    void loadView();
    void reloadTable() const;

    const QString m_broadcastAddress;
    ViewLoader m_viewLoader;
    QPointer<QObject> m_view;
    bool m_viewLoaded = false;

    bool m_discovering = false;
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
    QString m_filter;
    std::optional<Color> m_defaultTextColor;
};
