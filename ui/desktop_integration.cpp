#include "ui/desktop_integration.h"

#include <QAction>
#include <QMenu>
#include <QTimer>

#include "ui/app_icon.h"

namespace {

constexpr int notification_duration = 10000; // ms

void show_message_through_icon(QSystemTrayIcon& icon, const QString& title, const QString& text) {
    icon.showMessage(title, text, icon.icon(), notification_duration);
}

} // namespace

DesktopIntegration::DesktopIntegration(QObject* parent, TrayProbe tray_available, Notifier notifier)
    : TrayHost(parent),
      tray_available_(tray_available ? std::move(tray_available) : &QSystemTrayIcon::isSystemTrayAvailable),
      notifier_(notifier ? std::move(notifier) : &show_message_through_icon), menu_(std::make_unique<QMenu>()) {
    menu_->setObjectName(QStringLiteral("mPopupSys"));
    menu_->setTitle(QStringLiteral("&SysTRay"));
    QAction* restore = menu_->addAction(QStringLiteral("&Restaurer"));
    restore->setObjectName(QStringLiteral("mPopRestore"));
    connect(restore, &QAction::triggered, this, &DesktopIntegration::activation_requested);
    QAction* exit = menu_->addAction(QStringLiteral(" &Quitter"));
    exit->setObjectName(QStringLiteral("mPopExit"));
    connect(exit, &QAction::triggered, this, &DesktopIntegration::quit_requested);

    icon_ = new QSystemTrayIcon(app_icon(), this);
    icon_->setToolTip(QStringLiteral("Quillmoor"));
    // The menu belongs to the icon: tray hosts that draw menus themselves
    // (StatusNotifierItem) then show it on a right click, and the window
    // never sees that click.
    icon_->setContextMenu(menu_.get());
    connect(icon_, &QSystemTrayIcon::activated, this, &DesktopIntegration::icon_activated);
    connect(icon_, &QSystemTrayIcon::messageClicked, this, &TrayHost::notice_clicked);

    last_available_ = tray_available_();
    check_timer_ = new QTimer(this);
    check_timer_->setInterval(tray_check_interval);
    connect(check_timer_, &QTimer::timeout, this, &DesktopIntegration::check_tray_availability);
    check_timer_->start();
}

DesktopIntegration::~DesktopIntegration() {
    // The icon goes before its menu, so that it never points at a deleted one.
    delete icon_;
}

void DesktopIntegration::show_icon() {
    icon_->show();
}

void DesktopIntegration::remove_icon() {
    icon_->hide();
}

bool DesktopIntegration::is_active() const {
    // Asked afresh rather than from the last check: a stale "yes" would let
    // the window hide with nothing left to bring it back.
    return icon_->isVisible() && tray_available_();
}

void DesktopIntegration::show_notification(const QString& title, const QString& text) {
    notifier_(*icon_, title, text);
}

void DesktopIntegration::check_tray_availability() {
    const bool available = tray_available_();
    if (available == last_available_)
        return;
    last_available_ = available;
    emit availability_changed(available);
}

void DesktopIntegration::icon_activated(QSystemTrayIcon::ActivationReason reason) {
    // A right click (Context) only opens the menu; the middle button does nothing.
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
        emit activation_requested();
}
