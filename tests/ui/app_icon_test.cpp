#include "ui/app_icon.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QPixmap>

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
