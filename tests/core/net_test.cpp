// The net layer: address helpers, and the libcurl transfer against servers on 127.0.0.1.
#include "net/address.h"
#include "net/curl_transfer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <set>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "support/test_server.h"

using namespace m_qmr;
using namespace std::chrono_literals;

namespace {

TEST(AddressTest, OneAddressHelpers) {
    // The helper, what it is given, what it gives.
    using Helper = std::string (*)(std::string_view);
    const std::tuple<Helper, std::string, std::string> cases[] = {
        {url_repertoire, "http://host/a/b.html", "http://host/a/"},
        {url_repertoire, "http://host/a", "http://host/"}, // a last segment is a file name
        {url_repertoire, "http://host", "http://host/"},
        {url_repertoire, "ab/cd/", ""},           // too short, even with its final "/"
        {url_repertoire, "abcdefg/", "abcdefg/"}, // a final "/" is enough
        {url_racine, "http://u:p@Host:8080/a/b", "http://u:p@Host:8080/"},
        {url_racine, "host/a", ""},
        {url_racine, "x//host/a//b", "x//host/"},
        {url_nom_fichier, "http://host/a/b.gif", "b.gif"},
        {url_nom_fichier, "http://host/x:y:z.gif", "y:z.gif"}, // the first colon after the last "/"
        {url_nom_fichier, "a:b/c.gif", "c.gif"},
        {sans_fin_ligne, "\ra\n\n b\t\r", "a b\t"},
        // On the wire: what cannot stand in an address is escaped once, the host never.
        {encoded_address, "http://hé te/my pic.gif?q=a b#x y", "http://hé te/my%20pic.gif?q=a%20b#x%20y"},
        {encoded_address, "http://h/%41%4g%/é\x01\x7f\"<>\\^`{|}",
         "http://h/%41%254g%25/%C3%A9%01%7F%22%3C%3E%5C%5E%60%7B%7C%7D"},
        {encoded_address, "http://h/a%20b%20c", "http://h/a%20b%20c"}, // encoded already
        {encoded_address, "http://h:81/?&=+$,;:@!*'()[]~", "http://h:81/?&=+$,;:@!*'()[]~"},
        // Dot segments resolved as a resolver does, never above the root.
        {without_dot_segments, "http://h/a/b/../../../tmp/./x.jpg", "http://h/tmp/x.jpg"},
        {without_dot_segments, "http://h/a/./b/..", "http://h/a/"},
        {without_dot_segments, "http://h/a//b/.?x=../y", "http://h/a//b/?x=../y"},
        {without_dot_segments, "http://h", "http://h"},
        {without_dot_segments, "http://h/..", "http://h/"},
    };
    for (const auto& [helper, given, expected] : cases)
        EXPECT_EQ(helper(given), expected) << given;
}

TEST(AddressTest, UrlAbsolueAndAutreSite) {
    // The page the reference is on, the reference, the address it names.
    const std::string page = "http://host/a/b.html";
    for (const auto& [base, reference, expected] : std::initializer_list<std::array<std::string, 3>>{
             {page, "https://other/x.gif  ", "https://other/x.gif"},
             {page, "x.gif  ", "http://host/a/x.gif"},
             {page, "/x.gif", "http://host/x.gif"},
             {page, "HTTP://other/x.gif", "http://host/a/HTTP://other/x.gif"},
             {page, " http://other/x.gif", "http://host/a/ http://other/x.gif"},
             {"abcdefg/", "x.gif", ""}, // a directory but no site root
             {"http://host/a/b/c/d.html", "../../x.gif", "http://host/a/x.gif"},
             {page, "../../../x.gif", "http://host/x.gif"}, // surplus groups stop at the root
             {"http://host/a/b/c.html", "../p/../x.gif", "http://host/a/p/../x.gif"},
             {"https://host:8080/a", "//cdn:81/x.gif  ", "https://cdn:81/x.gif"}})
        EXPECT_EQ(url_absolue(base, reference), expected) << base << " " << reference;
    EXPECT_FALSE(autre_site("http://host/a", "http://host/b/c"));
    EXPECT_TRUE(autre_site("http://host/", "https://host/"));
    EXPECT_TRUE(autre_site("http://Host/", "http://host/"));
    EXPECT_TRUE(autre_site("host/a", "host/a")); // no root is never the same site
}

/// Keeps an image's body whole, where a run streams it to disk.
struct StringSink final : BodySink {
    bool write(std::string_view bytes) override {
        body.append(bytes);
        return true;
    }
    std::string body;
};

// The start site, another, and a transfer taking 1000 text and 5000 image bytes at most, giving up on a fetch below a
// byte a second over a second, and on any after four seconds: the low-speed limit acts first even on a busy machine.
class CurlTransferTest : public testing::Test {
protected:
    CurlTransferTest() {
        // /hop/N redirects to N-1, or to ?to=; /hop/0 answers its target as on the wire, " gzip" if it may compress.
        site.server().Get(R"(/hop/(\d+).*)", [](const auto& q, auto& r) {
            const int n = std::stoi(q.matches[1]);
            const bool gzip = q.get_header_value("Accept-Encoding").find("gzip") != std::string::npos;
            if (n == 0)
                return r.set_content(q.target + (gzip ? " gzip" : ""), "-");
            r.set_redirect(q.has_param("to") ? q.get_param_value("to") : std::to_string(n - 1), n % 2 ? 301 : 307);
            r.set_content("moved", "text/html");
        });
        // N zero bytes as text, which the server compresses for a client that accepts it.
        site.server().Get(R"(/sized/(\d+))", [](const auto& q, auto& r) {
            r.set_content(std::string(std::stoul(q.matches[1]), '\0'), "text/plain");
        });
        // Announces 200 bytes, sends 100 and closes the connection.
        site.server().Get("/cut", [](const auto&, auto& r) {
            r.set_content_provider(200, "-", [](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                return offset == 0 && sink.write(std::string(100, 'c').data(), 100);
            });
        });
        // Sends a byte every MS milliseconds, for ever (MS = 0: as fast as it can), until the gate opens.
        site.server().Get(R"(/drip/(\d+))", [this](const auto& q, auto& r) {
            r.set_chunked_content_provider("-", [this, pause = std::stoi(q.matches[1])](std::size_t, auto& sink) {
                for (int waited = 0; waited < pause && !gate; waited += 5)
                    std::this_thread::sleep_for(5ms);
                if (gate)
                    sink.done();
                return gate || sink.write("d", 1);
            });
        });
        // Answers nothing, not even a header, until the gate opens.
        site.server().Get("/mute", [this](const auto&, auto&) {
            while (!gate)
                std::this_thread::sleep_for(5ms);
        });
        // 200 000 bytes in pieces of 2 000, all answers of /paced taking turns on one link of 60 000 bytes a second.
        site.server().Get("/paced", [this](const auto&, auto& r) {
            r.set_content_provider(200'000, "-", [this](std::size_t, std::size_t, httplib::DataSink& sink) {
                std::unique_lock lock(mutex);
                const auto turn = link_free = std::max(link_free, std::chrono::steady_clock::now()) + 33'333us;
                lock.unlock();
                std::this_thread::sleep_until(turn);
                return sink.write(std::string(2'000, 'p').data(), 2'000);
            });
        });
        // /basic and /digest answer "secret" to ann:s3cret and count the requests that bring any credentials.
        for (auto [host, authorized] :
             {std::pair{&site, &authorized_at_site}, std::pair{&other, &authorized_at_other}}) {
            host->server().Get(R"(/(basic|digest))", [this, authorized](const auto& q, auto& r) {
                const std::string sent = q.get_header_value("Authorization");
                *authorized += !sent.empty();
                const bool basic = q.matches[1] == "basic";
                if (basic ? sent == "Basic YW5uOnMzY3JldA==" : sent.starts_with("Digest username=\"ann\"")) {
                    std::this_thread::sleep_for(20ms); // as a remote server answers
                    const std::lock_guard lock(mutex);
                    ports.insert(q.remote_port); // the connection it came on
                    return r.set_content("secret", "text/plain");
                }
                r.status = 401;
                r.set_header("WWW-Authenticate",
                             basic ? "Basic realm=\"q\"" : "Digest realm=\"q\", nonce=\"n\", qop=\"auth\"");
            });
            host->start();
        }
    }
    ~CurlTransferTest() override { gate = true; } // the servers wait for their handlers when they stop

