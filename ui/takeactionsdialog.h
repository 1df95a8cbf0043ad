#pragma once

#include "controller/rowactions.h"

#include <QDialog>

// Asks whether the actions of a settings file are taken in: programs its row menu would run
// on a device. Every action's name and whole command is listed as a terminal would show it
// (platform/safetext.h), so that no invisible character can hide what runs. "Don't Take
// Actions" is the default. Main thread.
class TakeActionsDialog final : public QDialog {
    Q_OBJECT

public:
    TakeActionsDialog(const QList<RowAction> &actions, QWidget *parent = nullptr);
};
