#include "engine/curl_transfer.h"

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "support/temp_dir.h"
#include "support/test_certificates.h"
#include "support/test_server.h"

using namespace std::chrono_literals;

namespace {

// Keeps stalled handlers waiting until the test is over. Declare it after the
// server: it opens first, so that stopping the server does not wait.
class Gate {
public:
    Gate() : open_(std::make_shared<std::atomic<bool>>(false)) {}
    ~Gate() { open(); }
    Gate(const Gate&) = delete;
    Gate& operator=(const Gate&) = delete;

    void open() { *open_ = true; }
    bool is_open() const { return *open_; }
    /// For handlers: blocks until the gate opens (ten seconds at most).
    std::function<void()> waiter() const {
        return [flag = open_] {
            const auto deadline = std::chrono::steady_clock::now() + 10s;
            while (!*flag && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(2ms);
        };
    }

private:
    std::shared_ptr<std::atomic<bool>> open_;
};

// What each request brought, as the server saw it.
struct RequestLog {
    std::mutex mutex;
    std::vector<std::pair<std::string, std::string>> path_and_authorization;
    std::set<int> client_ports;

    void record(const httplib::Request& request) {
        std::lock_guard lock(mutex);
        path_and_authorization.emplace_back(request.path, request.get_header_value("Authorization"));
        client_ports.insert(request.remote_port);
    }
    void clear() {
        std::lock_guard lock(mutex);
        path_and_authorization.clear();
        client_ports.clear();
    }
    int authorized_requests() {
        std::lock_guard lock(mutex);
        int count = 0;
        for (const auto& entry : path_and_authorization)
            count += entry.second.empty() ? 0 : 1;
        return count;
    }
};

// cpp-httplib writes headers and body apart; with Nagle's algorithm on, every
// answer would wait for the client's delayed acknowledgement.
// It also closes a connection after five requests unless told otherwise.
void start_promptly(TestServer& server) {
    server.server().set_tcp_nodelay(true);
    server.server().set_keep_alive_max_count(100'000);
    server.start();
}

const std::string kUser = "ann";
const std::string kPassword = "s3cret";
const std::string kRealm = "quillmoor";
const std::string kNonce = "d41d8cd98f00b204e9800998ecf8427e";

std::string md5_hex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
    static const char* const hex = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 0xf];
    }
    return out;
}

