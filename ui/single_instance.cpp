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
const QByteArray activateRequest = QByteArrayLiteral("activate\n");
constexpr qint64 longestRequest = 64;
/// A peer that has not sent its line by then is dropped, so that nothing it
/// does can hold the running instance.
constexpr std::chrono::seconds peerPatience{5};
/// Between two tries to reach a running instance that holds the lock but is
/// not listening yet.
constexpr std::chrono::milliseconds retryPause{50};

QString userName() {
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_name && *entry->pw_name)
        return QString::fromLocal8Bit(entry->pw_name);
    return QString::number(getuid());
}

} // namespace

QString SingleInstance::defaultServerName(const QString& data_folder) {
    // The runtime folder is the user's own (mode 0700): no one else can put a
    // socket there to answer in the running instance's place.
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    const QByteArray digest = QCryptographicHash::hash(data_folder.toUtf8(), QCryptographicHash::Sha256).toHex();
    return folder + QStringLiteral("/quillmoor-") + userName() + QLatin1Char('-') + QString::fromLatin1(digest.left(12));
}

SingleInstance::SingleInstance(QString serverName, QObject* parent)
    : QObject(parent), serverName_(std::move(serverName)),
      socketPath_(QDir::isAbsolutePath(serverName_) ? serverName_ : QDir(QDir::tempPath()).filePath(serverName_)) {}

SingleInstance::~SingleInstance() {
    // The server closes and unlinks its socket with the object (a child),
    // before the lock goes, so that no later start finds a dead socket.
    delete server_;
}

SingleInstance::Role SingleInstance::start(std::chrono::milliseconds timeout) {
    if (role_ != Role::undecided)
        return role_;
    Result<UniqueFd, LockFailure> lock =
        lock_file(QFile::encodeName(socketPath_ + QStringLiteral(".lock")).toStdString());
    if (lock) {
        lockFd_ = std::move(*lock);
        return becomePrimary();
    }
    if (lock.kind() != LockFailure::held_elsewhere)
        return fail(QString::fromStdString(lock.error()));
    return askPrimary(timeout);
}

SingleInstance::Role SingleInstance::becomePrimary() {
    // Holding the lock, no other instance is alive: a socket file still there
    // was left by one that crashed. Only a socket is removed, never a file
    // that happens to bear the name.
    struct stat status {};
    const QByteArray path = QFile::encodeName(socketPath_);
    if (lstat(path.constData(), &status) == 0) {
        if (!S_ISSOCK(status.st_mode))
            return fail(QStringLiteral("%1 existe et n'est pas une prise locale").arg(socketPath_));
        QLocalServer::removeServer(socketPath_);
    }
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    if (!server_->listen(socketPath_))
        return fail(QStringLiteral("impossible d'écouter sur %1 (%2)").arg(socketPath_, server_->errorString()));
    return role_ = Role::primary;
}

SingleInstance::Role SingleInstance::askPrimary(std::chrono::milliseconds timeout) {
    const QDeadlineTimer deadline(timeout);
    QLocalSocket socket;
    // The running instance may hold the lock a moment before it listens.
    for (;;) {
        socket.connectToServer(socketPath_);
        if (socket.waitForConnected(int(deadline.remainingTime())))
            break;
        if (deadline.hasExpired())
            return fail(QStringLiteral("le programme déjà lancé ne répond pas (%1)").arg(socket.errorString()));
        QThread::msleep(std::min<qint64>(retryPause.count(), deadline.remainingTime()));
    }
    socket.write(activateRequest);
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
    lockFd_.reset();
    error_ = reason;
    return role_ = Role::failed;
}

void SingleInstance::acceptConnections() {
    while (QLocalSocket* peer = server_->nextPendingConnection()) {
        connect(peer, &QLocalSocket::readyRead, this, [this, peer] { readRequest(peer); });
        connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        QTimer::singleShot(peerPatience, peer, &QObject::deleteLater);
        // The peer may have written and gone before we got here.
        readRequest(peer);
    }
}

void SingleInstance::readRequest(QLocalSocket* peer) {
    if (!peer->canReadLine()) {
        if (peer->bytesAvailable() > longestRequest)
            peer->deleteLater();
        return;
    }
    const QByteArray line = peer->readLine(longestRequest + 1);
    // One request per connection.
    disconnect(peer, &QLocalSocket::readyRead, this, nullptr);
    peer->disconnectFromServer();
    if (line == activateRequest)
        emit activationRequested();
}
