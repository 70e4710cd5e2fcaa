// Mean value analysis, one recursion for any number of chains.

#include "statespace/mva.h"

#include <algorithm>
#include <cmath>

#include "symbols/output.h"

namespace corvel {

double station_rate(const Station& st, size_t k, int j) {
    const std::vector<double>& r = st.rates[k];
    if (r.empty()) return 0.0;
    if (st.type != kStationLds) return r[0];
    size_t i = static_cast<size_t>(std::max(j, 1));
    return r[std::min(i, r.size() - 1)];
}

bool first_population(std::vector<int>& n, const std::vector<int>& bound, int level) {
    n.assign(bound.size(), 0);
    int rest = level;
    for (size_t k = 0; k < bound.size(); ++k) {
        n[k] = std::min(bound[k], rest);
        rest -= n[k];
    }
    return rest == 0;
}

bool next_population(std::vector<int>& n, const std::vector<int>& bound) {
    // The next vector in decreasing lexicographic order: one customer less at
    // the last chain whose followers can take one more, the followers then
    // filled in order again.
    int K = static_cast<int>(n.size());
    int room = 0, held = 0;  // over the chains after i
    for (int i = K - 2; i >= 0; --i) {
        room += bound[static_cast<size_t>(i + 1)];
        held += n[static_cast<size_t>(i + 1)];
        if (n[static_cast<size_t>(i)] == 0 || room < held + 1) continue;
        --n[static_cast<size_t>(i)];
        int rest = held + 1;
        for (int j = i + 1; j < K; ++j) {
            n[static_cast<size_t>(j)] = std::min(bound[static_cast<size_t>(j)], rest);
            rest -= n[static_cast<size_t>(j)];
        }
        return true;
    }
    return false;
}

size_t population_address(const std::vector<int>& n, const std::vector<int>& bound) {
    size_t a = 0;
    for (size_t k = 0; k < n.size(); ++k) a = a * static_cast<size_t>(bound[k] + 1) + static_cast<size_t>(n[k]);
    return a;
}

namespace {

bool load_dependent(const Station& st) { return st.type == kStationMs || st.type == kStationLds; }

class Mva {
public:
    Mva(std::vector<Station>& stations, const std::vector<int>& customers, const MvaOptions& opt)
        : st_(stations), N_(customers), opt_(opt), K_(customers.size()), M_(stations.size()) {
        L_ = 0;
        vectors_ = 1;
        for (int c : N_) {
            L_ += c;
            vectors_ *= static_cast<size_t>(c + 1);
        }
        weight_.assign(K_, 1);
        for (size_t k = K_; k-- > 1;) weight_[k - 1] = weight_[k] * static_cast<size_t>(N_[k] + 1);
        current_.assign(vectors_ * M_, 0.0);
        reported_.assign(M_, 0);
        for (size_t m = 0; m < M_; ++m) {
            Station& s = st_[m];
            s.tput.assign(K_, 0.0);
            s.qlength.assign(K_, 0.0);
            s.rtime.assign(K_, 0.0);
            s.util.assign(K_, 0.0);
            s.aqlength.assign(K_, 0.0);
            s.prblty.clear();
            if (!load_dependent(s)) continue;
            ld_of_.resize(M_, -1);
            ld_of_[m] = static_cast<int>(tables_.size());
            tables_.emplace_back();
        }
        if (!tables_.empty()) make_class_offsets();
        R_.assign(M_ * K_, 0.0);
        X_.assign(M_ * K_, 0.0);
    }

