#include "combinatorial/tree_stable.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "combinatorial/graph_chain.h"
#include "combinatorial/tree.h"
#include "model/context.h"

namespace corvel {

namespace {

constexpr double u = kUnitRoundoff;

// One gate or component of the numeric tree; nodes are stored in post-order,
// so every child comes before its parent.
struct NumNode {
    int type = NT_LEAF;
    std::vector<int> kids;
    int k = 0, n = 0;                        // KOFN: failures (completions) needed of n
    double scale = 1.0;                      // branch probability of a leaf
    std::shared_ptr<const NumericDist> dist;  // components and fixed sub-results
};

GuardedProb swap(const GuardedProb& p) { return {p.r, p.f}; }

// The first-to-fail combination: survivals multiply.
GuardedProb first_of(const std::vector<GuardedProb>& kids) {
    double logs = 0.0;
    std::vector<double> each(kids.size());
    for (size_t i = 0; i < kids.size(); ++i) {
        const GuardedProb& p = kids[i];
        each[i] = p.f.value < 0.5 ? std::log1p(-p.f.value) : std::log(p.r.value);
        logs += each[i];
    }
    GuardedProb out;
    const double R = std::exp(logs), F = -std::expm1(logs);
    double ef = 0.0, er = 0.0;
    for (size_t i = 0; i < kids.size(); ++i) {
        // ∂/∂F_i = ∂/∂R_i (up to sign) = Π over the others ≤ 1.
        const double others = std::min(1.0, std::exp(logs - each[i]));
        ef += kids[i].f.error * others;
        er += kids[i].r.error * others;
    }
    const double n = static_cast<double>(kids.size()) + 4.0;
    out.f = {F, ef + u * n * F, Route::Structure};
    out.r = {R, er + u * n * R, Route::Structure};
    if (!std::isfinite(logs) && logs > 0) out.f.error = out.r.error = INFINITY;
    return out;
}

// At least k of the children: the count of those done, from positive terms.
GuardedProb at_least(const std::vector<GuardedProb>& kids, int k) {
    const int n = static_cast<int>(kids.size());
    if (k <= 0) return {Guarded{1.0, 0.0, Route::Structure}, Guarded{0.0, 0.0, Route::Structure}};
    if (k > n) return {Guarded{0.0, 0.0, Route::Structure}, Guarded{1.0, 0.0, Route::Structure}};
    std::vector<double> P(static_cast<size_t>(k), 0.0);  // exactly j done, j < k
    P[0] = 1.0;
    double done = 0.0, err = 0.0;
    for (const GuardedProb& c : kids) {
        const double f = c.f.value, r = c.r.value;
        done += P[static_cast<size_t>(k - 1)] * f;
        for (int j = k - 1; j >= 1; --j) P[static_cast<size_t>(j)] = P[static_cast<size_t>(j)] * r + P[static_cast<size_t>(j - 1)] * f;
        P[0] *= r;
        err += c.f.error + c.r.error;
    }
    double waiting = 0.0;
    for (double p : P) waiting += p;
    const double rounding = u * (2.0 * n + k + 4.0);
    return {Guarded{done, err + rounding * done, Route::Structure},
            Guarded{waiting, err + rounding * waiting, Route::Structure}};
}

class StructureDist final : public NumericDist {
public:
    StructureDist(std::vector<NumNode> nodes, double scale) : nodes_(std::move(nodes)), scale_(scale) {}
    void set_masses(double pz, double pi) {
        pz_ = pz;
        pi_ = pi;
    }

