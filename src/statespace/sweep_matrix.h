#pragma once
// The chain as the sweeps of the steady-state iterations read it.
//
// A sweep reads every stored arc once, so its cost is the bytes streamed per
// arc. Column indices are 32 bits; since nets and generated chains carry only
// a handful of distinct rates, the values are kept as 8- or 16-bit codes into
// a small table when they fit (5 or 6 bytes an arc), and as one double per
// arc only when the chain has more than 65 536 distinct values. The diagonal
// (the negative total outflow of each state) is a contiguous array beside
// the rows.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvel {

struct SparseChain;

struct SweepMatrix {
    int n = 0;
    std::vector<std::uint32_t> rowptr;  // n + 1 offsets (arcs entering each state)
    std::vector<std::uint32_t> col;     // from-state of each arc
    int code_bytes = 0;                 // 1 or 2: codes into `table`; 8: raw values
    std::vector<std::uint8_t> code8;
    std::vector<std::uint16_t> code16;
    std::vector<double> raw;
    std::vector<double> table;          // the distinct values, in order of first use
    std::vector<double> diag;           // d_i = -(total outflow of state i)

    std::uint64_t nonzeros() const { return col.size(); }
    // Bytes of matrix storage read per arc in one sweep.
    double bytes_per_arc() const { return 4.0 + code_bytes; }
    // The value of arc k.
    double value(std::uint64_t k) const {
        return code_bytes == 1 ? table[code8[k]] : code_bytes == 2 ? table[code16[k]] : raw[k];
    }
};

// The compact form of `m` (same rows, same order of entries, same values).
// Returns an empty matrix (n = 0) when the arcs do not fit 32-bit offsets.
SweepMatrix compact_chain(const SparseChain& m);

// Calls f(get) with a callable get(k) returning arc k's value, specialised on
// the storage so that the sweep loop has no branch per arc.
template <class F>
decltype(auto) with_values(const SweepMatrix& a, F&& f) {
    if (a.code_bytes == 1) {
        const double* t = a.table.data();
        const std::uint8_t* c = a.code8.data();
        return f([t, c](std::uint64_t k) { return t[c[k]]; });
    }
    if (a.code_bytes == 2) {
        const double* t = a.table.data();
        const std::uint16_t* c = a.code16.data();
        return f([t, c](std::uint64_t k) { return t[c[k]]; });
    }
    const double* v = a.raw.data();
    return f([v](std::uint64_t k) { return v[k]; });
}

}  // namespace corvel
