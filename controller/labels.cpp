// The user's labels: the controller's operations that show, search, sort and edit them.

#include "controller/mainviewcontroller.h"

#include "model/devicecolumns.h"
#include "platform/mainqueue.h"

void MainViewController::setLabelsFile(const QString &path)
{
    requireMainThread("MainViewController::setLabelsFile");
    m_labels = path.isEmpty() ? nullptr : std::make_shared<DeviceLabels>(path);
}

LabelOf MainViewController::labelOf() const
{
    if (!m_labels)
        return {};
    // The labels as they are at each call: an edit or a re-read shows at once.
    return [labels = std::weak_ptr<const DeviceLabels>(m_labels)](const DeviceRecord &record) {
        const auto held = labels.lock();
        return held ? held->labelOf(record) : QString();
    };
}

std::optional<QString> MainViewController::keptRowMac(int row, const QString &withoutMac, QString *why) const
{
    if (!m_labels)
        *why = QStringLiteral("labels are not kept");
    else if (row < 0 || row >= m_filteredDevices.size())
        *why = QStringLiteral("that row is gone");
    else if (const std::optional<QString> mac = deviceMac(*m_filteredDevices.at(row)))
        return mac;
    else
        *why = withoutMac;
    return std::nullopt;
}

QString MainViewController::setLabel(int row, const QString &label)
{
    requireMainThread("MainViewController::setLabel");
    QString why;
    const std::optional<QString> mac = keptRowMac(row, QStringLiteral("a device without a MAC address cannot have a label"), &why);
    // The table shows the cell anew by itself; a reload here would close the editor that asked.
    return mac ? m_labels->setLabel(*mac, label) : why;
}

QString MainViewController::takeLabelsNotice()
{
    return m_labels ? m_labels->takeNotice() : QString();
}

QString MainViewController::tableViewSetCellText(int column, int row, const QString &text)
{
    return column == labelColumn ? setLabel(row, text) : QStringLiteral("this column cannot be edited");
}

void MainViewController::reloadLabels()
{
    requireMainThread("MainViewController::reloadLabels");
    if (m_labels)
        m_labels->reload();
    reloadTable();
}

WatchedTest MainViewController::watchedTest() const
{
    if (!m_labels)
        return {};
    return [labels = std::weak_ptr<const DeviceLabels>(m_labels)](const QString &mac) {
        const auto held = labels.lock();
        return !held || held->isWatched(mac);
    };
}

bool MainViewController::isRowWatched(int row) const
{
    if (!m_labels || row < 0 || row >= m_filteredDevices.size())
        return true;
    return m_labels->isWatched(deviceMac(*m_filteredDevices.at(row)).value_or(QString()));
}

QString MainViewController::setRowWatched(int row, bool watched)
{
    requireMainThread("MainViewController::setRowWatched");
    QString why;
    const std::optional<QString> mac = keptRowMac(row, QStringLiteral("a device without a MAC address is always watched"), &why);
    return mac ? m_labels->setWatched(*mac, watched) : why;
}
