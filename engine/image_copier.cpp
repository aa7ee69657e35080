#include "engine/image_copier.h"

#include <algorithm>
#include <exception>
#include <utility>

namespace {

// How far beyond the entry whose turn it is the list is read, looking for
// images to fetch among repeats and images already present.
constexpr int max_planned_entries = 64;

void count_down(std::unordered_map<std::string, int>& counts, const std::string& key) {
    const auto it = counts.find(key);
    if (it != counts.end() && --it->second == 0)
        counts.erase(it);
}

} // namespace

ImageCopier::ImageCopier(InternetTransfer& transfer, const ExtractionJob& job, ImageMemory& memory)
    : transfer_(transfer), job_(job), memory_(memory) {}

ImageCopier::~ImageCopier() {
    cancel_all();
}

bool ImageCopier::copy(const AddressList& images, const std::function<bool()>& stop_requested,
                       const OnCopied& on_copied) {
    stop_requested_ = &stop_requested;
    for (int number = 1; number <= images.count(); ++number) {
        plan_ahead(images);
        Slot& slot = slots_.front();
        const std::string& address = images.at(number);
        if (earlier_.contains(address)) {
            // Fetched ahead only if the file of an earlier entry turned up in
            // the meantime; what was fetched is dropped.
            if (slot.fetching && !wait_for(slot)) {
                cancel_all();
                return false;
            }
            forget(slot, address);
            continue;
        }
        if (stop_requested()) {
            cancel_all();
            return false;
        }
        std::optional<m_qmr::ImageCopy> copied;
        try {
            copied = take_turn(slot);
        } catch (const std::exception&) {
            // Out of memory, most likely: this image is given up like a failed one.
            cancel_all();
            next_to_plan_ = number + 1;
            copied = m_qmr::copy_disk_failure("mémoire insuffisante");
        }
        if (!copied) {
            cancel_all();
            return false;
        }
        earlier_.insert(copied->result == m_qmr::image_written || copied->unchanged ? address : std::string());
        if (!slots_.empty())
            forget(slot, address);
        if (!on_copied(address, *copied)) {
            cancel_all();
            return false;
        }
    }
    return true;
}

void ImageCopier::plan_ahead(const AddressList& images) {
    const int turn = slots_.empty() ? next_to_plan_ : slots_.front().number;
    while (next_to_plan_ <= images.count() && fetches_pending_ < max_fetches_in_flight &&
           next_to_plan_ < turn + max_planned_entries) {
        Slot slot;
        slot.number = next_to_plan_++;
        const std::string& address = images.at(slot.number);
        slot.place = m_qmr::image_place(address, job_.destination, job_.layout, job_.all_image_formats);
        if (std::optional<m_qmr::ImageTarget> target = target_to_fetch_ahead(address, slot)) {
            slot.target = std::move(*target);
            // A destination gone since the run began is made by the entry
            // whose turn it is, alone in it until that entry is decided.
            static_cast<void>(start_fetch(slot, false));
        }
        ++planned_addresses_[address];
        slots_.push_back(std::move(slot));
    }
}

std::optional<m_qmr::ImageTarget> ImageCopier::target_to_fetch_ahead(const std::string& address,
                                                                     const Slot& slot) const {
    // A repeat of an entry written already is skipped; one of an entry still
    // waiting is decided by that entry's outcome.
    if (earlier_.contains(address) || planned_addresses_.contains(address) || !slot.place)
        return std::nullopt;
    m_qmr::ImageTarget target = m_qmr::choose_target(*slot.place, job_.existing_policy, memory_);
    if (target.decision == m_qmr::ImageTarget::Decision::leave)
        return std::nullopt;
    // An image left alone when present waits while an earlier fetch may yet
    // write its file, rather than be fetched for nothing; so does one asked
    // for against that file, whose validators would then no longer hold.
    if ((job_.existing_policy == leave_existing || target.conditional()) && fetched_paths_.contains(target.path))
        return std::nullopt;
    // Nor is an image fetched whose folder an earlier fetch may yet take as
    // its file's name: one fetch after the other, it would not be fetched.
    const std::string directory = slot.place->directory();
    for (auto slash = directory.find('/', slot.place->root.size()); slash != std::string::npos;
         slash = directory.find('/', slash + 1))
        if (fetched_paths_.contains(directory.substr(0, slash)))
            return std::nullopt;
    return target;
}

Result<void> ImageCopier::start_fetch(Slot& slot, bool make_destination) {
    auto download = std::make_unique<m_qmr::ImageDownload>();
    if (Result<void> opened = download->open(*slot.place, make_destination); !opened)
        return opened;
    slot.download = std::move(download);
    slot.ticket = transfer_.start(slot.target.request(slot.place->address, slot.download.get()));
    slot.fetching = true;
    ++fetches_pending_;
    ++fetched_paths_[slot.target.path];
    return {};
}

bool ImageCopier::wait_for(Slot& slot) {
    slot.result = transfer_.wait_for(slot.ticket);
    slot.done = true;
    // A fetch cancelled by the yield hook is no failure of the image.
    return !(*stop_requested_)();
}

int ImageCopier::fetches_at_work() const {
    return static_cast<int>(std::count_if(slots_.begin(), slots_.end(), [this](const Slot& slot) {
        return slot.fetching && !slot.done && !transfer_.has_ended(slot.ticket);
    }));
}

bool ImageCopier::results_outstanding() const {
    return std::any_of(slots_.begin(), slots_.end(), [](const Slot& slot) { return slot.fetching && !slot.done; });
}

std::optional<m_qmr::ImageCopy> ImageCopier::take_turn(Slot& slot) {
    if (!slot.place)
        return m_qmr::copy_disk_failure(m_qmr::no_place_text);
    // Decided now that every earlier entry is on disk, as it would be one
    // fetch after the other.
    const m_qmr::ImageTarget target = m_qmr::choose_target(*slot.place, job_.existing_policy, memory_);
    const bool needed = target.decision == m_qmr::ImageTarget::Decision::fetch;
    if (!slot.fetching && needed) {
        // The fetches ahead may hold every place: one of them ends first.
        while (fetches_at_work() >= max_fetches_in_flight && transfer_.wait_for_any()) {
        }
        if ((*stop_requested_)())
            return std::nullopt;
        slot.target = target;
        if (const Result<void> started = start_fetch(slot, true); !started)
            return m_qmr::copy_disk_failure(started.error());
    }
    if (slot.fetching && !wait_for(slot))
        return std::nullopt;
    if (!needed) {
        slot.download.reset();
        return m_qmr::copy_left_alone;
    }
    return slot.download->finish(slot.result, target, memory_);
}

void ImageCopier::forget(const Slot& slot, const std::string& address) {
    if (slot.fetching) {
        --fetches_pending_;
        count_down(fetched_paths_, slot.target.path);
    }
    count_down(planned_addresses_, address);
    slots_.pop_front();
}

void ImageCopier::cancel_all() {
    // The transfer lets go of the downloads before they go, and forgets
    // what ended and was not taken.
    if (results_outstanding())
        transfer_.cancel_all();
    slots_.clear();
    planned_addresses_.clear();
    fetched_paths_.clear();
    fetches_pending_ = 0;
}
