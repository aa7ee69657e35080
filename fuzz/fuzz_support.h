#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// Shared by the fuzz targets: cutting an input into fields, failing on a
// broken property, and a scratch folder for the targets that touch the disk.

/// The entry point every target defines; libFuzzer calls it, and so does the
/// replay driver that runs the committed corpus in the ordinary test suite.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fuzz {

/// The input as text.
inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

/// The input cut at `separator` into at most `count` fields, the last taking
/// the rest; missing fields are empty, so every input gives `count` fields.
std::vector<std::string_view> fields(std::string_view input, char separator, std::size_t count);

/// Reports a broken property with the values involved, then aborts, which
/// libFuzzer records as a crash with its input.
[[noreturn]] void property_broken(std::string_view property, std::string_view detail = {});

/// Aborts through property_broken when `holds` is false.
inline void require(bool holds, std::string_view property, std::string_view detail = {}) {
    if (!holds)
        property_broken(property, detail);
}

/// A folder of its own under the system's temporary folder, made on first
/// use and removed with everything in it when the process ends normally.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    /// The folder's path, without a final "/".
    const std::string& path() const { return path_; }
    /// Removes everything in the folder, which stays.
    void empty() const;

private:
    std::string path_;
};

/// Every entry under `folder`, links not followed, by path relative to it,
/// with its kind: 'd' folder, 'f' regular file, 'l' link, '?' anything else.
std::map<std::string, char> tree_of(const std::string& folder);

} // namespace fuzz
