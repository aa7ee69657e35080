#include "engine/curl_transfer.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "support/test_server.h"

using namespace std::chrono_literals;
using httplib::Request;
using httplib::Response;

namespace {

// /basic and /digest answer "secret" to ann:s3cret (the digest itself being
// libcurl's work) and count the requests that bring any credentials.
void serve_protected(TestServer& site, std::atomic<int>& authorized) {
    site.server().Get(R"(/(basic|digest))", [&authorized](const Request& request, Response& r) {
        const std::string sent = request.get_header_value("Authorization");
        authorized += !sent.empty();
        const bool basic = request.matches[1] == "basic";
        if (basic ? sent == httplib::make_basic_authentication_header("ann", "s3cret").second
                  : sent.starts_with("Digest username=\"ann\""))
            return r.set_content("secret", "text/plain");
        r.status = 401;
        r.set_header("WWW-Authenticate",
                     basic ? "Basic realm=\"q\"" : "Digest realm=\"q\", nonce=\"n0nce\", qop=\"auth\"");
    });
}

// One site for every test, and a transfer that takes 1000 text bytes at most
// and gives up on a server silent for 300 ms.
class CurlTransferTest : public testing::Test {
protected:
    CurlTransferTest() {
        auto& server = site.server();
        server.Get("/image.gif", [](const Request&, Response& r) { r.set_content(kBinary, "image/gif"); });
        server.Get("/broken", [](const Request&, Response& r) { r.status = 500; });
        server.set_error_handler(
            [](const Request&, Response& r) { r.set_content("error " + std::to_string(r.status), "text/html"); });
        // /hop/N redirects to the relative address N-1; /hop/0 is the page.
        server.Get(R"(/hop/(\d+))", [](const Request& request, Response& r) {
            const int n = std::stoi(request.matches[1]);
            if (n == 0)
                return r.set_content("arrived", "text/plain");
            r.set_redirect(std::to_string(n - 1), n % 2 ? 301 : 307);
        });
        // /sized/N answers N bytes with their length, /chunked/N without it, and
        // /half/N sends them and then falls silent until the gate opens.
        server.Get(R"(/(sized|chunked|half)/(\d+))", [this](const Request& request, Response& r) {
            const std::string body(std::stoul(request.matches[2]), 'a');
            if (request.matches[1] == "sized")
                return r.set_content(body, "application/octet-stream");
            const bool half = request.matches[1] == "half";
            r.set_chunked_content_provider("application/octet-stream", [=, this](std::size_t offset, auto& sink) {
                if (offset == 0)
                    return sink.write(body.data(), body.size());
                if (half)
                    wait_for_gate();
                sink.done();
                return true;
            });
        });
        server.Get("/port", [](const Request& request, Response& r) {
            r.set_content(std::to_string(request.remote_port), "text/plain");
        });
        server.Get("/redirect",
                   [](const Request& request, Response& r) { r.set_redirect(request.get_param_value("to")); });
        server.Get("/silent", [this](const Request&, Response& r) {
            wait_for_gate();
            r.set_content("late", "text/plain");
        });
        serve_protected(site, authorized_at_site);
        site.start();
    }
    // Opens the gate before the server stops, which waits for its handlers.
    ~CurlTransferTest() override { gate = true; }
    void wait_for_gate() { // ten seconds at most
        for (int i = 0; i < 5000 && !gate; ++i)
            std::this_thread::sleep_for(2ms);
    }

    FetchResult fetch(const std::string& path, bool as_bytes) {
        return as_bytes ? transfer.fetch_bytes(site.url(path)) : transfer.fetch_text(site.url(path));
    }

