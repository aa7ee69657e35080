#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

namespace fuzz {

std::vector<std::string_view> fields(std::string_view input, char separator, std::size_t count) {
    std::vector<std::string_view> result;
    result.reserve(count);
    while (result.size() + 1 < count) {
        const auto at = input.find(separator);
        if (at == std::string_view::npos)
            break;
        result.push_back(input.substr(0, at));
        input.remove_prefix(at + 1);
    }
    result.push_back(input);
    result.resize(count);
    return result;
}

void property_broken(std::string_view property, std::string_view detail) {
    std::fprintf(stderr, "Property broken: %.*s\n", static_cast<int>(property.size()), property.data());
    if (!detail.empty())
        std::fprintf(stderr, "  with: [%.*s]\n", static_cast<int>(detail.size()), detail.data());
    std::abort();
}

ScratchFolder::ScratchFolder() {
    std::string pattern = (fs::temp_directory_path() / "quillmoor-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

void ScratchFolder::empty() const {
    for (const auto& entry : fs::directory_iterator(path_))
        fs::remove_all(entry.path());
}

std::map<std::string, char> tree_of(const std::string& folder) {
    std::map<std::string, char> tree;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const auto status = entry.symlink_status();
        const char kind = fs::is_symlink(status)        ? 'l'
                          : fs::is_directory(status)    ? 'd'
                          : fs::is_regular_file(status) ? 'f'
                                                        : '?';
        tree[entry.path().lexically_relative(folder).string()] = kind;
    }
    return tree;
}

} // namespace fuzz
