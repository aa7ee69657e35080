#include "net/curl_transfer.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string_view>
#include <utility>
#include <vector>

#include <curl/curl.h>

#include "net/address.h"
#include "net/curl_errors.h"
#include "quillmoor_version.h"

namespace {

using Clock = std::chrono::steady_clock;

// Anything longer than this between two yields would make the window feel stuck.
constexpr int poll_slice_ms = 50;

// The most time charged to the fetches at one accounting: a longer gap is
// time when nobody drove them (a suspended machine, long work between
// waits), not time the link gave them.
constexpr Clock::duration most_charged_at_once = std::chrono::milliseconds(250);

// A page larger than this is rare enough to be given the room for its whole
// limit when it grows past it.
constexpr std::size_t large_page = 1u << 20;

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

struct EasyCleanup {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiCleanup {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
/// libcurl's handles, cleaned up when they go. An easy handle must have left
/// the multi handle by then, and the multi handle outlive its easy handles.
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;
using MultiHandle = std::unique_ptr<CURLM, MultiCleanup>;

struct HeaderListCleanup {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, HeaderListCleanup>;

/// Adds "name: value" to `list`, unless the value is empty or could split
/// the request (a line end in a value the server sent).
void add_header(HeaderList& list, const char* name, const std::string& value) {
    if (value.empty() || value.find_first_of("\r\n") != std::string::npos)
        return;
    const std::string line = std::string(name) + ": " + value;
    if (curl_slist* longer = curl_slist_append(list.get(), line.c_str())) {
        static_cast<void>(list.release());
        list.reset(longer);
    }
}

/// The value of header line `line` when it is the header `name` (any case), without the blanks around it.
std::optional<std::string> header_value(std::string_view line, std::string_view name) {
    if (line.size() <= name.size() || line[name.size()] != ':')
        return std::nullopt;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(line[i])) != name[i])
            return std::nullopt;
    line.remove_prefix(name.size() + 1);
    const auto first = line.find_first_not_of(" \t");
    const auto last = line.find_last_not_of(" \t\r\n");
    if (first == std::string_view::npos || last < first)
        return std::string();
    return std::string(line.substr(first, last - first + 1));
}

} // namespace

struct CurlTransfer::Impl {
    // Why a transfer stopped before libcurl finished it on its own.
    enum class Abort { none, too_large, refused_by_sink, cancelled };

    /// One fetch, from its first request to its last redirect.
    struct Request {
        FetchTicket ticket = 0;
        EasyHandle easy;
        std::string address; ///< the hop being fetched
        std::size_t limit = 0;
        BodySink* sink = nullptr; ///< images; pages go to `result.body`
        HeaderList conditions;    ///< the validators to send, on every hop
        std::size_t received = 0;
        int redirects = 0;
        bool sent = false; ///< the current hop is in the multi handle, at work
        bool finished = false;
        /// The link's time given to this fetch so far, its redirects included.
        Clock::duration charged{};
        /// Body bytes of every hop, the redirects' included, and where the
        /// low-speed window began: at that charged time, with that many bytes.
        std::size_t bytes_seen = 0;
        Clock::duration window_began{};
        std::size_t bytes_at_window = 0;
        /// The wall-clock backstop of the whole fetch.
        Clock::time_point backstop;
        Abort abort = Abort::none;
        char error_buffer[CURL_ERROR_SIZE] = {};
        FetchResult result;
    };

    TransferSettings settings;
    YieldHook yield_hook;
    MultiHandle multi; // before the easy handles, so that it goes after them
    FetchTicket last_ticket = 0;
    std::map<FetchTicket, std::unique_ptr<Request>> in_flight;
    int sent_count = 0; // requests in flight whose hop is at work
    Clock::time_point last_accounting = Clock::now();
    std::vector<EasyHandle> idle_handles;
    // Handles that offered credentials: libcurl remembers a scheme that worked
    // and would send it unasked on the next request, so they are reset before
    // being used again and every request waits to be asked.
    std::vector<CURL*> handles_to_reset;
    std::string ca_pem; // system bundle plus the extra authority, when there is one