    void run() {
        if (opt_.debug && !opt_.single_chain) opt_.debug->printf("multiprogram_level %d\n", L_);
        std::vector<int> n;
        for (int level = 1; level <= L_; ++level) {
            if (opt_.debug && opt_.single_chain) opt_.debug->printf("customers: %d\n", level);
            for (bool more = first_population(n, N_, level); more; more = next_population(n, N_))
                solve(n, level);
        }
        for (size_t m = 0; m < M_; ++m) {
            if (!load_dependent(st_[m])) continue;
            const Table& t = tables_[static_cast<size_t>(ld_of_[m])];
            auto first = t.marginal.begin() + static_cast<long>((vectors_ - 1) * (L_ + 1));
            st_[m].prblty.assign(first, first + L_ + 1);
        }
    }

private:
    struct Table {
        std::vector<double> classprob;  // per population n, P(jv | n) for every jv <= n
        std::vector<double> marginal;   // per population n, P(j | n) for j = 0 .. L
    };

    // Class probabilities are kept only for jv <= n: the block of population
    // n holds prod_k (n_k + 1) entries, addressed in mixed radix by jv.
    void make_class_offsets() {
        offset_.assign(vectors_ + 1, 0);
        std::vector<int> n(K_, 0);
        for (size_t a = 0; a < vectors_; ++a) {
            size_t size = 1;
            size_t rest = a;
            for (size_t k = K_; k-- > 0;) {
                n[k] = static_cast<int>(rest % static_cast<size_t>(N_[k] + 1));
                rest /= static_cast<size_t>(N_[k] + 1);
                size *= static_cast<size_t>(n[k] + 1);
            }
            offset_[a + 1] = offset_[a] + size;
        }
        for (Table& t : tables_) {
            t.classprob.assign(offset_[vectors_], 0.0);
            t.marginal.assign(vectors_ * static_cast<size_t>(L_ + 1), 0.0);
            // The empty network: the station is empty.
            t.classprob[0] = 1.0;
            t.marginal[0] = 1.0;
        }
    }

    double marginal(size_t m, size_t address, int j) const {
        const Table& t = tables_[static_cast<size_t>(ld_of_[m])];
        return t.marginal[address * static_cast<size_t>(L_ + 1) + static_cast<size_t>(j)];
    }

    void solve(const std::vector<int>& n, int level) {
        size_t a = population_address(n, N_);
        std::vector<double> D(K_, 0.0);
        for (size_t k = 0; k < K_; ++k) {
            if (n[k] == 0) continue;
            size_t ak = a - weight_[k];
            for (size_t m = 0; m < M_; ++m) {
                const Station& s = st_[m];
                double v = s.visit_count[k];
                double& R = R_[m * K_ + k];
                R = 0.0;
                if (v == 0.0) continue;
                double q = current_[ak * M_ + m];
                double mu = station_rate(s, k, 1);
                switch (s.type) {
                    case kStationIs:
                        R = 1.0 / mu;
                        break;
                    case kStationMs: {
                        int S = s.servers;
                        if (S < level) {
                            double waiting = q + 1.0;
                            for (int j = 0; j < S; ++j) waiting += (S - j - 1) * marginal(m, ak, j);
                            R = waiting / (S * mu);
                        } else {
                            R = 1.0 / mu;
                        }
                        break;
                    }
                    case kStationLds:
                        for (int j = 1; j <= level; ++j) R += j * marginal(m, ak, j - 1) / station_rate(s, k, j);
                        break;
                    default:  // fcfs, ps, lcfspr
                        R = (q + 1.0) / mu;
                        break;
                }
                D[k] += v * R;
            }
        }
        if (opt_.debug && opt_.single_chain) opt_.debug->printf("  overall rtime: %20.14e\n", D[0]);
        for (size_t m = 0; m < M_; ++m) {
            Station& s = st_[m];
            double total = 0.0;
            for (size_t k = 0; k < K_; ++k) {
                double X = 0.0, R = 0.0;
                if (n[k] > 0 && D[k] != 0.0) {
                    X = n[k] * s.visit_count[k] / D[k];
                    R = R_[m * K_ + k];
                }
                X_[m * K_ + k] = X;
                s.tput[k] = X;
                s.rtime[k] = R;
                s.qlength[k] = X * R;
                s.util[k] = load_dependent(s) || X == 0.0 ? 0.0 : X / station_rate(s, k, 1);
                total += X * R;
            }
            current_[a * M_ + m] = total;
            if (load_dependent(s)) fill_lds_probs(m, n, a, level);
        }
    }

