#pragma once

#include <QLabel>

// A one-line label of plain text that never widens its window: what does not fit ends in
// "…", the whole text is its tooltip and what a screen reader reads, and each new text is
// announced to screen readers as the label's changed name. Main thread.
class ElidedLabel final : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget *parent = nullptr);

    void setFullText(const QString &text);
    const QString &fullText() const { return m_fullText; }

    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void elide();

    QString m_fullText;
};
