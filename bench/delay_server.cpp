// Serves a folder over HTTP on 127.0.0.1 as a remote server would: every
// request is answered after a fixed delay, connections are kept alive and
// many are served at once. Logs the client's port (one per connection) and
// the path of every request, so that a benchmark can count connections.
//
//   delay_server ROOT [--delay MS] [--log FILE] [--port-file FILE]

#include <httplib.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    std::string root, log_path, port_path;
    int delay_ms = 20;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--delay" && i + 1 < argc)
            delay_ms = std::atoi(argv[++i]);
        else if (arg == "--log" && i + 1 < argc)
            log_path = argv[++i];
        else if (arg == "--port-file" && i + 1 < argc)
            port_path = argv[++i];
        else if (root.empty())
            root = arg;
    }
    if (root.empty()) {
        std::cerr << "usage: delay_server ROOT [--delay MS] [--log FILE] [--port-file FILE]\n";
        return 2;
    }

    httplib::Server server;
    // One thread a connection: clients keep theirs open between requests.
    server.new_task_queue = [] { return new httplib::ThreadPool(256); };
    server.set_tcp_nodelay(true);
    server.set_keep_alive_max_count(1'000'000);
    server.set_keep_alive_timeout(60);
    if (!server.set_mount_point("/", root)) {
        std::cerr << "delay_server: cannot serve " << root << '\n';
        return 1;
    }
    server.set_pre_routing_handler([delay_ms](const httplib::Request&, httplib::Response&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
        return httplib::Server::HandlerResponse::Unhandled;
    });
    std::mutex log_mutex;
    std::ofstream log;
    if (!log_path.empty())
        log.open(log_path, std::ios::app);
    server.set_logger([&](const httplib::Request& request, const httplib::Response& response) {
        if (!log.is_open())
            return;
        const std::lock_guard lock(log_mutex);
        log << request.remote_port << ' ' << response.status << ' ' << request.path << '\n';
        log.flush();
    });

    const int port = server.bind_to_any_port("127.0.0.1");
    if (port <= 0) {
        std::cerr << "delay_server: cannot bind to 127.0.0.1\n";
        return 1;
    }
    if (!port_path.empty())
        std::ofstream(port_path) << port << '\n';
    return server.listen_after_bind() ? 0 : 1;
}
