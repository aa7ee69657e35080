#pragma once

#include <functional>
#include <string>
#include <string_view>

/// What one fetch brought back. A body that a server sent with an error
/// status is still a body: `ok` is true and `http_status` says 404 or 500.
/// `ok` is false only when no whole answer came (no connection, unknown host,
/// refused certificate, time-out, body too large, a sink that refused the
/// body, cancelled).
struct FetchResult {
    bool ok = false;
    long http_status = 0;
    std::string body;  ///< the bytes received, as they came; empty when they went to a sink
    std::string error; ///< why the fetch failed, when !ok
};

/// Receives a body as it arrives, so that an image never has to be held
/// whole in memory.
class BodySink {
public:
    virtual ~BodySink() = default;
    /// Takes the next bytes of the body. False refuses them: the fetch then
    /// fails at once.
    virtual bool write(std::string_view bytes) = 0;
};

/// Called between the short waits of a fetch. Return false to cancel the
/// fetch, which then fails at once.
using YieldHook = std::function<bool()>;

/// Every network access of a run goes through one of these.
class InternetTransfer {
public:
    virtual ~InternetTransfer() = default;

    /// Credentials for the run that starts now. They are offered only to
    /// addresses with the same site root as `start_address`, and only when
    /// the server asks for them. Empty texts mean no credentials.
    virtual void set_credentials(const std::string& user_name, const std::string& password,
                                 const std::string& start_address) = 0;

    /// Fetches a page into FetchResult::body. The caller passes the address
    /// trimmed.
    virtual FetchResult fetch_text(const std::string& address) = 0;

    /// Fetches an image into `sink`, which sees the body of the final answer
    /// only (never that of a redirect). The caller passes the address trimmed.
    virtual FetchResult fetch_bytes(const std::string& address, BodySink& sink) = 0;

    /// Installs the hook called while a fetch waits; an empty hook removes it.
    virtual void set_yield_hook(YieldHook hook) = 0;
};
