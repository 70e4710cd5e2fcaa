#pragma once
// An allocator for the big random-access arrays of the solvers (decision
// diagram nodes, unique tables, operation caches). Arrays of 2 MiB or more
// are mapped from the kernel, aligned to 2 MiB, and the kernel is asked to
// back them with large pages: a random probe into a few hundred megabytes then costs one cache
// miss instead of a cache miss plus a page-table walk. Smaller arrays come
// from the ordinary heap. Where large pages are not available the advice is
// ignored and nothing else changes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <memory>
#include <new>
#include <type_traits>
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

    static std::size_t mapped_bytes(std::size_t n) {
        return (n * sizeof(T) + kLargePageBytes - 1) & ~(kLargePageBytes - 1);
    }

    // Large arrays are mapped directly rather than taken from the heap: the
    // heap serves blocks up to tens of megabytes from its own arena once
    // large blocks have been freed, in small pages and without alignment.
    T* allocate(std::size_t n) {
        if (!large(n)) return std::allocator<T>().allocate(n);
        if (n > static_cast<std::size_t>(-1) / sizeof(T) - 2 * kLargePageBytes) throw std::bad_alloc{};
        const std::size_t bytes = mapped_bytes(n);
#if defined(__linux__)
        // Map one large page more than needed and keep the aligned part.
        void* raw = mmap(nullptr, bytes + kLargePageBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (raw == MAP_FAILED) throw std::bad_alloc{};
        const auto start = reinterpret_cast<std::uintptr_t>(raw);
        const std::uintptr_t aligned = (start + kLargePageBytes - 1) & ~(kLargePageBytes - 1);
        if (aligned > start) munmap(raw, aligned - start);
        const std::uintptr_t end = start + bytes + kLargePageBytes;
        if (end > aligned + bytes) munmap(reinterpret_cast<void*>(aligned + bytes), end - (aligned + bytes));
        void* p = reinterpret_cast<void*>(aligned);
#if defined(MADV_HUGEPAGE)
        madvise(p, bytes, MADV_HUGEPAGE);
#endif
#else
        void* p = std::aligned_alloc(kLargePageBytes, bytes);
        if (p == nullptr) throw std::bad_alloc{};
#endif
        return static_cast<T*>(p);
    }

    void deallocate(T* p, std::size_t n) noexcept {
        if (!large(n)) {
            std::allocator<T>().deallocate(p, n);
            return;
        }
#if defined(__linux__)
        munmap(p, mapped_bytes(n));
#else
        std::free(p);
#endif
    }

    template <class U>
    bool operator==(const LargePageAllocator<U>&) const noexcept { return true; }
};

template <class T>
using LargeVector = std::vector<T, LargePageAllocator<T>>;

// A growing array of trivially copyable elements in chunks of 2^Bits
// elements: growing never copies what is stored nor touches fresh memory
// twice, which for arrays of hundreds of megabytes filled once per
// operation is most of their cost. Clearing keeps the chunks for reuse.
template <class T, unsigned Bits>
class ChunkedArray {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    static constexpr std::size_t kChunk = std::size_t{1} << Bits;

    std::size_t size() const { return size_; }
    T& operator[](std::size_t i) { return chunks_[i >> Bits][i & (kChunk - 1)]; }
    const T& operator[](std::size_t i) const { return chunks_[i >> Bits][i & (kChunk - 1)]; }
    void clear() { size_ = 0; }
    void push_back(const T& v) {
        const std::size_t c = size_ >> Bits;
        if (c == chunks_.size()) {
            chunks_.emplace_back();
            // Mapped at once and touched only as filled; the first chunk
            // grows from small, so that small uses stay small.
            if (c > 0) chunks_.back().reserve(kChunk);
        }
        LargeVector<T>& chunk = chunks_[c];
        const std::size_t at = size_ & (kChunk - 1);
        if (at < chunk.size())
            chunk[at] = v;  // a chunk filled before the last clear
        else
            chunk.push_back(v);
        ++size_;
    }

private:
    std::vector<LargeVector<T>> chunks_;
    std::size_t size_ = 0;
};


