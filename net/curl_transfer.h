#pragma once

#include "net/internet_transfer.h"

#include <chrono>
#include <memory>
#include <string>

/// Limits of the libcurl transfer, the one place where they are set. The
/// defaults are the program's; tests shorten them. The fetches at work share
/// one link: the time limits count the link's time given to each fetch, its
/// share of the time while others are at work beside it, so that none fails
/// for having shared the link.
struct TransferSettings {
    std::chrono::milliseconds connect_timeout{30'000};
    /// A fetch that averages fewer than `low_speed_bytes` a second over
    /// `low_speed_time` of the link's time given to it fails: a server that
    /// stalls, or sends a byte now and then.
    long low_speed_bytes = 1024;
    std::chrono::seconds low_speed_time{30};
    /// No fetch takes more of the link's time than this, its redirects included.
    std::chrono::milliseconds total_timeout{10 * 60'000};
    /// A page's limit counts the bytes after decompression, so that a small
    /// compressed answer cannot inflate without end.
    std::size_t max_text_bytes = 32u << 20;
    std::size_t max_image_bytes = 256u << 20;
    int max_redirects = 10;
    /// Extra certificate authority file (PEM) trusted besides the system's
    /// store. Empty: the system's store only. Certificates are always checked.
    std::string extra_ca_file;
};

/// InternetTransfer over libcurl: connections kept alive and reused,
/// redirects followed by hand so that credentials never leave the start site,
/// Basic and Digest authentication, the usual proxy variables, addresses
/// percent-encoded where they must be, and waits of at most 50 ms between
/// which the yield hook runs. Pages may come compressed; images are asked for
/// as they are and go straight to their sink. Up to max_fetches_in_flight
/// fetches are at work at once and share the connections, multiplexed where
/// the server speaks HTTP/2; those started beyond wait their turn, and the
/// time limits do not run for them meanwhile. libcurl must have been
/// initialised first (main's CurlGlobal does it).
class CurlTransfer final : public InternetTransfer {
public:
    explicit CurlTransfer(TransferSettings settings = {});
    ~CurlTransfer() override;
    CurlTransfer(const CurlTransfer&) = delete;
    CurlTransfer& operator=(const CurlTransfer&) = delete;

    void set_credentials(const std::string& user_name, const std::string& password,
                         const std::string& start_address) override;
    void set_yield_hook(YieldHook hook) override;
    FetchTicket start(FetchRequest request) override;
    void serve_in_passing() override;

protected:
    std::vector<FetchDone> wait_for_some() override;
    void cancel_in_flight() override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
