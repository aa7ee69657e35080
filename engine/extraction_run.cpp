#include "engine/extraction_run.h"

#include "net/internet_transfer.h"
#include "engine/image_copier.h"
#include "engine/page_fetches.h"
#include "engine/page_scanner.h"
#include "engine/run_observer.h"
#include "net/text.h"
#include "store/image_store.h"

#include <exception>
#include <string_view>
#include <unordered_set>

namespace {

/// Marks the run as in progress and, while it is, lets every fetch yield to
/// the observer and be cancelled by it. Undone on every way out.
class RunScope {
public:
    RunScope(bool& running, InternetTransfer& transfer, RunObserver& observer)
        : running_(running), transfer_(transfer) {
        running_ = true;
        transfer_.set_yield_hook([&observer] {
            observer.yield();
            return !observer.stop_requested();
        });
    }
    ~RunScope() {
        transfer_.set_yield_hook({});
        running_ = false;
    }
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;

private:
    bool& running_;
    InternetTransfer& transfer_;
};

} // namespace

ExtractionRun::ExtractionRun(InternetTransfer& transfer, RunObserver& observer, ImageMemory& memory)
    : transfer_(transfer), observer_(observer), memory_(memory) {}

std::string ExtractionRun::pages_text(int pages) {
    return std::to_string(pages) + (pages > 1 ? " pages visitées" : " page visitée");
}

std::string ExtractionRun::images_text(int images) {
    return std::to_string(images) + (images > 1 ? " images copiées" : " image copiée");
}

RunOutcome ExtractionRun::run(const ExtractionJob& job, RunMode mode) {
    // A yield inside a run lets the window's events run, and one of them may
    // ask for another run: the lists and counters exist once, so refuse it.
    if (running_)
        return RunOutcome::already_running;
    RunScope scope(running_, transfer_, observer_);

    observer_.set_background(StatusBackground::busy);
    if (mode == RunMode::scheduled) {
        observer_.show_status("Récupère " + m_qmr::trim_spaces(job.title));
        observer_.yield();
    }

    const std::string start_address = m_qmr::trim_spaces(job.start_address);
    lists_.pages.clear();
    lists_.images.clear();
    lists_.pages.append(start_address);
    counters_ = RunCounters{};
    failed_pages_.clear();
    failed_images_.clear();
    files_written_.clear();

    // Half a pair of credentials is no use to a server: send none.
    const bool has_credentials = !job.user_name.empty() && !job.password.empty();
    transfer_.set_credentials(has_credentials ? job.user_name : std::string(),
                              has_credentials ? job.password : std::string(), start_address);

    const bool finished = crawl(job, mode) && copy_images(job, mode);

    observer_.set_background(StatusBackground::button_face);
    if (mode == RunMode::scheduled) {
        observer_.show_status("");
        observer_.yield();
    }
    return finished ? RunOutcome::completed : RunOutcome::stopped;
}

bool ExtractionRun::crawl(const ExtractionJob& job, RunMode mode) {
    // Breadth-first by level: the pages listed while one level is scanned
    // lie beyond `last` and wait for the next level. The pages of a level are
    // known when it begins, so they are fetched side by side, and scanned in
    // list order as their turn comes, so that the lists come out as if they
    // had been fetched one after the other.
    for (int level = 1; level <= job.depth + 1; ++level) {
        const int last = lists_.pages.count();
        PageFetches fetches(transfer_);
        int next_to_fetch = counters_.current_page + 1;
        for (int page = counters_.current_page + 1; page <= last; ++page) {
            if (observer_.stop_requested())
                return false;
            // At most max_fetches_in_flight pages between the one whose turn
            // it is and the last one asked for, fetched or not.
            for (; next_to_fetch <= last && next_to_fetch < page + max_fetches_in_flight; ++next_to_fetch)
                fetches.start(next_to_fetch, m_qmr::trim_spaces(lists_.pages.at(next_to_fetch)));
            FetchResult fetched = fetches.take(page);
            if (observer_.stop_requested())
                return false;
            counters_.current_page = page;
            // A copy: the scan appends to the list the address lives in.
            const std::string address = lists_.pages.at(page);
            scan_page(address, fetched, job);
            counters_.pages_listed = lists_.pages.count();
            counters_.images_listed = lists_.images.count();
            if (mode == RunMode::interactive)
                observer_.show_status(pages_text(page));
            observer_.yield();
        }
    }
    return !observer_.stop_requested();
}