// A growing array of trivially copyable elements that stays in place: it
// reserves address space for `max_elements` at once (no memory behind it)
// and makes the front usable as it grows, so growing copies nothing and
// touches fresh memory once. Where the reservation is refused (a limit on
// address space), it grows by mapping a larger block and copying.
template <class T>
class ReservedArray {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    explicit ReservedArray(std::size_t max_elements) : max_(max_elements) {
#if defined(__linux__)
        const std::size_t bytes = round_up(max_elements * sizeof(T));
        void* raw = mmap(nullptr, bytes + kLargePageBytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (raw != MAP_FAILED) {
            const auto start = reinterpret_cast<std::uintptr_t>(raw);
            const std::uintptr_t aligned = (start + kLargePageBytes - 1) & ~(kLargePageBytes - 1);
            if (aligned > start) munmap(raw, aligned - start);
            const std::uintptr_t end = start + bytes + kLargePageBytes;
            if (end > aligned + bytes) munmap(reinterpret_cast<void*>(aligned + bytes), end - (aligned + bytes));
            base_ = reinterpret_cast<T*>(aligned);
            reserved_ = bytes;
        }
#endif
    }
    ~ReservedArray() { release(); }
    ReservedArray(const ReservedArray&) = delete;
    ReservedArray& operator=(const ReservedArray&) = delete;

    std::size_t size() const { return size_; }
    std::size_t capacity() const { return std::min(usable_bytes_ / sizeof(T), max_); }
    T& operator[](std::size_t i) { return base_[i]; }
    const T& operator[](std::size_t i) const { return base_[i]; }
    // A new value-initialised element at the end.
    T& emplace_back() {
        if (size_ == capacity()) grow();
        base_[size_] = T{};
        return base_[size_++];
    }

private:
    T* base_ = nullptr;
    std::size_t size_ = 0;
    std::size_t usable_bytes_ = 0;  // the front made usable
    std::size_t reserved_ = 0;      // address space reserved; 0 without a reservation
    std::size_t max_;

    static std::size_t round_up(std::size_t bytes) { return (bytes + kLargePageBytes - 1) & ~(kLargePageBytes - 1); }

    void grow() {
        if (size_ >= max_) throw std::bad_alloc{};
        // Small arrays grow from 64 KiB in small pages; from 2 MiB on in
        // whole large pages.
        constexpr std::size_t kFirst = std::size_t{1} << 16;
        std::size_t want = std::max(usable_bytes_ * 2, kFirst);
        want = want < kLargePageBytes ? want : round_up(want);
#if defined(__linux__)
        if (reserved_ != 0) {
            const std::size_t bytes = std::min(want, reserved_);
            if (bytes > usable_bytes_ &&
                mprotect(reinterpret_cast<char*>(base_) + usable_bytes_, bytes - usable_bytes_,
                         PROT_READ | PROT_WRITE) == 0) {
#if defined(MADV_HUGEPAGE)
                madvise(reinterpret_cast<char*>(base_) + usable_bytes_, bytes - usable_bytes_, MADV_HUGEPAGE);
#endif
                usable_bytes_ = bytes;
                return;
            }
            throw std::bad_alloc{};
        }
#endif
        // No reservation: a larger block, the elements copied over.
        LargePageAllocator<T> alloc;
        const std::size_t n = want / sizeof(T);
        T* bigger = alloc.allocate(n);
        if (size_ != 0) std::memcpy(static_cast<void*>(bigger), base_, size_ * sizeof(T));
        release();
        base_ = bigger;
        usable_bytes_ = n * sizeof(T);
    }

    void release() {
        if (base_ == nullptr) return;
#if defined(__linux__)
        if (reserved_ != 0) {
            munmap(base_, reserved_);
            base_ = nullptr;
            return;
        }
#endif
        LargePageAllocator<T>().deallocate(base_, usable_bytes_ / sizeof(T));
        base_ = nullptr;
    }
};

}  // namespace corvel
