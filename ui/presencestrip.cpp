#include "ui/presencestrip.h"

#include "ui/windowpalette.h"

#include <QPainter>

PresenceStrip::PresenceStrip(QList<PresenceSpan> spans, const QString &summary, QWidget *parent)
    : QWidget(parent), m_spans(std::move(spans))
{
    setAccessibleName(summary);
    setToolTip(summary);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

// As tall as a line and a half of text, so that it grows with the font and the scale.
QSize PresenceStrip::sizeHint() const
{
    return {fontMetrics().averageCharWidth() * 60, fontMetrics().height() * 3 / 2};
}

QSize PresenceStrip::minimumSizeHint() const
{
    return {fontMetrics().averageCharWidth() * 20, fontMetrics().height() * 3 / 2};
}

void PresenceStrip::paintEvent(QPaintEvent *)
{
    if (m_spans.isEmpty())
        return;
    QPainter painter(this);
    const QPalette &colours = palette();
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qint64 whole = std::max<qint64>(1, m_spans.first().start.secsTo(m_spans.last().end));
    for (const PresenceSpan &span : std::as_const(m_spans)) {
        const double left = area.left() + area.width() * double(m_spans.first().start.secsTo(span.start)) / double(whole);
        const double right = area.left() + area.width() * double(m_spans.first().start.secsTo(span.end)) / double(whole);
        const QRectF part(left, area.top(), right - left, area.height());
        switch (span.state) {
        case PresenceSpan::State::Present:
            painter.fillRect(part, colours.color(QPalette::Highlight));
            break;
        case PresenceSpan::State::Absent:
            painter.fillRect(part, readableOrange(colours));
            break;
        case PresenceSpan::State::Unknown:
            painter.fillRect(part, colours.color(QPalette::Base));
            painter.fillRect(part, QBrush(colours.color(QPalette::PlaceholderText), Qt::BDiagPattern));
            break;
        }
    }
    painter.setPen(colours.color(QPalette::Text));
    painter.drawRect(area);
}
