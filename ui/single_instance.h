#pragma once

#include <chrono>

#include <QObject>
#include <QString>

#include "store/unique_fd.h"

class QLocalServer;
class QLocalSocket;

/// One program per user and data folder. The first start holds a lock beside a local socket
/// and listens on it; a later start finds the lock taken, asks the first one
/// through the socket to come to the front, and is told to end. The socket
/// only brings the running window forward: the data folder's own lock is
/// what keeps two processes from writing planifs.txt.
class SingleInstance final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SingleInstance)

public:
    enum class Role {
        undecided, ///< start() not called yet
        primary,   ///< this process is the running instance and listens
        secondary, ///< another instance runs and was asked to come to the front
        failed     ///< neither could be done; error() says why
    };

    /// The socket of the current user's program working in `data_folder`:
    /// "quillmoor-", the user's name and a digest of the folder's path, in the
    /// user's runtime folder ($XDG_RUNTIME_DIR, which others cannot enter).
    /// Two programs with different data folders share nothing, and each may run.
    static QString default_server_name(const QString& data_folder);

    /// `server_name` is the socket's path (a bare name lands in the temporary
    /// folder); its lock file is the same path followed by ".lock".
    explicit SingleInstance(QString server_name, QObject* parent = nullptr);
    ~SingleInstance() override;

    /// Becomes the running instance, taking over a socket that a crashed one
    /// left behind, or asks the running one to come to the front, waiting at
    /// most `timeout` for it to accept the request. Call once.
    Role start(std::chrono::milliseconds timeout = std::chrono::seconds(5));

    Role role() const { return role_; }
    const QString& server_name() const { return server_name_; }
    /// Why start() failed, in French.
    const QString& error() const { return error_; }

signals:
    /// Another start of the program asked this one to show its window.
    void activation_requested();

private:
    Role become_primary();
    Role ask_primary(std::chrono::milliseconds timeout);
    Role fail(const QString& reason);
    void accept_connections();
    void read_request(QLocalSocket* peer);

    QString server_name_;
    QString socket_path_;
    UniqueFd lock_fd_;
    QLocalServer* server_ = nullptr;
    Role role_ = Role::undecided;
    QString error_;
};