    // Class and marginal probabilities of an ms or lds station at population
    // n, from those at the populations n - e_k:
    //   P(jv | n) = sum_{k: jv_k > 0} X_k P(jv - e_k | n - e_k) / rate(k, |jv|).
    void fill_lds_probs(size_t m, const std::vector<int>& n, size_t a, int level) {
        Station& s = st_[m];
        Table& t = tables_[static_cast<size_t>(ld_of_[m])];
        // Radix weights of jv inside the block of n and of each n - e_k.
        std::vector<size_t> u(K_, 1);
        for (size_t k = K_; k-- > 1;) u[k - 1] = u[k] * static_cast<size_t>(n[k] + 1);
        std::vector<std::vector<size_t>> uk(K_);
        std::vector<size_t> base(K_, 0);
        for (size_t k = 0; k < K_; ++k) {
            if (n[k] == 0) continue;
            std::vector<int> nk = n;
            --nk[k];
            uk[k].assign(K_, 1);
            for (size_t i = K_; i-- > 1;) uk[k][i - 1] = uk[k][i] * static_cast<size_t>(nk[i] + 1);
            base[k] = offset_[a - weight_[k]];
        }
        size_t block = offset_[a], size = offset_[a + 1] - offset_[a];
        double* marg = &t.marginal[a * static_cast<size_t>(L_ + 1)];
        std::fill(marg, marg + L_ + 1, 0.0);
        // 1 / rate(k, j) for j = 1 .. level.
        const size_t stride = static_cast<size_t>(level) + 1;
        std::vector<double> inv_rate(K_ * stride, 0.0);
        for (size_t k = 0; k < K_; ++k) {
            if (X_[m * K_ + k] == 0.0) continue;
            for (int i = 1; i <= level; ++i) {
                double rate = s.type == kStationLds ? station_rate(s, k, i)
                                                    : std::min(i, s.servers) * station_rate(s, k, 1);
                inv_rate[k * stride + static_cast<size_t>(i)] = 1.0 / rate;
            }
        }
        std::vector<double> util(K_, 0.0);
        std::vector<int> jv(K_, 0);
        // at[k]: index of jv inside the block of n - e_k, kept up to date as
        // jv advances (meaningful while jv_k > 0).
        std::vector<long> at(K_, 0);
        for (size_t k = 0; k < K_; ++k)
            if (n[k] > 0) at[k] = -static_cast<long>(uk[k][k]);
        int j = 0;
        for (size_t idx = 1; idx < size; ++idx) {
            // Advance jv (chain K-1 fastest) to the vector of index idx.
            for (size_t i = K_; i-- > 0;) {
                if (jv[i] < n[i]) {
                    ++jv[i];
                    ++j;
                    for (size_t k = 0; k < K_; ++k)
                        if (n[k] > 0) at[k] += static_cast<long>(uk[k][i]);
                    break;
                }
                for (size_t k = 0; k < K_; ++k)
                    if (n[k] > 0) at[k] -= static_cast<long>(jv[i]) * static_cast<long>(uk[k][i]);
                j -= jv[i];
                jv[i] = 0;
            }
            double p = 0.0;
            for (size_t k = 0; k < K_; ++k) {
                if (jv[k] == 0) continue;
                double X = X_[m * K_ + k];
                if (X == 0.0) continue;
                p += X * t.classprob[base[k] + static_cast<size_t>(at[k])] * inv_rate[k * stride + static_cast<size_t>(j)];
            }
            t.classprob[block + idx] = p;
            marg[j] += p;
            double share = p / j;
            for (size_t k = 0; k < K_; ++k) util[k] += jv[k] * share;
        }
        double busy = 0.0;
        for (int i = 1; i <= level; ++i) busy += marg[i];
        double empty = 1.0 - busy;
        bool out_of_range = empty < -opt_.tolerance;
        for (int i = 1; i <= level; ++i) out_of_range = out_of_range || marg[i] > 1.0 + opt_.tolerance;
        if (out_of_range && !reported_[m] && opt_.lost_precision) {
            reported_[m] = 1;
            opt_.lost_precision(s, empty, level);
        }
        double scale = 1.0;
        if (empty < 0.0) {
            if (opt_.debug && opt_.single_chain) opt_.debug->printf("  adjusting prblty, total %20.14e\n", busy);
            empty = 0.0;
            scale = 1.0 / busy;
            for (size_t idx = 1; idx < size; ++idx) t.classprob[block + idx] *= scale;
            for (int i = 1; i <= level; ++i) marg[i] *= scale;
        }
        t.classprob[block] = empty;
        marg[0] = empty;
        for (size_t k = 0; k < K_; ++k) s.util[k] = util[k] * scale;
    }