// The key="value" and key=value fields of a Digest Authorization header.
std::map<std::string, std::string> digest_fields(const std::string& header) {
    static const std::regex field(R"re((\w+)=(?:"([^"]*)"|([^,\s]*)))re");
    std::map<std::string, std::string> fields;
    for (std::sregex_iterator it(header.begin(), header.end(), field), end; it != end; ++it)
        fields[(*it)[1]] = (*it)[2].matched ? (*it)[2].str() : (*it)[3].str();
    return fields;
}

bool digest_answer_valid(const httplib::Request& request) {
    const std::string header = request.get_header_value("Authorization");
    if (header.rfind("Digest ", 0) != 0)
        return false;
    auto f = digest_fields(header);
    if (f["username"] != kUser || f["realm"] != kRealm || f["nonce"] != kNonce || f["uri"] != request.target)
        return false;
    const std::string ha1 = md5_hex(kUser + ":" + kRealm + ":" + kPassword);
    const std::string ha2 = md5_hex(request.method + ":" + f["uri"]);
    const std::string expected =
        f["qop"].empty() ? md5_hex(ha1 + ":" + kNonce + ":" + ha2)
                         : md5_hex(ha1 + ":" + kNonce + ":" + f["nc"] + ":" + f["cnonce"] + ":" + f["qop"] + ":" + ha2);
    return f["response"] == expected;
}

// A site with an open page, a Basic and a Digest protected page, and pages
// that redirect to a given address.
void serve_protected_site(TestServer& site, const std::shared_ptr<RequestLog>& log) {
    auto& server = site.server();
    server.Get("/open", [log](const httplib::Request& request, httplib::Response& response) {
        log->record(request);
        response.set_content("open", "text/plain");
    });
    server.Get("/basic", [log](const httplib::Request& request, httplib::Response& response) {
        log->record(request);
        if (request.get_header_value("Authorization") ==
            httplib::make_basic_authentication_header(kUser, kPassword).second) {
            response.set_content("basic secret", "text/plain");
            return;
        }
        response.status = 401;
        response.set_header("WWW-Authenticate", "Basic realm=\"" + kRealm + "\"");
        response.set_content("denied", "text/plain");
    });
    server.Get("/digest", [log](const httplib::Request& request, httplib::Response& response) {
        log->record(request);
        if (digest_answer_valid(request)) {
            response.set_content("digest secret", "text/plain");
            return;
        }
        response.status = 401;
        response.set_header("WWW-Authenticate",
                            "Digest realm=\"" + kRealm + "\", nonce=\"" + kNonce + "\", qop=\"auth\", algorithm=MD5");
        response.set_content("denied", "text/plain");
    });
    server.Get("/redirect", [log](const httplib::Request& request, httplib::Response& response) {
        log->record(request);
        response.set_redirect(request.get_param_value("to"));
    });
}

TEST(CurlTransferTest, ReturnsTheBodyAndStatusOfEveryAnswer) {
    const std::string binary("GIF89a\0\x01\x02\xff\0end", 14);
    const std::string long_page(200'000, 'q');
    TestServer site;
    site.server().Get("/page", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("<html>page</html>", "text/html");
    });
    site.server().Get("/image.gif", [&binary](const httplib::Request&, httplib::Response& response) {
        response.set_content(binary, "image/gif");
    });
    // Long enough for the server to compress it: it must still arrive decoded.
    site.server().Get("/long", [&long_page](const httplib::Request&, httplib::Response& response) {
        response.set_content(long_page, "text/html");
    });
    site.server().Get("/empty", [](const httplib::Request&, httplib::Response& response) { response.status = 204; });
    site.server().set_error_handler([](const httplib::Request&, httplib::Response& response) {
        response.set_content("error " + std::to_string(response.status) + " html", "text/html");
    });
    site.server().Get("/broken", [](const httplib::Request&, httplib::Response& response) { response.status = 500; });
    start_promptly(site);

    struct Case {
        const char* path;
        bool as_bytes;
        long status;
        std::string body;
    };
    const Case cases[] = {
        {"/page", false, 200, "<html>page</html>"},
        {"/image.gif", true, 200, binary},
        {"/long", false, 200, long_page},
        {"/empty", true, 204, ""},
        {"/missing.gif", true, 404, "error 404 html"},
        {"/missing.html", false, 404, "error 404 html"},
        {"/broken", false, 500, "error 500 html"},
    };
    CurlTransfer transfer;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const FetchResult result =
            c.as_bytes ? transfer.fetch_bytes(site.url(c.path)) : transfer.fetch_text(site.url(c.path));
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_EQ(result.http_status, c.status);
        EXPECT_EQ(result.body, c.body);
    }
}

TEST(CurlTransferTest, ReusesOneConnectionForManyFetches) {
    auto log = std::make_shared<RequestLog>();
    TestServer site;
    site.server().Get("/file", [log](const httplib::Request& request, httplib::Response& response) {
        log->record(request);
        response.set_content("x", "application/octet-stream");
    });
    start_promptly(site);

    CurlTransfer transfer;
    constexpr int kFetches = 1000;
    for (int i = 0; i < kFetches; ++i) {
        const FetchResult result =
            i % 2 ? transfer.fetch_bytes(site.url("/file")) : transfer.fetch_text(site.url("/file"));
        ASSERT_TRUE(result.ok) << "fetch " << i << ": " << result.error;
    }
    EXPECT_EQ(log->path_and_authorization.size(), static_cast<std::size_t>(kFetches));
    EXPECT_EQ(log->client_ports.size(), 1u) << "every fetch should ride the same connection";
}

