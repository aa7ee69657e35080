#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

/// How many fetches a run keeps in flight at once, to one host and in all:
/// as many as a browser opens to a host, so that a slow server answers
/// several requests at a time without being crowded.
inline constexpr int max_fetches_in_flight = 6;

/// What one fetch brought back. A body that a server sent with an error
/// status is still a body: `ok` is true and `http_status` says 404 or 500.
/// A 304 ("not modified", the answer to validators sent) is a whole answer
/// without a body. `ok` is false only when no whole answer came (no
/// connection, unknown host, refused certificate, time-out, body too large, a
/// sink that refused the body, cancelled).
struct FetchResult {
    bool ok = false;
    long http_status = 0;
    std::string body;  ///< the bytes received, as they came; empty when they went to a sink
    std::string error; ///< why the fetch failed, when !ok
    /// The final answer's ETag and Last-Modified headers, exactly as sent; ""
    /// when it sent none.
    std::string etag;
    std::string last_modified;
};

/// Receives a body as it arrives, so that an image never has to be held
/// whole in memory.
class BodySink {
public:
    virtual ~BodySink() = default;
    /// Takes the next bytes of the body. False refuses them: the fetch then
    /// fails at once.
    [[nodiscard]] virtual bool write(std::string_view bytes) = 0;
};

/// One fetch to start: a page, whose body comes back in the result, or an
/// image, whose body goes to its sink (which must outlive the fetch). The
/// address is passed trimmed. Validators make the request conditional: they
/// are sent as they are (If-None-Match, If-Modified-Since), and a server that
/// still has that version answers 304 without a body.
struct FetchRequest {
    FetchRequest(std::string address, BodySink* sink = nullptr) : address(std::move(address)), sink(sink) {}

    std::string address;
    BodySink* sink = nullptr;
    std::string if_none_match;     ///< an ETag the server sent before; "" sends none
    std::string if_modified_since; ///< a Last-Modified the server sent before; "" sends none
};

using FetchTicket = std::uint64_t;

/// A fetch that has ended, and the ticket that start() gave it.
struct FetchDone {
    FetchTicket ticket = 0;
    FetchResult result;
};

/// Called between the short waits of a fetch. Return false to cancel every
/// fetch in flight, which then fail at once.
using YieldHook = std::function<bool()>;

/// Every network access of a run goes through one of these. Fetches run
/// side by side on the caller's thread: start() sends them, and a wait serves
/// them all. The result of a fetch that ends while another one is waited for
/// is kept for its own wait_for().
class InternetTransfer {
public:
    virtual ~InternetTransfer() = default;

    /// Credentials for the run that starts now. They are offered only to
    /// addresses with the same site root as `start_address`, and only when
    /// the server asks for them. Empty texts mean no credentials.
    virtual void set_credentials(const std::string& user_name, const std::string& password,
                                 const std::string& start_address) = 0;

    /// Installs the hook called while fetches wait; an empty hook removes it.
    virtual void set_yield_hook(YieldHook hook) = 0;

    /// Starts a fetch, which goes on while a wait runs. Its result is had
    /// through wait_for() with the ticket given.
    [[nodiscard]] virtual FetchTicket start(FetchRequest request) = 0;

    /// Serves the fetches in flight without waiting or yielding, for an owner
    /// whose own event loop runs while the run's wait is suspended (a message
    /// box open from a yield). The fetches that end are left for the next
    /// wait. Safe at any time: with nothing in flight, or from the yield
    /// hook, where it only does early what the wait does next.
    virtual void serve_in_passing() = 0;

    /// Serves the fetches in flight, yielding between short waits, until the
    /// fetch of `ticket` has ended, and gives its result, once. A fetch that
    /// the yield hook cancelled comes back failed. So does, as a fetch lost,
    /// a ticket that nothing in flight holds: never given, taken already, or
    /// cancelled by cancel_all().
    [[nodiscard]] FetchResult wait_for(FetchTicket ticket);

    /// Serves the fetches in flight, yielding between short waits, until at
    /// least one more has ended, and keeps its result for wait_for(). False
    /// when none was in flight.
    bool wait_for_any();

    /// True when the fetch of `ticket` has ended and its result waits for
    /// wait_for().
    bool has_ended(FetchTicket ticket) const { return ended_.contains(ticket); }

    /// Cancels every fetch in flight, and forgets the results not taken; the
    /// sinks may go once this returns.
    void cancel_all();

    /// Fetches a page, waiting for it alone.
    ///
    /// fetch_text and fetch_bytes fetch one address after the other: a run
    /// starts its fetches side by side and waits for each with wait_for().
    /// They are the reference that the tests hold the transfer and the run
    /// to, through analyse_page and copie_image, and are reached from nowhere
    /// else.
    [[nodiscard]] FetchResult fetch_text(const std::string& address);

    /// Fetches an image into `sink`, which sees the body of the final answer
    /// only (never that of a redirect), waiting for it alone.
    [[nodiscard]] FetchResult fetch_bytes(const std::string& address, BodySink& sink);
    /// fetch_bytes for a request that may carry validators; its sink must be set.
    [[nodiscard]] FetchResult fetch_bytes(FetchRequest request);

protected:
    /// Serves the fetches in flight, yielding between short waits, until at
    /// least one has ended, and returns those that have. Empty when none is
    /// in flight.
    virtual std::vector<FetchDone> wait_for_some() = 0;
    /// cancel_all() of the implementation: forgets every fetch in flight.
    virtual void cancel_in_flight() = 0;

private:
    // Fetches that have ended, kept until their wait_for().
    std::unordered_map<FetchTicket, FetchResult> ended_;
};