    std::vector<Station>& st_;
    const std::vector<int>& N_;
    const MvaOptions& opt_;
    size_t K_, M_;
    int L_ = 0;
    size_t vectors_ = 1;
    std::vector<size_t> weight_;     // mixed-radix weight of each chain
    std::vector<double> current_;    // per population and station: total mean queue length
    std::vector<int> ld_of_;         // station -> its table, or -1
    std::vector<Table> tables_;
    std::vector<size_t> offset_;     // per population: first class-probability entry
    std::vector<double> R_, X_;      // per station and chain, at the population being solved
    std::vector<char> reported_;
};

// One chain of N customers in memory O(N) and time O(N·J) per station, J
// the number of leading probabilities a station needs explicitly: its
// servers (ms) or the first population from which its rate stays constant
// (lds). Beyond J every rate is the same, so the probabilities of J or more
// customers enter the recursion only through two sums carried from level to
// level, each built from non-negative terms:
//   T(n) = sum_{j>=J} P(j|n)   = X/mu_J (P(J-1|n-1) + T(n-1)),
//   W(n) = sum_{j>=J} j P(j|n) = X/mu_J (J P(J-1|n-1) + W(n-1) + T(n-1)).
// The lds response time is then
//   R(n) = sum_{j<J} j P(j-1|n-1)/mu(j) + (J P(J-1|n-1) + W(n-1) + T(n-1))/mu_J.
//
// The probability of the empty station, 1 - sum_{j>=1} P(j|n) in the full
// recursion, loses its digits once the station is rarely empty, and the
// recursion feeds that error back with a gain of X/mu(1) per level: with a
// slow first rate the results drift away within a few hundred customers.
// Here it comes from the product form instead, without a subtraction:
//   P_m(0|n) = G_{-m}(n)/G(n) = P_m(0|n-1) · Xc(n)/Xc_{-m}(n),
// Xc the cycle throughput n/C of the network and Xc_{-m} that of the network
// without station m. The networks without some of the load-dependent
// stations are solved alongside, level by level, the smaller ones first
// (2^L networks for L such stations; beyond kMaxSubsetStations the
// subtraction is used and checked as in the full recursion).
constexpr int kMaxSubsetStations = 10;

class LinearMva {
public:
    LinearMva(std::vector<Station>& stations, int customers, const MvaOptions& opt)
        : st_(stations), N_(customers), opt_(opt), M_(stations.size()) {
        ld_index_.assign(M_, -1);
        for (size_t m = 0; m < M_; ++m) {
            Station& s = st_[m];
            s.tput.assign(1, 0.0);
            s.qlength.assign(1, 0.0);
            s.rtime.assign(1, 0.0);
            s.util.assign(1, 0.0);
            s.aqlength.assign(1, 0.0);
            s.prblty.clear();
            if (!load_dependent(s) || s.visit_count[0] == 0.0) continue;
            ld_index_[m] = static_cast<int>(ld_stations_.size());
            ld_stations_.push_back(m);
        }
        const size_t L = ld_stations_.size();
        subsets_ = L <= static_cast<size_t>(kMaxSubsetStations);
        const size_t nets = subsets_ ? size_t{1} << L : 1;
        full_ = (size_t{1} << L) - 1;
        nets_.resize(nets);
        for (size_t k = 0; k < nets; ++k) {
            Net& net = nets_[k];
            net.mask = subsets_ ? k : full_;
            net.Q.assign(M_, 0.0);
            net.R.assign(M_, 0.0);
            net.ld.resize(L);
            for (size_t i = 0; i < L; ++i) {
                if (!(net.mask >> i & 1)) continue;
                const Station& s = st_[ld_stations_[i]];
                Ld& d = net.ld[i];
                d.J = explicit_count(s);
                d.p.assign(static_cast<size_t>(d.J), 0.0);
                d.p[0] = 1.0;
                d.inv_rate.resize(static_cast<size_t>(d.J) + 1);
                for (int j = 1; j <= d.J; ++j) d.inv_rate[static_cast<size_t>(j)] = 1.0 / rate(s, j);
            }
            for (size_t m = 0; m < M_; ++m)
                if (st_[m].visit_count[0] != 0.0 && in_net(net, m)) net.stations = true;
        }
        for (size_t i = 0; i < L; ++i) {
            x_history_.emplace_back();
            x_history_.back().reserve(static_cast<size_t>(N_));
            empty_history_.emplace_back(1, 1.0);
            empty_history_.back().reserve(static_cast<size_t>(N_) + 1);
        }
        reported_.assign(L, 0);
    }