TEST(CurlTransferTest, FollowsRedirectsUpToTen) {
    TestServer site;
    // /hop/N answers with a relative redirect to /hop/N-1; /hop/0 is the page.
    site.server().Get(R"(/hop/(\d+))", [](const httplib::Request& request, httplib::Response& response) {
        static const int statuses[] = {301, 302, 303, 307, 308};
        const int n = std::stoi(request.matches[1]);
        if (n == 0) {
            response.set_content("arrived", "text/plain");
            return;
        }
        response.status = statuses[n % 5];
        response.set_header("Location", std::to_string(n - 1));
        response.set_content("moved", "text/plain");
    });
    site.server().Get("/nowhere", [](const httplib::Request&, httplib::Response& response) {
        response.status = 302;
        response.set_content("no location", "text/plain");
    });
    start_promptly(site);

    struct Case {
        std::string path;
        bool ok;
        long status;
        const char* body;
    };
    const Case cases[] = {
        {"/hop/1", true, 200, "arrived"},
        {"/hop/10", true, 200, "arrived"},
        {"/hop/11", false, 0, ""},
        {"/hop/50", false, 0, ""},
        // A redirect that says nowhere to go is an answer like any other.
        {"/nowhere", true, 302, "no location"},
    };
    CurlTransfer transfer;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const FetchResult result = transfer.fetch_text(site.url(c.path));
        EXPECT_EQ(result.ok, c.ok) << result.error;
        EXPECT_EQ(result.http_status, c.status);
        EXPECT_EQ(result.body, c.body);
        EXPECT_EQ(result.error.empty(), c.ok);
    }
}

TEST(CurlTransferTest, OffersCredentialsOnlyToTheStartSiteWhenAsked) {
    auto site_log = std::make_shared<RequestLog>();
    auto other_log = std::make_shared<RequestLog>();
    TestServer site;
    TestServer other;
    serve_protected_site(site, site_log);
    serve_protected_site(other, other_log);
    start_promptly(site);
    start_promptly(other);

    struct Case {
        const char* name;
        std::string user;
        std::string password;
        std::string start_address;
        std::string fetched;
        long status;
        const char* body;
        int authorized_at_site;
        int authorized_at_other;
    };
    const std::string to_other_basic = site.url("/redirect?to=" + other.url("/basic"));
    const Case cases[] = {
        {"Basic on the start site", kUser, kPassword, site.url("/"), site.url("/basic"), 200, "basic secret", 1, 0},
        {"Digest on the start site", kUser, kPassword, site.url("/"), site.url("/digest"), 200, "digest secret", 1, 0},
        {"start page deeper on the same site", kUser, kPassword, site.url("/dir/index.html"), site.url("/basic"), 200,
         "basic secret", 1, 0},
        {"redirect within the site", kUser, kPassword, site.url("/"), site.url("/redirect?to=/basic"), 200,
         "basic secret", 1, 0},
        {"wrong password", kUser, "guess", site.url("/"), site.url("/basic"), 401, "denied", 1, 0},
        {"page that does not ask", kUser, kPassword, site.url("/"), site.url("/open"), 200, "open", 0, 0},
        {"another server", kUser, kPassword, site.url("/"), other.url("/basic"), 401, "denied", 0, 0},
        {"redirect to another server", kUser, kPassword, site.url("/"), to_other_basic, 401, "denied", 0, 0},
        {"empty password", kUser, "", site.url("/"), site.url("/basic"), 401, "denied", 0, 0},
        {"empty user name", "", kPassword, site.url("/"), site.url("/digest"), 401, "denied", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        site_log->clear();
        other_log->clear();
        CurlTransfer transfer;
        transfer.set_credentials(c.user, c.password, c.start_address);
        const FetchResult result = transfer.fetch_text(c.fetched);
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_EQ(result.http_status, c.status);
        EXPECT_EQ(result.body, c.body);
        EXPECT_EQ(site_log->authorized_requests(), c.authorized_at_site);
        EXPECT_EQ(other_log->authorized_requests(), c.authorized_at_other);
    }
}

TEST(CurlTransferTest, CredentialsWaitToBeAskedEachTimeAndLastOneRun) {
    auto site_log = std::make_shared<RequestLog>();
    TestServer site;
    serve_protected_site(site, site_log);
    start_promptly(site);

    CurlTransfer transfer;
    transfer.set_credentials(kUser, kPassword, site.url("/"));
    EXPECT_EQ(transfer.fetch_text(site.url("/basic")).http_status, 200);
    // Having been asked once is no leave to send them unasked afterwards.
    EXPECT_EQ(transfer.fetch_text(site.url("/open")).http_status, 200);
    EXPECT_EQ(transfer.fetch_text(site.url("/digest")).http_status, 200);
    EXPECT_EQ(transfer.fetch_text(site.url("/open")).http_status, 200);
    EXPECT_EQ(site_log->authorized_requests(), 2);
    // The next run has none, or has them for another site.
    transfer.set_credentials("", "", site.url("/"));
    EXPECT_EQ(transfer.fetch_text(site.url("/basic")).http_status, 401);
    transfer.set_credentials(kUser, kPassword, "http://elsewhere.invalid/");
    EXPECT_EQ(transfer.fetch_text(site.url("/digest")).http_status, 401);
    EXPECT_EQ(site_log->authorized_requests(), 2);
    EXPECT_EQ(site_log->client_ports.size(), 1u) << "forgetting the scheme must not drop the connection";
}

TEST(CurlTransferTest, ChecksCertificates) {
    struct Case {
        const char* name;
        const char* certificate_ip;
        bool trust_its_authority;
        bool trust_another_authority;
        bool ok;
    };
    const Case cases[] = {
        {"signed by the trusted authority", "127.0.0.1", true, false, true},
        {"unknown authority", "127.0.0.1", false, false, false},
        {"signed by another authority than the trusted one", "127.0.0.1", false, true, false},
        {"made for another address", "127.0.0.2", true, false, false},
    };
    TempDir other_files;
    const TestCertificates other = make_test_certificates(other_files.path());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir files;
        const TestCertificates certificates = make_test_certificates(files.path(), c.certificate_ip);
        TestServer site(certificates.certificate_file, certificates.key_file);
        site.server().Get("/page", [](const httplib::Request&, httplib::Response& response) {
            response.set_content("over TLS", "text/plain");
        });
        start_promptly(site);

        TransferSettings settings;
        if (c.trust_its_authority)
            settings.extra_ca_file = certificates.ca_file;
        if (c.trust_another_authority)
            settings.extra_ca_file = other.ca_file;
        CurlTransfer transfer(settings);
        const FetchResult result = transfer.fetch_text(site.url("/page"));
        EXPECT_EQ(result.ok, c.ok) << result.error;
        EXPECT_EQ(result.body, c.ok ? "over TLS" : "");
        EXPECT_EQ(result.error.empty(), c.ok);
    }
}

