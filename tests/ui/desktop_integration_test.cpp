#include "ui/desktop_integration.h"

#include <gtest/gtest.h>

#include <utility>

#include <QAction>
#include <QMenu>
#include <QSignalSpy>
#include <QTimer>

namespace {

/// The tray with a notification area and notices of the test's own: the offscreen platform has neither.
struct Tray {
    bool available = true;
    QStringList notices;
    DesktopIntegration integration{
        nullptr, [this] { return available; },
        [this](QSystemTrayIcon&, const QString& title, const QString& text) { notices << title << text; }};
    QSignalSpy activations{&integration, &DesktopIntegration::activationRequested};
    QSignalSpy quits{&integration, &DesktopIntegration::quitRequested};
    QSystemTrayIcon& icon() { return *integration.findChild<QSystemTrayIcon*>(); }
};

} // namespace

TEST(DesktopIntegration, IconMenuAndNotices) {
    Tray tray;
    EXPECT_EQ(tray.icon().toolTip(), "Quillmoor");
    EXPECT_FALSE(tray.icon().icon().isNull());
    EXPECT_EQ(tray.icon().contextMenu(), tray.integration.menu());
    EXPECT_EQ(tray.integration.menu()->objectName(), "mPopupSys");
    QStringList items;
    for (const QAction* action : tray.integration.menu()->actions())
        items << action->objectName() + '=' + action->text();
    EXPECT_EQ(items, QStringList({"mPopRestore=&Restaurer", "mPopExit= &Quitter"}));
    tray.integration.showNotification("Quillmoor", "Galerie : 12 images copiées, 3 en échec");
    EXPECT_EQ(tray.notices, QStringList({"Quillmoor", "Galerie : 12 images copiées, 3 en échec"}));
}

TEST(DesktopIntegration, ClicksAndMenuItems) {
    // A right click only opens the menu, which the icon shows itself; the middle button does nothing.
    const std::pair<QSystemTrayIcon::ActivationReason, int> clicks[] = {{QSystemTrayIcon::Trigger, 1},
                                                                        {QSystemTrayIcon::DoubleClick, 1},
                                                                        {QSystemTrayIcon::Context, 0},
                                                                        {QSystemTrayIcon::MiddleClick, 0}};
    for (const auto& [reason, activations] : clicks) {
        SCOPED_TRACE(reason);
        Tray tray;
        emit tray.icon().activated(reason);
        EXPECT_EQ(tray.activations.count(), activations);
    }
    Tray tray;
    for (QAction* item : tray.integration.menu()->actions())
        item->trigger();
    EXPECT_EQ(tray.activations.count(), 1);
    EXPECT_EQ(tray.quits.count(), 1);
}

TEST(DesktopIntegration, NotificationAreaComingAndGoing) {
    Tray tray;
    QSignalSpy changes(&tray.integration, &TrayHost::availabilityChanged);
    EXPECT_FALSE(tray.integration.isActive()) << "active before the icon is shown";
    tray.integration.showIcon();
    for (const bool available : {true, false, false, true}) {
        tray.available = available;
        tray.integration.checkTrayAvailability();
        EXPECT_EQ(tray.integration.isActive(), available);
    }
    ASSERT_EQ(changes.count(), 2);
    EXPECT_FALSE(changes[0][0].toBool());
    EXPECT_TRUE(changes[1][0].toBool());
    // Nothing else asks: the timer must run.
    EXPECT_TRUE(tray.integration.findChild<QTimer*>()->isActive());
}
