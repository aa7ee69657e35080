#include "engine/address_list.h"

#include "engine/address.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The list as the linear helper sees it: slot 0 unused.
std::vector<std::string> with_empty_slot(const AddressList& list) {
    std::vector<std::string> slots{""};
    slots.insert(slots.end(), list.entries().begin(), list.entries().end());
    return slots;
}

TEST(AddressListTest, ContainsAnswersAsTheLinearSearch) {
    AddressList list;
    for (const char* address : {"http://host/a.gif", "http://host/b.gif", "http://host/a.gif", "", "http://host/c d"})
        ASSERT_TRUE(list.append(address));
    EXPECT_EQ(list.count(), 5); // repeats are kept as entries
    EXPECT_EQ(list.at(1), "http://host/a.gif");
    EXPECT_EQ(list.at(5), "http://host/c d");

    const std::string probes[] = {
        "http://host/a.gif",
        "http://host/b.gif",
        "",
        "http://host/c d",
        "http://host/c d ",
        "HTTP://host/a.gif",
        "http://host/A.gif",
        "http://host/a.gif\r",
        "http://host/d.gif",
        " ",
    };
    const auto slots = with_empty_slot(list);
    for (const auto& probe : probes) {
        SCOPED_TRACE("[" + probe + "]");
        EXPECT_EQ(list.contains(probe), m_qmr::dans_liste(probe, slots, list.count()));
    }
    EXPECT_TRUE(list.contains(""));
    EXPECT_FALSE(list.contains("http://host/A.gif"));
}

TEST(AddressListTest, ClearForgetsEntriesAndIndex) {
    AddressList list;
    list.append("http://host/a.gif");
    list.clear();
    EXPECT_EQ(list.count(), 0);
    EXPECT_FALSE(list.contains("http://host/a.gif"));
    list.append("http://host/b.gif");
    EXPECT_EQ(list.at(1), "http://host/b.gif");
    EXPECT_FALSE(list.contains("http://host/a.gif"));
}

TEST(AddressListTest, StopsAtCapacityWithoutIndexingTheRefused) {
    AddressList list;
    for (int i = 1; i <= AddressList::capacity; ++i)
        ASSERT_TRUE(list.append("http://host/" + std::to_string(i)));
    EXPECT_TRUE(list.full());
    EXPECT_EQ(list.count(), 9990);

    EXPECT_FALSE(list.append("http://host/refused"));
    EXPECT_FALSE(list.append("http://host/1")); // a repeat is refused as well
    EXPECT_EQ(list.count(), 9990);
    EXPECT_FALSE(list.contains("http://host/refused"));
    EXPECT_TRUE(list.contains("http://host/9990"));
    EXPECT_EQ(list.at(9990), "http://host/9990");
}

} // namespace