TEST(CurlTransferTest, FailsWhenTheServerStalls) {
    TestServer site;
    Gate gate;
    site.server().Get("/silent", [wait = gate.waiter()](const httplib::Request&, httplib::Response& response) {
        wait();
        response.set_content("too late", "text/plain");
    });
    site.server().Get("/half", [wait = gate.waiter()](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider("text/plain", [wait](std::size_t offset, httplib::DataSink& sink) {
            if (offset == 0)
                return sink.write("first half ", 11);
            wait();
            sink.done();
            return true;
        });
    });
    start_promptly(site);

    TransferSettings settings;
    settings.stall_timeout = 300ms;
    CurlTransfer transfer(settings);
    for (const char* path : {"/silent", "/half"}) {
        SCOPED_TRACE(path);
        const FetchResult result = transfer.fetch_text(site.url(path));
        EXPECT_FALSE(result.ok);
        EXPECT_FALSE(result.error.empty());
        EXPECT_TRUE(result.body.empty()) << "a cut-off body must not pass for a page";
    }
    EXPECT_FALSE(gate.is_open());
}

TEST(CurlTransferTest, YieldsWhileWaitingAndCancelsAtOnce) {
    auto log = std::make_shared<RequestLog>();
    TestServer site;
    Gate gate;
    serve_protected_site(site, log);
    Gate second_gate;
    site.server().Get("/slow", [wait = gate.waiter()](const httplib::Request&, httplib::Response& response) {
        wait();
        response.set_content("slow page", "text/plain");
    });
    site.server().Get("/stuck", [wait = second_gate.waiter()](const httplib::Request&, httplib::Response& response) {
        wait();
        response.set_content("never read", "text/plain");
    });
    start_promptly(site);

    CurlTransfer transfer;
    // The hook runs while the server is silent; here it lets the server answer.
    int calls = 0;
    transfer.set_yield_hook([&] {
        if (++calls == 4)
            gate.open();
        return true;
    });
    FetchResult result = transfer.fetch_text(site.url("/slow"));
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.body, "slow page");
    EXPECT_GE(calls, 4);

    // A hook that says stop ends the fetch there, while the server still says nothing.
    calls = 0;
    transfer.set_yield_hook([&] { return ++calls < 3; });
    result = transfer.fetch_bytes(site.url("/stuck"));
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.error.empty());
    EXPECT_EQ(calls, 3);
    EXPECT_FALSE(second_gate.is_open());

    // The transfer is still usable afterwards, with and without a hook.
    transfer.set_yield_hook([] { return true; });
    result = transfer.fetch_text(site.url("/open"));
    EXPECT_TRUE(result.ok) << result.error;
    transfer.set_yield_hook({});
    result = transfer.fetch_text(site.url("/open"));
    EXPECT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.body, "open");
}

