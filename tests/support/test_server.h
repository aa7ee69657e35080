#pragma once

#include <httplib.h>

#include <memory>
#include <string>
#include <thread>

/// A cpp-httplib server on 127.0.0.1, on a port the system chooses, serving
/// from its own thread. Register handlers on server() before start().
class TestServer {
public:
    /// Plain HTTP.
    TestServer();
    /// HTTPS with the given PEM certificate and key files.
    TestServer(const std::string& certificate_file, const std::string& key_file);
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    httplib::Server& server() { return *server_; }

    /// Binds, starts serving and returns once the server answers.
    void start();
    /// Stops serving; also done by the destructor.
    void stop();

    int port() const { return port_; }
    /// "http://127.0.0.1:PORT" + path (or https), path starting with "/".
    std::string url(const std::string& path = "/") const;

private:
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    std::string scheme_;
    int port_ = 0;
};
