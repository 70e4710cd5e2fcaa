#include "symbols/large_pages.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace corvel {
namespace {

struct Record {
    std::uint32_t a, b;
    std::uint16_t c;
};

// Fills past several growth steps (over 2 MiB of elements) and reads every
// element back.
template <class Array>
void fill_and_check(Array& array, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        Record& r = array.emplace_back();
        EXPECT_EQ(r.a, 0u);  // value-initialised, also when memory is reused
        r = Record{static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(3 * i), static_cast<std::uint16_t>(i)};
    }
    ASSERT_EQ(array.size(), n);
    EXPECT_GE(array.capacity(), n);
    for (std::size_t i = 0; i < n; ++i) {
        ASSERT_EQ(array[i].a, i);
        ASSERT_EQ(array[i].b, 3 * i);
        ASSERT_EQ(array[i].c, static_cast<std::uint16_t>(i));
    }
}

TEST(LargeArrays, ReservedArrayGrowsInPlaceOrByCopying) {
    ReservedArray<Record> reserved(std::size_t{1} << 24);
    fill_and_check(reserved, 600000);
    // An address space no machine grants: the array grows by copying.
    ReservedArray<Record> unreserved(std::size_t{1} << 60);
    fill_and_check(unreserved, 600000);
    // Full at its maximum.
    ReservedArray<Record> tiny(3);
    for (int i = 0; i < 3; ++i) tiny.emplace_back();
    EXPECT_THROW(tiny.emplace_back(), std::bad_alloc);
}

TEST(LargeArrays, ChunkedArrayKeepsElementsAcrossChunksAndClears) {
    ChunkedArray<std::uint64_t, 10> chunks;
    for (std::uint64_t i = 0; i < 5000; ++i) chunks.push_back(i * i);
    ASSERT_EQ(chunks.size(), 5000u);
    for (std::uint64_t i = 0; i < 5000; ++i) ASSERT_EQ(chunks[i], i * i);
    chunks.clear();
    EXPECT_EQ(chunks.size(), 0u);
    chunks.push_back(7);
    EXPECT_EQ(chunks[0], 7u);
}

}  // namespace
}  // namespace corvel