    static inline const std::string kBinary{"GIF89a\0\x01\xff\0end", 12};
    std::atomic<bool> gate = false;
    std::atomic<int> authorized_at_site = 0;
    TestServer site;
    static TransferSettings short_limits() {
        TransferSettings settings;
        settings.stall_timeout = 300ms;
        settings.max_text_bytes = 1000;
        return settings;
    }
    CurlTransfer transfer{short_limits()};
};

TEST_F(CurlTransferTest, ReturnsEveryAnswerWithItsStatus) {
    struct Case {
        const char* path;
        bool as_bytes;
        long status;
        std::string body;
    } const cases[] = {
        {"/image.gif", true, 200, kBinary},
        {"/missing.gif", true, 404, "error 404"},
        {"/broken", false, 500, "error 500"},
        {"/hop/10", false, 200, "arrived"},
        {"/sized/1000", false, 200, std::string(1000, 'a')},
        {"/chunked/1001", true, 200, std::string(1001, 'a')}, // the text limit is not the image one
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const FetchResult result = fetch(c.path, c.as_bytes);
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_EQ(result.http_status, c.status);
        EXPECT_EQ(result.body, c.body);
    }
}

TEST_F(CurlTransferTest, FailsWithoutAWholeAnswer) {
    for (const std::string& address :
         {site.url("/hop/11"), site.url("/sized/1001"), site.url("/chunked/1001"), site.url("/silent"),
          site.url("/half/10"), site.url("/redirect?to=file:///etc/hostname"), std::string("file:///etc/hostname"),
          std::string("http://127.0.0.1:1/")}) {
        SCOPED_TRACE(address);
        const FetchResult result = transfer.fetch_text(address);
        EXPECT_FALSE(result.ok);
        EXPECT_FALSE(result.error.empty());
        EXPECT_TRUE(result.body.empty()) << "a cut-off body must not pass for a page";
    }
}

TEST_F(CurlTransferTest, ReusesOneConnection) {
    const std::string first_client_port = transfer.fetch_text(site.url("/port")).body;
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(fetch("/port", i % 2).body, first_client_port) << "fetch " << i;
}

TEST_F(CurlTransferTest, OffersCredentialsOnlyToTheStartSite) {
    std::atomic<int> authorized_at_other = 0;
    TestServer other;
    serve_protected(other, authorized_at_other);
    other.start();
    CurlTransfer transfer; // goes before the other server, which waits on open connections
    struct Case {
        const char* user;
        const char* password;
        std::string address;
        long status; // 200 when the credentials went, once asked, to the start site
    } const cases[] = {
        {"ann", "s3cret", site.url("/basic"), 200},
        {"ann", "s3cret", site.url("/digest"), 200},
        {"ann", "s3cret", other.url("/basic"), 401},
        {"ann", "s3cret", site.url("/redirect?to=" + other.url("/digest")), 401},
        {"ann", "", site.url("/basic"), 401},
        {"", "s3cret", site.url("/digest"), 401},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address + " as " + c.user + ":" + c.password);
        authorized_at_site = authorized_at_other = 0;
        // The start page is deeper than the root: the whole site counts.
        transfer.set_credentials(c.user, c.password, site.url("/dir/index.html"));
        EXPECT_EQ(transfer.fetch_text(c.address).http_status, c.status);
        EXPECT_EQ(authorized_at_site, c.status == 200 ? 1 : 0);
        EXPECT_EQ(authorized_at_other, 0);
    }
}

TEST_F(CurlTransferTest, YieldsWhileWaitingAndCancelsAtOnce) {
    CurlTransfer patient; // no 300 ms limit
    int calls = 0;
    patient.set_yield_hook([&] { return ++calls < 3; });
    EXPECT_FALSE(patient.fetch_bytes(site.url("/silent")).ok);
    EXPECT_EQ(calls, 3);
    calls = 0;
    patient.set_yield_hook([&] {
        if (++calls == 4)
            gate = true;
        return true;
    });
    EXPECT_EQ(patient.fetch_text(site.url("/silent")).body, "late") << "the gate opens on the fourth call";
}

TEST_F(CurlTransferTest, TrustsTheExtraAuthorityForItsAddressOnly) {
    using Case = std::pair<std::string, bool>; // the certified address, whether the certificate is trusted
    for (const auto& [ip, trusted] : {Case{"127.0.0.1", true}, Case{"127.0.0.1", false}, Case{"127.0.0.2", true}}) {
        SCOPED_TRACE(ip + (trusted ? " trusted" : " untrusted"));
        // A self-signed certificate is its own authority.
        TempDir files;
        const std::string certificate = files.file("cert.pem"), key = files.file("key.pem");
        const std::string command =
            "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 -subj /CN=" + ip +
            " -addext subjectAltName=IP:" + ip + " -keyout " + key + " -out " + certificate + " 2>/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0);
        TestServer secure(certificate, key);
        secure.server().Get("/page", [](const Request&, Response& r) { r.set_content("over TLS", "text/plain"); });
        secure.start();
        const FetchResult result =
            CurlTransfer({.extra_ca_file = trusted ? certificate : ""}).fetch_text(secure.url("/page"));
        EXPECT_EQ(result.body, trusted && ip == "127.0.0.1" ? "over TLS" : "") << result.error;
    }
}

} // namespace
