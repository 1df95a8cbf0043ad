#pragma once

#include <QMenu>

class QLineEdit;

// What the arrow at the end of the range box (or Alt+Down in it) offers: first every network
// that a scan of the computer's own networks takes, as one scan ("All my networks"), then each
// network on its own. Read afresh each time, so a network joined since the window opened is
// offered too; the box keeps its text (the remembered range) until a network is chosen. Deletes
// itself once closed. Main thread.
class LocalRangesMenu final : public QMenu {
    Q_OBJECT

public:
    // Opens the menu under the box.
    static void popUp(QLineEdit *box);

private:
    explicit LocalRangesMenu(QLineEdit *box);
};
