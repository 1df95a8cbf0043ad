#include "ui/mainview.h"

#include "controller/mainviewcontroller.h"
#include "scan/scanprogresstext.h"
#include "ui/busyindicatoradapter.h"
#include "ui/desktopworkspace.h"
#include "ui/devicetablemodel.h"
#include "ui/discoveryreportdialog.h"
#include "ui/elidedlabel.h"
#include "ui/infolineadapter.h"
#include "ui/localrangesmenu.h"
#include "ui/missingdevicesdialog.h"
#include "ui/notifieradapter.h"
#include "ui/openbuttondelegate.h"
#include "ui/pushbuttonadapter.h"
#include "ui/rowmenu.h"
#include "ui/runmenu.h"
#include "ui/runcontroladapter.h"
#include "ui/searchfieldadapter.h"
#include "ui/tableviewadapter.h"
#include "ui/textfieldadapter.h"
#include "ui/trayicon.h"
#include "ui_mainviewcontroller.h"
#include "watch/watchoutputs.h"
#include "watch/watchsession.h"
#include "watch/windowstatusoutput.h"

#include <QKeyEvent>
#include <QMessageBox>
#include <QStyle>

namespace {

// A few times a second: enough to see a scan move, cheap for the main thread.
constexpr int progressIntervalMs = 250;

} // namespace

MainView::MainView(MainViewController &controller, QWidget *parent)
    : QWidget(parent), m_controller(controller.weak_from_this()), m_form(std::make_unique<Ui::MainViewController>())
{
    m_form->setupUi(this);
    // No run is in progress until the controller starts one.
    m_form->progressIndicator->hide();
    m_form->progressLabel->hide();
    // While it shows, the scan's progress takes the toolbar's free room, not the gap after it.
    m_form->toolbar->setStretchFactor(m_form->progressLabel, 1);
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
    controller.setControls({.discoverButton = m_discoverButton,
                            .ipRangeButton = m_ipRangeButton,
                            .ipRangeTextBox = m_ipRangeTextBox,
                            .search = m_search,
                            .tableView = m_tableView,
                            .stopButton = m_stopButton,
                            .historyLine = m_historyLine,
                            .reportLine = m_reportLine,
                            .progressIndicator = m_progressIndicator});
    controller.setWorkspace(std::make_shared<DesktopWorkspace>());
    auto *notifier = new DesktopNotifier(this);
    m_notifier = std::make_shared<NotifierAdapter>(notifier);
    m_watchNotifier = m_notifier;
    const auto sayProblem = [this](const QString &title, const QString &text) { say(title, text); };
    m_runMenu = new RunMenu(controller, this, sayProblem);
    m_tray = std::make_shared<TrayIcon>(controller, m_runMenu->watchAction(), this, notifier);
    controller.setStatusTip(m_tray);
    connect(notifier, &DesktopNotifier::activated, m_tray.get(), &TrayIcon::showWindow);

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

    m_rowMenu = std::make_unique<RowMenu>(controller, m_form->tableView, this, sayProblem);
    m_form->tableView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_form->tableView, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) { m_rowMenu->exec(at); });
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
    connect(localRanges, &QAction::triggered, this, [this] { LocalRangesMenu::popUp(m_form->ipRangeTextBox); });
    // The search field's clear button is named after what it does, for screen readers.
    if (auto *clear = m_form->search->findChild<QAction *>(QStringLiteral("_q_qlineeditclearaction")))
        clear->setText(tr("Clear search"));
    // The keyboard's ways to the table's rows and to the networks on offer.
    m_form->tableView->installEventFilter(this);
    m_form->ipRangeTextBox->installEventFilter(this);
}

MainView::~MainView() = default;

void MainView::setWatching(bool watching, std::chrono::milliseconds interval, WatchRule rule, WindowWatchChoices choices)
{
    const auto controller = m_controller.lock();
    if (!watching || !controller) {
        m_watch.reset();
        return;
    }
    // Neither choice is no watch: the broadcast is watched.
    if (!choices.localNetwork && !choices.range)
        choices.localNetwork = true;
    WatchChoices next{.discover = choices.localNetwork, .every = interval, .rule = rule, .site = controller->siteName()};
    // The range box is read as it is now, when watching begins or what it watches changes.
    if (m_watch && choices == m_watchChoices)
        next.ranges = m_watch->choices().ranges;
    else if (choices.range)
        next.ranges = rangeBoxRanges(controller);
    m_watchChoices = choices;
    if (m_watch) {
        m_watch->setChoices(std::move(next));
        return;
    }
    m_watch = std::make_unique<WatchSession>(controller, WatchFace::Window, std::move(next));
    m_watch->addOutput(std::make_unique<WindowStatusOutput>(controller));
    addSharedOutputs(*m_watch, {m_watchNotifier, {}});
    m_watch->start();
}

bool MainView::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
    if (watched == m_form->ipRangeTextBox) {
        // As a combo box offers its list.
        if ((key->key() == Qt::Key_Down && modifiers == Qt::AltModifier) || (key->key() == Qt::Key_F4 && !modifiers)) {
            LocalRangesMenu::popUp(m_form->ipRangeTextBox);
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
        m_rowMenu->exec(table->visualRect(table->currentIndex()).center());
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
    m_runMenu->watchThisStart();
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
                                            controller->labelOf(), this, [this](const QString &mac, const QString &name) {
                                                m_rowMenu->showHistory(mac, name);
                                            });
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

void MainView::say(const QString &title, const QString &text)
{
    auto *box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextFormat(Qt::PlainText);
    box->open();
}
