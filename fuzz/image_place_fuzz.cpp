// Where copy_image puts an image, for any address and any destination under a
// scratch folder, with a link planted in the destination: nothing may appear
// outside the destination, and an image not written leaves no trace.
//
// The input is a byte of choices, then the address, the destination (under
// the scratch folder's "d"), where the link goes (under the destination) and
// the body served, separated by line feeds.

#include "fuzz_support.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>

#include "store/image_store.h"
#include "support/fake_transfer.h"

namespace fs = std::filesystem;

namespace {

using namespace m_qmr;

/// A relative path from the input, with its ".." segments made harmless: the
/// destination is the user's choice, and what is tested is that the address
/// cannot lead out of it, not that the user cannot point elsewhere.
std::string without_climbing(std::string_view text) {
    std::string path;
    for (std::size_t start = 0;;) {
        const auto slash = std::min(text.find('/', start), text.size());
        const auto segment = text.substr(start, slash - start);
        path.append(segment == ".." ? "__" : segment);
        if (slash == text.size())
            return path;
        path += '/';
        start = slash + 1;
    }
}

/// Plants a link at `relative` under the destination, making the folders it
/// needs, as an earlier run or another user could have left it.
void plant_link(const std::string& destination, std::string relative, const std::string& target) {
    std::erase(relative, '\0');
    if (relative.empty() || destination.find('\0') != std::string::npos)
        return;
    const fs::path link = destination + "/" + without_climbing(relative);
    std::error_code ignored;
    fs::create_directories(link.parent_path(), ignored);
    fs::create_symlink(target, link, ignored);
}

std::string read_whole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/// What a written image may change: its file appears (or replaces a link),
/// with the folders on its way; everything else stays as it was.
void check_written(const std::map<std::string, char>& before, const std::map<std::string, char>& after,
                   const std::string& written, const std::string& destination) {
    fuzz::require(written.starts_with(destination + "/"), "the image is under the destination", written);
    const auto file = after.find(written);
    fuzz::require(file != after.end() && file->second == 'f', "the image is a file where it was said to go", written);
    for (const auto& [entry, kind] : after) {
        const auto old = before.find(entry);
        if (old == before.end() || old->second != kind)
            fuzz::require(entry == written || written.starts_with(entry + "/"), "only the image and its folders appear",
                          entry);
    }
    for (const auto& [entry, kind] : before)
        fuzz::require(after.contains(entry), "nothing disappears", entry);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fuzz::ScratchFolder scratch;
    if (size == 0)
        return 0;
    const std::uint8_t choices = data[0];
    const auto parts = fuzz::fields(fuzz::as_text(data + 1, size - 1), '\n', 4);
    const std::string address(parts[0]);
    const auto layout = static_cast<Layout>(choices & 3); // 0 and 3 are taken as flat
    const auto policy = static_cast<ExistingPolicy>((choices >> 2) & 3);
    const bool reached = (choices & 0x20) == 0;
    const long status = choices & 0x40 ? 404 : 200;
    const std::string body(parts[3]);

    scratch.empty();
    const fs::path top = scratch.path();
    fs::create_directory(top / "outside");
    fs::create_directory(top / "d");
    const std::string destination = (top / "d").string() + "/" + without_climbing(parts[1]);
    plant_link(destination, std::string(parts[2]), (top / (choices & 0x10 ? "outside" : "outside/victim")).string());
    std::string destination_inside = fs::path(destination).lexically_normal().lexically_relative(top).string();
    while (destination_inside.ends_with('/'))
        destination_inside.pop_back();

    // A second copy finds the first one there.
    for (int attempt = 0; attempt < (choices & 0x80 ? 2 : 1); ++attempt) {
        const auto before = fuzz::tree_of(top);
        const auto place = image_place(address, destination, layout);
        NoImageMemory memory;
        const auto target = place ? std::optional(choose_target(*place, policy, memory)) : std::nullopt;
        FakeTransfer transfer;
        if (place)
            reached ? transfer.serve(place->address, body, status) : transfer.fail(place->address);
        const ImageCopy copy = copy_image(transfer, address, destination, policy, layout, memory);
        const auto after = fuzz::tree_of(top);

        for (const auto& [entry, kind] : after)
            fuzz::require(!entry.starts_with("outside/"), "nothing is written outside the destination", entry);
        if (copy.result != image_written) {
            fuzz::require(after == before, "an image not written leaves no trace", address);
            continue;
        }
        fuzz::require(reached && status == 200 && !body.empty(), "only a good answer is written", address);
        fuzz::require(target && target->decision == ImageTarget::Decision::fetch, "a written image had a target",
                      address);
        const std::string written = fs::path(target->path).lexically_normal().lexically_relative(top).string();
        check_written(before, after, written, destination_inside);
        fuzz::require(read_whole(target->path) == body, "the image holds the body received", written);
    }
    return 0;
}
