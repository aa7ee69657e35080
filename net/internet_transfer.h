#pragma once

#include <functional>
#include <string>

/// What one fetch brought back. A body that a server sent with an error
/// status is still a body: `ok` is true and `http_status` says 404 or 500.
/// `ok` is false only when no answer came (no connection, unknown host,
/// refused certificate, time-out, body too large, cancelled).
struct FetchResult {
    bool ok = false;
    long http_status = 0;
    std::string body;  ///< the bytes received, as they came
    std::string error; ///< why the fetch failed, when !ok
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

    /// Fetches a page. The caller passes the address trimmed.
    virtual FetchResult fetch_text(const std::string& address) = 0;

    /// Fetches an image. The caller passes the address trimmed.
    virtual FetchResult fetch_bytes(const std::string& address) = 0;

    /// Installs the hook called while a fetch waits; an empty hook removes it.
    virtual void set_yield_hook(YieldHook hook) = 0;
};
