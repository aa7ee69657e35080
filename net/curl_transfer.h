#pragma once

#include "net/internet_transfer.h"

#include <chrono>
#include <memory>
#include <string>

/// Limits of the libcurl transfer. The defaults are the program's; tests
/// shorten the time-outs.
struct TransferSettings {
    std::chrono::milliseconds connect_timeout{30'000};
    /// A transfer that receives nothing for this long fails.
    std::chrono::milliseconds stall_timeout{60'000};
    std::size_t max_text_bytes = 32u << 20;
    std::size_t max_image_bytes = 1u << 30;
    int max_redirects = 10;
    /// Extra certificate authority file (PEM) trusted besides the system's
    /// store. Empty: the system's store only. Certificates are always checked.
    std::string extra_ca_file;
};

/// InternetTransfer over libcurl: one reused handle (keep-alive), redirects
/// followed by hand so that credentials never leave the start site, Basic and
/// Digest authentication, the usual proxy variables, and waits of at most
/// 50 ms between which the yield hook runs.
/// curl_global_init must have been called once (main does it).
class CurlTransfer final : public InternetTransfer {
public:
    explicit CurlTransfer(TransferSettings settings = {});
    ~CurlTransfer() override;
    CurlTransfer(const CurlTransfer&) = delete;
    CurlTransfer& operator=(const CurlTransfer&) = delete;

    void set_credentials(const std::string& user_name, const std::string& password,
                         const std::string& start_address) override;
    FetchResult fetch_text(const std::string& address) override;
    FetchResult fetch_bytes(const std::string& address) override;
    void set_yield_hook(YieldHook hook) override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