    std::atomic<bool> gate = false;
    std::atomic<int> authorized_at_site = 0, authorized_at_other = 0;
    std::mutex mutex;
    std::set<int> ports;
    std::chrono::steady_clock::time_point link_free;
    TestServer site, other;
    CurlTransfer transfer{{.low_speed_bytes = 1,
                           .low_speed_time = 1s,
                           .total_timeout = 4s,
                           .max_text_bytes = 1000,
                           .max_image_bytes = 5000,
                           .extra_ca_file = {}}};
};

// A whole answer comes back with its status, whatever that is; anything short of one fails with its reason. Pages
// come in the result, images through a sink.
TEST_F(CurlTransferTest, ReturnsWholeAnswersOnly) {
    // Path, fetched as an image, status (0: fails), the body or a word of the failure's reason.
    using Case = std::tuple<std::string, bool, long, std::string>;
    for (const auto& [path, as_image, status, body] : {
             Case{"/basic", true, 401, ""},              // an error status is an answer all the same
             Case{"/hop/10", false, 200, "/hop/0 gzip"}, // ten redirects at most
             Case{"/hop/11", false, 0, "redirections"},  // one too many
             Case{"/hop/3", true, 200, "/hop/0"},        // only the last answer's body, asked for uncompressed
             Case{"/hop/1?to=file:///etc/hostname", false, 0, "protocole"},
             Case{"/sized/1000", false, 200, std::string(1000, '\0')},
             Case{"/sized/1001", false, 0, "plus de 1000 octets"},    // counted as it inflates
             Case{"/sized/1001", true, 200, std::string(1001, '\0')}, // the text limit is not the image one
             Case{"/drip/0", true, 0, "plus de 5000 octets"},         // endless
             Case{"/cut", true, 0, "partielle"},                      // cut short
             Case{"/drip/5000", false, 0, "trop lent"},               // stalls
             Case{"/mute", false, 0, "trop lent"},                    // not even a header
             Case{"/drip/200", true, 0, "délai dépassé"},             // fast enough, but never done
             Case{"/hop/0/my pic/é.gif?a=%41", false, 200, "/hop/0/my%20pic/%C3%A9.gif?a=%41 gzip"},
         }) {
        SCOPED_TRACE(path + (as_image ? " as an image" : " as a page"));
        StringSink sink;
        const FetchResult result =
            as_image ? transfer.fetch_bytes(site.url(path), sink) : transfer.fetch_text(site.url(path));
        EXPECT_EQ(result.http_status, status);
        if (status != 0) {
            EXPECT_TRUE(result.ok) << result.error;
            EXPECT_EQ(as_image ? sink.body : result.body, body);
        } else {
            EXPECT_FALSE(result.ok);
            EXPECT_NE(result.error.find(body), std::string::npos) << result.error;
        }
        EXPECT_TRUE(!as_image || result.body.empty());
    }
}

TEST_F(CurlTransferTest, OffersCredentialsOnlyToTheStartSite) {
    using Case = std::tuple<std::string, std::string, std::string, long>; // user, password, address, status
    for (const auto& [user, password, address, status] : {
             Case{"ann", "s3cret", site.url("/basic"), 200},
             Case{"ann", "s3cret", site.url("/digest"), 200},
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

// Many fetches: six at a time at most, over six kept-alive connections at most, credentials for the start site only.
TEST_F(CurlTransferTest, RunsSixFetchesAtOnceAtMostOverKeptConnections) {
    transfer.set_credentials("ann", "s3cret", site.url("/"));
    std::vector<FetchTicket> tickets;
    for (int i = 0; i < 30; ++i)
        tickets.push_back(transfer.start({(i < 6 ? other : site).url("/basic"), nullptr}));
    std::vector<std::string> bodies;
    for (const FetchTicket ticket : tickets)
        bodies.push_back(transfer.wait_for(ticket).body);
    EXPECT_FALSE(transfer.wait_for_any()) << "all taken";
    EXPECT_EQ(std::count(bodies.begin(), bodies.end(), "secret"), 24);
    EXPECT_EQ(authorized_at_other, 0);
    // One connection is one fetch at a time: more than one shows fetches side by side.
    const std::lock_guard lock(mutex);
    EXPECT_LE(ports.size(), static_cast<std::size_t>(max_fetches_in_flight));
    EXPECT_GE(ports.size(), 2u);
}

// Six images sharing one slow link, each needing five times the overall limit: each is charged its share of time.
TEST_F(CurlTransferTest, FetchesSharingTheLinkShareItsTime) {
    CurlTransfer shared({.total_timeout = 4s, .extra_ca_file = {}});
    std::vector<StringSink> sinks(max_fetches_in_flight);
    std::vector<FetchTicket> tickets;
    for (StringSink& sink : sinks)
        tickets.push_back(shared.start({site.url("/paced"), &sink}));
    for (const FetchTicket ticket : tickets)
        EXPECT_TRUE(shared.wait_for(ticket).ok);
    for (const StringSink& sink : sinks)
        EXPECT_EQ(sink.body.size(), 200'000u);
}

TEST_F(CurlTransferTest, YieldsWhileWaitingAndCancelsAtOnce) {
    int calls = 0;
    transfer.set_yield_hook([&] { return ++calls < 3; });
    EXPECT_FALSE(transfer.fetch_text(site.url("/drip/10000")).ok);
    EXPECT_EQ(calls, 3);
    transfer.set_yield_hook([&, n = 0]() mutable { return ++n < 4 || (gate = true); }); // opens on the fourth call
    EXPECT_TRUE(transfer.fetch_text(site.url("/drip/10000")).ok);
}

TEST_F(CurlTransferTest, TrustsTheExtraAuthorityForItsAddressOnly) {
    TempDir files; // a self-signed certificate for 127.0.0.1, its own authority
    const std::string command = "cd " + files.path() + " && openssl req -x509 -newkey ed25519 -nodes -subj /CN=q " +
                                "-addext subjectAltName=IP:127.0.0.1 -keyout key.pem -out ca.pem 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    TestServer secure(files.file("ca.pem"), files.file("key.pem"));
    secure.server().Get("/page", [](const auto&, auto& r) { r.set_content("over TLS", "-"); });
    secure.start();
    const std::string ca = files.file("ca.pem"), page = secure.url("/page");
    const std::string by_name = "https://localhost:" + std::to_string(secure.port()) + "/page";
    using Case = std::tuple<std::string, bool, std::string>; // address, whether the certificate is trusted, body
    for (const auto& [address, trusted, body] :
         {Case{page, true, "over TLS"}, Case{page, false, ""}, Case{by_name, true, ""}}) {
        SCOPED_TRACE(address + (trusted ? " trusted" : " untrusted"));
        const FetchResult result = CurlTransfer({.extra_ca_file = trusted ? ca : ""}).fetch_text(address);
        EXPECT_EQ(result.body, body) << result.error;
        EXPECT_EQ(result.error.find("certificat du serveur refusé") != std::string::npos, body.empty()) << result.error;
    }
}

} // namespace
