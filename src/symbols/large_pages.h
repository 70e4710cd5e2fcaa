#pragma once
// An allocator for the big random-access arrays of the solvers (decision
// diagram nodes, unique tables, operation caches). Arrays of 2 MiB or more
// are aligned to 2 MiB and the kernel is asked to back them with large
// pages: a random probe into a few hundred megabytes then costs one cache
// miss instead of a cache miss plus a page-table walk. Smaller arrays come
// from the ordinary heap. Where large pages are not available the advice is
// ignored and nothing else changes.

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace corvel {

constexpr std::size_t kLargePageBytes = std::size_t{1} << 21;

template <class T>
struct LargePageAllocator {
    using value_type = T;

    LargePageAllocator() noexcept = default;
    template <class U>
    LargePageAllocator(const LargePageAllocator<U>&) noexcept {}

    static bool large(std::size_t n) { return n * sizeof(T) >= kLargePageBytes; }

    T* allocate(std::size_t n) {
        if (!large(n)) return std::allocator<T>().allocate(n);
        if (n > static_cast<std::size_t>(-1) / sizeof(T) - kLargePageBytes) throw std::bad_alloc{};
        const std::size_t bytes = (n * sizeof(T) + kLargePageBytes - 1) & ~(kLargePageBytes - 1);
        void* p = std::aligned_alloc(kLargePageBytes, bytes);
        if (p == nullptr) throw std::bad_alloc{};
#if defined(__linux__) && defined(MADV_HUGEPAGE)
        madvise(p, bytes, MADV_HUGEPAGE);
#endif
        return static_cast<T*>(p);
    }

    void deallocate(T* p, std::size_t n) noexcept {
        if (!large(n))
            std::allocator<T>().deallocate(p, n);
        else
            std::free(p);
    }

    template <class U>
    bool operator==(const LargePageAllocator<U>&) const noexcept { return true; }
};

template <class T>
using LargeVector = std::vector<T, LargePageAllocator<T>>;

}  // namespace corvel
