#include "net/curl_transfer.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "support/fake_transfer.h"
#include "support/fault_server.h"
#include "support/temp_dir.h"
#include "support/test_server.h"

using namespace std::chrono_literals;

namespace {

// /basic and /digest answer "secret" to ann:s3cret (the digest itself being
// libcurl's work) and count the requests that bring any credentials.
void serve_protected(TestServer& site, std::atomic<int>& authorized) {
    site.server().Get(R"(/(basic|digest))", [&authorized](const auto& q, auto& r) {
        const std::string sent = q.get_header_value("Authorization");
        authorized += !sent.empty();
        const bool basic = q.matches[1] == "basic";
        if (basic ? sent == "Basic YW5uOnMzY3JldA==" : sent.starts_with("Digest username=\"ann\""))
            return r.set_content("secret", "text/plain");
        r.status = 401;
        r.set_header("WWW-Authenticate", basic ? "Basic realm=\"q\"" : "Digest realm=\"q\", nonce=\"n\", qop=\"auth\"");
    });
    site.start();
}

// The start site and another one (both started by serve_protected), and a
// transfer that takes 1000 text bytes and 5000 image bytes at most, gives up
// on a fetch slower than one byte a second over a second, and on any fetch
// after two seconds.
class CurlTransferTest : public testing::Test {
protected:
    CurlTransferTest() {
        auto& server = site.server();
        server.Get("/broken", [](const auto&, auto& r) { r.status = 500; });
        server.set_error_handler([](const auto&, auto& r) { r.set_content("error " + std::to_string(r.status), "-"); });
        // /hop/N redirects to the relative address N-1, or to ?to=; /hop/0 is the page.
        server.Get(R"(/hop/(\d+))", [](const auto& q, auto& r) {
            const int n = std::stoi(q.matches[1]);
            if (n == 0)
                return r.set_content("arrived", "text/plain");
            r.set_redirect(q.has_param("to") ? q.get_param_value("to") : std::to_string(n - 1), n % 2 ? 301 : 307);
            r.set_content("moved", "text/html");
        });
        // /sized/N sends N zero bytes with their length, /chunked/N without, /half/N then waits for the gate.
        server.Get(R"(/(sized|chunked|half)/(\d+))", [this](const auto& q, auto& r) {
            const std::string body(std::stoul(q.matches[2]), '\0');
            if (q.matches[1] == "sized")
                return r.set_content(body, "-");
            r.set_chunked_content_provider("-", [=, this, half = q.matches[1] == "half"](auto offset, auto& sink) {
                for (int i = 0; offset && half && i < 5000 && !gate; ++i) // ten seconds at most
                    std::this_thread::sleep_for(2ms);
                return offset ? (sink.done(), true) : sink.write(body.data(), body.size());
            });
        });
        server.Get("/port", [](const auto& q, auto& r) { r.set_content(std::to_string(q.remote_port), "-"); });
        // What the request asked for: its target as it came on the wire, and the encodings it accepts.
        server.Get(R"(/asked/.*)", [](const auto& q, auto& r) {
            const bool compressed = q.get_header_value("Accept-Encoding").find("gzip") != std::string::npos;
            r.set_content(q.target + (compressed ? " gzip" : ""), "-");
        });
        serve_faults(site, gate);
        serve_protected(site, authorized_at_site);
        serve_protected(other, authorized_at_other);
    }
    ~CurlTransferTest() override { gate = true; } // the servers wait for their handlers when they stop

