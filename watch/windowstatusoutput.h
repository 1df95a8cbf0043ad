#pragma once

#include "watch/watchoutput.h"

#include <memory>

class MainViewController;

// The window's line under the table and the tray's tooltip (MainViewController::WatchStatus):
// what is watched, why its range cannot be, and the devices missing by the watch's rule.
class WindowStatusOutput final : public WatchOutput {
public:
    explicit WindowStatusOutput(std::weak_ptr<MainViewController> controller) : m_controller(std::move(controller)) {}
    void watching(const WatchSession &session) override;
    void roundEnded(const WatchSession &session, const WatchRoundEnd &end) override;
    void ended(const WatchSession &session) override;

private:
    void show(const WatchSession &session, bool judged);

    std::weak_ptr<MainViewController> m_controller;
};
