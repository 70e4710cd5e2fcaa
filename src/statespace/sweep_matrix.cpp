#include "statespace/sweep_matrix.h"

#include <cstring>
#include <limits>
#include <unordered_map>

#include "statespace/sor.h"

namespace corvel {

namespace {

std::uint64_t bits_of(double v) {
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

}  // namespace

SweepMatrix compact_chain(const SparseChain& m) {
    SweepMatrix a;
    const std::int64_t nnz = m.nonzeros();
    if (m.n <= 0 || nnz > static_cast<std::int64_t>(std::numeric_limits<std::uint32_t>::max())) return a;
    a.n = m.n;
    const auto n = static_cast<std::size_t>(m.n);
    a.rowptr.resize(n + 1);
    for (std::size_t i = 0; i <= n; ++i) a.rowptr[i] = static_cast<std::uint32_t>(m.rowptr[i]);
    a.col.assign(m.colind.begin(), m.colind.end());
    a.diag.assign(n, 0.0);
    for (std::int64_t k = 0; k < nnz; ++k) a.diag[static_cast<std::size_t>(m.colind[k])] -= m.q[k];

    // Codes by bit pattern, so that every stored value comes back exactly.
    // The last value looked up is remembered: arcs of one transition tend
    // to follow each other.
    constexpr std::size_t kMaxCodes = 65536;
    std::unordered_map<std::uint64_t, std::uint32_t> code_of;
    std::vector<std::uint32_t> codes(static_cast<std::size_t>(nnz));
    std::uint64_t last_bits = 0;
    std::uint32_t last_code = 0;
    bool have_last = false, fits = true;
    for (std::int64_t k = 0; k < nnz && fits; ++k) {
        const std::uint64_t b = bits_of(m.q[k]);
        if (!have_last || b != last_bits) {
            auto [it, fresh] = code_of.try_emplace(b, static_cast<std::uint32_t>(a.table.size()));
            if (fresh) {
                if (a.table.size() == kMaxCodes) {
                    fits = false;
                    break;
                }
                a.table.push_back(m.q[k]);
            }
            last_bits = b;
            last_code = it->second;
            have_last = true;
        }
        codes[static_cast<std::size_t>(k)] = last_code;
    }
    if (!fits) {
        a.table.clear();
        a.code_bytes = 8;
        a.raw.assign(m.q.begin(), m.q.end());
        return a;
    }
    if (a.table.size() <= 256) {
        a.code_bytes = 1;
        a.code8.assign(codes.begin(), codes.end());
    } else {
        a.code_bytes = 2;
        a.code16.assign(codes.begin(), codes.end());
    }
    return a;
}

}  // namespace corvel