    std::atomic<bool> gate = false;
    std::atomic<int> authorized_at_site = 0, authorized_at_other = 0;
    TestServer site, other;
    CurlTransfer transfer{{.low_speed_bytes = 1,
                           .low_speed_time = 1s,
                           .total_timeout = 2s,
                           .max_text_bytes = 1000,
                           .max_image_bytes = 5000,
                           .extra_ca_file = {}}};
};

// A whole answer comes back with its status, whatever that is; anything short
// of one fails with a reason, so a cut-off body never passes. Pages come in the
// result, images through a sink, and neither is held beyond its limit.
TEST_F(CurlTransferTest, ReturnsWholeAnswersOnly) {
    const std::string bomb = site.url("/gzip/1000000");            // 1 MB of zeros, a kilobyte on the wire
    using Case = std::tuple<std::string, bool, long, std::string>; // address, as bytes, status (0: fails), body
    for (const auto& [address, as_bytes, status, body] : {
             Case{site.url("/missing"), true, 404, "error 404"},
             Case{site.url("/broken"), false, 500, "error 500"},
             Case{site.url("/hop/10"), false, 200, "arrived"},
             Case{site.url("/hop/11"), false, 0, ""},
             Case{site.url("/sized/1000"), false, 200, std::string(1000, '\0')},
             Case{site.url("/sized/1001"), false, 0, ""},
             Case{site.url("/chunked/1001"), false, 0, ""},
             Case{site.url("/chunked/1001"), true, 200, std::string(1001, '\0')}, // the text limit is not the image one
             Case{site.url("/half/10"), true, 0, ""},
             Case{site.url("/hop/1?to=file:///etc/hostname"), false, 0, ""},
             Case{"http://127.0.0.1:1/", false, 0, ""},
             Case{site.url("/hop/3"), true, 200, "arrived"}, // the redirects' own bodies are not the image
             Case{site.url("/cut/100"), true, 0, ""},
             Case{site.url("/endless"), true, 0, ""},
             Case{site.url("/silent"), false, 0, ""}, // too slow
             Case{site.url("/trickle"), true, 0, ""}, // fast enough, but never done
             Case{site.url("/gzip/900"), false, 200, std::string(900, '\0')},
             Case{bomb, false, 0, ""}, // the limit counts what the page inflates to
             Case{site.url("/asked/my pic/é.gif?a=%41"), false, 200, "/asked/my%20pic/%C3%A9.gif?a=%41 gzip"},
             Case{site.url("/asked/a.gif"), true, 200, "/asked/a.gif"}, // images are asked for as they are
         }) {
        SCOPED_TRACE(address + (as_bytes ? " as bytes" : " as text"));
        StringSink sink;
        const FetchResult result = as_bytes ? transfer.fetch_bytes(address, sink) : transfer.fetch_text(address);
        EXPECT_EQ(result.ok, status != 0);
        EXPECT_EQ(result.error.empty(), result.ok) << result.error;
        EXPECT_EQ(result.http_status, status);
        if (result.ok) {
            EXPECT_EQ(as_bytes ? sink.body : result.body, body);
        }
        EXPECT_TRUE(!as_bytes || result.body.empty());
        EXPECT_LE(sink.body.size(), 5000u);
    }
}

TEST_F(CurlTransferTest, ReusesOneConnection) {
    const std::string port = site.url("/port"), first_client_port = transfer.fetch_text(port).body;
    for (int i = 0; i < 50; ++i) {
        StringSink sink;
        ASSERT_EQ(i % 2 ? (transfer.fetch_bytes(port, sink), sink.body) : transfer.fetch_text(port).body,
                  first_client_port)
            << i;
    }
}

TEST_F(CurlTransferTest, OffersCredentialsOnlyToTheStartSite) {
    using Case = std::tuple<std::string, std::string, std::string, long>; // user, password, address, status
    for (const auto& [user, password, address, status] : {
             Case{"ann", "s3cret", site.url("/basic"), 200},
             Case{"ann", "s3cret", site.url("/digest"), 200},
             Case{"ann", "s3cret", other.url("/basic"), 401},
             Case{"ann", "s3cret", site.url("/hop/1?to=" + other.url("/digest")), 401},
             Case{"ann", "", site.url("/basic"), 401},
             Case{"", "s3cret", site.url("/digest"), 401},
         }) {
        SCOPED_TRACE(address + " as " + user + ":" + password);
        authorized_at_site = authorized_at_other = 0;
        transfer.set_credentials(user, password, site.url("/dir/index.html")); // any page names the site
        EXPECT_EQ(transfer.fetch_text(address).http_status, status);
        EXPECT_EQ(authorized_at_site, status == 200 ? 1 : 0) << "once asked, to the start site only";
        EXPECT_EQ(authorized_at_other, 0);
    }
}

TEST_F(CurlTransferTest, YieldsWhileWaitingAndCancelsAtOnce) {
    CurlTransfer patient; // no short limits
    int calls = 0;
    StringSink sink;
    patient.set_yield_hook([&] { return ++calls < 3; });
    EXPECT_FALSE(patient.fetch_bytes(site.url("/half/1"), sink).ok);
    EXPECT_EQ(calls, 3);
    patient.set_yield_hook([&, n = 0]() mutable { return ++n < 4 || (gate = true); }); // opens on the fourth call
    sink.body.clear();
    EXPECT_TRUE(patient.fetch_bytes(site.url("/half/1"), sink).ok);
    EXPECT_EQ(sink.body, std::string(1, '\0'));
}

TEST_F(CurlTransferTest, TrustsTheExtraAuthorityForItsAddressOnly) {
    TempDir files; // a self-signed certificate for 127.0.0.1, its own authority
    const std::string command = "cd " + files.path() + " && openssl req -x509 -newkey ed25519 -nodes -subj /CN=q " +
                                "-addext subjectAltName=IP:127.0.0.1 -keyout key.pem -out ca.pem 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    TestServer secure(files.file("ca.pem"), files.file("key.pem"));
    secure.server().Get("/page", [](const auto&, auto& r) { r.set_content("over TLS", "-"); });
    secure.start();
    using Case = std::tuple<std::string, bool, std::string>; // address, whether the certificate is trusted, body
    const std::string ca = files.file("ca.pem"), page = secure.url("/page");
    const std::string by_name = "https://localhost:" + std::to_string(secure.port()) + "/page";
    for (const auto& [address, trusted, body] :
         {Case{page, true, "over TLS"}, Case{page, false, ""}, Case{by_name, true, ""}}) {
        SCOPED_TRACE(address + (trusted ? " trusted" : " untrusted"));
        const FetchResult result = CurlTransfer({.extra_ca_file = trusted ? ca : ""}).fetch_text(address);
        EXPECT_EQ(result.body, body) << result.error;
        EXPECT_EQ(result.error.find("certificate") != std::string::npos, body.empty()) << result.error;
    }
}

} // namespace
