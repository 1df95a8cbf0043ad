#pragma once

#include "platform/controls.h"

#include <QDesktopServices>

// Opens URLs with the desktop's default handler: the web browser for http.
class DesktopWorkspace final : public Workspace {
public:
    void openURL(const QUrl &url) override { QDesktopServices::openUrl(url); }
};
