#include "support/fault_server.h"

#include <chrono>
#include <stdexcept>
#include <thread>

#include <zlib.h>

#include "support/test_server.h"

using namespace std::chrono_literals;

std::string gzip_of_zeros(std::size_t size) {
    z_stream stream{};
    // 15 window bits, +16 for the gzip wrapper.
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    const std::string zeros(1 << 20, '\0');
    std::string out;
    char buffer[1 << 16];
    for (std::size_t left = size;;) {
        const std::size_t piece = std::min(left, zeros.size());
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
        stream.avail_in = static_cast<uInt>(piece);
        left -= piece;
        const int flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        int status = Z_OK;
        do {
            stream.next_out = reinterpret_cast<Bytef*>(buffer);
            stream.avail_out = sizeof buffer;
            status = deflate(&stream, flush);
            out.append(buffer, sizeof buffer - stream.avail_out);
        } while (stream.avail_out == 0);
        if (flush == Z_FINISH && status == Z_STREAM_END)
            break;
    }
    deflateEnd(&stream);
    return out;
}

void serve_faults(TestServer& server, const std::atomic<bool>& released) {
    auto& s = server.server();
    s.Get(R"(/cut/(\d+))", [](const httplib::Request& q, httplib::Response& r) {
        const std::size_t sent = std::stoul(q.matches[1]);
        r.set_content_provider(2 * sent, "image/gif", [sent](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            if (offset >= sent)
                return false; // drops the connection short of the announced length
            const std::string part(sent, 'c');
            return sink.write(part.data(), part.size());
        });
    });
    s.Get("/endless", [&released](const httplib::Request&, httplib::Response& r) {
        r.set_chunked_content_provider("image/gif", [&released](std::size_t offset, httplib::DataSink& sink) {
            static const std::string block(1 << 16, '\0');
            return !released && offset < (std::size_t{4} << 30) && sink.write(block.data(), block.size());
        });
    });
    s.Get("/trickle", [&released](const httplib::Request&, httplib::Response& r) {
        r.set_chunked_content_provider("image/gif", [&released](std::size_t offset, httplib::DataSink& sink) {
            for (int i = 0; i < 20 && !released; ++i)
                std::this_thread::sleep_for(10ms);
            return !released && offset < 3000 && sink.write("t", 1);
        });
    });
    s.Get(R"(/gzip/(\d+))", [](const httplib::Request& q, httplib::Response& r) {
        r.set_header("Content-Encoding", "gzip");
        r.set_content(gzip_of_zeros(std::stoul(q.matches[1])), "text/html");
    });
    s.Get("/silent", [&released](const httplib::Request&, httplib::Response& r) {
        for (int i = 0; i < 60'000 && !released; ++i)
            std::this_thread::sleep_for(10ms);
        r.set_content("late", "text/html");
    });
}
