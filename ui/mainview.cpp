#include "ui/mainview.h"

#include "controller/mainviewcontroller.h"
#include "controller/rowactions.h"
#include "history/devicewatch.h"
#include "localnet/networkinterfaces.h"
#include "model/devicecolumns.h"
#include "platform/autostart.h"
#include "platform/englishtext.h"
#include "platform/log.h"
#include "platform/preferences.h"
#include "platform/userprogram.h"
#include "scan/scanprogresstext.h"
#include "ui/busyindicatoradapter.h"
#include "ui/desktopworkspace.h"
#include "ui/devicetablemodel.h"
#include "ui/discoveryreportdialog.h"
#include "ui/elidedlabel.h"
#include "ui/infolineadapter.h"
#include "ui/missingdevicesdialog.h"
#include "ui/notifieradapter.h"
#include "ui/openbuttondelegate.h"
#include "ui/pushbuttonadapter.h"
#include "ui/runcontroladapter.h"
#include "ui/searchfieldadapter.h"
#include "ui/tableviewadapter.h"
#include "ui/textfieldadapter.h"
#include "ui/trayicon.h"
#include "ui_mainviewcontroller.h"

#include <QActionGroup>
#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QStyle>

#include <functional>
#include <span>

namespace {

// A few times a second: enough to see a scan move, cheap for the main thread.
constexpr int progressIntervalMs = 250;

// The choices of Watch Interval (minutes) and Missing After (runs).
constexpr int watchIntervals[] = {1, 5, 15, 60};
constexpr int watchMissingAfters[] = {1, 2, 3, 5, 10};

} // namespace

MainView::MainView(MainViewController &controller, QWidget *parent)
    : QWidget(parent), m_controller(controller.weak_from_this()), m_form(std::make_unique<Ui::MainViewController>())
{
    m_form->setupUi(this);
    // No run is in progress until the controller starts one.
    m_form->progressIndicator->hide();
    m_form->progressLabel->hide();
    m_form->historyLine->hide();
    m_form->reportLine->hide();
    // Escape and the window's menu do what the Stop button does; the window puts the
    // view's actions in its menu.
    m_stopAction = new QAction(tr("&Stop"), this);
    m_stopAction->setObjectName(QStringLiteral("stopAction"));
    m_stopAction->setShortcut(QKeySequence(Qt::Key_Escape));
    m_stopAction->setShortcutContext(Qt::WindowShortcut);
    addAction(m_stopAction);

    m_discoverButton = std::make_shared<PushButtonAdapter>(m_form->discoverButton);
    m_ipRangeButton = std::make_shared<PushButtonAdapter>(m_form->ipRangeButton);
    m_ipRangeTextBox = std::make_shared<TextFieldAdapter>(m_form->ipRangeTextBox);
    m_search = std::make_shared<SearchFieldAdapter>(m_form->search);
    m_tableView = std::make_shared<TableViewAdapter>(m_form->tableView);
    m_stopButton = std::make_shared<RunControlAdapter>(m_form->stopButton, m_stopAction);
    m_stopButton->setAvailable(false);
    m_historyLine = std::make_shared<InfoLineAdapter>(m_form->historyLine);
    m_reportLine = std::make_shared<InfoLineAdapter>(m_form->reportLine);
    m_progressIndicator = std::make_shared<BusyIndicatorAdapter>(
        m_form->progressIndicator, [this](bool animating) { busyIndicatorAnimating(animating); });
    controller.setDiscoverButton(m_discoverButton);
    controller.setIpRangeButton(m_ipRangeButton);
    controller.setIpRangeTextBox(m_ipRangeTextBox);
    controller.setSearch(m_search);
    controller.setTableView(m_tableView);
    controller.setProgressIndicator(m_progressIndicator);
    controller.setStopButton(m_stopButton);
    controller.setHistoryLine(m_historyLine);
    controller.setReportLine(m_reportLine);
    controller.setWorkspace(std::make_shared<DesktopWorkspace>());
    auto *notifier = new DesktopNotifier(this);
    m_notifier = std::make_shared<NotifierAdapter>(notifier);
    controller.setNotifier(m_notifier);
    addWatchActions();
    m_tray = std::make_shared<TrayIcon>(controller, m_watchAction, this, notifier);
    controller.setStatusTip(m_tray);
    connect(notifier, &DesktopNotifier::activated, m_tray.get(), &TrayIcon::showWindow);
    addStartAtLoginAction();

    const auto act = [this](void (MainViewController::*action)()) {
        return [this, action] {
            if (const auto controller = m_controller.lock())
                (controller.get()->*action)();
        };
    };
    connect(m_form->discoverButton, &QPushButton::clicked, this, act(&MainViewController::didClickDiscoverButton));
    connect(m_form->ipRangeButton, &QPushButton::clicked, this, act(&MainViewController::didClickIPRangeScanButton));
    connect(m_form->stopButton, &QPushButton::clicked, this, act(&MainViewController::stopRun));
    connect(m_stopAction, &QAction::triggered, this, act(&MainViewController::stopRun));
    // Return in the range box does what the button next to it does, while it may.
    connect(m_form->ipRangeTextBox, &QLineEdit::returnPressed, this, [this] {
        if (m_form->ipRangeButton->isEnabled())
            m_form->ipRangeButton->click();
    });
    connect(&m_progressTimer, &QTimer::timeout, this, &MainView::showScanProgress);
    connect(m_form->historyLine, &QLabel::linkActivated, this, &MainView::showMissingDevices);
    connect(m_form->reportLine, &QLabel::linkActivated, this, &MainView::showReport);

    m_form->tableView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_form->tableView, &QWidget::customContextMenuRequested, this, &MainView::showRowMenu);
    // Said once the editor has closed, which a message taking the focus would disturb.
    if (auto *model = qobject_cast<DeviceTableModel *>(m_form->tableView->model()))
        connect(
            model, &DeviceTableModel::editRefused, this,
            [this](const QString &why) { say(tr("Set Label"), tr("The label was not set: %1").arg(why)); },
            Qt::QueuedConnection);

    QAction *localRanges = m_form->ipRangeTextBox->addAction(style()->standardIcon(QStyle::SP_ArrowDown),
                                                             QLineEdit::TrailingPosition);
    localRanges->setObjectName(QStringLiteral("localRangesAction"));
    localRanges->setText(tr("This computer's networks"));
    localRanges->setToolTip(tr("This computer's networks (Alt+Down)"));
    connect(localRanges, &QAction::triggered, this, &MainView::offerLocalRanges);
    // The search field's clear button is named after what it does, for screen readers.
    if (auto *clear = m_form->search->findChild<QAction *>(QStringLiteral("_q_qlineeditclearaction")))
        clear->setText(tr("Clear search"));
    // The keyboard's ways to the table's rows and to the networks on offer.
    m_form->tableView->installEventFilter(this);
    m_form->ipRangeTextBox->installEventFilter(this);
}

