#include "engine/address_list.h"

#include "net/address.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

TEST(AddressListTest, ContainsAgreesWithTheLinearSearchUpToTheCap) {
    const std::vector<std::string> slots = {"zero", "a", "b", "A", "b ", "", "a"}; // slot 0 is never read
    const std::tuple<std::string, int, bool> cases[] = {
        {"zero", 6, false}, {"a", -3, false}, {"b", 1, false}, {"b", 2, true},
        {"B", 6, false},    {"b ", 3, false}, {"", 5, true},   {"a", 99, true},
    };
    for (const auto& [text, count, found] : cases) {
        SCOPED_TRACE("[" + text + "] " + std::to_string(count));
        EXPECT_EQ(m_qmr::dans_liste(text, slots, count), found);
        AddressList list; // the same entries, one to count
        for (int i = 1; i <= count && i < 7; ++i)
            list.append(slots[i]);
        EXPECT_EQ(list.contains(text), found);
    }
    AddressList full;
    for (int i = 1; i <= 9990; ++i)
        ASSERT_TRUE(full.append("http://host/" + std::to_string(i)));
    EXPECT_FALSE(full.append("http://host/refused"));
    EXPECT_FALSE(full.contains("http://host/refused"));
    EXPECT_EQ(full.count(), 9990);
}