    GuardedProb at(double t) const override {
        if (t < 0.0) return {Guarded::exact(0.0), Guarded::exact(1.0)};
        std::vector<GuardedProb> value(nodes_.size());
        std::vector<GuardedProb> kids;
        for (size_t i = 0; i < nodes_.size(); ++i) {
            const NumNode& node = nodes_[i];
            kids.clear();
            for (int kid : node.kids) kids.push_back(value[static_cast<size_t>(kid)]);
            GuardedProb& v = value[i];
            switch (node.type) {
                case NT_MIN: v = first_of(kids); break;
                case NT_NMIN: v = swap(first_of(kids)); break;
                case NT_MAX:
                    for (GuardedProb& c : kids) c = swap(c);
                    v = swap(first_of(kids));
                    break;
                case NT_NMAX:
                    for (GuardedProb& c : kids) c = swap(c);
                    v = first_of(kids);
                    break;
                case NT_KOFN:
                case NT_NKOFN: {
                    if (kids.size() == 1) kids.assign(static_cast<size_t>(std::max(node.n, 0)), kids[0]);
                    v = at_least(kids, node.k);
                    if (node.type == NT_NKOFN) v = swap(v);
                    break;
                }
                case NT_NOT: v = swap(kids.at(0)); break;
                case NT_PROB: {
                    GuardedSum f;
                    for (const GuardedProb& c : kids) f.add(c.f);
                    v.f = f.result(Route::Structure);
                    v.r = {1.0 - v.f.value, v.f.error + u, Route::Structure};
                    break;
                }
                default: {
                    v = node.dist->at(t);
                    if (node.scale != 1.0) {
                        v.r = {(1.0 - node.scale) + node.scale * v.r.value, node.scale * v.r.error + u, v.r.route};
                        v.f = g_scale(v.f, node.scale);
                    }
                    break;
                }
            }
            v.f.route = v.r.route = Route::Structure;
        }
        return value.back();
    }
    double mass_at_zero() const override { return pz_; }
    double mass_at_infinity() const override { return pi_; }
    double time_scale() const override { return scale_; }
    // A structure that is one component or sequence is that part: its
    // moments and phases are the part's own.
    std::optional<GuardedMoments> known_moments() const override {
        const NumericDist* one = single();
        return one ? one->known_moments() : std::nullopt;
    }
    const std::vector<double>* phases() const override {
        const NumericDist* one = single();
        return one ? one->phases() : nullptr;
    }
    double phase_scale() const override {
        const NumericDist* one = single();
        return one ? one->phase_scale() : 1.0;
    }

private:
    const NumericDist* single() const {
        if (nodes_.size() != 1 || !nodes_[0].dist || nodes_[0].scale != 1.0) return nullptr;
        return nodes_[0].dist.get();
    }

    std::vector<NumNode> nodes_;
    double scale_, pz_ = 0.0, pi_ = 0.0;
};


struct Builder {
    AnalysisContext& in;
    SystemRecord& sys;
    TreeModel& tm;
    const AnalysisRequest& req;
    std::vector<NumNode> nodes;
    double slowest = 0.0;

    void note_scale(const NumericDist& d) { slowest = std::max(slowest, d.time_scale()); }

    // The phases of the activity behind leaf tree node t (none for the unit
    // step of a start node) and the probability of taking it at all.
    bool leaf_phases(int t, std::vector<double>& rates, double& scale) {
        const TreeNode& tn = tm.tree[static_cast<size_t>(t)];
        if (tn.type != NT_LEAF && tn.type != NT_TRANSFER && tn.type != NT_REPEAT) return false;
        const int rec = resolve_transfer(sys, tn.first_node);
        if (rec < 0) return false;
        const NodeInfo& info = sys.nodes[static_cast<size_t>(rec)];
        std::shared_ptr<const NumericDist> d = component_dist(in, info);
        const double branch = info.has_prob ? info.prob : 1.0;
        const std::vector<double>* ph = d->phases();
        if (ph == nullptr) {
            const bool unit_step = info.dist.size() == 1 && info.dist[0].e_xpower == 0 && info.dist[0].e_b == 0.0 &&
                                   info.dist[0].e_a == 1.0 && !info.dist[0].is_complex();
            if (!unit_step) return false;
            rates.clear();
            scale = branch;
            return true;
        }
        rates = *ph;
        scale = d->phase_scale() * branch;
        return true;
    }

    // A sequence whose members are all phase sums becomes one phase sum.
    std::shared_ptr<const NumericDist> phase_sequence(const std::vector<int>& kids) {
        std::vector<double> rates, part;
        double scale = 1.0;
        for (int kid : kids) {
            const TreeNode& tn = tm.tree[static_cast<size_t>(kid)];
            if (tn.type == NT_SERIAL) {
                std::shared_ptr<const NumericDist> inner = phase_sequence(tn.kids);
                if (!inner) return nullptr;
                rates.insert(rates.end(), inner->phases()->begin(), inner->phases()->end());
                scale *= inner->phase_scale();
                continue;
            }
            double p = 1.0;
            if (!leaf_phases(kid, part, p)) return nullptr;
            // A unit step taken only with some probability is no phase sum.
            if (p != 1.0 && part.empty()) return nullptr;
            rates.insert(rates.end(), part.begin(), part.end());
            scale *= p;
        }
        return std::make_shared<PhaseSumDist>(std::move(rates), scale);
    }

