#pragma once

#include "ui/tray_host.h"

/// The notification area of a desktop that has none: the window then never
/// hides itself, and a start in the tray shows the window after a while.
class NoTray final : public TrayHost {
public:
    using TrayHost::TrayHost;

    bool isActive() const override { return false; }
    bool isAvailable() const override { return false; }
    void showIcon() override {}
    void removeIcon() override {}
    void showNotification(const QString&, const QString&) override {}
};
