#pragma once

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

/// A run's list of page or image addresses: entries numbered from 1, at most
/// `capacity` of them, with a hash index beside them so that a membership test
/// answers exactly as a scan of entries 1 to count() would, without the scan.
class AddressList {
public:
    static constexpr int capacity = 9990;

    /// Forgets every entry; count() becomes 0.
    void clear();

    /// Appends an entry. Returns false, and changes nothing, when the list
    /// already holds `capacity` entries.
    bool append(std::string address);

    /// True when one of entries 1 to count() equals `address` exactly.
    bool contains(std::string_view address) const;

    int count() const { return static_cast<int>(entries_.size()); }
    bool full() const { return count() >= capacity; }

    /// Entry `number`, counted from 1.
    const std::string& at(int number) const { return entries_[static_cast<std::size_t>(number - 1)]; }

    const std::vector<std::string>& entries() const { return entries_; }

private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    std::vector<std::string> entries_;
    std::unordered_set<std::string, Hash, std::equal_to<>> index_;
};

/// The two lists of one run: pages to visit (entry 1 is the start address)
/// and images to copy.
struct RunLists {
    AddressList pages;
    AddressList images;
};