    std::string user_name;
    std::string password;
    std::string credentials_root; // "" when the run has no credentials

    explicit Impl(TransferSettings s) : settings(std::move(s)), multi(curl_multi_init()) {
        if (multi) {
            // A polite client: no more connections to a host, nor in all, than
            // fetches in flight; over HTTP/2 they share one connection.
            const auto most = static_cast<long>(max_fetches_in_flight);
            curl_multi_setopt(multi.get(), CURLMOPT_MAX_HOST_CONNECTIONS, most);
            curl_multi_setopt(multi.get(), CURLMOPT_MAX_TOTAL_CONNECTIONS, most);
            // Kept open between fetches, whatever the number of handles at work.
            curl_multi_setopt(multi.get(), CURLMOPT_MAXCONNECTS, most);
            curl_multi_setopt(multi.get(), CURLMOPT_PIPELINING, static_cast<long>(CURLPIPE_MULTIPLEX));
        }
        if (!settings.extra_ca_file.empty())
            ca_pem = system_and_extra_authorities();
    }

    ~Impl() {
        for (auto& [ticket, request] : in_flight)
            take_out(*request);
    }

    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    // Keeps the validators of the answer being received; a new status line
    // (a redirect, a challenge for credentials) starts another answer.
    static std::size_t on_header(char* data, std::size_t size, std::size_t count, void* user) {
        auto* request = static_cast<Request*>(user);
        const std::string_view line(data, size * count);
        if (line.starts_with("HTTP/")) {
            request->result.etag.clear();
            request->result.last_modified.clear();
        } else if (auto etag = header_value(line, "etag")) {
            request->result.etag = std::move(*etag);
        } else if (auto modified = header_value(line, "last-modified")) {
            request->result.last_modified = std::move(*modified);
        }
        return size * count;
    }

