#pragma once

#include "engine/address.h"
#include "engine/internet_transfer.h"

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
    /// Makes `address` fail as an unreachable server would.
    void fail(const std::string& address) { answers_[address] = {FetchResult{false, 0, {}, "unreachable"}}; }
    /// Makes the next fetch of `address` fail once, before its usual answer.
    void fail_once(const std::string& address) {
        answers_[address].push_front(FetchResult{false, 0, {}, "unreachable"});
    }

    void set_credentials(const std::string& user_name, const std::string& password,
                         const std::string& start_address) override {
        credentials.push_back({user_name, password, start_address});
    }
    FetchResult fetch_text(const std::string& address) override { return answer(address, "text"); }
    FetchResult fetch_bytes(const std::string& address) override { return answer(address, "bytes"); }
    void set_yield_hook(YieldHook hook) override { hook_ = std::move(hook); }

    struct Credentials {
        std::string user_name, password, start_address;
    };
    struct Call {
        std::string kind; ///< "text" or "bytes"
        std::string address;
    };
    std::vector<Credentials> credentials;
    std::vector<Call> calls;

    /// The addresses fetched, in order, of one kind.
    std::vector<std::string> fetched(const std::string& kind) const {
        std::vector<std::string> result;
        for (const auto& call : calls)
            if (call.kind == kind)
                result.push_back(call.address);
        return result;
    }

private:
    FetchResult answer(const std::string& address, const char* kind) {
        calls.push_back({kind, address});
        // A real fetch waits, and yields while it does; so does this one once.
        if (hook_ && !hook_())
            return FetchResult{false, 0, {}, "cancelled"};
        const auto found = answers_.find(address);
        if (found == answers_.end() || found->second.empty())
            return FetchResult{false, 0, {}, "no such address"};
        // The last answer stays; earlier ones are used once each.
        FetchResult result = found->second.front();
        if (found->second.size() > 1)
            found->second.pop_front();
        return result;
    }

    std::map<std::string, std::deque<FetchResult>> answers_;
    YieldHook hook_;
};
