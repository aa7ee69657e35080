#include "ui/desktop_integration.h"

#include <QAction>
#include <QMenu>
#include <QTimer>

#include "ui/app_icon.h"

namespace {

constexpr int notificationDuration = 10000; // ms

void showMessageThroughIcon(QSystemTrayIcon& icon, const QString& title, const QString& text) {
    icon.showMessage(title, text, icon.icon(), notificationDuration);
}

} // namespace

DesktopIntegration::DesktopIntegration(QObject* parent, TrayProbe trayAvailable, Notifier notifier)
    : TrayHost(parent),
      trayAvailable_(trayAvailable ? std::move(trayAvailable) : &QSystemTrayIcon::isSystemTrayAvailable),
      notifier_(notifier ? std::move(notifier) : &showMessageThroughIcon), menu_(std::make_unique<QMenu>()) {
    menu_->setObjectName(QStringLiteral("mPopupSys"));
    menu_->setTitle(QStringLiteral("&SysTRay"));
    QAction* restore = menu_->addAction(QStringLiteral("&Restaurer"));
    restore->setObjectName(QStringLiteral("mPopRestore"));
    connect(restore, &QAction::triggered, this, &DesktopIntegration::activationRequested);
    QAction* exit = menu_->addAction(QStringLiteral(" &Quitter"));
    exit->setObjectName(QStringLiteral("mPopExit"));
    connect(exit, &QAction::triggered, this, &DesktopIntegration::quitRequested);

    icon_ = new QSystemTrayIcon(app_icon(), this);
    icon_->setToolTip(QStringLiteral("Quillmoor"));
    // The menu belongs to the icon: tray hosts that draw menus themselves
    // (StatusNotifierItem) then show it on a right click, and the window
    // never sees that click.
    icon_->setContextMenu(menu_.get());
    connect(icon_, &QSystemTrayIcon::activated, this, &DesktopIntegration::onActivated);

    lastAvailable_ = trayAvailable_();
    checkTimer_ = new QTimer(this);
    checkTimer_->setInterval(trayCheckInterval);
    connect(checkTimer_, &QTimer::timeout, this, &DesktopIntegration::checkTrayAvailability);
    checkTimer_->start();
}

DesktopIntegration::~DesktopIntegration() {
    // The icon goes before its menu, so that it never points at a deleted one.
    delete icon_;
}

void DesktopIntegration::showIcon() {
    icon_->show();
}

void DesktopIntegration::removeIcon() {
    icon_->hide();
}

bool DesktopIntegration::isActive() const {
    // Asked afresh rather than from the last check: a stale "yes" would let
    // the window hide with nothing left to bring it back.
    return icon_->isVisible() && trayAvailable_();
}

void DesktopIntegration::showNotification(const QString& title, const QString& text) {
    notifier_(*icon_, title, text);
}

void DesktopIntegration::checkTrayAvailability() {
    const bool available = trayAvailable_();
    if (available == lastAvailable_)
        return;
    lastAvailable_ = available;
    emit availabilityChanged(available);
}

void DesktopIntegration::onActivated(QSystemTrayIcon::ActivationReason reason) {
    // A right click (Context) only opens the menu; the middle button does nothing.
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
        emit activationRequested();
}