MainView::~MainView() = default;

bool MainView::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
    if (watched == m_form->ipRangeTextBox) {
        // As a combo box offers its list.
        if ((key->key() == Qt::Key_Down && modifiers == Qt::AltModifier) || (key->key() == Qt::Key_F4 && !modifiers)) {
            offerLocalRanges();
            return true;
        }
        return false;
    }
    QTableView *table = m_form->tableView;
    const auto *cells = qobject_cast<OpenButtonDelegate *>(table->itemDelegate());
    if (watched != table || (cells && cells->openEditor()) || !table->currentIndex().isValid())
        return false;
    // Return opens the current row's device, whichever cell of it is current; the Menu key
    // and Shift+F10 open its menu beside it, wherever the pointer is.
    if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && !modifiers) {
        if (const auto controller = m_controller.lock())
            controller->connectToDevice(table->currentIndex().row());
        return true;
    }
    if ((key->key() == Qt::Key_Menu && !modifiers) || (key->key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier)) {
        showRowMenu(table->visualRect(table->currentIndex()).center());
        return true;
    }
    return false;
}

void MainView::changeEvent(QEvent *event)
{
    // The range box's orange is the one readable on the new palette.
    if (event->type() == QEvent::PaletteChange && m_ipRangeTextBox)
        m_ipRangeTextBox->followPalette();
    QWidget::changeEvent(event);
}

void MainView::startInTray()
{
    // Watching for this start only: the choice the user made stays as it was.
    QMetaObject::invokeMethod(this, [this] { m_watchAction->setChecked(true); }, Qt::QueuedConnection);
}

void MainView::busyIndicatorAnimating(bool animating)
{
    if (animating) {
        m_progressTimer.start(progressIntervalMs);
        showScanProgress();
        return;
    }
    m_progressTimer.stop();
    m_form->progressLabel->hide();
}