TEST(CurlTransferTest, RefusesBodiesOverTheLimit) {
    TestServer site;
    // /sized/N answers N bytes with a length; /streamed/N the same in chunks without one.
    site.server().Get(R"(/sized/(\d+))", [](const httplib::Request& request, httplib::Response& response) {
        response.set_content(std::string(std::stoul(request.matches[1]), 'a'), "application/octet-stream");
    });
    site.server().Get(R"(/streamed/(\d+))", [](const httplib::Request& request, httplib::Response& response) {
        const std::size_t size = std::stoul(request.matches[1]);
        response.set_chunked_content_provider(
            "application/octet-stream", [size](std::size_t offset, httplib::DataSink& sink) {
                const std::string piece(std::min<std::size_t>(100, size - offset), 'b');
                sink.write(piece.data(), piece.size());
                if (offset + piece.size() == size)
                    sink.done();
                return true;
            });
    });
    start_promptly(site);

    struct Case {
        std::string path;
        bool as_bytes;
        bool ok;
    };
    const Case cases[] = {
        {"/sized/1000", false, true},     {"/sized/1001", false, false},  {"/streamed/1000", false, true},
        {"/streamed/1001", false, false}, {"/streamed/5000", true, true}, {"/sized/5001", true, false},
        {"/streamed/5001", true, false},
    };
    TransferSettings settings;
    settings.max_text_bytes = 1000;
    settings.max_image_bytes = 5000;
    CurlTransfer transfer(settings);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const FetchResult result =
            c.as_bytes ? transfer.fetch_bytes(site.url(c.path)) : transfer.fetch_text(site.url(c.path));
        EXPECT_EQ(result.ok, c.ok) << result.error;
        EXPECT_EQ(result.error.empty(), c.ok);
        const std::size_t size = std::stoul(c.path.substr(c.path.rfind('/') + 1));
        EXPECT_EQ(result.body.size(), c.ok ? size : 0u);
    }
}

TEST(CurlTransferTest, ReportsFailuresAsFailures) {
    int closed_port = 0;
    {
        TestServer gone;
        start_promptly(gone);
        closed_port = gone.port();
    }
    TestServer site;
    site.server().Get("/file", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("local file", "text/plain");
    });
    site.server().Get("/elsewhere", [](const httplib::Request&, httplib::Response& response) {
        response.set_redirect("file:///etc/hostname");
    });
    start_promptly(site);

    const std::string cases[] = {
        "http://127.0.0.1:" + std::to_string(closed_port) + "/page.html",
        "http://unknown-host.invalid/page.html",
        "",
        "http://",
        "not an address",
        "file:///etc/hostname",
        "ftp://127.0.0.1:" + std::to_string(site.port()) + "/file",
        // Only http and https may be followed, too.
        site.url("/elsewhere"),
    };
    TransferSettings settings;
    settings.connect_timeout = 2s;
    CurlTransfer transfer(settings);
    for (const std::string& address : cases) {
        SCOPED_TRACE(address);
        const FetchResult result = transfer.fetch_text(address);
        EXPECT_FALSE(result.ok);
        EXPECT_FALSE(result.error.empty());
        EXPECT_TRUE(result.body.empty());
    }
}

} // namespace
