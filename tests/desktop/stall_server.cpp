// A web site on 127.0.0.1 that stalls, for the desktop tests. Its page "/"
// shows a.gif and b.gif; b.gif comes whole, a.gif stops after half its bytes
// and nothing more comes until the server is ended. Prints its port, then
// "halfway" once a.gif has stopped.

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

int main() {
    httplib::Server server;
    server.Get("/", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("<img src=\"a.gif\"><img src=\"b.gif\">", "text/html");
    });
    server.Get("/b.gif", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("GIF89a" + std::string(5'000, 'b'), "image/gif");
    });
    server.Get("/a.gif", [](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(200'000, "image/gif",
                                      [](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                          if (offset > 0) {
                                              std::this_thread::sleep_for(std::chrono::hours(1));
                                              return false;
                                          }
                                          const std::string half = "GIF89a" + std::string(100'000 - 6, 'a');
                                          sink.write(half.data(), half.size());
                                          std::printf("halfway\n");
                                          std::fflush(stdout);
                                          return true;
                                      });
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    if (port <= 0)
        return 1;
    std::printf("%d\n", port);
    std::fflush(stdout);
    return server.listen_after_bind() ? 0 : 1;
}