    static std::size_t on_body(char* data, std::size_t size, std::size_t count, void* user) {
        auto* request = static_cast<Request*>(user);
        const std::size_t n = size * count;
        request->bytes_seen += n;
        // A redirect's own body is of no interest; the final answer's is.
        long status = 0;
        curl_easy_getinfo(request->easy.get(), CURLINFO_RESPONSE_CODE, &status);
        if (is_redirect(status))
            return n;
        // Refuse as soon as the limit is passed rather than after receiving it all.
        if (request->received + n > request->limit) {
            request->abort = Abort::too_large;
            return 0;
        }
        request->received += n;
        if (request->sink) {
            if (!request->sink->write(std::string_view(data, n))) {
                request->abort = Abort::refused_by_sink;
                return 0;
            }
            return n;
        }
        std::string& body = request->result.body;
        // Sizing a page once from its announced length saves the copies of a
        // growing buffer. Past a megabyte the room for the whole limit is taken
        // at once: doubling a large buffer would hold the old one and the new
        // one together, half as much again as the limit.
        if (body.empty()) {
            curl_off_t announced = -1;
            if (curl_easy_getinfo(request->easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK &&
                announced > 0)
                body.reserve(std::min(static_cast<std::size_t>(announced), request->limit));
        } else if (body.size() + n > body.capacity() && body.size() + n > large_page) {
            body.reserve(request->limit);
        }
        body.append(data, n);
        return n;
    }

    // Options that hold for every fetch, set when a handle is made and again
    // after a reset.
    void configure(CURL* easy) const {
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_USERAGENT, "Quillmoor/" QUILLMOOR_VERSION);
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(settings.connect_timeout.count()));
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
        // Most images arrive in one read instead of a dozen.
        curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 256L * 1024);
        // No CURLOPT_PIPEWAIT: over HTTP/1.1 it keeps every fetch but the
        // first waiting until a connection is released. A server that speaks
        // HTTP/2 may get a connection for each of the first fetches; the
        // fetches after them share those.
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Impl::on_body);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Impl::on_header);
        if (!ca_pem.empty()) {
            curl_blob blob{const_cast<char*>(ca_pem.data()), ca_pem.size(), CURL_BLOB_COPY};
            curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob);
        }
    }

    // A CA blob replaces libcurl's CA file, so the blob carries the system's
    // bundle followed by the extra authority: both stay trusted.
    std::string system_and_extra_authorities() const {
        std::string pem;
#if LIBCURL_VERSION_NUM >= 0x075400
        if (const EasyHandle probe{curl_easy_init()}) {
            const char* system_bundle = nullptr;
            if (curl_easy_getinfo(probe.get(), CURLINFO_CAINFO, &system_bundle) == CURLE_OK && system_bundle)
                pem = read_whole_file(system_bundle);
        }
#endif
        if (!pem.empty() && pem.back() != '\n')
            pem += '\n';
        pem += read_whole_file(settings.extra_ca_file);
        return pem;
    }

    EasyHandle take_handle() {
        if (!idle_handles.empty()) {
            EasyHandle easy = std::move(idle_handles.back());
            idle_handles.pop_back();
            return easy;
        }
        EasyHandle easy{curl_easy_init()};
        if (easy)
            configure(easy.get());
        return easy;
    }

    void give_back(EasyHandle easy) {
        const auto offered = std::find(handles_to_reset.begin(), handles_to_reset.end(), easy.get());
        if (offered != handles_to_reset.end()) {
            handles_to_reset.erase(offered);
            curl_easy_reset(easy.get());
            configure(easy.get());
        }
        idle_handles.push_back(std::move(easy));
    }

    // Credentials go only to the start site: a hop to another host, port or
    // scheme gets none. With two schemes allowed, libcurl waits for the
    // server's challenge before sending anything.
    void choose_credentials(CURL* easy, const std::string& address) {
        const bool offer = !credentials_root.empty() && m_qmr::url_racine(address) == credentials_root;
        if (offer) {
            if (std::find(handles_to_reset.begin(), handles_to_reset.end(), easy) == handles_to_reset.end())
                handles_to_reset.push_back(easy);
            curl_easy_setopt(easy, CURLOPT_USERNAME, user_name.c_str());
            curl_easy_setopt(easy, CURLOPT_PASSWORD, password.c_str());
            curl_easy_setopt(easy, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC | CURLAUTH_DIGEST));
        } else {
            curl_easy_setopt(easy, CURLOPT_USERNAME, nullptr);
            curl_easy_setopt(easy, CURLOPT_PASSWORD, nullptr);
            curl_easy_setopt(easy, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
        }
    }

    /// Sends the request for the hop in `request.address`; false when libcurl
    /// refuses it, and the request is then finished.
    bool send(Request& request) {
        // The time limits are kept by account(), on the share of the link
        // each fetch is given. libcurl's own limit is only a backstop, long
        // enough never to act first, so that no fault of that accounting can
        // hold a run for ever: the whole limit for each of the fetches that
        // may share the link, and a connection's time.
        if (request.redirects == 0)
            request.backstop = Clock::now() + settings.total_timeout * max_fetches_in_flight + settings.connect_timeout;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(request.backstop - Clock::now());
        if (request.charged >= settings.total_timeout || left.count() <= 0)
            return finish_with_error(request, timed_out_text());
        CURL* easy = request.easy.get();
        request.abort = Abort::none;
        request.error_buffer[0] = '\0';
        request.received = 0;
        request.result.body.clear();
        choose_credentials(easy, request.address);
        const std::string wire_address = m_qmr::encoded_address(request.address);
        curl_easy_setopt(easy, CURLOPT_URL, wire_address.c_str());
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, request.error_buffer);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &request);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, &request);
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, request.conditions.get());
        curl_easy_setopt(easy, CURLOPT_PRIVATE, &request);
        curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(request.limit));
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(left.count()));
        // Pages may come compressed (what counts against their limit is what
        // they inflate to); images are asked for as they are, since they would
        // gain nothing and a sink must see the bytes of the file.
        curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, request.sink ? nullptr : "");
        if (curl_multi_add_handle(multi.get(), easy) != CURLM_OK)
            return finish_with_error(request, "le téléchargement n'a pas pu commencer");
        request.sent = true;
        ++sent_count;
        return true;
    }

    /// Takes the hop out of the multi handle. An unfinished one loses its
    /// connection, which is never used again half-read.
    void take_out(Request& request) {
        if (!request.sent)
            return;
        curl_multi_remove_handle(multi.get(), request.easy.get());
        request.sent = false;
        --sent_count;
    }

    std::string timed_out_text() const {
        return "délai dépassé : aucune réponse complète en " + std::to_string(settings.total_timeout.count()) + " ms";
    }

    /// Charges the time since the last accounting to the fetches at work, a
    /// share each, and stops those past a limit. Alone, a fetch is charged the
    /// time as it passes; six at work over one link are charged a sixth each.
    void account() {
        const Clock::time_point now = Clock::now();
        const Clock::duration elapsed = std::min(now - last_accounting, most_charged_at_once);
        last_accounting = now;
        if (sent_count == 0)
            return;
        const Clock::duration share = elapsed / sent_count;
        const auto least_in_window = static_cast<std::size_t>(std::max(0L, settings.low_speed_bytes)) *
                                     static_cast<std::size_t>(settings.low_speed_time.count());
        for (auto& [ticket, request] : in_flight) {
            if (!request->sent)
                continue;
            request->charged += share;
            if (request->charged >= settings.total_timeout) {
                stop(*request, timed_out_text());
            } else if (request->charged - request->window_began >= settings.low_speed_time) {
                if (request->bytes_seen - request->bytes_at_window < least_in_window) {
                    stop(*request, "trop lent : moins de " + std::to_string(settings.low_speed_bytes) +
                                       " octets par seconde en " + std::to_string(settings.low_speed_time.count()) +
                                       " s");
                    continue;
                }
                request->window_began = request->charged;
                request->bytes_at_window = request->bytes_seen;
            }
        }
    }

    void stop(Request& request, std::string why) {
        take_out(request);
        finish_with_error(request, std::move(why));
    }

    /// Sends the fetches started while max_fetches_in_flight were at work, in
    /// the order they were started. With no more at work than connections
    /// allowed, none waits inside libcurl for a connection, where it would
    /// be charged for the wait.
    void send_waiting() {
        for (auto& [ticket, request] : in_flight) {
            if (sent_count >= max_fetches_in_flight)
                return;
            if (!request->sent && !request->finished)
                send(*request);
        }
    }

    bool finish_with_error(Request& request, std::string why) {
        request.result = FetchResult{};
        request.result.error = std::move(why);
        request.finished = true;
        return false;
    }

    std::string error_text(const Request& request, CURLcode code) const {
        switch (request.abort) {
        case Abort::too_large:
            return "réponse de plus de " + std::to_string(request.limit) + " octets";
        case Abort::refused_by_sink:
            return "la réponse n'a pas pu être enregistrée";
        case Abort::cancelled:
            return "annulé";
        case Abort::none:
            break;
        }
        if (code == CURLE_FILESIZE_EXCEEDED)
            return "réponse de plus de " + std::to_string(request.limit) + " octets";
        return curl_error_text(code, request.error_buffer);
    }

    /// A hop has ended: the request is finished, or sent on to where the
    /// server redirected it. Redirects are followed here rather than by
    /// libcurl so that credentials are decided again for every hop.
    void hop_done(Request& request, CURLcode code) {
        take_out(request);
        if (code != CURLE_OK) {
            finish_with_error(request, error_text(request, code));
            return;
        }
        long status = 0;
        curl_easy_getinfo(request.easy.get(), CURLINFO_RESPONSE_CODE, &status);
        const char* location = nullptr;
        curl_easy_getinfo(request.easy.get(), CURLINFO_REDIRECT_URL, &location);
        if (!is_redirect(status) || !location || !*location) {
            request.result.ok = true;
            request.result.http_status = status;
            request.finished = true;
            return;
        }
        if (request.redirects >= settings.max_redirects) {
            finish_with_error(request, "plus de " + std::to_string(settings.max_redirects) + " redirections");
            return;
        }
        ++request.redirects;
        request.address = location;
        send(request);
    }

    FetchTicket start(FetchRequest fetch) {
        auto request = std::make_unique<Request>();
        request->ticket = ++last_ticket;
        request->address = std::move(fetch.address);
        request->sink = fetch.sink;
        request->limit = fetch.sink ? settings.max_image_bytes : settings.max_text_bytes;
        add_header(request->conditions, "If-None-Match", fetch.if_none_match);
        add_header(request->conditions, "If-Modified-Since", fetch.if_modified_since);
        if (multi)
            request->easy = take_handle();
        // The time before a fetch is at work is nobody's.
        if (sent_count == 0)
            last_accounting = Clock::now();
        if (!request->easy)
            finish_with_error(*request, "le téléchargement n'a pas pu être préparé");
        else if (sent_count < max_fetches_in_flight)
            send(*request);
        const FetchTicket ticket = request->ticket;
        in_flight.emplace(ticket, std::move(request));
        return ticket;
    }

    /// Takes the finished requests out of the flight, handing their handles
    /// back; a finished handle's connection stays in the multi handle's cache
    /// for the next fetch.
    std::vector<FetchDone> collect_finished() {
        std::vector<FetchDone> ended;
        for (auto it = in_flight.begin(); it != in_flight.end();) {
            Request& request = *it->second;
            if (!request.finished) {
                ++it;
                continue;
            }
            if (request.easy)
                give_back(std::move(request.easy));
            ended.push_back({request.ticket, std::move(request.result)});
            it = in_flight.erase(it);
        }
        return ended;
    }

    /// Moves the transfers on without waiting: ended hops are followed or
    /// finished, the time is charged, and waiting fetches are sent. The
    /// finished requests stay in the flight for collect_finished(). False
    /// when libcurl refuses to work, as it does when called from one of its
    /// own callbacks; nothing is changed then.
    bool serve() {
        int running = 0;
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK)
            return false;
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            void* owner = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &owner);
            hop_done(*static_cast<Request*>(owner), message->data.result);
        }
        account();
        send_waiting();
        return true;
    }

    /// Serves the transfers in slices of at most 50 ms, yielding between
    /// them, until some have ended. A false from the yield hook cancels all.
    std::vector<FetchDone> wait_for_some() {
        for (;;) {
            std::vector<FetchDone> ended = collect_finished();
            if (!ended.empty() || in_flight.empty())
                return ended;
            if (!serve()) {
                cancel_all("le téléchargement a échoué");
                continue;
            }
            if (std::any_of(in_flight.begin(), in_flight.end(), [](const auto& r) { return r.second->finished; }))
                continue;
            // Checked as the perform is: a poll that failed would come back
            // at once, every time, and the wait would spin for ever.
            if (curl_multi_poll(multi.get(), nullptr, 0, poll_slice_ms, nullptr) != CURLM_OK) {
                cancel_all("le téléchargement a échoué");
                continue;
            }
            if (yield_hook && !yield_hook())
                cancel_all("annulé");
        }
    }

    void cancel_all(const std::string& why) {
        for (auto& [ticket, request] : in_flight) {
            if (request->finished)
                continue;
            request->abort = Abort::cancelled;
            stop(*request, why);
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

FetchTicket CurlTransfer::start(FetchRequest request) {
    return impl_->start(std::move(request));
}

std::vector<FetchDone> CurlTransfer::wait_for_some() {
    return impl_->wait_for_some();
}

void CurlTransfer::serve_in_passing() {
    if (impl_->multi && !impl_->in_flight.empty())
        impl_->serve();
}

void CurlTransfer::cancel_in_flight() {
    impl_->cancel_all("annulé");
    impl_->collect_finished();
}

void CurlTransfer::set_yield_hook(YieldHook hook) {
    impl_->yield_hook = std::move(hook);
}
