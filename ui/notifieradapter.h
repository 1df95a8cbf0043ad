#pragma once

#include "platform/controls.h"
#include "ui/desktopnotifier.h"

#include <QPointer>

// The desktop notifications as the controller uses them; nothing once the notifier has
// gone. Main thread.
class NotifierAdapter final : public ChangeNotifier {
public:
    explicit NotifierAdapter(DesktopNotifier *notifier) : m_notifier(notifier) {}

    void notify(const QString &summary, const QString &markupBody, const QString &plainBody) override
    {
        if (m_notifier)
            m_notifier->notify(summary, markupBody, plainBody);
    }

private:
    QPointer<DesktopNotifier> m_notifier;
};
