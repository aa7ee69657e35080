#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/test_server.h"

/// A site on 127.0.0.1 whose page /NAME/ shows an image for each letter of
/// NAME: a.gif and b.gif of 2 000 bytes, d.gif of 5 000, e.gif of 32 MB sent
/// over three seconds, p.png?v=2 of 2 000, the others missing; a, b, d and p
/// carry an ETag and are answered 304 when it comes back. Set `stall` to hold back the pages
/// ('p') or the body of a.gif ('i') until release() or two seconds have
/// passed. Like a real server, it drops a client that stops reading for a
/// second.
class Site {
public:
    Site() {
        server.server().set_write_timeout(1, 0);
        server.server().Get(R"(/\w+/e\.gif)", [](const auto&, auto& response) {
            response.set_content_provider(32u << 20, "image/gif", [](std::size_t offset, std::size_t, auto& sink) {
                const std::string piece = (offset == 0 ? "GIF89a" : "eeeeee") + std::string((1u << 20) - 6, 'e');
                std::this_thread::sleep_for(std::chrono::milliseconds(3000 / 32));
                return sink.write(piece.data(), piece.size());
            });
        });
        server.server().Get(R"(/(\w+)/)", [this](const auto& request, auto& response) { page(request, response); });
        server.server().Get(R"(/\w+/([abdp])\.(gif|png))", [this](const auto& request, auto& response) {
            const char letter = request.matches[1].str()[0];
            const std::string body = "GIF89a" + std::string(letter == 'd' ? 5'000 : 2'000, letter);
            response.set_header("ETag", std::string{'"', letter, '"'});
            if (request.get_header_value("If-None-Match") == response.get_header_value("ETag"))
                return static_cast<void>(response.status = 304);
            response.set_content_provider(body.size(), "image/gif", [=, this](std::size_t, std::size_t, auto& sink) {
                if (letter == 'a' && stall == 'i')
                    hold_back();
                return sink.write(body.data(), body.size());
            });
        });
    }
    ~Site() { release(); }

    void start() { server.start(); }
    std::string url(const std::string& page) const { return server.url("/" + page + "/"); }
    /// The pages asked for, in order.
    std::vector<std::string> visits() {
        const std::lock_guard lock(mutex);
        return visited;
    }
    void release() { ++releases; }

    /// Runs on the server's thread at each page, before it is answered.
    std::function<void()> on_visit;
    std::atomic<char> stall{0};
    std::atomic<bool> stalled{false};
    std::atomic<bool> stall_ran_out{false};

private:
    void page(const httplib::Request& request, httplib::Response& response) {
        const std::string name = request.matches[1];
        {
            const std::lock_guard lock(mutex);
            visited.push_back(name);
            if (on_visit)
                on_visit();
        }
        if (stall == 'p')
            hold_back();
        std::string page;
        for (const char letter : name)
            page += letter == 'p' ? "<img src=\"p.png?v=2\">" : "<img src=\"" + std::string(1, letter) + ".gif\">";
        response.set_content(page, "text/html");
    }
    void hold_back() {
        stalled = true;
        const int since = releases;
        for (int waited = 0; releases == since && waited < 2000; waited += 10)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (releases == since)
            stall_ran_out = true;
    }

    std::mutex mutex;
    std::vector<std::string> visited;
    std::atomic<int> releases{0};
    TestServer server; // last: it stops before what its handlers use goes
};
