#include "engine/address_list.h"

void AddressList::clear() {
    entries_.clear();
    index_.clear();
}

bool AddressList::append(std::string address) {
    if (full())
        return false;
    // A run's lists often fill up: size the index once rather than rehash as it grows.
    if (entries_.empty())
        index_.reserve(capacity);
    // The same address may be appended twice (images found through "src="); the
    // index holds it once, which is all a membership test needs.
    index_.insert(address);
    entries_.push_back(std::move(address));
    return true;
}

bool AddressList::contains(std::string_view address) const {
    return index_.find(address) != index_.end();
}
