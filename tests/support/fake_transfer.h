#pragma once

#include "net/internet_transfer.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

/// A scripted InternetTransfer: answers from a table of addresses, records every request (an image's with " ?" and
/// the ETag it sent back, answered 304 when it still holds), and holds the fetches started until wait(), which answers
/// the oldest, or with `newest_first` the last started, so that answers come out of order.
class FakeTransfer final : public InternetTransfer {
public:
    /// Serves `body` with `status` at `address`. An address not served fails.
    void serve(const std::string& address, std::string body, long status = 200) {
        answers_[address] = {FetchResult{true, status, std::move(body), {}, {}, {}}};
    }
    /// Makes every fetch of `address` fail, after handing an image's sink `sent_first`.
    void fail(const std::string& address, std::string sent_first = {}) {
        answers_[address] = {FetchResult{false, 0, std::move(sent_first), "unreachable", {}, {}}};
    }
    /// Makes the next fetch of `address` fail once, before its usual answer.
    void fail_once(const std::string& address) { answers_[address].push_front({false, 0, {}, "unreachable", {}, {}}); }

    void set_credentials(const std::string& user, const std::string& password, const std::string& start) override {
        credentials.push_back(user + ":" + password + "@" + start);
    }
    void set_yield_hook(YieldHook hook) override { hook_ = std::move(hook); }

    void serve_in_passing() override {} // its fetches end only in wait()

    FetchTicket start(FetchRequest request) override {
        (request.sink ? images_fetched : pages_fetched)
            .push_back(request.address + (request.if_none_match.empty() ? "" : " ?" + request.if_none_match));
        held_.push_back({++last_ticket_, std::move(request)});
        most_in_flight = std::max(most_in_flight, static_cast<int>(held_.size()));
        return last_ticket_;
    }

    std::vector<std::string> credentials; ///< "user:password@start address", a call each
    std::vector<std::string> pages_fetched, images_fetched;
    bool newest_first = false;
    int most_in_flight = 0;

protected:
    std::vector<FetchDone> wait_for_some() override {
        std::vector<FetchDone> ended;
        // A real fetch waits, and yields while it does; so does this one, once. A refusal cancels them all.
        const bool cancelled = !held_.empty() && hook_ && !hook_();
        while (!held_.empty() && (cancelled || ended.empty())) {
            auto [ticket, request] = newest_first ? held_.back() : held_.front();
            newest_first ? held_.pop_back() : held_.pop_front();
            ended.push_back({ticket, cancelled ? FetchResult{false, 0, {}, "cancelled", {}, {}} : answer(request)});
        }
        return ended;
    }

    void cancel_in_flight() override { held_.clear(); }

private:
    FetchResult answer(const FetchRequest& request) {
        auto& answers = answers_[request.address];
        if (answers.empty())
            return {false, 0, {}, "unreachable", {}, {}};
        // The last answer stays; earlier ones are used once each.
        FetchResult result = answers.front();
        if (answers.size() > 1)
            answers.pop_front();
        if (!request.sink)
            return result;
        result.etag = std::to_string(std::hash<std::string>{}(result.body));
        if (result.ok && request.if_none_match == result.etag)
            return {true, 304, {}, {}, result.etag, {}};
        // In two pieces, as a real body arrives; a refusal fails the fetch.
        const std::string body = std::exchange(result.body, {});
        const std::string_view whole = body;
        if (!request.sink->write(whole.substr(0, whole.size() / 2)) ||
            !request.sink->write(whole.substr(whole.size() / 2)))
            return {false, 0, {}, "refused by the sink", {}, {}};
        return result;
    }

    std::map<std::string, std::deque<FetchResult>> answers_;
    std::deque<std::pair<FetchTicket, FetchRequest>> held_;
    FetchTicket last_ticket_ = 0;
    YieldHook hook_;
};
