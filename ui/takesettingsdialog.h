#pragma once

#include "settings/rowactions.h"

#include <QDialog>
#include <QStringList>

// Asks, before a settings file is imported, whether a part that needs the user's word is
// taken in: its actions, programs its row menu would run on a device, or its watch choices
// for devices this computer knows, which a merge keeps as they are here. Every action's name
// and whole command, and every watch choice, is listed as a terminal would show it
// (platform/safetext.h), so that no invisible character can hide what is taken in. Not taking
// it in is the default. Main thread.
class TakeSettingsDialog final : public QDialog {
    Q_OBJECT

public:
    TakeSettingsDialog(const QList<RowAction> &actions, QWidget *parent = nullptr);
    // The lines keptWatchChoices gives (settings/settingstransfer.h).
    TakeSettingsDialog(const QStringList &watchChoices, QWidget *parent = nullptr);

private:
    TakeSettingsDialog(const QString &question, const QString &listed, const QString &take, const QString &leave,
                       QWidget *parent);
};
