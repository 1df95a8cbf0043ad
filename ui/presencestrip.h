#pragma once

#include "history/presencespans.h"

#include <QWidget>

// One strip of a device's presence over a span of time, left (its start) to right (now):
// present, missing and unknown each in a colour of the window's palette, unknown hatched as
// well, so that the states differ without colour too. Its accessible name is the span's
// summary. Main thread.
class PresenceStrip final : public QWidget {
    Q_OBJECT

public:
    PresenceStrip(QList<PresenceSpan> spans, const QString &summary, QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QList<PresenceSpan> m_spans;
};
