#include "net/internet_transfer.h"

#include <utility>

std::vector<FetchDone> InternetTransfer::wait() {
    if (!ended_early_.empty())
        return std::exchange(ended_early_, {});
    return wait_for_some();
}

void InternetTransfer::cancel_all() {
    ended_early_.clear();
    cancel_in_flight();
}

FetchResult InternetTransfer::fetch_text(const std::string& address) {
    return fetch({address, nullptr});
}

FetchResult InternetTransfer::fetch_bytes(const std::string& address, BodySink& sink) {
    return fetch({address, &sink});
}

FetchResult InternetTransfer::fetch(FetchRequest request) {
    const FetchTicket ticket = start(std::move(request));
    for (;;) {
        std::vector<FetchDone> ended = wait_for_some();
        if (ended.empty()) {
            FetchResult lost;
            lost.error = "the fetch was lost";
            return lost;
        }
        FetchResult mine;
        bool found = false;
        for (auto& done : ended) {
            if (done.ticket == ticket) {
                mine = std::move(done.result);
                found = true;
            } else {
                ended_early_.push_back(std::move(done));
            }
        }
        if (found)
            return mine;
    }
}
