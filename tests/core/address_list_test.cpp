#include "engine/address_list.h"

#include "engine/address.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

TEST(AddressListTest, ContainsAgreesWithTheLinearSearch) {
    const std::vector<std::string> slots = {"zero", "a", "b", "A", "b ", "", "a"}; // slot 0 is never read
    const std::tuple<std::string, int, bool> cases[] = {
        {"zero", 6, false}, {"a", 0, false},  {"a", -3, false}, {"b", 1, false}, {"b", 2, true}, {"A", 3, true},
        {"B", 6, false},    {"b ", 3, false}, {"b ", 4, true},  {"", 4, false},  {"", 5, true},  {"a", 99, true},
    };
    for (const auto& [text, count, found] : cases) {
        SCOPED_TRACE("[" + text + "] " + std::to_string(count));
        EXPECT_EQ(m_qmr::dans_liste(text, slots, count), found);
        AddressList list; // the same entries, one to count
        for (int i = 1; i <= count && i < 7; ++i)
            list.append(slots[i]);
        EXPECT_EQ(list.contains(text), found);
    }
}

TEST(AddressListTest, RefusesEntriesPastTheCap) {
    AddressList list;
    for (int i = 1; i <= 9990; ++i)
        ASSERT_TRUE(list.append("http://host/" + std::to_string(i)));
    EXPECT_FALSE(list.append("http://host/refused"));
    EXPECT_FALSE(list.contains("http://host/refused"));
    EXPECT_TRUE(list.contains("http://host/9990"));
    EXPECT_EQ(list.count(), 9990);
}

} // namespace
