#pragma once

#include <deque>
#include <optional>

#include <QCache>
#include <QObject>
#include <QPixmap>
#include <QSet>
#include <QString>
#include <QThreadPool>

/// Small pictures of image files, made on worker threads and decoded at
/// their small size, so that a large photograph costs little; the window's
/// thread only gets the result. They are kept up to a bound of memory, the
/// least recently used going first, and made only when asked for: by the
/// pictures on screen.
class Thumbnails final : public QObject {
    Q_OBJECT

public:
    /// The largest side of a thumbnail, in pixels.
    static constexpr int side = 96;
    /// Room for some nine hundred thumbnails: more than a screen shows.
    static constexpr int default_bound_kib = 32 * 1024;

    explicit Thumbnails(QObject* parent = nullptr, int bound_kib = default_bound_kib);
    /// Forgets what was asked and waits for the thumbnails being made, which
    /// are dropped.
    ~Thumbnails() override;

    /// The thumbnail of the file at `path`: a null picture when the file is
    /// missing or does not decode. When it has not been made yet (or was
    /// dropped for room), none, and it is asked for; made() tells when it is
    /// there.
    std::optional<QPixmap> picture(const QString& path);

    /// Drops what was asked for and not begun: the pictures the user scrolled
    /// past or left.
    void forget_pending();

signals:
    void made(const QString& path);

private:
    void start_next();
    void finished(const QString& path, const QImage& image);

    QCache<QString, QPixmap> made_;
    std::deque<QString> pending_;
    /// Pending or being made.
    QSet<QString> asked_;
    int running_ = 0;
    QThreadPool pool_;
};

/// The thumbnail of the image file at `path`, at most `side` pixels wide and
/// high, decoded at that size where the format allows it; a null image when
/// the file is missing, is not a regular file, or does not decode.
QImage make_thumbnail(const QString& path, int side);
