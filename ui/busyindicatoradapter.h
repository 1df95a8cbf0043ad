#pragma once

#include "platform/controls.h"

#include <QPointer>
#include <QProgressBar>

#include <functional>

// The busy indicator: a progress bar without a known end, which moves while it animates.
// `animating` hears when it starts and stops, for what the window shows beside it. Nothing
// once the bar has gone. Main thread.
class BusyIndicatorAdapter final : public ProgressIndicator {
public:
    BusyIndicatorAdapter(QProgressBar *bar, std::function<void(bool)> animating)
        : m_bar(bar), m_animating(std::move(animating))
    {
    }

    void setHidden(bool hidden) override
    {
        if (m_bar)
            m_bar->setHidden(hidden);
    }
    // A bar whose range is empty shows Qt's busy animation; a range of one stands it still.
    void startAnimation() override { animate(true); }
    void stopAnimation() override { animate(false); }

private:
    void animate(bool on)
    {
        if (m_bar)
            m_bar->setRange(0, on ? 0 : 1);
        if (m_animating)
            m_animating(on);
    }

    QPointer<QProgressBar> m_bar;
    std::function<void(bool)> m_animating;
};
