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

double mva_table_entries(const std::vector<Station>& stations, const std::vector<int>& customers) {
    double vectors = 1.0, below = 1.0, level = 0.0;
    for (int c : customers) {
        vectors *= c + 1.0;
        below *= (c + 1.0) * (c + 2.0) / 2.0;
        level += c;
    }
    double entries = vectors * static_cast<double>(stations.size());
    for (const Station& st : stations)
        if (st.type == kStationMs || st.type == kStationLds) entries += vectors * (level + 1.0) + below;
    return std::isfinite(entries) ? entries : -1.0;
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

}  // namespace

void solve_mva(std::vector<Station>& stations, const std::vector<int>& customers, const MvaOptions& opt) {
    Mva(stations, customers, opt).run();
}

}  // namespace corvel
