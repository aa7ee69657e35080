#pragma once

#include <QObject>
#include <QString>

/// What the window needs of the notification area: an icon to show, whether
/// a tray is there to show it, and what the user does with it. The program's
/// one owns a QSystemTrayIcon; tests give their own, so that both a desktop
/// with a tray and one without are covered.
class TrayHost : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    /// The icon is shown and a notification area is there to show it: only
    /// then may the window hide itself, leaving the icon to bring it back.
    virtual bool is_active() const = 0;
    /// Whether the desktop has a notification area at all.
    virtual bool is_available() const = 0;
    virtual void show_icon() = 0;
    virtual void remove_icon() = 0;
    /// A short notice beside the icon; nothing waits for the user.
    virtual void show_notification(const QString& title, const QString& text) = 0;

signals:
    /// A left click or a double click on the icon, or "&Restaurer".
    void activation_requested();
    /// " &Quitter" in the icon's menu.
    void quit_requested();
    /// A click on a notice shown beside the icon.
    void notice_clicked();
    /// The notification area appeared or went away.
    void availability_changed(bool available);
};
