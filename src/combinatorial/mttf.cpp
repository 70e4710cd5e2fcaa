#include "combinatorial/mttf.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "combinatorial/ftree_repeat.h"
#include "combinatorial/tree.h"
#include "model/context.h"

namespace corvel {

namespace {

bool marked_up(const MttfPair& p) { return p.avail > 1.1; }
bool marked_down(const MttfPair& p) { return p.avail < -1.1; }

// Up while at least k of the components (a_i, λ_i) are: availability and
// failure frequency by adding one component at a time.
MttfPair combine(const std::vector<double>& a, const std::vector<double>& lambda, int k) {
    const int n = static_cast<int>(a.size());
    if (k <= 0) return {kMarkUp, -1.0};
    if (n < k) return {kMarkDown, -1.0};
    std::vector<double> A(static_cast<size_t>(k) + 1, 0.0), L(static_cast<size_t>(k) + 1, 0.0);
    A[0] = 1.0;
    for (int p = 0; p <= n - k; ++p) {
        for (int j = 1; j <= k; ++j) {
            const size_t m = static_cast<size_t>(j + p - 1);
            const double am = a[m], lm = lambda[m];
            const size_t J = static_cast<size_t>(j);
            L[J] = am * L[J - 1] + (1.0 - am) * L[J] + lm * am * (A[J - 1] - A[J]);
            A[J] = am * A[J - 1] + (1.0 - am) * A[J];
        }
    }
    const double Ak = A[static_cast<size_t>(k)], Lk = L[static_cast<size_t>(k)];
    // A sub-system that never fails has no finite mean up time; it behaves
    // like one conditioned up.
    if (!(Lk > 0.0)) return Ak > 0.0 ? MttfPair{kMarkUp, -1.0} : MttfPair{kMarkDown, -1.0};
    return {Ak, Ak / Lk};
}

}  // namespace

MttfPair k_of_n_gen_mttf(const std::vector<MttfPair>& kids, int k) {
    std::vector<double> a, lambda;
    for (const MttfPair& c : kids) {
        if (marked_down(c)) continue;
        if (marked_up(c)) {
            --k;
            continue;
        }
        a.push_back(c.avail);
        lambda.push_back(1.0 / c.mttf);
    }
    return combine(a, lambda, k);
}

MttfPair k_of_n_iid_mttf(const MttfPair& kid, int k, int n) {
    if (marked_down(kid)) return combine({}, {}, k);
    if (marked_up(kid)) return combine({}, {}, k - n);
    return combine(std::vector<double>(static_cast<size_t>(std::max(n, 0)), kid.avail),
                   std::vector<double>(static_cast<size_t>(std::max(n, 0)), 1.0 / kid.mttf), k);
}

AvailFreq bdd_avail_freq(BddManager* m, bdd root, bool var_true_is_up, bdd up_terminal,
                         const std::function<DiagramRates(bdd node)>& component) {
    // Per regular node: P(its function means "up") and the frequency with
    // which it changes state. A complemented handle exchanges up and down,
    // so its availability is 1 − A and its frequency the same. The failures
    // of a component move the function from its up cofactor to its down
    // cofactor; in a coherent system one of the two always dominates, which
    // makes |A_up − A_down|·λ·a the frequency contributed there.
    const BddPostorder order(m, root);
    std::vector<AvailFreq> memo(order.nodes.size());
    auto of = [&](bdd h) -> AvailFreq {
        if (bdd_is_constant(m, h)) return {h == up_terminal ? 1.0 : 0.0, 0.0};
        AvailFreq v = memo[order.of(h)];
        if (bdd_is_complemented(h)) v.avail = 1.0 - v.avail;
        return v;
    };
    for (size_t k = 0; k < order.nodes.size(); ++k) {
        const bdd h = order.nodes[k];
        const bdd hi = bdd_then(m, h), lo = bdd_else(m, h);
        const AvailFreq up = of(var_true_is_up ? hi : lo), down = of(var_true_is_up ? lo : hi);
        const DiagramRates c = component(h);
        AvailFreq r;
        r.avail = c.a * up.avail + (1.0 - c.a) * down.avail;
        r.freq = std::fabs(up.avail - down.avail) * c.lambda * c.a + (1.0 - c.a) * down.freq + c.a * up.freq;
        memo[k] = r;
    }
    return of(root);
}

namespace {

[[noreturn]] void need_repair(AnalysisContext& in, const std::string& name) {
    in.out.printf("Please input repair rate for %s to compute mttf \n", name.c_str());
    in.err.exit_program(kExitFailure);
}

DiagramRates component_rates(AnalysisContext& in, const SystemRecord& sys, int rec) {
    const NodeInfo& info = sys.nodes[static_cast<size_t>(rec)];
    if (!info.rudist) need_repair(in, real_name(sys, rec));
    DiagramRates r;
    r.lambda = info.failure_rate;
    r.a = info.repair_rate / (info.failure_rate + info.repair_rate);
    return r;
}

// A/ν, with ν ≤ 0 (a system that never fails) refused rather than printed
// as an infinite or negative time.
double mean_up_time(AnalysisContext& in, const SystemRecord& sys, double A, double nu) {
    if (!(nu > 0.0) || !std::isfinite(A / nu)) {
        (void)sys;
        in.err.error(128, kFatal, "", true);
    }
    return A / nu;
}

// ------------------------------------------------------------------ trees

// The bottom-up pass over the tree; `state[rec]` is +1 or −1 for a
// repeated component conditioned up or down, 0 otherwise.
MttfPair tree_pass(AnalysisContext& in, SystemRecord& sys, const std::unordered_map<int, int>& state) {
    TreeModel& tm = tree_model(sys);
    std::vector<MttfPair> value(tm.tree.size());
    std::vector<std::pair<int, bool>> stack{{tm.root, false}};
    while (!stack.empty()) {
        auto [t, expanded] = stack.back();
        const TreeNode& node = tm.tree[static_cast<size_t>(t)];
        const bool gate = node.type == NT_MIN || node.type == NT_MAX || node.type == NT_KOFN;
        if (gate && !expanded) {
            stack.back().second = true;
            for (int kid : node.kids) stack.emplace_back(kid, false);
            continue;
        }
        stack.pop_back();
        MttfPair r;
        switch (node.type) {
            case NT_LEAF:
            case NT_REPEAT:
            case NT_TRANSFER: {
                const int rec = resolve_transfer(sys, node.first_node);
                if (rec < 0) in.err.error(212, kFatal, format_string("node %s", sys.names[node.first_node].c_str()), true);
                auto it = state.find(rec);
                if (it != state.end() && it->second != 0) {
                    r = {it->second > 0 ? kMarkUp : kMarkDown, -1.0};
                } else {
                    const DiagramRates c = component_rates(in, sys, rec);
                    r = {c.a, 1.0 / c.lambda};
                }
                break;
            }
            case NT_MIN:
            case NT_MAX:
            case NT_KOFN: {
                std::vector<MttfPair> kids;
                for (int kid : node.kids) kids.push_back(value[static_cast<size_t>(kid)]);
                const int count = static_cast<int>(kids.size());
                int up_needed;
                if (node.type == NT_MIN)
                    up_needed = count;
                else if (node.type == NT_MAX)
                    up_needed = 1;
                else if (sys.type == kSysBlock)
                    up_needed = node.k;
                else
                    up_needed = node.n - node.k + 1;
                if (node.type == NT_KOFN && count == 1)
                    r = k_of_n_iid_mttf(kids[0], up_needed, node.n);
                else
                    r = k_of_n_gen_mttf(kids, up_needed);
                break;
            }
            default:
                in.err.error(2, kInternal, "", false);
        }
        tm.tree[static_cast<size_t>(t)].avail = r.avail;
        tm.tree[static_cast<size_t>(t)].mttf = r.mttf;
        value[static_cast<size_t>(t)] = r;
    }
    return value[static_cast<size_t>(tm.root)];
}

// (A, ν) of a pass's root: a root fixed by conditioning is up or down for
// good and contributes no failures.
AvailFreq root_pair(const MttfPair& r) {
    if (marked_up(r)) return {1.0, -1.0};
    if (marked_down(r)) return {0.0, -1.0};
    return {r.avail, r.mttf > 0.0 ? r.avail / r.mttf : -1.0};
}

struct SharedComponent {
    int rec;
    double a, lambda;
};

std::vector<SharedComponent> shared_components(AnalysisContext& in, SystemRecord& sys) {
    std::vector<SharedComponent> table;
    std::unordered_map<int, int> seen;
    for (size_t r = 0; r < sys.nodes.size(); ++r) {
        const NodeInfo& rec = sys.nodes[r];
        if (rec.entry != NT_REPEAT && rec.entry != NT_TRANSFER) continue;
        const int event = resolve_transfer(sys, static_cast<int>(r));
        if (event < 0) in.err.error(212, kFatal, format_string("node %s", sys.names[static_cast<int>(r)].c_str()), true);
        const int entry = sys.nodes[static_cast<size_t>(event)].entry;
        if (entry != NT_LEAF && entry != NT_REPEAT) {
            in.out.printf("Can't transfer a non-leaf or non-repeat node %s\n", sys.names[event].c_str());
            in.err.exit_program(kExitFailure);
        }
        if (!seen.emplace(event, static_cast<int>(table.size())).second) continue;
        const DiagramRates c = component_rates(in, sys, event);
        table.push_back({event, c.a, c.lambda});
    }
    return table;
}

// Conditions on table entry i (up, then down) and on those below it.
AvailFreq factoring_step(AnalysisContext& in, SystemRecord& sys, const std::vector<SharedComponent>& table,
                         std::unordered_map<int, int>& state, int i) {
    if (i < 0) return root_pair(tree_pass(in, sys, state));
    const SharedComponent& c = table[static_cast<size_t>(i)];
    state[c.rec] = 1;
    const AvailFreq u = factoring_step(in, sys, table, state, i - 1);
    state[c.rec] = -1;
    const AvailFreq d = factoring_step(in, sys, table, state, i - 1);
    state[c.rec] = 0;
    AvailFreq r;
    r.freq = (u.avail - d.avail) * c.lambda * c.a;
    if (d.freq > 0.0) r.freq += (1.0 - c.a) * d.freq;
    if (u.freq > 0.0) r.freq += c.a * u.freq;
    r.avail = c.a * u.avail + (1.0 - c.a) * d.avail;
    return r;
}

double ftree_mttf_with_bdd(AnalysisContext& in, SystemRecord& sys) {
    RepeatedTreeState& st = repeated_state(sys);
    TreeModel& tm = tree_model(sys);
    if (!st.bdd) {
        bind_k_n(in, sys, tm.root, kFatal);
        st.bdd = analyze_ftree_with_bdd(in, sys);
    }
    FtBddInfo& info = *st.bdd;
    // A variable true means the component has failed; the function true
    // means the system has failed.
    const AvailFreq r = bdd_avail_freq(info.m, info.root, false, bdd_zero(info.m), [&](bdd node) {
        return component_rates(in, sys, info.listvar[static_cast<size_t>(bdd_if_index(info.m, node))]);
    });
    return mean_up_time(in, sys, r.avail, r.freq);
}

}  // namespace


double system_mttf(AnalysisContext& in, SystemRecord& sys) {
    switch (sys.type) {
        case kSysBlock:
        case kSysFtreeNoRepeat: {
            TreeModel& tm = tree_model(sys);
            if (tm.root < 0) in.err.error(80, kFatal, sys.name, true);
            bind_k_n(in, sys, tm.root, kFatal);
            const MttfPair r = tree_pass(in, sys, {});
            const AvailFreq p = root_pair(r);
            return mean_up_time(in, sys, p.avail, p.freq);
        }
        case kSysFtreeRepeated: {
            TreeModel& tm = tree_model(sys);
            if (tm.root < 0) in.err.error(80, kFatal, sys.name, true);
            const std::vector<SharedComponent> table = [&] {
                bind_k_n(in, sys, tm.root, kFatal);
                return shared_components(in, sys);
            }();
            // Factoring costs two tree passes per repeated component; past the
            // factoring limit the diagram gives the same value.
            if (in.settings.use_bdd || !sys.coherent || static_cast<int>(table.size()) > in.settings.factorlimit)
                return ftree_mttf_with_bdd(in, sys);
            std::unordered_map<int, int> state;
            const AvailFreq r = factoring_step(in, sys, table, state, static_cast<int>(table.size()) - 1);
            return mean_up_time(in, sys, r.avail, r.freq);
        }
        case kSysRelgraph:
            return relgraph_mttf_with_bdd(in, sys);
        default:
            in.err.error(21, kFatal, sys.name, true);
            return 0.0;
    }
}

}  // namespace corvel
