#include "controller/mainviewcontroller.h"

#include "model/devicecolumns.h"
#include "model/modelnames.h"
#include "platform/mainqueue.h"
#include "platform/preferences.h"

MainViewController::MainViewController(Address broadcastAddress, std::shared_ptr<Resolver> resolver)
    : m_broadcastAddress(std::move(broadcastAddress)), m_resolver(std::move(resolver))
{
    buildModelNames();
}

QObject *MainViewController::view()
{
    if (!m_viewLoaded)
        loadView();
    return m_view;
}

void MainViewController::loadView()
{
    requireMainThread("MainViewController::loadView");
    m_viewLoaded = true;
    if (m_viewLoader)
        m_view = m_viewLoader(*this);

    m_devices.clear();
    m_filteredDevices.clear();
    m_found = {};
    withControl(m_controls.tableView, [this](TableView &table) {
        table.setDataSource(weak_from_this());
        table.setDelegate(weak_from_this());
        table.reloadData();
    });
    withControl(m_controls.search, [this](SearchField &field) {
        field.setAction([weak = weak_from_this()](const QString &text) {
            if (const auto controller = weak.lock())
                controller->search(text);
        });
    });

    const QString lastRange = Preferences::standard().value(LastScanAddressKey).toString();
    withControl(m_controls.ipRangeTextBox, [&](TextField &field) {
        if (!lastRange.isEmpty())
            field.setStringValue(lastRange);
        m_controls.defaultTextColor = field.textColor();
    });
}

void MainViewController::addDevice(const Device &device)
{
    requireMainThread("MainViewController::addDevice");
    m_devices.append(device);
    if (passesSearch(*device, m_filter, m_labels ? m_labels->labelOf(*device) : QString()))
        m_filteredDevices.append(device);
}

void MainViewController::search(const QString &text)
{
    requireMainThread("MainViewController::search");
    m_filter = text;
    m_filteredDevices = searchDevices(m_devices, m_filter, labelOf());
    reloadTable();
}

void MainViewController::tableViewSortDescriptorsDidChange()
{
    requireMainThread("MainViewController::tableViewSortDescriptorsDidChange");
    withControl(m_controls.tableView, [&](TableView &table) {
        sortDevices(m_filteredDevices, table.sortDescriptors(), labelOf());
        table.reloadData();
    });
}

bool MainViewController::addIfNew(const Device &record, ProbeKind kind)
{
    requireMainThread("MainViewController::addIfNew");
    const bool listed = containsSameDevice(m_devices, *record);
    m_found[std::size_t(kind)].append(record);
    if (!listed)
        addDevice(record);
    return !listed;
}

DeviceList MainViewController::foundDevices() const
{
    DeviceList all;
    for (const DeviceList &found : m_found)
        all += found;
    return all;
}

void MainViewController::pruneToFoundDevices()
{
    requireMainThread("MainViewController::pruneToFoundDevices");
    const DeviceList found = foundDevices();
    m_filteredDevices = keepFoundDevices(m_filteredDevices, found);
    m_devices = keepFoundDevices(m_devices, found);
    reloadTable();
}

void MainViewController::reloadTable() const
{
    withControl(m_controls.tableView, [](TableView &table) { table.reloadData(); });
}

TableCell MainViewController::tableViewCell(int column, int row) const
{
    requireMainThread("MainViewController::tableViewCell");
    TableCell cell;
    if (column == openColumn) {
        cell.kind = TableCell::Kind::Button;
        cell.text = QStringLiteral("Open");
        cell.tag = row;
    } else if (column == labelColumn && row >= 0 && row < m_filteredDevices.size()) {
        const DeviceRecord &record = *m_filteredDevices.at(row);
        cell.text = m_labels ? m_labels->labelOf(record) : QString();
        cell.editable = m_labels && deviceMac(record);
    } else if (column >= 0 && column < textColumnCount && row >= 0 && row < m_filteredDevices.size()) {
        const DeviceRecord &record = *m_filteredDevices.at(row);
        cell.text = columnText(record, column);
        if (column == hostnameColumn)
            m_historyView.markChange(record, cell);
    }
    return cell;
}

namespace {

// The two kinds apart, so that an address never passes for a MAC address a device sent.
QString heldDevice(const DeviceRecord &record)
{
    if (const std::optional<QString> mac = deviceMac(record))
        return QStringLiteral("mac ") + *mac;
    const QString address = record.text(DeviceKey::ipAddress);
    return address.isEmpty() ? QString() : QStringLiteral("address ") + address;
}

} // namespace

QString MainViewController::tableViewRowDevice(int row) const
{
    requireMainThread("MainViewController::tableViewRowDevice");
    return row >= 0 && row < m_filteredDevices.size() ? heldDevice(*m_filteredDevices.at(row)) : QString();
}

int MainViewController::tableViewRowOfDevice(const QString &device) const
{
    requireMainThread("MainViewController::tableViewRowOfDevice");
    for (qsizetype row = 0; !device.isEmpty() && row < m_filteredDevices.size(); ++row) {
        if (heldDevice(*m_filteredDevices.at(row)) == device)
            return int(row);
    }
    return -1;
}

void MainViewController::connectToDevice(int row)
{
    requireMainThread("MainViewController::connectToDevice");
    if (row < 0 || row >= m_filteredDevices.size() || !m_workspace)
        return;
    const std::optional<QString> address = openAddress(*m_filteredDevices.at(row));
    if (!address)
        return;
    // Nothing is reported when the text makes no URL or nothing opens it.
    const QUrl url(*address, QUrl::StrictMode);
    if (url.isValid())
        m_workspace->openURL(url);
}

void MainViewController::showProgress(bool shown) const
{
    withControl(m_controls.progressIndicator, [&](ProgressIndicator &indicator) {
        indicator.setHidden(!shown);
        if (shown)
            indicator.startAnimation();
        else
            indicator.stopAnimation();
    });
    withControl(m_controls.stopButton, [&](RunControl &stop) { stop.setAvailable(shown); });
}
