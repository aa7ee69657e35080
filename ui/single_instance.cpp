#include "ui/single_instance.h"

#include <algorithm>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include "store/file_lock.h"

namespace {

/// The one request there is, a line; anything longer is not ours.
const QByteArray activate_request = QByteArrayLiteral("activate\n");
constexpr qint64 longest_request = 64;
/// A peer that has not sent its line by then is dropped, so that nothing it
/// does can hold the running instance.
constexpr std::chrono::seconds peer_patience{5};
/// Between two tries to reach a running instance that holds the lock but is
/// not listening yet.
constexpr std::chrono::milliseconds retry_pause{50};

QString user_name() {
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_name && *entry->pw_name)
        return QString::fromLocal8Bit(entry->pw_name);
    return QString::number(getuid());
}

} // namespace

QString SingleInstance::default_server_name(const QString& data_folder) {
    // The runtime folder is the user's own (mode 0700): no one else can put a
    // socket there to answer in the running instance's place.
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    const QByteArray digest = QCryptographicHash::hash(data_folder.toUtf8(), QCryptographicHash::Sha256).toHex();
    return folder + QStringLiteral("/quillmoor-") + user_name() + QLatin1Char('-') +
           QString::fromLatin1(digest.left(12));
}

SingleInstance::SingleInstance(QString server_name, QObject* parent)
    : QObject(parent), server_name_(std::move(server_name)),
      socket_path_(QDir::isAbsolutePath(server_name_) ? server_name_ : QDir(QDir::tempPath()).filePath(server_name_)) {}

SingleInstance::~SingleInstance() {
    // The server closes and unlinks its socket with the object (a child),
    // before the lock goes, so that no later start finds a dead socket.
    delete server_;
}

SingleInstance::Role SingleInstance::start(std::chrono::milliseconds timeout) {
    if (role_ != Role::undecided)
        return role_;
    Result<UniqueFd, LockFailure> lock =
        lock_file(QFile::encodeName(socket_path_ + QStringLiteral(".lock")).toStdString());
    if (lock) {
        lock_fd_ = std::move(*lock);
        return become_primary();
    }
    if (lock.kind() != LockFailure::held_elsewhere)
        return fail(QString::fromStdString(lock.error()));
    return ask_primary(timeout);
}

SingleInstance::Role SingleInstance::become_primary() {
    // Holding the lock, no other instance is alive: a socket file still there
    // was left by one that crashed. Only a socket is removed, never a file
    // that happens to bear the name.
    struct stat status {};
    const QByteArray path = QFile::encodeName(socket_path_);
    if (lstat(path.constData(), &status) == 0) {
        if (!S_ISSOCK(status.st_mode))
            return fail(QStringLiteral("%1 existe et n'est pas une prise locale").arg(socket_path_));
        QLocalServer::removeServer(socket_path_);
    }
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::accept_connections);
    if (!server_->listen(socket_path_))
        return fail(QStringLiteral("impossible d'écouter sur %1 (%2)").arg(socket_path_, server_->errorString()));
    return role_ = Role::primary;
}

SingleInstance::Role SingleInstance::ask_primary(std::chrono::milliseconds timeout) {
    const QDeadlineTimer deadline(timeout);
    QLocalSocket socket;
    // The running instance may hold the lock a moment before it listens.
    for (;;) {
        socket.connectToServer(socket_path_);
        if (socket.waitForConnected(int(deadline.remainingTime())))
            break;
        if (deadline.hasExpired())
            return fail(QStringLiteral("le programme déjà lancé ne répond pas (%1)").arg(socket.errorString()));
        QThread::msleep(std::min<qint64>(retry_pause.count(), deadline.remainingTime()));
    }
    socket.write(activate_request);
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
            return fail(QStringLiteral("le programme déjà lancé ne répond pas (%1)").arg(socket.errorString()));
    }
    socket.disconnectFromServer();
    return role_ = Role::secondary;
}

SingleInstance::Role SingleInstance::fail(const QString& reason) {
    delete server_;
    server_ = nullptr;
    lock_fd_.reset();
    error_ = reason;
    return role_ = Role::failed;
}

void SingleInstance::accept_connections() {
    while (QLocalSocket* peer = server_->nextPendingConnection()) {
        connect(peer, &QLocalSocket::readyRead, this, [this, peer] { read_request(peer); });
        connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        QTimer::singleShot(peer_patience, peer, &QObject::deleteLater);
        // The peer may have written and gone before we got here.
        read_request(peer);
    }
}

void SingleInstance::read_request(QLocalSocket* peer) {
    if (!peer->canReadLine()) {
        if (peer->bytesAvailable() > longest_request)
            peer->deleteLater();
        return;
    }
    const QByteArray line = peer->readLine(longest_request + 1);
    // One request per connection.
    disconnect(peer, &QLocalSocket::readyRead, this, nullptr);
    peer->disconnectFromServer();
    if (line == activate_request)
        emit activation_requested();
}
