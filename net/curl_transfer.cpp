#include "net/curl_transfer.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>
#include <utility>

#include <curl/curl.h>

#include "net/address.h"

namespace {

using Clock = std::chrono::steady_clock;

// Anything longer than this between two yields would make the window feel stuck.
constexpr int kPollSliceMs = 50;

std::string read_whole_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool is_redirect(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

} // namespace

struct CurlTransfer::Impl {
    // Why a transfer stopped before libcurl finished it on its own.
    enum class Abort { none, too_large, stalled, cancelled };

    TransferSettings settings;
    YieldHook yield_hook;
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    char error_buffer[CURL_ERROR_SIZE] = {};

    std::string user_name;
    std::string password;
    std::string credentials_root; // "" when the run has no credentials
    // libcurl remembers a scheme that worked and would send it unasked on the
    // next request; a reset forgets it, so every request waits to be asked.
    bool forget_authentication = false;
    std::string ca_pem; // system bundle plus the extra authority, when there is one

    // State of the transfer in progress, read by the callbacks.
    std::string body;
    std::size_t body_limit = 0;
    Clock::time_point last_activity;
    Abort abort = Abort::none;

    explicit Impl(TransferSettings s) : settings(std::move(s)) {
        easy = curl_easy_init();
        multi = curl_multi_init();
        if (easy && !settings.extra_ca_file.empty())
            ca_pem = system_and_extra_authorities();
        if (easy)
            configure_easy();
    }

    ~Impl() {
        if (easy)
            curl_easy_cleanup(easy);
        if (multi)
            curl_multi_cleanup(multi);
    }

    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    static std::size_t on_body(char* data, std::size_t size, std::size_t count, void* user) {
        auto* self = static_cast<Impl*>(user);
        const std::size_t n = size * count;
        self->last_activity = Clock::now();
        // Refuse as soon as the limit is passed rather than after buffering it all.
        if (self->body.size() + n > self->body_limit) {
            self->abort = Abort::too_large;
            return 0;
        }
        if (self->body.empty())
            self->reserve_announced_length();
        self->body.append(data, n);
        return n;
    }

    // Sizing the body once from the announced length saves the copies of a
    // growing buffer, which show up when thousands of images are fetched.
    void reserve_announced_length() {
        curl_off_t announced = -1;
        if (curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK && announced > 0)
            body.reserve(std::min(static_cast<std::size_t>(announced), body_limit));
    }

    static std::size_t on_header(char*, std::size_t size, std::size_t count, void* user) {
        static_cast<Impl*>(user)->last_activity = Clock::now();
        return size * count;
    }