    // One numeric node for tree node t, its children already converted.
    void convert(int t, std::vector<int>& index) {
        const TreeNode& tn = tm.tree[static_cast<size_t>(t)];
        NumNode node;
        node.type = tn.type;
        switch (tn.type) {
            case NT_SERIAL: {
                node.type = NT_LEAF;
                node.dist = phase_sequence(tn.kids);
                // A sequence of forks of phase sums: the graph's phase chain.
                if (!node.dist && sys.type == kSysGraph)
                    node.dist = graph_phase_chain(sys, t, [this](int leaf, std::vector<double>& rates, double& scale) {
                        return leaf_phases(leaf, rates, scale);
                    }, in.settings.work_limit);
                if (!node.dist) {
                    // No stable route for this sequence: its closed form, guarded.
                    analyze_tree(in, sys, t, sys.type);
                    node.dist = std::make_shared<ExpoDist>(tm.tree[static_cast<size_t>(t)].cdf, in.settings.tol);
                }
                note_scale(*node.dist);
                break;
            }
            case NT_LEAF:
            case NT_TRANSFER:
            case NT_REPEAT: {
                node.type = NT_LEAF;
                const int rec = resolve_transfer(sys, tn.first_node);
                const NodeInfo& info = sys.nodes[static_cast<size_t>(std::max(rec, 0))];
                node.dist = component_dist(in, info);
                if (info.has_prob) node.scale = info.prob;
                note_scale(*node.dist);
                break;
            }
            default:
                node.n = tn.n;
                node.k = (tn.type == NT_KOFN && sys.type == kSysBlock) ? tn.n - tn.k + 1 : tn.k;
                for (int kid : tn.kids) node.kids.push_back(index[static_cast<size_t>(kid)]);
                break;
        }
        nodes.push_back(std::move(node));
        index[static_cast<size_t>(t)] = static_cast<int>(nodes.size()) - 1;
    }

    void run(int root) {
        std::vector<int> index(tm.tree.size(), -1);
        std::vector<std::pair<int, bool>> stack{{root, false}};
        while (!stack.empty()) {
            auto [t, expanded] = stack.back();
            const TreeNode& tn = tm.tree[static_cast<size_t>(t)];
            if (!expanded && tn.type != NT_SERIAL) {
                stack.back().second = true;
                for (auto it = tn.kids.rbegin(); it != tn.kids.rend(); ++it) stack.emplace_back(*it, false);
                continue;
            }
            stack.pop_back();
            convert(t, index);
        }
    }
};

}  // namespace

std::shared_ptr<const NumericDist> component_dist(AnalysisContext& in, const NodeInfo& info) {
    if (info.stable) return info.stable;
    return std::make_shared<ExpoDist>(info.dist, in.settings.tol);
}

std::shared_ptr<const NumericDist> build_structure_dist(AnalysisContext& in, SystemRecord& sys, int root,
                                                        const AnalysisRequest& req) {
    TreeModel& tm = tree_model(sys);
    if (root < 0) return nullptr;
    Builder b{in, sys, tm, req, {}, 0.0};
    b.run(root);
    auto dist = std::make_shared<StructureDist>(std::move(b.nodes), std::max(b.slowest, 1e-300));
    // Masses at zero and at infinity from the structure itself.
    const double pz = dist->at(0.0).f.value;
    const double pi = dist->at(INFINITY).r.value;
    dist->set_masses(pz < 1e-11 ? 0.0 : pz, pi < 1e-11 ? 0.0 : pi);
    return dist;
}

double predicted_term_count(const SystemRecord& sys, int root) {
    const TreeModel* tm = find_tree_model(sys);
    if (!tm || root < 0) return 0.0;
    std::vector<double> count(tm->tree.size(), 0.0);
    std::vector<std::pair<int, bool>> stack{{root, false}};
    while (!stack.empty()) {
        auto [t, expanded] = stack.back();
        const TreeNode& tn = tm->tree[static_cast<size_t>(t)];
        if (!expanded) {
            stack.back().second = true;
            for (int kid : tn.kids) stack.emplace_back(kid, false);
            continue;
        }
        stack.pop_back();
        double c = 0.0;
        switch (tn.type) {
            case NT_LEAF:
            case NT_TRANSFER:
            case NT_REPEAT: {
                const int rec = resolve_transfer(sys, tn.first_node);
                c = rec >= 0 ? std::max<double>(1.0, static_cast<double>(sys.nodes[static_cast<size_t>(rec)].dist.size())) : 1.0;
                break;
            }
            case NT_PROB:
                for (int kid : tn.kids) c += count[static_cast<size_t>(kid)];
                break;
            case NT_SERIAL:
                // Convolution: the sum of the parts' terms, each raised in power.
                for (int kid : tn.kids) c += count[static_cast<size_t>(kid)];
                c *= 1.0 + 0.0;
                break;
            default: {
                c = 1.0;
                for (int kid : tn.kids) c = std::min(1e300, c * count[static_cast<size_t>(kid)]);
                if (tn.kids.size() == 1 && tn.n > 1) c = std::min(1e300, std::pow(c, tn.n));
                break;
            }
        }
        count[static_cast<size_t>(t)] = c;
    }
    return count[static_cast<size_t>(root)];
}

}  // namespace corvel