    void run() {
        // The traces of the full recursion: per level for a pfqn, the
        // population alone for an mpfqn.
        trace_ = opt_.single_chain ? opt_.debug : nullptr;
        if (opt_.debug && !opt_.single_chain) opt_.debug->printf("multiprogram_level %d\n", N_);
        for (int n = 1; n <= N_; ++n) {
            if (trace_) trace_->printf("customers: %d\n", n);
            for (Net& net : nets_) step(net, n);
        }
        Net& net = nets_.back();
        for (size_t m = 0; m < M_; ++m) {
            Station& s = st_[m];
            const double X = s.visit_count[0] * net.cycle;
            s.tput[0] = X;
            s.rtime[0] = X != 0.0 ? net.R[m] : 0.0;
            s.qlength[0] = net.Q[m];
            if (ld_index_[m] >= 0) {
                s.util[0] = 1.0 - net.ld[static_cast<size_t>(ld_index_[m])].p[0];
                fill_marginals(m, net.ld[static_cast<size_t>(ld_index_[m])]);
            } else {
                s.util[0] = X == 0.0 ? 0.0 : X / station_rate(s, 0, 1);
                if (load_dependent(s)) s.prblty.assign(static_cast<size_t>(N_) + 1, 0.0), s.prblty[0] = 1.0;
            }
        }
    }

private:
    struct Ld {
        int J = 1;
        std::vector<double> p;            // P(j | n) for j < J
        double tail = 0.0, moment = 0.0;  // T(n), W(n)
        std::vector<double> inv_rate;     // 1/mu(j), j = 1 .. J
    };
    // The network with the load-dependent stations of `mask` (the others
    // always), at the last level solved.
    struct Net {
        size_t mask = 0;
        bool stations = false;        // holds any station the chain visits
        double cycle = 0.0;           // Xc = n / C
        std::vector<double> Q, R;     // per station
        std::vector<Ld> ld;           // per load-dependent station (used when in mask)
    };

    bool in_net(const Net& net, size_t m) const {
        return ld_index_[m] < 0 || (net.mask >> static_cast<size_t>(ld_index_[m]) & 1);
    }

    double rate(const Station& s, int j) const {
        return s.type == kStationLds ? station_rate(s, 0, j) : std::min(j, s.servers) * station_rate(s, 0, 1);
    }

    int explicit_count(const Station& s) const {
        if (s.type == kStationMs) return std::max(1, std::min(s.servers, N_));
        const std::vector<double>& r = s.rates[0];
        int J = std::min(N_, static_cast<int>(r.size()) - 1);
        const double last = station_rate(s, 0, N_);
        while (J > 1 && station_rate(s, 0, J - 1) == last) --J;
        return std::max(J, 1);
    }