void ExtractionRun::scan_page(const std::string& address, const FetchResult& fetched, const ExtractionJob& job) {
    // A page that cannot be fetched or scanned is given up; it still counts
    // as visited. An error page is scanned like any other, but counted as a
    // failure.
    const std::size_t failures_before = failed_pages_.size();
    if (!fetched.ok) {
        ++counters_.failed_pages.network;
        failed_pages_.push_back({address, true, m_qmr::CopyFailure::network, 0, fetched.error});
    } else {
        if (fetched.http_status >= 400) {
            ++counters_.failed_pages.server;
            failed_pages_.push_back({address, true, m_qmr::CopyFailure::server, fetched.http_status, {}});
        }
        try {
            m_qmr::scan_page_text(fetched.body, address, job.include_patterns, job.exclude_patterns, lists_,
                                  job.all_image_formats);
        } catch (const std::exception&) {
            // Out of memory, most likely, as for an image.
            ++counters_.failed_pages.network;
            if (failed_pages_.size() == failures_before)
                failed_pages_.push_back({address, true, m_qmr::CopyFailure::network, 0, "mémoire insuffisante"});
        }
    }
    if (failed_pages_.size() > failures_before && counters_.current_page == 1)
        counters_.start_page_failed = true;
}

int& ExtractionRun::failure_counter(m_qmr::CopyFailure failure) {
    switch (failure) {
    case m_qmr::CopyFailure::network:
        return counters_.failed_images.network;
    case m_qmr::CopyFailure::server:
        return counters_.failed_images.server;
    case m_qmr::CopyFailure::disk:
    case m_qmr::CopyFailure::none:
        break;
    }
    return counters_.failed_images.disk;
}

void ExtractionRun::count_outcome(const std::string& address, const m_qmr::ImageCopy& copy) {
    // An image counts once, by how its last attempt failed: a repeat tried
    // again after a failure replaces the earlier outcome.
    const auto earlier = failed_images_.find(address);
    if (earlier != failed_images_.end()) {
        --failure_counter(earlier->second.failure);
        failed_images_.erase(earlier);
    }
    if (copy.failure == m_qmr::CopyFailure::none)
        return;
    ++failure_counter(copy.failure);
    failed_images_.emplace(address, copy);
}

std::vector<FailedAddress> ExtractionRun::failures() const {
    std::vector<FailedAddress> failures = failed_pages_;
    // In list order, each address at its first entry.
    std::unordered_set<std::string_view> listed;
    for (int number = 1; number <= lists_.images.count() && listed.size() < failed_images_.size(); ++number) {
        const std::string& address = lists_.images.at(number);
        const auto failed = failed_images_.find(address);
        if (failed == failed_images_.end() || !listed.insert(address).second)
            continue;
        const m_qmr::ImageCopy& copy = failed->second;
        failures.push_back({address, false, copy.failure, copy.http_status, copy.error});
    }
    return failures;
}

bool ExtractionRun::copy_images(const ExtractionJob& job, RunMode mode) {
    ImageCopier copier(transfer_, job, memory_);
    const bool finished = copier.copy(
        lists_.images, [this] { return observer_.stop_requested(); },
        [&](const std::string& address, const m_qmr::ImageCopy& copy) {
            count_outcome(address, copy);
            // Its repeats are skipped, as those of an image copied.
            if (copy.unchanged)
                ++counters_.images_unchanged;
            if (copy.result == m_qmr::image_written) {
                files_written_.push_back(copy.path);
                ++counters_.images_copied;
                if (mode == RunMode::interactive)
                    observer_.show_status(images_text(counters_.images_copied));
                observer_.yield();
            }
            return true;
        });
    // Once a run, so that the memory stays as small as what is on disk.
    memory_.tidy();
    return finished && !observer_.stop_requested();
}
