// The system store and the name tables of a system.

#include <gtest/gtest.h>

#include <string>

#include "model/system_store.h"

namespace corvel {
namespace {

TEST(SystemStore, RecordsKeepTheirPlaceAsTheStoreGrows) {
    SystemStore store;
    for (int i = 0; i < 12; ++i) EXPECT_EQ(store.create("s" + std::to_string(i), kSysBlock), i);
    SystemRecord& first = store[0];
    first.s_time = 4.5;
    for (int i = 12; i < 200; ++i) store.create("s" + std::to_string(i), kSysMarkov);
    // References into the store stay valid: records are never moved.
    EXPECT_EQ(&first, &store[0]);
    EXPECT_EQ(store[0].s_time, 4.5);
    EXPECT_EQ(store.find("s5"), 5);
    EXPECT_EQ(store[150].type, kSysMarkov);
    EXPECT_EQ(store[150].block_kind, kSysMarkov);
}

TEST(SystemStore, NamesCompareOnTwentyNineCharacters) {
    SystemStore store;
    std::string base(29, 'q');
    EXPECT_EQ(store.create(base + "first", kSysBlock), 0);
    EXPECT_EQ(store.create(base + "second", kSysBlock), -1);
    EXPECT_EQ(store.find(base), 0);
    EXPECT_EQ(store[0].name, base);
    EXPECT_EQ(store.find(base.substr(0, 28)), -1);
}

TEST(SystemStore, DiscardingTheLastRecordFreesItsName) {
    SystemStore store;
    store.create("keep", kSysBlock);
    store.create("drop", kSysBlock);
    store.discard_last();
    EXPECT_EQ(store.size(), 1);
    EXPECT_EQ(store.find("drop"), -1);
    EXPECT_EQ(store.create("drop", kSysFtree), 1);
}

TEST(SystemStore, InvalidationClearsTheRightFlags) {
    SystemStore store;
    store.create("a", kSysBlock);
    auto set_all = [&] { store[0].s_vbound = store[0].s_tbound = store[0].s_sbound = store[0].s_ibound = true; };
    set_all();
    store.invalidate_results();
    EXPECT_TRUE(store[0].s_vbound);
    EXPECT_FALSE(store[0].s_tbound || store[0].s_sbound || store[0].s_ibound);
    set_all();
    store.invalidate_all();
    EXPECT_FALSE(store[0].s_vbound || store[0].s_tbound || store[0].s_sbound || store[0].s_ibound);
}

TEST(NameTable, ModesFindAddAndRefuse) {
    NameTable t;
    EXPECT_EQ(t.find("x", NameTable::kFind), -1);
    EXPECT_EQ(t.find("x", NameTable::kFindOrAdd), 0);
    EXPECT_EQ(t.find("y", NameTable::kAdd), 1);
    EXPECT_EQ(t.find("x", NameTable::kAdd), -1);
    EXPECT_EQ(t.find("x", NameTable::kFindOrAdd), 0);
    EXPECT_EQ(t.size(), 2);
    EXPECT_EQ(t[1], "y");
}

TEST(SystemRecord, NodeRecordsFollowTheNameTable) {
    SystemRecord sys;
    EXPECT_EQ(sys.node("a"), 0);
    EXPECT_EQ(sys.node("b"), 1);
    EXPECT_EQ(sys.node("a"), 0);
    EXPECT_EQ(sys.nodes.size(), 2u);
    EXPECT_EQ(sys.node("c", NameTable::kFind), -1);
    EXPECT_EQ(sys.nodes.size(), 2u);
}

TEST(TypeTexts, KindsWithoutTextPrintNothing) {
    EXPECT_STREQ(system_type_text(kSysMarkovAcyclic), "acyclic Markov chain\n");
    EXPECT_STREQ(system_type_text(kSysFtreeRepeated), "fault tree with repeated nodes\n");
    EXPECT_STREQ(system_type_text(kSysMstree), "");
    EXPECT_STREQ(system_type_text(kSysSrnIrreducible), "");
    EXPECT_STREQ(system_type_text(kSysMrgp), "");
}

}  // namespace
}  // namespace corvel
