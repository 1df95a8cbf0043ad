#include "ui/missingdevicesdialog.h"

#include "settings/rowactions.h"
#include "platform/addresstext.h"
#include "platform/englishtext.h"

#include <QDesktopServices>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QMenu>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace {

QTableWidgetItem *textItem(const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled);
    return item;
}

} // namespace

MissingDevicesDialog::MissingDevicesDialog(const QList<HistoryEntry> &missing, const QDateTime &now,
                                           const LabelOf &labelOf, QWidget *parent, ShowHistory showHistory)
    : QDialog(parent)
{
    setWindowTitle(tr("Missing Devices"));
    auto *table = new QTableWidget(int(missing.size()), 5, this);
    table->setHorizontalHeaderLabels({tr("Host name"), tr("Label"), tr("Last address"), tr("Last seen"), QString()});
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionMode(QAbstractItemView::NoSelection);
    for (int row = 0; row < int(missing.size()); ++row) {
        const HistoryEntry &entry = missing.at(row);
        table->setItem(row, 0, textItem(entry.record->text(DeviceKey::hostname)));
        table->setItem(row, 1, textItem(labelOf ? labelOf(*entry.record) : QString()));
        table->setItem(row, 2, textItem(entry.lastAddress));
        table->setItem(row, 3, textItem(shortTimeText(entry.lastSeen, now)));
        auto *open = new QPushButton(tr("Open"), table);
        const Address address = addressFromText(entry.lastAddress);
        open->setEnabled(address.ipv4().has_value());
        connect(open, &QPushButton::clicked, this,
                [address] { QDesktopServices::openUrl(QUrl(deviceUrl(address))); });
        table->setCellWidget(row, 4, open);
    }
    // The row menu's items that need no row of the main table, in its words.
    table->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(table, &QWidget::customContextMenuRequested, this, [=, this](const QPoint &at) {
        const QModelIndex index = table->indexAt(at).isValid() ? table->indexAt(at) : table->currentIndex();
        if (!index.isValid())
            return;
        const HistoryEntry entry = missing.at(index.row());
        const QString mac = entry.record->text(DeviceKey::macAddress);
        const QString label = labelOf ? labelOf(*entry.record) : QString();
        QMenu menu(this);
        menu.setObjectName(QStringLiteral("missingMenu"));
        for (const RowAction &action : builtInRowActions()) {
            if (action.kind == RowAction::Kind::CopyAddress)
                menu.addAction(action.name, this, [address = entry.lastAddress] { QGuiApplication::clipboard()->setText(address); });
            else if (action.kind == RowAction::Kind::CopyMacAddress)
                menu.addAction(action.name, this, [mac] { QGuiApplication::clipboard()->setText(mac); });
            else if (action.kind == RowAction::Kind::History && showHistory)
                menu.addAction(action.name, this, [=] {
                    showHistory(mac, label.isEmpty() ? entry.record->text(DeviceKey::hostname) : label);
                })->setObjectName(QStringLiteral("historyAction"));
        }
        menu.exec(table->viewport()->mapToGlobal(at));
    });
    table->resizeColumnsToContents();
    table->horizontalHeader()->setStretchLastSection(true);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(table);
    layout->addWidget(buttons);
    resize(560, 300);
}