    double response(const Net& net, size_t m, int n) const {
        const Station& s = st_[m];
        const double mu = station_rate(s, 0, 1);
        const int li = ld_index_[m];
        switch (s.type) {
            case kStationIs: return 1.0 / mu;
            case kStationMs: {
                const int S = s.servers;
                if (S >= n) return 1.0 / mu;
                const Ld& d = net.ld[static_cast<size_t>(li)];
                double waiting = net.Q[m] + 1.0;
                for (int j = 0; j < S && j < d.J; ++j) waiting += (S - j - 1) * d.p[static_cast<size_t>(j)];
                return waiting / (S * mu);
            }
            case kStationLds: {
                const Ld& d = net.ld[static_cast<size_t>(li)];
                double R = 0.0;
                for (int j = 1; j < d.J; ++j)
                    R += j * d.p[static_cast<size_t>(j - 1)] * d.inv_rate[static_cast<size_t>(j)];
                R += (d.J * d.p[static_cast<size_t>(d.J - 1)] + d.moment + d.tail) * d.inv_rate[static_cast<size_t>(d.J)];
                return R;
            }
            default: return (net.Q[m] + 1.0) / mu;
        }
    }

    void step(Net& net, int n) {
        const bool full = net.mask == full_;
        double C = 0.0;
        for (size_t m = 0; m < M_; ++m) {
            net.R[m] = 0.0;
            if (st_[m].visit_count[0] == 0.0 || !in_net(net, m)) continue;
            net.R[m] = response(net, m, n);
            C += st_[m].visit_count[0] * net.R[m];
        }
        if (full && trace_) trace_->printf("  overall rtime: %20.14e\n", C);
        net.cycle = C != 0.0 ? n / C : 0.0;
        for (size_t m = 0; m < M_; ++m) {
            if (!in_net(net, m)) continue;
            const double X = st_[m].visit_count[0] * net.cycle;
            net.Q[m] = X * net.R[m];
            if (ld_index_[m] >= 0) advance(net, static_cast<size_t>(ld_index_[m]), X, n);
        }
    }

    // The marginal probabilities of load-dependent station i at level n
    // from those at n - 1.
    void advance(Net& net, size_t i, double X, int n) {
        Ld& d = net.ld[i];
        const size_t J = static_cast<size_t>(d.J);
        const double f = X * d.inv_rate[J];
        const double last = d.p[J - 1];
        const double empty_before = d.p[0];
        d.moment = f * (d.J * last + d.moment + d.tail);
        d.tail = f * (last + d.tail);
        double busy = d.tail;
        for (size_t j = J - 1; j >= 1; --j) {
            d.p[j] = X * d.p[j - 1] * d.inv_rate[j];
            busy += d.p[j];
        }
        const bool full = net.mask == full_;
        double empty;
        if (subsets_) {
            // The network without the station: the one whose mask lacks it.
            const Net& rest = nets_[net.mask & ~(size_t{1} << i)];
            empty = rest.stations && rest.cycle > 0.0 ? empty_before * net.cycle / rest.cycle : 0.0;
            // Rounding only: the parts sum to 1 in the product form.
            const double total = empty + busy;
            if (total > 0.0 && total != 1.0) {
                const double scale = 1.0 / total;
                for (size_t j = 1; j < J; ++j) d.p[j] *= scale;
                d.tail *= scale;
                d.moment *= scale;
                empty *= scale;
            }
            if (full && std::fabs(total - 1.0) > 1e-8) report(i, empty, n);
        } else {
            empty = 1.0 - busy;
            bool out_of_range = empty < -opt_.tolerance || d.tail > 1.0 + opt_.tolerance;
            for (size_t j = 1; j < J; ++j) out_of_range = out_of_range || d.p[j] > 1.0 + opt_.tolerance;
            if (out_of_range) report(i, empty, n);
            if (empty < 0.0) {
                if (full && trace_) trace_->printf("  adjusting prblty, total %20.14e\n", busy);
                const double scale = 1.0 / busy;
                for (size_t j = 1; j < J; ++j) d.p[j] *= scale;
                d.tail *= scale;
                d.moment *= scale;
                empty = 0.0;
            }
        }
        d.p[0] = empty;
        if (full) {
            x_history_[i].push_back(X);
            empty_history_[i].push_back(empty);
        }
    }

