#include "engine/page_fetches.h"

PageFetches::~PageFetches() {
    if (!started_.empty())
        transfer_.cancel_all();
}

void PageFetches::start(int number, const std::string& address) {
    started_[number] = transfer_.start({address});
}

FetchResult PageFetches::take(int number) {
    const auto page = started_.find(number);
    if (page == started_.end()) {
        FetchResult lost;
        lost.error = "la page n'a jamais été demandée";
        return lost;
    }
    // Still listed while it is waited for: a wait that throws leaves it to
    // be cancelled with the others.
    FetchResult result = transfer_.wait_for(page->second);
    started_.erase(page);
    return result;
}
