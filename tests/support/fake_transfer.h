#pragma once

#include "net/internet_transfer.h"

#include <algorithm>
#include <deque>
#include <map>
#include <string>
#include <vector>

/// A scripted InternetTransfer for tests where the network is beside the
/// point: answers from a table of addresses, records every request. It holds
/// the fetches started until wait() is called, and then answers one of them:
/// the oldest, or with `newest_first` the one started last, so that answers
/// come out of order.
class FakeTransfer final : public InternetTransfer {
public:
    /// Serves `body` with `status` at `address`. An address not served fails.
    void serve(const std::string& address, std::string body, long status = 200) {
        answers_[address] = {FetchResult{true, status, std::move(body), {}}};
    }
    void fail(const std::string& address) { answers_[address] = {failure}; }
    /// Makes the next fetch of `address` fail once, before its usual answer.
    void fail_once(const std::string& address) { answers_[address].push_front(failure); }

    void set_credentials(const std::string& user, const std::string& password, const std::string& start) override {
        credentials.push_back(user + ":" + password + "@" + start);
    }
    void set_yield_hook(YieldHook hook) override { hook_ = std::move(hook); }

    FetchTicket start(FetchRequest request) override {
        (request.sink ? images_fetched : pages_fetched).push_back(request.address);
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
        if (held_.empty())
            return {};
        // A real fetch waits, and yields while it does; so does this one, once.
        if (hook_ && !hook_()) {
            std::vector<FetchDone> cancelled;
            for (auto& [ticket, request] : held_)
                cancelled.push_back({ticket, failure});
            held_.clear();
            return cancelled;
        }
        auto [ticket, request] = newest_first ? held_.back() : held_.front();
        newest_first ? held_.pop_back() : held_.pop_front();
        return {{ticket, answer(request)}};
    }

    void cancel_in_flight() override { held_.clear(); }

private:
    FetchResult answer(const FetchRequest& request) {
        auto& answers = answers_[request.address];
        if (answers.empty())
            return failure;
        // The last answer stays; earlier ones are used once each.
        FetchResult result = answers.front();
        if (answers.size() > 1)
            answers.pop_front();
        if (!request.sink || !result.ok)
            return result;
        // In two pieces, as a real body arrives; a refusal fails the fetch.
        const std::string_view body = result.body;
        const bool taken =
            request.sink->write(body.substr(0, body.size() / 2)) && request.sink->write(body.substr(body.size() / 2));
        result.body.clear();
        return taken ? result : FetchResult{false, 0, {}, "refused by the sink"};
    }

    inline static const FetchResult failure{false, 0, {}, "unreachable"};
    std::map<std::string, std::deque<FetchResult>> answers_;
    std::deque<std::pair<FetchTicket, FetchRequest>> held_;
    FetchTicket last_ticket_ = 0;
    YieldHook hook_;
};

/// A sink that keeps the whole body, for tests of fetch_bytes.
class StringSink final : public BodySink {
public:
    bool write(std::string_view bytes) override {
        body.append(bytes);
        ++pieces;
        return true;
    }
    std::string body;
    int pieces = 0;
};
