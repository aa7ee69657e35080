#pragma once

#include "net/internet_transfer.h"

#include <map>

/// The pages of one crawl level being fetched side by side, each taken in
/// its turn. A page's body is held from its arrival until its turn only.
class PageFetches {
public:
    explicit PageFetches(InternetTransfer& transfer) : transfer_(transfer) {}
    /// Cancels what is still in flight.
    ~PageFetches();
    PageFetches(const PageFetches&) = delete;
    PageFetches& operator=(const PageFetches&) = delete;

    /// Starts fetching page `number` at `address` (trimmed).
    void start(int number, const std::string& address);

    /// Waits for page `number`, serving the other fetches meanwhile, and
    /// gives its result. A page never started, or cancelled by the yield
    /// hook, comes back failed.
    [[nodiscard]] FetchResult take(int number);

private:
    InternetTransfer& transfer_;
    std::map<int, FetchTicket> started_; ///< pages started and not taken yet
};
