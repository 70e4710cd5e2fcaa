// Factoring on the repeated components: each one is conditioned up (never
// fails) and down (failed from the start), the conditioned trees are solved
// by the tree analysis, and the results combined as R·(U − D) + D.

#include "combinatorial/ftree_repeat.h"
#include "combinatorial/tree.h"
#include "expo/results.h"
#include "model/context.h"

namespace corvel {

int count_repeated_components(const SystemRecord& sys) {
    int count = 0;
    for (const NodeInfo& rec : sys.nodes)
        if ((rec.entry == NT_REPEAT || rec.entry == NT_TRANSFER) && !rec.transferred_to) ++count;
    return count;
}

namespace {

// One conditioned component: the event and every transfer whose chain ends
// in it (they carry its state in the tree analysis).
struct RepeatedComponent {
    int event = -1;
    std::vector<int> records;  // the event and its transfers
    Exponomial dist;           // the event's failure CDF
};

std::vector<RepeatedComponent> fillin_rep_info(AnalysisContext& in, SystemRecord& sys) {
    std::vector<RepeatedComponent> info;
    std::vector<int> entry_of(sys.nodes.size(), -1);
    for (size_t r = 0; r < sys.nodes.size(); ++r) {
        const NodeInfo& rec = sys.nodes[r];
        if (!((rec.entry == NT_REPEAT || rec.entry == NT_TRANSFER) && !rec.transferred_to)) continue;
        const int event = resolve_transfer(sys, static_cast<int>(r));
        if (event < 0) in.err.error(212, kFatal, format_string("node %s", sys.names[static_cast<int>(r)].c_str()), true);
        int& e = entry_of[static_cast<size_t>(event)];
        if (e < 0) {
            e = static_cast<int>(info.size());
            RepeatedComponent c;
            c.event = event;
            c.records.push_back(event);
            c.dist = sys.nodes[static_cast<size_t>(event)].dist;
            info.push_back(std::move(c));
        }
    }
    // Every transfer joins the component its chain ends in.
    for (size_t r = 0; r < sys.nodes.size(); ++r) {
        if (sys.nodes[r].entry != NT_TRANSFER) continue;
        const int event = resolve_transfer(sys, static_cast<int>(r));
        if (event >= 0 && entry_of[static_cast<size_t>(event)] >= 0)
            info[static_cast<size_t>(entry_of[static_cast<size_t>(event)])].records.push_back(static_cast<int>(r));
    }
    return info;
}

struct Factoring {
    AnalysisContext& in;
    SystemRecord& sys;
    std::vector<RepeatedComponent>& comps;

    void set_state(const RepeatedComponent& c, bool down) {
        for (int r : c.records) {
            Exponomial& d = sys.nodes[static_cast<size_t>(r)].dist;
            d = down ? Exponomial::constant(1.0) : Exponomial{};
        }
    }

    Exponomial solve() {
        TreeModel& tm = tree_model(sys);
        analyze_tree(in, sys, tm.root, sys.type);
        return tm.tree[static_cast<size_t>(tm.root)].cdf;
    }

    Exponomial compute(int n) {
        if (n < 0) return solve();
        const Tolerances& tol = in.settings.tol;
        const RepeatedComponent& c = comps[static_cast<size_t>(n)];
        const bool trace = in.settings.debug[kDebugFtree] != 0;
        if (trace) in.out.printf("factoring on component %s\n", real_name(sys, c.event).c_str());
        set_state(c, false);
        Exponomial U = compute(n - 1);
        set_state(c, true);
        Exponomial D = compute(n - 1);
        Exponomial diff = U;
        subtract_expos(D, diff, tol);
        Exponomial R = c.dist;
        negate_and_add_scalar(R, 1.0, tol);
        if (trace) {
            auto print = expo_printer(in.settings);
            in.out.write("U = \n");
            print(in.out, U);
            in.out.write("D = \n");
            print(in.out, D);
            in.out.write("U - D = \n");
            print(in.out, diff);
            in.out.write("R = \n");
            print(in.out, R);
        }
        Exponomial result;
        multiply_expos(R, diff, result, tol);
        add_expos(D, result, tol);
        return result;
    }
};

}  // namespace

Exponomial analyze_ftree_with_factoring(AnalysisContext& in, SystemRecord& sys) {
    TreeModel& tm = tree_model(sys);
    bind_k_n(in, sys, tm.root, kFatal);
    std::vector<RepeatedComponent> comps = fillin_rep_info(in, sys);
    // Keep the bound distributions of everything the conditioning touches.
    std::vector<std::pair<int, Exponomial>> saved;
    for (const RepeatedComponent& c : comps)
        for (int r : c.records) saved.emplace_back(r, sys.nodes[static_cast<size_t>(r)].dist);
    Factoring f{in, sys, comps};
    Exponomial result = f.compute(static_cast<int>(comps.size()) - 1);
    for (auto& [r, d] : saved) sys.nodes[static_cast<size_t>(r)].dist = std::move(d);
    if (result.empty()) result = Exponomial::constant(0.0);
    tm.tree[static_cast<size_t>(tm.root)].cdf = result;
    return result;
}

}  // namespace corvel
