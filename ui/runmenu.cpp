#include "ui/runmenu.h"

#include "controller/mainviewcontroller.h"
#include "history/devicewatch.h"
#include "platform/autostart.h"
#include "platform/englishtext.h"
#include "platform/preferences.h"
#include "platform/sitename.h"
#include "ui/mainview.h"

#include <QAction>
#include <QActionGroup>
#include <QInputDialog>
#include <QMenu>
#include <QWidget>

#include <span>

namespace {

// The choices of Watch Interval (minutes) and Missing After (runs).
constexpr int watchIntervals[] = {1, 5, 15, 60};
constexpr int watchMissingAfters[] = {1, 2, 3, 5, 10};

} // namespace

RunMenu::RunMenu(MainViewController &controller, MainView *view, Say say)
    : QObject(view), m_controller(controller.weak_from_this()), m_view(view), m_say(std::move(say))
{
    addWatchActions();
    addSiteNameAction();
    addStartAtLoginAction();
}

void RunMenu::watchThisStart()
{
    QMetaObject::invokeMethod(this, [this] { m_watchAction->setChecked(true); }, Qt::QueuedConnection);
}

// Run > Watch, what it watches, Run > Watch Interval and Run > Missing After, as the
// preferences left them.
void RunMenu::addWatchActions()
{
    Preferences &preferences = Preferences::standard();
    auto *separator = new QAction(m_view);
    separator->setSeparator(true);
    m_view->addAction(separator);
    m_watchAction = new QAction(tr("&Watch"), m_view);
    m_watchAction->setObjectName(QStringLiteral("watchAction"));
    m_watchAction->setCheckable(true);
    m_watchAction->setChecked(preferences.value(WatchKey).toBool());
    m_view->addAction(m_watchAction);
    // What a round asks, one at least: stored as neither (a settings file's), the broadcast.
    const auto addWatched = [&](const QString &title, const char *name, const QString &key) {
        auto *choice = new QAction(title, m_view);
        choice->setObjectName(QLatin1StringView(name));
        choice->setCheckable(true);
        choice->setChecked(preferences.value(key).toBool());
        m_view->addAction(choice);
        return choice;
    };
    m_watchLocalNetwork = addWatched(tr("Watch Local Network"), "watchLocalNetworkAction", WatchLocalNetworkKey);
    m_watchRange = addWatched(tr("Watch the Range"), "watchRangeAction", WatchRangeKey);
    if (!m_watchRange->isChecked())
        m_watchLocalNetwork->setChecked(true);

    // A menu of choices, one checked: the one the preferences hold, else `fallback`. A value
    // the menu lacks but a watch may take (a settings file's) is one more item, in its order.
    const auto addChoices = [&](const QString &title, const char *name, const QString &key, std::span<const int> offered,
                                std::pair<int, int> bounds, int fallback, const std::function<QString(int)> &text) {
        auto *menu = new QMenu(title, m_view);
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
        m_view->addAction(menu->menuAction());
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
    connect(m_watchAction, &QAction::toggled, this, &RunMenu::watchChanged);
    const auto remember = [this] {
        Preferences::standard().setValue(WatchIntervalKey, m_watchIntervals->checkedAction()->data());
        Preferences::standard().setValue(WatchMissingAfterKey, m_watchMissingAfter->checkedAction()->data());
        watchChanged();
    };
    connect(m_watchIntervals, &QActionGroup::triggered, this, remember);
    connect(m_watchMissingAfter, &QActionGroup::triggered, this, remember);
    // Watch must watch something: the last choice left on cannot be taken off.
    for (QAction *watched : {m_watchLocalNetwork, m_watchRange})
        connect(watched, &QAction::triggered, this, [this, watched] {
            if (!m_watchLocalNetwork->isChecked() && !m_watchRange->isChecked())
                watched->setChecked(true);
            Preferences::standard().setValue(WatchLocalNetworkKey, m_watchLocalNetwork->isChecked());
            Preferences::standard().setValue(WatchRangeKey, m_watchRange->isChecked());
            watchChanged();
        });
    // Once the window has started its first run, which watching then begins with.
    QMetaObject::invokeMethod(this, &RunMenu::watchChanged, Qt::QueuedConnection);
}

void RunMenu::watchChanged()
{
    const int minutes = m_watchIntervals->checkedAction()->data().toInt();
    m_view->setWatching(m_watchAction->isChecked(), std::chrono::minutes(minutes),
                        {.missingAfter = m_watchMissingAfter->checkedAction()->data().toInt()},
                        {.localNetwork = m_watchLocalNetwork->isChecked(), .range = m_watchRange->isChecked()});
}

// Run > Site Name...: the name every line of the presence log carries; one that is no name is
// refused, with why.
void RunMenu::addSiteNameAction()
{
    auto *siteName = new QAction(tr("Site &Name\u2026"), m_view);
    siteName->setObjectName(QStringLiteral("siteNameAction"));
    m_view->addAction(siteName);
    connect(siteName, &QAction::triggered, this, [this] {
        const auto controller = m_controller.lock();
        if (!controller)
            return;
        auto *dialog = new QInputDialog(m_view);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setObjectName(QStringLiteral("siteNameDialog"));
        dialog->setWindowTitle(tr("Site Name"));
        dialog->setLabelText(tr("The name of the place this computer watches (letters, digits, - and _):"));
        dialog->setTextValue(controller->siteName());
        connect(dialog, &QInputDialog::textValueSelected, this, [this](const QString &name) {
            if (const std::optional<QString> problem = siteNameProblem(name)) {
                m_say(tr("Site Name"), tr("The site's name was not changed: %1").arg(*problem));
                return;
            }
            Preferences::standard().setValue(SiteNameKey, name);
            if (const auto controller = m_controller.lock())
                controller->setSiteName(name);
            watchChanged();
        });
        dialog->open();
    });
}

// Run > Start at Login: checked while the autostart entry is there.
void RunMenu::addStartAtLoginAction()
{
    auto *startAtLogin = new QAction(tr("Start at &Login"), m_view);
    startAtLogin->setObjectName(QStringLiteral("startAtLoginAction"));
    startAtLogin->setCheckable(true);
    startAtLogin->setChecked(startsAtLogin());
    m_view->addAction(startAtLogin);
    connect(startAtLogin, &QAction::toggled, this, [this, startAtLogin](bool start) {
        if (const Result<> changed = setStartAtLogin(start); !changed) {
            const QSignalBlocker blocker(startAtLogin);
            startAtLogin->setChecked(startsAtLogin());
            m_say(tr("Start at Login"), tr("The login start could not be changed: %1").arg(changed.reason()));
        }
    });
}
