#include "window_fixture.h"

#include <QAction>
#include <QColor>
#include <QImage>
#include <QMenu>
#include <QSignalSpy>
#include <QTimer>

#include "ui/app_icon.h"

TEST(AppIcon, EverySizeIsRenderedWithItsGlobe) {
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        SCOPED_TRACE(size);
        const QImage image(QStringLiteral(":/icons/%1x%1/quillmoor.png").arg(size));
        ASSERT_EQ(image.size(), QSize(size, size));
        EXPECT_EQ(app_icon().pixmap(size).toImage().convertToFormat(image.format()), image);
        // The middle of the globe, in the lower right, is opaque sea blue; the corners are transparent.
        const QColor sea = image.pixelColor(size * 11 / 16, size * 11 / 16);
        EXPECT_EQ(sea.alpha(), 255);
        EXPECT_GT(sea.blue(), std::max(sea.red(), sea.green()) + 30);
        EXPECT_EQ(image.pixelColor(size - 1, 0).alpha(), 0);
    }
}

TEST(DesktopIntegration, IconMenuAndClicks) {
    Tray tray;
    QSignalSpy activations(&tray.integration, &TrayHost::activation_requested);
    QSignalSpy quits(&tray.integration, &TrayHost::quit_requested);
    EXPECT_EQ(tray.icon().toolTip(), "Quillmoor");
    EXPECT_FALSE(tray.icon().icon().isNull());
    EXPECT_EQ(tray.icon().contextMenu(), tray.integration.menu());
    QStringList items;
    for (QAction* item : tray.integration.menu()->actions()) {
        items << item->objectName() + '=' + item->text();
        item->trigger();
    }
    EXPECT_EQ(items, QStringList({"mPopRestore=&Restaurer", "mPopExit= &Quitter"}));
    EXPECT_EQ(activations.count(), 1);
    EXPECT_EQ(quits.count(), 1);
    // A left or double click asks for the window; a right click only opens the menu, which the icon shows itself,
    // and the middle button does nothing.
    for (const auto reason : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick, QSystemTrayIcon::Context,
                              QSystemTrayIcon::MiddleClick})
        emit tray.icon().activated(reason);
    EXPECT_EQ(activations.count(), 3);
    EXPECT_EQ(quits.count(), 1);
    // Nothing else asks whether a notification area came or went.
    EXPECT_TRUE(tray.integration.findChild<QTimer*>()->isActive());
}
