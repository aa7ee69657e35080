#include "engine/page_fetches.h"

#include <utility>

PageFetches::~PageFetches() {
    if (!in_flight_.empty())
        transfer_.cancel_all();
}

void PageFetches::start(int number, const std::string& address) {
    in_flight_[transfer_.start({address, nullptr})] = number;
}

FetchResult PageFetches::take(int number) {
    for (;;) {
        if (const auto found = arrived_.find(number); found != arrived_.end()) {
            FetchResult result = std::move(found->second);
            arrived_.erase(found);
            return result;
        }
        std::vector<FetchDone> ended = transfer_.wait();
        if (ended.empty()) {
            FetchResult lost;
            lost.error = "the page was never asked for";
            return lost;
        }
        for (auto& done : ended) {
            const auto page = in_flight_.find(done.ticket);
            if (page == in_flight_.end())
                continue;
            arrived_[page->second] = std::move(done.result);
            in_flight_.erase(page);
        }
    }
}
