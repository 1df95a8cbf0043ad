#include "ui/localrangesmenu.h"

#include "localnet/networkinterfaces.h"

#include <QLineEdit>

void LocalRangesMenu::popUp(QLineEdit *box)
{
    auto *menu = new LocalRangesMenu(box);
    menu->popup(box->mapToGlobal(QPoint(0, box->height())));
}

LocalRangesMenu::LocalRangesMenu(QLineEdit *box) : QMenu(box)
{
    setObjectName(QStringLiteral("localRangesMenu"));
    setAccessibleName(tr("This computer's networks"));
    setAttribute(Qt::WA_DeleteOnClose);
    const QList<NetworkInterface> interfaces = ipv4Interfaces();
    // First, every network that a scan of the computer's own networks takes, as one scan.
    QStringList all;
    for (const LocalNetwork &network : localNetworks(interfaces)) {
        if (network.isTaken())
            all.append(network.range);
    }
    if (!all.isEmpty()) {
        QAction *choice = addAction(tr("All my networks"));
        choice->setToolTip(all.join(u' '));
        connect(choice, &QAction::triggered, box, [box, text = all.join(u' ')] { box->setText(text); });
        addSeparator();
    }
    for (const LocalRange &range : localScanRanges(interfaces)) {
        // An interface name is the system's text: a "&" in it is no shortcut.
        QAction *choice = addAction(QString(range.label).replace(u'&', QStringLiteral("&&")));
        connect(choice, &QAction::triggered, box, [box, text = range.range] { box->setText(text); });
    }
    if (isEmpty())
        addAction(tr("No network to offer"))->setEnabled(false);
}
