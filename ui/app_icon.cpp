#include "ui/app_icon.h"

#include <QSize>
#include <QString>

QIcon app_icon() {
    // The 16-pixel one is drawn apart, on its own grid, to stay sharp.
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1x%1/quillmoor.png").arg(size), QSize(size, size));
    return icon;
}
