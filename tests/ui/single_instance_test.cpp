#include "ui/single_instance.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QLocalSocket>
#include <QSignalSpy>

#include "support/temp_dir.h"

using namespace std::chrono_literals;
using Role = SingleInstance::Role;

namespace {

/// A socket in a fresh folder, its name with a space and an accent.
struct Socket {
    TempDir dir;
    std::string path = dir.file("quillmoor é");
    QString name = QString::fromStdString(path);
};

/// What a crash leaves: a socket file that nobody listens on.
void leave_dead_socket(const std::string& path) {
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
}

} // namespace

TEST(SingleInstance, LaterStartsBringTheFirstForward) {
    Socket socket;
    auto first = std::make_unique<SingleInstance>(socket.name);
    ASSERT_EQ(first->start(), Role::primary) << first->error().toStdString();
    struct stat status {};
    ASSERT_EQ(stat(socket.path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 077, 0u) << "others may reach the socket";
    QSignalSpy asked(first.get(), &SingleInstance::activation_requested);
    // Other talk, or too much of it, is hung up on and asks nothing.
    for (const QByteArray& talk : {QByteArray("hello\n"), QByteArray(4096, 'a')}) {
        QLocalSocket stranger;
        stranger.connectToServer(socket.name);
        stranger.write(talk);
        EXPECT_TRUE(QSignalSpy(&stranger, &QLocalSocket::disconnected).wait(2000));
    }
    for (int start = 1; start <= 2; ++start) {
        EXPECT_EQ(SingleInstance(socket.name).start(1s), Role::secondary);
        EXPECT_TRUE(asked.wait(2000));
        EXPECT_EQ(asked.count(), start);
    }
    first.reset();
    EXPECT_EQ(SingleInstance(socket.name).start(1s), Role::primary);
}

TEST(SingleInstance, WhatAnEarlierRunLeftBehind) {
    const std::pair<const char*, std::function<void(const std::string&)>> cases[] = {
        {"a dead socket", leave_dead_socket},
        {"its lock file", [](const std::string& path) { write_file(path + ".lock", ""); }}};
    for (const auto& [what, leave] : cases) {
        SCOPED_TRACE(what);
        Socket socket;
        leave(socket.path);
        SingleInstance first(socket.name);
        ASSERT_EQ(first.start(), Role::primary) << first.error().toStdString();
        QSignalSpy asked(&first, &SingleInstance::activation_requested);
        EXPECT_EQ(SingleInstance(socket.name).start(1s), Role::secondary);
        EXPECT_TRUE(asked.wait(2000));
    }
    // A file that is no socket is not ours to replace.
    Socket socket;
    write_file(socket.path, "data");
    EXPECT_EQ(SingleInstance(socket.name).start(), Role::failed);
    EXPECT_EQ(read_file(socket.path), "data");
}
