#include "ui/thumbnails.h"

#include <algorithm>

#include <QFileInfo>
#include <QImageReader>
#include <QThread>

QImage make_thumbnail(const QString& path, int side) {
    // A pipe or a device under an image's name would hold a worker, and the
    // window that waits for it, for ever.
    if (!QFileInfo(path).isFile())
        return {};
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize full = reader.size();
    if (full.isValid() && (full.width() > side || full.height() > side))
        reader.setScaledSize(full.scaled(side, side, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    QImage image = reader.read();
    // Formats that cannot scale while decoding, or that did not say their size.
    if (image.width() > side || image.height() > side)
        image = image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

Thumbnails::Thumbnails(QObject* parent, int bound_kib) : QObject(parent), made_(bound_kib) {
    // A core stays with the window's thread, so that it never waits for the
    // decoding.
    pool_.setMaxThreadCount(std::max(1, QThread::idealThreadCount() - 1));
}

Thumbnails::~Thumbnails() {
    // The results posted meanwhile go with this object.
    forget_pending();
    pool_.waitForDone();
}

std::optional<QPixmap> Thumbnails::picture(const QString& path) {
    if (const QPixmap* found = made_.object(path))
        return *found;
    if (!asked_.contains(path)) {
        asked_.insert(path);
        pending_.push_back(path);
        start_next();
    }
    return std::nullopt;
}

void Thumbnails::forget_pending() {
    for (const QString& path : pending_)
        asked_.remove(path);
    pending_.clear();
}

void Thumbnails::start_next() {
    while (running_ < pool_.maxThreadCount() && !pending_.empty()) {
        const QString path = pending_.front();
        pending_.pop_front();
        ++running_;
        pool_.start([this, path] {
            const QImage image = make_thumbnail(path, side);
            QMetaObject::invokeMethod(
                this, [this, path, image] { finished(path, image); }, Qt::QueuedConnection);
        });
    }
}

void Thumbnails::finished(const QString& path, const QImage& image) {
    --running_;
    asked_.remove(path);
    auto* pixmap = new QPixmap(QPixmap::fromImage(image));
    // Costed in KiB; a picture that could not be made costs a little, so
    // that it is not asked for again at every repaint.
    made_.insert(path, pixmap, std::max<qsizetype>(1, qsizetype(image.sizeInBytes()) / 1024));
    start_next();
    emit made(path);
}
