#pragma once

#include "net/internet_transfer.h"

#include <deque>
#include <map>
#include <string>
#include <vector>

/// A scripted InternetTransfer for tests where the network is beside the
/// point: answers from a table of addresses, records every call.
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
    FetchResult fetch_text(const std::string& address) override { return answer(address, pages_fetched); }
    FetchResult fetch_bytes(const std::string& address, BodySink& sink) override {
        FetchResult result = answer(address, images_fetched);
        // In two pieces, as a real body arrives; a refusal fails the fetch.
        const std::string_view body = result.body;
        if (result.ok && !(sink.write(body.substr(0, body.size() / 2)) && sink.write(body.substr(body.size() / 2))))
            result = {false, 0, {}, "refused by the sink"};
        result.body.clear();
        return result;
    }
    void set_yield_hook(YieldHook hook) override { hook_ = std::move(hook); }

    std::vector<std::string> credentials; ///< "user:password@start address", a call each
    std::vector<std::string> pages_fetched, images_fetched;

private:
    FetchResult answer(const std::string& address, std::vector<std::string>& record) {
        record.push_back(address);
        // A real fetch waits, and yields while it does; so does this one once.
        if (hook_ && !hook_())
            return failure;
        auto& answers = answers_[address];
        if (answers.empty())
            return failure;
        // The last answer stays; earlier ones are used once each.
        FetchResult result = answers.front();
        if (answers.size() > 1)
            answers.pop_front();
        return result;
    }

    inline static const FetchResult failure{false, 0, {}, "unreachable"};
    std::map<std::string, std::deque<FetchResult>> answers_;
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