void MainView::showMissingDevices()
{
    const auto controller = m_controller.lock();
    if (!controller || controller->latestChanges().missing.isEmpty())
        return;
    auto *dialog = new MissingDevicesDialog(controller->latestChanges().missing, QDateTime::currentDateTime(),
                                            controller->labelOf(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setObjectName(QStringLiteral("missingDevices"));
    dialog->open();
}

void MainView::showReport()
{
    const auto controller = m_controller.lock();
    if (!controller || !controller->latestReport())
        return;
    auto *dialog = new DiscoveryReportDialog(controller->latestReport()->toText(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void MainView::showScanProgress()
{
    const auto controller = m_controller.lock();
    const auto progress = controller ? controller->scanProgress() : std::nullopt;
    // A discovery run shows the busy indicator alone.
    if (!progress || progress->finished) {
        m_form->progressLabel->hide();
        return;
    }
    m_form->progressLabel->setFullText(scanProgressText(progress->probed, progress->total, progress->found));
    m_form->progressLabel->show();
}

// Read afresh each time, so a network joined since the window opened is offered too. The box
// keeps its text (the remembered range) until a network is chosen.
void MainView::offerLocalRanges()
{
    auto *menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("localRangesMenu"));
    menu->setAccessibleName(tr("This computer's networks"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const QList<NetworkInterface> interfaces = ipv4Interfaces();
    // First, every network that a scan of the computer's own networks takes, as one scan.
    QStringList all;
    for (const LocalNetwork &network : localNetworks(interfaces)) {
        if (network.isTaken())
            all.append(network.range);
    }
    if (!all.isEmpty()) {
        QAction *choice = menu->addAction(tr("All my networks"));
        choice->setToolTip(all.join(u' '));
        connect(choice, &QAction::triggered, this, [this, text = all.join(u' ')] { m_form->ipRangeTextBox->setText(text); });
        menu->addSeparator();
    }
    for (const LocalRange &range : localScanRanges(interfaces)) {
        // An interface name is the system's text: a "&" in it is no shortcut.
        QAction *choice = menu->addAction(QString(range.label).replace(u'&', QStringLiteral("&&")));
        connect(choice, &QAction::triggered, this, [this, text = range.range] { m_form->ipRangeTextBox->setText(text); });
    }
    if (menu->isEmpty())
        menu->addAction(tr("No network to offer"))->setEnabled(false);
    menu->popup(m_form->ipRangeTextBox->mapToGlobal(QPoint(0, m_form->ipRangeTextBox->height())));
}

// The row under the pointer, or for the keyboard's menu the current one.
void MainView::showRowMenu(const QPoint &at)
{
    const auto controller = m_controller.lock();
    QTableView *table = m_form->tableView;
    QModelIndex index = table->indexAt(at);
    if (!index.isValid())
        index = table->currentIndex();
    if (!controller || !index.isValid() || index.row() >= controller->filteredDevices().size())
        return;
    const int row = index.row();
    const Device device = controller->filteredDevices().at(row);
    const LabelOf labelOf = controller->labelOf();
    const QString label = labelOf ? labelOf(*device) : QString();
    const QString address = device->value(DeviceKey::ipAddress).toString();
    const QString mac = device->value(DeviceKey::macAddress).toString();
    // The menu holds its device, not the row: a run may reorder or reload the table meanwhile.
    const QString held = controller->tableViewRowDevice(row);
    const auto copy = [](QStringView key) {
        return [key](MainViewController &controller, int row) {
            QGuiApplication::clipboard()->setText(controller.filteredDevices().at(row)->value(key).toString());
        };
    };

    QMenu menu(this);
    menu.setObjectName(QStringLiteral("rowMenu"));
    menu.setAccessibleName(tr("Device %1").arg(device->value(DeviceKey::hostname).toString()).trimmed());
    for (const RowAction &action : builtInRowActions()) {
        QAction *item = menu.addAction(action.name);
        switch (action.kind) {
        case RowAction::Kind::OpenInBrowser:
            item->setEnabled(openAddress(*device).has_value());
            // What the table's Return does; shown, not bound here.
            item->setShortcut(QKeySequence(Qt::Key_Return));
            item->setShortcutContext(Qt::WidgetShortcut);
            connect(item, &QAction::triggered, this,
                    onHeldDevice(held, [](MainViewController &controller, int row) { controller.connectToDevice(row); }));
            break;
        case RowAction::Kind::CopyAddress:
            item->setEnabled(!address.isEmpty());
            connect(item, &QAction::triggered, this, onHeldDevice(held, copy(DeviceKey::ipAddress)));
            break;
        case RowAction::Kind::CopyMacAddress:
            item->setEnabled(!mac.isEmpty());
            connect(item, &QAction::triggered, this, onHeldDevice(held, copy(DeviceKey::macAddress)));
            break;
        case RowAction::Kind::SetLabel:
            item->setEnabled(table->model()->index(row, labelColumn).flags() & Qt::ItemIsEditable);
            connect(item, &QAction::triggered, this, onHeldDevice(held, [table](MainViewController &, int row) {
                        const QModelIndex cell = table->model()->index(row, labelColumn);
                        table->setCurrentIndex(cell);
                        table->edit(cell);
                    }));
            break;
        case RowAction::Kind::DontWatch:
            // Its events are told nowhere; it is still listed and recorded.
            item->setObjectName(QStringLiteral("dontWatchAction"));
            item->setCheckable(true);
            item->setChecked(!controller->isRowWatched(row));
            item->setEnabled(!mac.isEmpty() && controller->labelOf());
            connect(item, &QAction::toggled, this, [this, held, name = action.name](bool left) {
                onHeldDevice(held, [this, left, name](MainViewController &controller, int row) {
                    if (const QString problem = controller.setRowWatched(row, !left); !problem.isEmpty())
                        say(name, problem);
                })();
            });
            break;
        case RowAction::Kind::Program:
            break;
        }
    }
    addUserActions(menu, *device, label, held);
    const QPoint where = table->indexAt(at).isValid() ? at : table->visualRect(index).center();
    menu.exec(table->viewport()->mapToGlobal(where));
}

std::function<void()> MainView::onHeldDevice(const QString &held, std::function<void(MainViewController &, int row)> act)
{
    return [this, held, act = std::move(act)] {
        const auto controller = m_controller.lock();
        const int row = controller ? controller->tableViewRowOfDevice(held) : -1;
        if (row >= 0)
            act(*controller, row);
    };
}

// The user's own actions, read afresh each time; a bad file shows why in the menu.
void MainView::addUserActions(QMenu &menu, const DeviceRecord &record, const QString &label, const QString &held)
{
    const RowActionsFile file = readRowActions(rowActionsPath());
    if (!file.problem.isEmpty()) {
        if (file.problem != m_actionsProblemSaid)
            logLine(lcApp, "Actions file not used: %@", file.problem);
        m_actionsProblemSaid = file.problem;
        menu.addSeparator();
        menu.addAction(tr("Your actions are not shown: %1").arg(file.problem))->setEnabled(false);
        return;
    }
    m_actionsProblemSaid.clear();
    if (!file.actions.isEmpty())
        menu.addSeparator();
    for (const RowAction &action : file.actions) {
        // A "&" in the user's name is no shortcut.
        QAction *item = menu.addAction(QString(action.name).replace(u'&', QStringLiteral("&&")));
        const ExpandedCommand command = expandCommand(action.command, record, label);
        if (command.arguments.isEmpty()) {
            item->setEnabled(false);
            item->setToolTip(command.unavailable);
            continue;
        }
        // With the device's record as it is when chosen: it may have moved meanwhile.
        connect(item, &QAction::triggered, this,
                onHeldDevice(held, [this, action](MainViewController &controller, int row) {
                    const Device now = controller.filteredDevices().at(row);
                    const LabelOf labelOf = controller.labelOf();
                    const QStringList arguments = expandCommand(action.command, *now, labelOf ? labelOf(*now) : QString()).arguments;
                    if (arguments.isEmpty())
                        return;
                    const ProgramStart start = startDetachedProgram(arguments);
                    if (!start.started)
                        say(action.name, tr("%1 could not be started: %2").arg(action.name, start.error));
                }));
    }
}

void MainView::say(const QString &title, const QString &text)
{
    auto *box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextFormat(Qt::PlainText);
    box->open();
}

// Run > Watch, Run > Watch Interval and Run > Missing After, as the preferences left them.
void MainView::addWatchActions()
{
    Preferences &preferences = Preferences::standard();
    auto *separator = new QAction(this);
    separator->setSeparator(true);
    addAction(separator);
    m_watchAction = new QAction(tr("&Watch"), this);
    m_watchAction->setObjectName(QStringLiteral("watchAction"));
    m_watchAction->setCheckable(true);
    m_watchAction->setChecked(preferences.value(WatchKey).toBool());
    addAction(m_watchAction);

    // A menu of choices, one checked: the one the preferences hold, else `fallback`. A value
    // the menu lacks but a watch may take (a settings file's) is one more item, in its order.
    const auto addChoices = [&](const QString &title, const char *name, const QString &key, std::span<const int> offered,
                                std::pair<int, int> bounds, int fallback, const std::function<QString(int)> &text) {
        auto *menu = new QMenu(title, this);
        auto *group = new QActionGroup(this);
        QList<int> values(offered.begin(), offered.end());
        bool whole = false;
        const int stored = preferences.value(key).toInt(&whole);
        const int chosen = whole && stored >= bounds.first && stored <= bounds.second ? stored : fallback;
        if (!values.contains(chosen))
            values.insert(std::upper_bound(values.begin(), values.end(), chosen) - values.begin(), chosen);
        for (const int value : values) {
            QAction *choice = menu->addAction(text(value));
            choice->setCheckable(true);
            choice->setData(value);
            choice->setChecked(value == chosen);
            group->addAction(choice);
        }
        menu->menuAction()->setObjectName(QLatin1StringView(name));
        addAction(menu->menuAction());
        return group;
    };
    m_watchIntervals = addChoices(tr("Watch &Interval"), "watchIntervalAction", WatchIntervalKey, watchIntervals,
                                  {minWatchIntervalMinutes, maxWatchIntervalMinutes}, 1, [this](int minutes) {
                                      if (std::count(std::begin(watchIntervals), std::end(watchIntervals), minutes) == 0)
                                          return tr("Every %1 Minutes").arg(groupedNumber(quint64(minutes)));
                                      return minutes == 1 ? tr("1 Minute") : tr("%1 Minutes").arg(minutes);
                                  });
    m_watchMissingAfter = addChoices(tr("&Missing After"), "watchMissingAfterAction", WatchMissingAfterKey, watchMissingAfters,
                                     {WatchRule::minMissingAfter, WatchRule::maxMissingAfter}, WatchRule().missingAfter,
                                     [this](int runs) {
                                         return runs == 1 ? tr("1 Run") : tr("%1 Runs").arg(groupedNumber(quint64(runs)));
                                     });
    // A choice is remembered as the user makes it; a start at login watches without it.
    connect(m_watchAction, &QAction::triggered, this, [](bool watch) { Preferences::standard().setValue(WatchKey, watch); });
    connect(m_watchAction, &QAction::toggled, this, &MainView::watchChanged);
    const auto remember = [this] {
        Preferences::standard().setValue(WatchIntervalKey, m_watchIntervals->checkedAction()->data());
        Preferences::standard().setValue(WatchMissingAfterKey, m_watchMissingAfter->checkedAction()->data());
        watchChanged();
    };
    connect(m_watchIntervals, &QActionGroup::triggered, this, remember);
    connect(m_watchMissingAfter, &QActionGroup::triggered, this, remember);
    // Once the window has started its first run, which watching then begins with.
    QMetaObject::invokeMethod(this, &MainView::watchChanged, Qt::QueuedConnection);
}

void MainView::watchChanged()
{
    const int minutes = m_watchIntervals->checkedAction()->data().toInt();
    if (const auto controller = m_controller.lock())
        controller->setWatching(m_watchAction->isChecked(), std::chrono::minutes(minutes),
                                {.missingAfter = m_watchMissingAfter->checkedAction()->data().toInt()});
}

// Run > Start at Login: checked while the autostart entry is there.
void MainView::addStartAtLoginAction()
{
    auto *startAtLogin = new QAction(tr("Start at &Login"), this);
    startAtLogin->setObjectName(QStringLiteral("startAtLoginAction"));
    startAtLogin->setCheckable(true);
    startAtLogin->setChecked(startsAtLogin());
    addAction(startAtLogin);
    connect(startAtLogin, &QAction::toggled, this, [this, startAtLogin](bool start) {
        if (const std::optional<QString> problem = setStartAtLogin(start)) {
            const QSignalBlocker blocker(startAtLogin);
            startAtLogin->setChecked(startsAtLogin());
            say(tr("Start at Login"), tr("The login start could not be changed: %1").arg(*problem));
        }
    });
}