    // Options that hold for every fetch, set once (and again after a reset) so
    // that a fetch only changes its address, size limit and credentials.
    void configure_easy() {
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error_buffer);
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_USERAGENT, "Quillmoor/2.0");
        curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(settings.connect_timeout.count()));
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
        // Most images arrive in one read instead of a dozen.
        curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 256L * 1024);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Impl::on_body);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Impl::on_header);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
        if (!ca_pem.empty()) {
            curl_blob blob{ca_pem.data(), ca_pem.size(), CURL_BLOB_NOCOPY};
            curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob);
        }
    }

    // A CA blob replaces libcurl's CA file, so the blob carries the system's
    // bundle followed by the extra authority: both stay trusted.
    std::string system_and_extra_authorities() const {
        std::string pem;
#if LIBCURL_VERSION_NUM >= 0x075400
        const char* system_bundle = nullptr;
        if (curl_easy_getinfo(easy, CURLINFO_CAINFO, &system_bundle) == CURLE_OK && system_bundle)
            pem = read_whole_file(system_bundle);
#endif
        if (!pem.empty() && pem.back() != '\n')
            pem += '\n';
        pem += read_whole_file(settings.extra_ca_file);
        return pem;
    }

    // Credentials go only to the start site: a hop to another host, port or
    // scheme gets none. With two schemes allowed, libcurl waits for the
    // server's challenge before sending anything.
    void choose_credentials(const std::string& address) {
        if (forget_authentication) {
            curl_easy_reset(easy);
            configure_easy();
            forget_authentication = false;
        }
        const bool offer = !credentials_root.empty() && m_qmr::url_racine(address) == credentials_root;
        if (offer) {
            forget_authentication = true;
            curl_easy_setopt(easy, CURLOPT_USERNAME, user_name.c_str());
            curl_easy_setopt(easy, CURLOPT_PASSWORD, password.c_str());
            curl_easy_setopt(easy, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC | CURLAUTH_DIGEST));
        } else {
            curl_easy_setopt(easy, CURLOPT_USERNAME, nullptr);
            curl_easy_setopt(easy, CURLOPT_PASSWORD, nullptr);
            curl_easy_setopt(easy, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
        }
    }

    static FetchResult failure(std::string why) {
        FetchResult result;
        result.error = std::move(why);
        return result;
    }

    // Runs one request on the multi handle in slices of at most 50 ms, yielding
    // between them. Returns libcurl's outcome or CURLE_ABORTED_BY_CALLBACK.
    CURLcode run_one_request() {
        if (curl_multi_add_handle(multi, easy) != CURLM_OK)
            return CURLE_FAILED_INIT;
        CURLcode outcome = CURLE_OK;
        for (;;) {
            int running = 0;
            if (curl_multi_perform(multi, &running) != CURLM_OK) {
                outcome = CURLE_FAILED_INIT;
                break;
            }
            bool done = false;
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
                if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
                    outcome = message->data.result;
                    done = true;
                }
            }
            if (done)
                break;
            if (Clock::now() - last_activity > settings.stall_timeout) {
                abort = Abort::stalled;
                outcome = CURLE_ABORTED_BY_CALLBACK;
                break;
            }
            curl_multi_poll(multi, nullptr, 0, kPollSliceMs, nullptr);
            if (yield_hook && !yield_hook()) {
                abort = Abort::cancelled;
                outcome = CURLE_ABORTED_BY_CALLBACK;
                break;
            }
        }
        // Removing a finished handle keeps its connection in the multi handle's
        // cache for the next fetch; an unfinished one is closed.
        curl_multi_remove_handle(multi, easy);
        return outcome;
    }

    std::string error_text(CURLcode code) const {
        switch (abort) {
        case Abort::too_large:
            return "body larger than " + std::to_string(body_limit) + " bytes";
        case Abort::stalled:
            return "nothing received for " + std::to_string(settings.stall_timeout.count()) + " ms";
        case Abort::cancelled:
            return "cancelled";
        case Abort::none:
            break;
        }
        std::string text = curl_easy_strerror(code);
        if (error_buffer[0] != '\0')
            text += std::string(": ") + error_buffer;
        return text;
    }

    FetchResult fetch(const std::string& address, std::size_t limit) {
        if (!easy || !multi)
            return failure("the transfer could not be initialised");
        body_limit = limit;
        std::string current = address;
        // Redirects are followed here rather than by libcurl so that credentials
        // are decided again for every hop.
        for (int redirects = 0;; ++redirects) {
            body.clear();
            abort = Abort::none;
            error_buffer[0] = '\0';
            last_activity = Clock::now();
            choose_credentials(current); // first: it may reset the handle
            curl_easy_setopt(easy, CURLOPT_URL, current.c_str());
            curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limit));

            const CURLcode code = run_one_request();
            if (code != CURLE_OK) {
                if (code == CURLE_FILESIZE_EXCEEDED)
                    abort = Abort::too_large;
                return failure(error_text(code));
            }
            long status = 0;
            curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
            const char* location = nullptr;
            curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &location);
            if (!is_redirect(status) || !location || !*location) {
                FetchResult result;
                result.ok = true;
                result.http_status = status;
                result.body = std::move(body);
                body.clear();
                return result;
            }
            if (redirects >= settings.max_redirects)
                return failure("more than " + std::to_string(settings.max_redirects) + " redirects");
            current = location;
        }
    }
};

CurlTransfer::CurlTransfer(TransferSettings settings) : impl_(std::make_unique<Impl>(std::move(settings))) {}

CurlTransfer::~CurlTransfer() = default;

void CurlTransfer::set_credentials(const std::string& user_name, const std::string& password,
                                   const std::string& start_address) {
    // Either text empty means the run has no credentials at all.
    if (user_name.empty() || password.empty()) {
        impl_->user_name.clear();
        impl_->password.clear();
        impl_->credentials_root.clear();
        return;
    }
    impl_->user_name = user_name;
    impl_->password = password;
    impl_->credentials_root = m_qmr::url_racine(start_address);
}

FetchResult CurlTransfer::fetch_text(const std::string& address) {
    return impl_->fetch(address, impl_->settings.max_text_bytes);
}

FetchResult CurlTransfer::fetch_bytes(const std::string& address) {
    return impl_->fetch(address, impl_->settings.max_image_bytes);
}

void CurlTransfer::set_yield_hook(YieldHook hook) {
    impl_->yield_hook = std::move(hook);
}
