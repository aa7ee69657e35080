#pragma once

#include "engine/address_list.h"
#include "engine/extraction_job.h"
#include "net/internet_transfer.h"
#include "store/image_store.h"

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

/// The copy loop of a run: every distinct image of the list, decided and
/// written in list order exactly as one fetch after the other would, while
/// the next images are already being fetched, each into its temporary file.
///
/// An entry is skipped when an earlier entry with the same address was
/// written, or found unchanged (the file on disk is that image already); any
/// other entry that was not written counts as cleared, so that a later equal
/// entry is tried again. What to do with an image already present, and
/// the "-vN" names, are decided when the entry's turn comes, after every
/// earlier entry is on disk: a fetch made ahead that turns out not to be
/// needed is dropped unwritten.
class ImageCopier {
public:
    /// Called after each entry's turn with its address and what copy_image
    /// would have returned; false stops the loop (a stop request).
    using OnCopied = std::function<bool(const std::string& address, const m_qmr::ImageCopy&)>;

    /// `memory` tells which fetches may be conditional, and learns what is written.
    ImageCopier(InternetTransfer& transfer, const ExtractionJob& job, ImageMemory& memory);
    ~ImageCopier();
    ImageCopier(const ImageCopier&) = delete;
    ImageCopier& operator=(const ImageCopier&) = delete;

    /// Copies entries 1 to images.count(). False when stopped, by on_copied or
    /// by the transfer's yield hook; the fetches in flight are then cancelled
    /// and nothing of theirs is left on disk.
    [[nodiscard]] bool copy(const AddressList& images, const std::function<bool()>& stop_requested,
                            const OnCopied& on_copied);

private:
    /// One entry between the one whose turn it is and the furthest planned.
    struct Slot {
        int number = 0;
        std::optional<m_qmr::ImagePlace> place;
        std::unique_ptr<m_qmr::ImageDownload> download;
        FetchTicket ticket = 0;
        m_qmr::ImageTarget target; ///< what this fetch was started for: the file, the validators sent
        bool fetching = false;     ///< its fetch was started
        bool done = false;         ///< and its result taken
        FetchResult result;
    };

    void plan_ahead(const AddressList& images);
    /// What to fetch an entry for now, or nothing when its turn must come first.
    std::optional<m_qmr::ImageTarget> target_to_fetch_ahead(const std::string& address, const Slot& slot) const;
    /// Opens the slot's download (making the destination if it is missing
    /// and `make_destination`) and starts its fetch; the disk's reason when it refuses.
    Result<void> start_fetch(Slot& slot, bool make_destination);
    /// Takes the result of the slot's fetch, waiting for it; false when the
    /// run was stopped meanwhile.
    bool wait_for(Slot& slot);
    /// The fetches started that have not ended yet.
    int fetches_at_work() const;
    /// Some fetch was started and its result not taken.
    bool results_outstanding() const;
    /// The entry's outcome, or nothing when the run was stopped meanwhile.
    std::optional<m_qmr::ImageCopy> take_turn(Slot& slot);
    void forget(const Slot& slot, const std::string& address);
    void cancel_all();

    InternetTransfer& transfer_;
    const ExtractionJob& job_;
    ImageMemory& memory_;
    std::deque<Slot> slots_; ///< from the entry whose turn it is, in list order
    int next_to_plan_ = 1;
    int fetches_pending_ = 0;                                ///< started and not yet taken their turn
    std::unordered_map<std::string, int> planned_addresses_; ///< addresses of the slots, counted
    std::unordered_map<std::string, int> fetched_paths_;     ///< files that the fetches ahead were started for
    std::unordered_set<std::string>
        earlier_; ///< addresses written or unchanged so far, and "" once an entry was neither
    const std::function<bool()>* stop_requested_ = nullptr;
};
