#include "net/internet_transfer.h"

#include <utility>

FetchResult InternetTransfer::wait_for(FetchTicket ticket) {
    for (;;) {
        if (const auto found = ended_.find(ticket); found != ended_.end()) {
            FetchResult result = std::move(found->second);
            ended_.erase(found);
            return result;
        }
        if (!wait_for_any()) {
            FetchResult lost;
            lost.error = "le téléchargement a été perdu";
            return lost;
        }
    }
}

bool InternetTransfer::wait_for_any() {
    std::vector<FetchDone> ended = wait_for_some();
    for (auto& done : ended)
        ended_.insert_or_assign(done.ticket, std::move(done.result));
    return !ended.empty();
}

void InternetTransfer::cancel_all() {
    ended_.clear();
    cancel_in_flight();
}

FetchResult InternetTransfer::fetch_text(const std::string& address) {
    return wait_for(start({address}));
}

FetchResult InternetTransfer::fetch_bytes(const std::string& address, BodySink& sink) {
    return fetch_bytes({address, &sink});
}

FetchResult InternetTransfer::fetch_bytes(FetchRequest request) {
    return wait_for(start(std::move(request)));
}
