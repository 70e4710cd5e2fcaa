#pragma once
// Exact mean value analysis of closed product-form queueing networks with one
// or several customer chains.
//
// The stations carry their bound parameters (type, servers, per-chain rates
// and visit ratios) and receive the per-chain results for the full
// population. One chain is the special case K = 1 of the same recursion.
//
// Population vectors n = (n_0, ..., n_{K-1}) with n_k <= N_k are numbered in
// mixed radix, chain 0 most significant: address(n) = sum_k n_k * prod_{j>k}
// (N_j + 1). They are solved level by level (sum of n), each level depending
// only on the one below.

#include <cstddef>
#include <functional>
#include <vector>

#include "statespace/queue_blocks.h"

namespace corvel {

class Output;

struct MvaOptions {
    Output* debug = nullptr;        // trace lines when set
    bool single_chain = false;      // trace as for a one-chain network
    // Tolerance below zero (above one) beyond which a marginal probability
    // is reported rather than taken as rounding.
    double tolerance = 1e-11;
    // Called at most once per station and analysis when a marginal
    // probability of an ms or lds station comes out negative or above one
    // beyond the tolerance: the recursion lost its digits there. `value` is
    // the offending probability of the empty station, `population` the
    // network population at which it happened (as a level).
    std::function<void(const Station& st, double value, int level)> lost_precision;
};

// The rate of chain k at a station holding j customers (j >= 1): lds rates
// are indexed by j, other types have one rate.
double station_rate(const Station& st, size_t k, int j);

// Solves the network for the populations `customers` (one entry per chain,
// each at least 1). Every station needs `type`, `servers` (ms), `rates` and
// `visit_count` for every chain; chains that do not visit a station have a
// zero visit ratio there. Fills `tput`, `qlength`, `rtime`, `util` per chain
// and, for ms and lds stations, `prblty` (probability of j customers present,
// j = 0 .. total population). Throws std::bad_alloc through when the tables
// do not fit; callers check `mva_table_entries` first.
void solve_mva(std::vector<Station>& stations, const std::vector<int>& customers, const MvaOptions& opt);

// Number of doubles the tables of `solve_mva` need, or a negative value when
// the count overflows.
double mva_table_entries(const std::vector<Station>& stations, const std::vector<int>& customers);

// Population enumeration of one level: `first_population` sets n to the first
// vector with sum `level` (chains filled in order, each as far as its bound
// and the remaining total allow); `next_population` moves to the next vector
// of the same level. Both return false when there is none.
bool first_population(std::vector<int>& n, const std::vector<int>& bound, int level);
bool next_population(std::vector<int>& n, const std::vector<int>& bound);

// Mixed-radix address of n under the bounds.
size_t population_address(const std::vector<int>& n, const std::vector<int>& bound);

}  // namespace corvel