    void report(size_t i, double empty, int n) {
        if (reported_[i] || !opt_.lost_precision) return;
        reported_[i] = 1;
        opt_.lost_precision(st_[ld_stations_[i]], empty, n);
    }

    // P(j | N) for j = 0 .. N: the leading ones as carried, the others from
    // the product form of the recursion,
    //   P(j|N) = P(0|N-j) prod_{i<j} X(N-i) / prod_{k<=j} mu(k),
    // summed in logarithms so that no partial product over- or underflows.
    void fill_marginals(size_t m, const Ld& d) {
        Station& s = st_[m];
        const size_t i = static_cast<size_t>(ld_index_[m]);
        const std::vector<double>& xs = x_history_[i];
        const std::vector<double>& es = empty_history_[i];
        s.prblty.assign(static_cast<size_t>(N_) + 1, 0.0);
        for (int j = 0; j < d.J && j <= N_; ++j) s.prblty[static_cast<size_t>(j)] = d.p[static_cast<size_t>(j)];
        double log_ratio = 0.0;
        for (int j = 1; j <= N_; ++j) {
            log_ratio += std::log(xs[static_cast<size_t>(N_ - j)]) - std::log(rate(s, j));
            if (j < d.J) continue;
            const double empty = es[static_cast<size_t>(N_ - j)];
            if (empty > 0.0) s.prblty[static_cast<size_t>(j)] = std::exp(std::log(empty) + log_ratio);
        }
    }

    std::vector<Station>& st_;
    int N_;
    const MvaOptions& opt_;
    size_t M_;
    std::vector<int> ld_index_;          // station -> its load-dependent index, or -1
    std::vector<size_t> ld_stations_;
    bool subsets_ = true;
    size_t full_ = 0;
    std::vector<Net> nets_;              // by mask; the last one is the whole network
    std::vector<std::vector<double>> x_history_, empty_history_;  // whole network, per level
    std::vector<char> reported_;
    Output* trace_ = nullptr;
};

double full_table_entries(const std::vector<Station>& stations, const std::vector<int>& customers) {
    double vectors = 1.0, below = 1.0, level = 0.0;
    for (int c : customers) {
        vectors *= c + 1.0;
        below *= (c + 1.0) * (c + 2.0) / 2.0;
        level += c;
    }
    double entries = vectors * static_cast<double>(stations.size());
    for (const Station& st : stations)
        if (load_dependent(st)) entries += vectors * (level + 1.0) + below;
    return std::isfinite(entries) ? entries : -1.0;
}

// Every single-chain network: its tables are linear in the population and
// its empty-station probabilities keep their digits.
bool linear_route(const std::vector<Station>&, const std::vector<int>& customers) { return customers.size() == 1; }

}  // namespace

double mva_table_entries(const std::vector<Station>& stations, const std::vector<int>& customers) {
    if (!linear_route(stations, customers)) return full_table_entries(stations, customers);
    // Per load-dependent station: the rates, the carried probabilities and
    // two histories of N + 1 values each, and the final marginals.
    double entries = static_cast<double>(stations.size());
    for (const Station& st : stations)
        if (load_dependent(st)) entries += 4.0 * (customers[0] + 1.0);
    return entries;
}

void solve_mva(std::vector<Station>& stations, const std::vector<int>& customers, const MvaOptions& opt) {
    if (linear_route(stations, customers)) {
        LinearMva(stations, customers[0], opt).run();
        return;
    }
    Mva(stations, customers, opt).run();
}

}  // namespace corvel
