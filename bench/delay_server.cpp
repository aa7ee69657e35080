// Serves a folder over HTTP on 127.0.0.1 as a remote server would: every
// request is answered after a fixed delay, connections are kept alive and
// many are served at once. Like nginx, every file goes with an ETag (its
// modification time and size in hexadecimal) and a Last-Modified date, and a
// request that sends either back while the file is the same is answered 304
// without a body; --no-validators sends neither, and never answers 304. Logs
// the client's port (one per connection), the status, the body bytes sent and
// the path of every request, so that a benchmark can count connections,
// requests and bytes.
//
//   delay_server ROOT [--delay MS] [--log FILE] [--port-file FILE] [--no-validators]

#include <httplib.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>

namespace {

std::string http_date(std::time_t moment) {
    char text[64];
    std::tm utc{};
    gmtime_r(&moment, &utc);
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &utc);
    return text;
}

std::string content_type(const std::string& path) {
    if (path.ends_with(".html"))
        return "text/html";
    if (path.ends_with(".gif"))
        return "image/gif";
    return path.ends_with(".jpg") || path.ends_with(".jpeg") ? "image/jpeg" : "application/octet-stream";
}

} // namespace

int main(int argc, char** argv) {
    std::string root, log_path, port_path;
    int delay_ms = 20;
    bool validators = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--delay" && i + 1 < argc)
            delay_ms = std::atoi(argv[++i]);
        else if (arg == "--log" && i + 1 < argc)
            log_path = argv[++i];
        else if (arg == "--port-file" && i + 1 < argc)
            port_path = argv[++i];
        else if (arg == "--no-validators")
            validators = false;
        else if (root.empty())
            root = arg;
    }
    if (root.empty()) {
        std::cerr << "usage: delay_server ROOT [--delay MS] [--log FILE] [--port-file FILE] [--no-validators]\n";
        return 2;
    }

    httplib::Server server;
    // One thread a connection: clients keep theirs open between requests.
    server.new_task_queue = [] { return new httplib::ThreadPool(256); };
    server.set_tcp_nodelay(true);
    server.set_keep_alive_max_count(1'000'000);
    server.set_keep_alive_timeout(60);
    server.Get(".*", [&root, validators](const httplib::Request& request, httplib::Response& response) {
        const std::string path = root + request.path;
        struct stat info {};
        if (request.path.find("..") != std::string::npos || ::stat(path.c_str(), &info) != 0 ||
            !S_ISREG(info.st_mode)) {
            response.status = 404;
            return response.set_content("<html><body>404 Not Found</body></html>", "text/html");
        }
        if (validators) {
            std::ostringstream etag;
            etag << '"' << std::hex << info.st_mtim.tv_sec << '-' << info.st_size << '"';
            const std::string modified = http_date(info.st_mtim.tv_sec);
            response.set_header("ETag", etag.str());
            response.set_header("Last-Modified", modified);
            // As nginx: If-None-Match first; If-Modified-Since compared exactly.
            const std::string none_match = request.get_header_value("If-None-Match");
            if (none_match.empty() ? request.get_header_value("If-Modified-Since") == modified
                                   : none_match == etag.str()) {
                response.status = 304;
                return;
            }
        }
        std::ifstream file(path, std::ios::binary);
        std::ostringstream body;
        body << file.rdbuf();
        response.set_content(body.str(), content_type(request.path));
    });
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
        log << request.remote_port << ' ' << response.status << ' ' << response.body.size() << ' ' << request.path
            << '\n';
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
