#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include <QObject>
#include <QString>
#include <QSystemTrayIcon>

#include "ui/tray_host.h"

class QMenu;
class QTimer;

/// The program's place in the notification area: the tray icon with its tip
/// and menu, and its notices. The window connects to the signals and never
/// touches the icon itself.
class DesktopIntegration final : public TrayHost {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DesktopIntegration)

public:
    /// Whether the desktop has a notification area right now.
    using TrayProbe = std::function<bool()>;
    /// Shows a notice through the icon.
    using Notifier = std::function<void(QSystemTrayIcon& icon, const QString& title, const QString& text)>;

    /// Qt says nothing when a panel with a notification area comes or goes, so
    /// its presence is asked again at this pace.
    static constexpr std::chrono::milliseconds tray_check_interval{2000};

    /// Builds the icon (tip "Quillmoor", the program's icon) and its menu, not
    /// shown yet. Empty seams stand for Qt's own answer and notices.
    explicit DesktopIntegration(QObject* parent = nullptr, TrayProbe tray_available = {}, Notifier notifier = {});
    ~DesktopIntegration() override;

    void show_icon() override;
    void remove_icon() override;
    /// True while the icon is shown and a notification area exists to hold it:
    /// only then may the window hide, or the user would have nothing to click.
    bool is_active() const override;
    bool is_available() const override { return tray_available_(); }
    /// The icon's context menu, `mPopupSys`, with "&Restaurer" and " &Quitter".
    QMenu* menu() const { return menu_.get(); }
    /// A short notice beside the icon that asks nothing of the user.
    void show_notification(const QString& title, const QString& text) override;

public slots:
    /// Asks again whether a notification area exists, and says so when the
    /// answer changed; the timer calls it every tray_check_interval.
    void check_tray_availability();

private:
    void icon_activated(QSystemTrayIcon::ActivationReason reason);

    TrayProbe tray_available_;
    Notifier notifier_;
    std::unique_ptr<QMenu> menu_;
    QSystemTrayIcon* icon_ = nullptr;
    QTimer* check_timer_ = nullptr;
    bool last_available_ = false;
};
