#pragma once

#include <httplib.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

/// A cpp-httplib server on 127.0.0.1, on a port the system chooses, serving
/// from its own thread. Register handlers on server() before start().
class TestServer {
public:
    /// Plain HTTP.
    TestServer() : server_(std::make_unique<httplib::Server>()), scheme_("http") {}
    /// HTTPS with the given PEM certificate and key files.
    TestServer(const std::string& certificate_file, const std::string& key_file)
        : server_(std::make_unique<httplib::SSLServer>(certificate_file.c_str(), key_file.c_str())), scheme_("https") {
        if (!server_->is_valid())
            throw std::runtime_error("the HTTPS test server rejected its certificate or key");
    }
    ~TestServer() {
        if (thread_.joinable()) {
            server_->stop();
            thread_.join();
        }
    }
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    httplib::Server& server() { return *server_; }

    /// Binds, starts serving and returns once the server answers.
    void start() {
        // Else a reused connection waits on Nagle's algorithm and closes after a handful of requests.
        server_->set_tcp_nodelay(true);
        server_->set_keep_alive_max_count(100000);
        port_ = server_->bind_to_any_port("127.0.0.1");
        if (port_ <= 0)
            throw std::runtime_error("the test server could not bind to 127.0.0.1");
        thread_ = std::thread([this] { server_->listen_after_bind(); });
        // No wait_until_ready() in this cpp-httplib: stopping a server not yet listening can hang.
        for (int waited_ms = 0; !server_->is_running(); ++waited_ms) {
            if (waited_ms > 10'000)
                throw std::runtime_error("the test server did not start");
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    int port() const { return port_; }
    /// "http://127.0.0.1:PORT" + path (or https), path starting with "/".
    std::string url(const std::string& path = "/") const {
        return scheme_ + "://127.0.0.1:" + std::to_string(port_) + path;
    }

private:
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    std::string scheme_;
    int port_ = 0;
};
