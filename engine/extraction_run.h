#pragma once

#include "engine/address_list.h"
#include "engine/extraction_job.h"
#include "net/internet_transfer.h"
#include "store/image_store.h"

#include <string>
#include <unordered_map>
#include <vector>

class InternetTransfer;
class RunObserver;

/// Who asked for the run, which decides what the status line shows.
enum class RunMode : int {
    interactive = 0, ///< "Extraire maintenant !": the counters
    scheduled = 1    ///< the scheduler: "Récupère " and the title
};

enum class RunOutcome {
    completed,      ///< the run went to its end (failed pages and images included)
    stopped,        ///< the observer asked to stop; the caller must not stamp the line
    already_running ///< another run is in progress; nothing was done
};

/// What failed during a run, by kind.
struct FailureCounts {
    int network = 0; ///< no answer: connection, unknown host, time-out, size cap, certificate
    int server = 0;  ///< an answer that is not what was asked: an error status or an error page
    int disk = 0;    ///< an image that could not be written under the destination
    int total() const { return network + server + disk; }
};

/// A page or an image of a run that failed, and what is known of why.
struct FailedAddress {
    std::string address;
    bool page = false; ///< a page, else an image
    m_qmr::CopyFailure kind = m_qmr::CopyFailure::network;
    long http_status = 0; ///< the server's status, for a failure of kind server
    std::string error;    ///< the transfer's text for the network, the system's reason for the disk
};

/// The counters of the run in progress.
struct RunCounters {
    int pages_listed = 0;
    int images_listed = 0;
    int current_page = 0; ///< the page being scanned, also the pages visited so far
    int images_copied = 0;
    /// Images not written because the server's image is already on disk:
    /// answered 304, or equal to the file or one of its versions.
    int images_unchanged = 0;
    FailureCounts failed_pages;
    FailureCounts failed_images;
    bool start_page_failed = false; ///< the start page brought nothing to scan
};

/// Carries out extractions: crawls the site level by level to the job's
/// depth, then copies every distinct image listed. One run at a time.
///
/// The run's texts live here, and only here: the status line's ("Récupère "
/// and the title, the pages visited, the images copied) are the program's own
/// French texts, built in extraction_run.cpp and shown as they come by the
/// window and by the command line. How the run looks beside them (the status
/// line's colour) is the window's.
class ExtractionRun {
public:
    /// `memory` remembers the images written, run after run; the caller
    /// keeps it, and tells what its take_notice() says.
    ExtractionRun(InternetTransfer& transfer, RunObserver& observer, ImageMemory& memory);

    /// Runs the job to its end. Returns already_running, doing nothing, when
    /// called while a run is in progress (from a yield).
    RunOutcome run(const ExtractionJob& job, RunMode mode);

    bool running() const { return running_; }
    const RunCounters& counters() const { return counters_; }
    const RunLists& lists() const { return lists_; }
    /// What failed in the run in progress or the last one: the pages in the
    /// order they were visited, then the images in list order, each once, as
    /// its last attempt failed. At most AddressList::capacity of each.
    std::vector<FailedAddress> failures() const;
    /// The files that the run in progress or the last one wrote, in the order
    /// written: at most AddressList::capacity, since an image written is not
    /// tried again.
    const std::vector<std::string>& files_written() const { return files_written_; }

    /// The status texts: "1 page visitée", "2 pages visitées", "1 image
    /// copiée", "2 images copiées".
    static std::string pages_text(int pages);
    static std::string images_text(int images);

private:
    bool crawl(const ExtractionJob& job, RunMode mode);
    bool copy_images(const ExtractionJob& job, RunMode mode);
    void scan_page(const std::string& address, const FetchResult& fetched, const ExtractionJob& job);
    void count_outcome(const std::string& address, const m_qmr::ImageCopy& copy);
    int& failure_counter(m_qmr::CopyFailure failure);

    InternetTransfer& transfer_;
    RunObserver& observer_;
    ImageMemory& memory_;
    RunLists lists_;
    RunCounters counters_;
    std::vector<FailedAddress> failed_pages_;
    std::unordered_map<std::string, m_qmr::ImageCopy> failed_images_; ///< by address
    std::vector<std::string> files_written_;
    bool running_ = false;
};
