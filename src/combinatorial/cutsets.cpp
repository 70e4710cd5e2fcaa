// Minimal cut sets of a fault tree, their disjoint products (coordinate
// sharp with groups of zeros), the exponomial of the disjoint sum, and the
// cut-set and p-q listings.

#include <algorithm>
#include <climits>
#include <cmath>
#include <functional>
#include <map>

#include "combinatorial/ftree_repeat.h"
#include "combinatorial/tree.h"
#include "combinatorial/tree_stable.h"
#include "expo/numeric_dist.h"
#include "model/context.h"

namespace corvel {

// ------------------------------------------------------------------ terms

CutTerm combine_terms(const CutTerm& a, const CutTerm& b) {
    CutTerm r;
    r.reserve(a.size() + b.size());
    std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(r));
    return r;
}

int compare_ln(const CutTerm& r, const CutTerm& p) {
    if (std::includes(r.begin(), r.end(), p.begin(), p.end())) return 1;
    if (std::includes(p.begin(), p.end(), r.begin(), r.end())) return 2;
    return r.size() < p.size() ? 4 : 3;
}

void insert_ln_term(TermList& list, CutTerm t) {
    for (size_t i = 0; i < list.size();) {
        int c = compare_ln(t, list[i]);
        if (c == 1) return;  // not minimal, or a duplicate
        if (c == 2) {
            list.erase(list.begin() + static_cast<long>(i));
            continue;
        }
        ++i;
    }
    auto at = std::find_if(list.begin(), list.end(), [&](const CutTerm& x) { return x.size() > t.size(); });
    list.insert(at, std::move(t));
}

namespace {

TermList multiply(const TermList& q, const TermList& r) {
    TermList out;
    for (const CutTerm& a : q)
        for (const CutTerm& b : r) insert_ln_term(out, combine_terms(a, b));
    return out;
}

// Post-order over the rewritten tree, one term list per node; `dual`
// exchanges AND and OR (the path sets of a coherent tree). A node shared by
// several gates is solved once and its list kept until its last parent has
// used it.
TermList find_min_sum(AnalysisContext& in, SystemRecord& sys, bool dual) {
    TreeModel& tm = tree_model(sys);
    const bool trace = in.settings.debug[kDebugFtree] != 0;
    const size_t size = tm.tree.size();
    std::vector<TermList> result(size);
    std::vector<int> parents(size, 0);
    std::vector<char> state(size, 0);  // 0 unseen, 1 open, 2 done
    std::vector<int> order;
    std::vector<std::pair<int, bool>> work{{tm.root, false}};
    while (!work.empty()) {
        auto [t, expanded] = work.back();
        const TreeNode& node = tm.tree[static_cast<size_t>(t)];
        const bool gate = node.type == NT_MIN || node.type == NT_MAX;
        if (!expanded) {
            if (state[static_cast<size_t>(t)]) {
                work.pop_back();
                continue;
            }
            state[static_cast<size_t>(t)] = 1;
            work.back().second = true;
            if (gate)
                for (auto k = node.kids.rbegin(); k != node.kids.rend(); ++k) {
                    ++parents[static_cast<size_t>(*k)];
                    if (!state[static_cast<size_t>(*k)]) work.emplace_back(*k, false);
                }
            continue;
        }
        work.pop_back();
        state[static_cast<size_t>(t)] = 2;
        order.push_back(t);
    }
    for (int t : order) {
        const TreeNode& node = tm.tree[static_cast<size_t>(t)];
        const int type = node.type;
        TermList& out = result[static_cast<size_t>(t)];
        if (type == NT_MIN || type == NT_MAX) {
            // A child still needed by another gate lends a copy of its list.
            auto take = [&](int kid) {
                TermList& r = result[static_cast<size_t>(kid)];
                if (--parents[static_cast<size_t>(kid)] > 0) return r;
                return TermList(std::move(r));
            };
            const bool is_and = (type == NT_MAX) != dual;
            if (trace) in.out.write(is_and ? "analyzing NT_MAX (and)\n" : "analyzing NT_MIN (or)\n");
            if (node.kids.empty()) in.err.error(149, kInternal, "", false);
            TermList q = take(node.kids[0]);
            for (size_t i = 1; i < node.kids.size(); ++i) {
                TermList r = take(node.kids[i]);
                if (is_and)
                    q = multiply(q, r);
                else
                    for (CutTerm& term : r) insert_ln_term(q, std::move(term));
            }
            out = std::move(q);
        } else if (type == NT_LEAF || type == NT_TRANSFER || type == NT_REPEAT) {
            int rec = resolve_transfer(sys, node.first_node);
            if (rec < 0) in.err.error(212, kFatal, format_string("node %s", sys.names[node.first_node].c_str()), true);
            if (trace) in.out.printf("analyzing leaf %s(%d)\n", real_name(sys, rec).c_str(), rec);
            out = TermList{CutTerm{rec}};
        } else {
            in.err.error(2, kInternal, "", false);
        }
    }
    return std::move(result[static_cast<size_t>(tm.root)]);
}

}  // namespace

TermList compute_minsum(AnalysisContext& in, SystemRecord& sys) {
    TreeModel& tm = tree_model(sys);
    rewrite_kofn(in, sys, tm.root);
    return find_min_sum(in, sys, false);
}

TermList compute_minpaths(AnalysisContext& in, SystemRecord& sys) {
    TreeModel& tm = tree_model(sys);
    rewrite_kofn(in, sys, tm.root);
    return find_min_sum(in, sys, true);
}

// ------------------------------------------------------------------ disjoint products

namespace {

enum : std::uint8_t { V0 = 0, V1 = 1, VX = 2, VY = 3, VZ = 4 };

// a#b for a the reduced cube's value and b the term cube's.
constexpr std::uint8_t kSharp[3][3] = {{VZ, VY, VZ}, {VY, VZ, VZ}, {V1, V0, VZ}};

int coordinate_sharp(const Cube& u, const Cube& q, std::vector<std::uint8_t>& r) {
    r.resize(u.size());
    bool any_y = false, all_z = true;
    for (size_t i = 0; i < u.size(); ++i) {
        r[i] = kSharp[u[i].value][q[i].value];
        if (r[i] == VY) any_y = true;
        if (r[i] != VZ) all_z = false;
    }
    return any_y ? 1 : all_z ? 2 : 3;
}

// Zeros of `c` that were zeros of `source` keep its group; new zeros form
// group j + 1, unique when alone.
void mark_zeros(Cube& c, const Cube& source, int j) {
    int fresh = 0;
    size_t last = 0;
    for (size_t i = 0; i < c.size(); ++i) {
        if (c[i].value != V0) continue;
        if (source[i].value == V0) {
            c[i].zero_step = source[i].zero_step;
            c[i].unique = source[i].unique;
        } else {
            c[i].zero_step = j + 1;
            c[i].unique = false;
            ++fresh;
            last = i;
        }
    }
    if (fresh == 1) c[last].unique = true;
}

// The cube of a sharp without 'y': 'z' takes u's value.
Cube sharp_cube(const Cube& u, const std::vector<std::uint8_t>& r) {
    Cube c = u;
    for (size_t i = 0; i < u.size(); ++i)
        if (r[i] != VZ) c[i].value = r[i];
    return c;
}

void cube_sharp(const Cube& c1r, const Cube& q, int j, std::vector<Cube>& out) {
    std::vector<std::uint8_t> r;
    int s = coordinate_sharp(c1r, q, r);
    if (s == 2) return;
    if (s == 1) {
        out.push_back(c1r);
        return;
    }
    Cube c = sharp_cube(c1r, r);
    mark_zeros(c, c1r, j);
    out.push_back(std::move(c));
}

void at_oper(AnalysisContext& in, int k, std::vector<Cube>& list, const Cube& q, int j) {
    (void)in;
    std::vector<Cube> out;
    std::vector<std::uint8_t> r;
    for (Cube& u : list) {
        coordinate_sharp(u, q, r);
        bool unique_y = false, group_k = false;
        std::map<int, std::pair<int, int>> groups;  // group -> (members, members on 'y')
        for (size_t i = 0; i < u.size(); ++i) {
            if (u[i].value != V0) continue;
            const bool y = r[i] == VY;
            if (u[i].unique) {
                if (y) unique_y = true;
                continue;
            }
            auto& g = groups[u[i].zero_step];
            ++g.first;
            if (y) {
                ++g.second;
                if (u[i].zero_step == k) group_k = true;
            }
        }
        bool whole_group_y = false;
        for (const auto& [step, g] : groups)
            if (g.first == g.second) whole_group_y = true;
        if (unique_y || !group_k || whole_group_y) {
            out.push_back(std::move(u));
            continue;
        }
        Cube c0r = u, c1r = u;
        for (size_t i = 0; i < u.size(); ++i) {
            if (u[i].value != V0 || u[i].unique || u[i].zero_step != k) continue;
            if (r[i] == VY) {
                c1r[i].value = V1;
                c1r[i].zero_step = 0;
                c1r[i].unique = false;
            } else {
                c0r[i].value = VX;
                c0r[i].zero_step = 0;
                c0r[i].unique = false;
            }
        }
        cube_sharp(c1r, q, j, out);
        out.push_back(std::move(c0r));
    }
    list = std::move(out);
}

void dollar(AnalysisContext& in, const Cube& u, const Cube& q, int j, std::vector<Cube>& out) {
    std::vector<std::uint8_t> r;
    int s = coordinate_sharp(u, q, r);
    if (s == 2) return;
    if (s == 3) {
        Cube c = sharp_cube(u, r);
        mark_zeros(c, u, j);
        out.push_back(std::move(c));
        return;
    }
    int pk = -1, start = INT_MAX;
    for (size_t i = 0; i < u.size(); ++i) {
        if (u[i].value != V0) continue;
        pk = std::max(pk, u[i].zero_step);
        if (r[i] == VY) start = std::min(start, u[i].zero_step);
    }
    if (pk == -1) in.err.error(155, kInternal, "", false);
    if (start == INT_MAX) in.err.error(156, kInternal, "", false);
    std::vector<Cube> list{u};
    for (int k = start; k <= pk; ++k) at_oper(in, k, list, q, j);
    for (Cube& c : list) {
        mark_zeros(c, u, j);
        out.push_back(std::move(c));
    }
}

}  // namespace

std::vector<Cube> gkg_algorithm(AnalysisContext& in, const SystemRecord& sys, const std::vector<int>& map,
                                const TermList& terms) {
    std::vector<int> where(sys.nodes.size(), -1);
    for (size_t p = 0; p < map.size(); ++p) where[static_cast<size_t>(map[p])] = static_cast<int>(p);
    TermList positions;
    for (const CutTerm& t : terms) {
        CutTerm q;
        for (int comp : t)
            if (where[static_cast<size_t>(comp)] >= 0) q.push_back(where[static_cast<size_t>(comp)]);
        positions.push_back(std::move(q));
    }
    return gkg_cubes(in, sys.name, map.size(), positions);
}

std::vector<Cube> gkg_cubes(AnalysisContext& in, const std::string& name, size_t width, const TermList& terms) {
    std::vector<Cube> term_cubes;
    for (const CutTerm& t : terms) {
        Cube c(width);
        for (int p : t) c[static_cast<size_t>(p)].value = V1;
        term_cubes.push_back(std::move(c));
    }
    if (in.settings.verbose || in.settings.debug[kDebugCube]) {
        in.out.printf("paths for system %s:\n", name.c_str());
        static const char kTrans[] = "01xyz";
        for (const Cube& c : term_cubes) {
            std::string line;
            for (const Coordinate& x : c) line += kTrans[x.value];
            in.out.write(line + "\n");
        }
    }
    std::vector<Cube> cubes;
    if (term_cubes.empty()) return cubes;
    cubes.push_back(term_cubes[0]);
    for (size_t i = 1; i < term_cubes.size(); ++i) {
        std::vector<Cube> P{term_cubes[i]};
        for (size_t j = 0; j < i; ++j) {
            std::vector<Cube> R;
            for (const Cube& u : P) dollar(in, u, term_cubes[j], static_cast<int>(j), R);
            P = std::move(R);
        }
        for (Cube& c : P) cubes.push_back(std::move(c));
    }
    return cubes;
}

namespace {

// The groups of a cube's non-unique zeros, by ascending group number.
std::map<int, std::vector<size_t>> zero_groups(const Cube& c) {
    std::map<int, std::vector<size_t>> g;
    for (size_t i = 0; i < c.size(); ++i)
        if (c[i].value == V0 && !c[i].unique) g[c[i].zero_step].push_back(i);
    return g;
}

}  // namespace

Exponomial form_exponomial(AnalysisContext& in, const SystemRecord& sys, const std::vector<int>& map,
                           const std::vector<Cube>& cubes) {
    std::vector<Exponomial> in_state;
    in_state.reserve(map.size());
    for (int comp : map) in_state.push_back(sys.nodes[static_cast<size_t>(comp)].dist);
    return disjoint_sum(in_state, cubes, in.settings.tol);
}

Exponomial disjoint_sum(const std::vector<Exponomial>& in_state, const std::vector<Cube>& cubes,
                        const Tolerances& tol) {
    auto F = [&](size_t p) -> const Exponomial& { return in_state[p]; };
    Exponomial sum;
    for (const Cube& c : cubes) {
        Exponomial prod = Exponomial::constant(1.0);
        auto times = [&](const Exponomial& f) {
            Exponomial next;
            multiply_expos(prod, f, next, tol);
            prod = std::move(next);
        };
        for (size_t p = 0; p < c.size(); ++p) {
            if (c[p].value == V1) {
                times(F(p));
            } else if (c[p].value == V0 && c[p].unique) {
                Exponomial q = F(p);
                negate_and_add_scalar(q, 1.0, tol);
                times(q);
            }
        }
        for (const auto& [step, members] : zero_groups(c)) {
            Exponomial g = Exponomial::constant(1.0);
            for (size_t p : members) {
                Exponomial next;
                multiply_expos(g, F(p), next, tol);
                g = std::move(next);
            }
            negate_and_add_scalar(g, 1.0, tol);
            times(g);
        }
        add_expos(prod, sum, tol);
    }
    if (sum.empty()) sum = Exponomial::constant(0.0);
    return sum;
}

void print_mincuts(AnalysisContext& in, const SystemRecord& sys, const TermList& terms) {
    for (const CutTerm& t : terms) {
        std::string line = "{";
        for (size_t i = 0; i < t.size(); ++i) {
            if (i) line += ", ";
            line += real_name(sys, t[i]);
        }
        in.out.write(line + "}\n");
    }
    in.out.write("\n");
}

void print_p_q_form(AnalysisContext& in, const SystemRecord& sys, const std::vector<int>& map,
                    const std::vector<Cube>& cubes) {
    write_p_q_cubes(in, cubes, [&](size_t p) { return real_name(sys, map[p]); }, 'Q', 'P');
    in.out.write("\n\n");
}

void write_p_q_cubes(AnalysisContext& in, const std::vector<Cube>& cubes, const std::function<std::string(size_t)>& name,
                     char in_letter, char out_letter) {
    std::string text;
    for (size_t n = 0; n < cubes.size(); ++n) {
        const Cube& c = cubes[n];
        if (n) text += "+\n";
        text += "[";
        bool first = true;
        for (size_t p = 0; p < c.size(); ++p) {
            const bool one = c[p].value == V1, unique_zero = c[p].value == V0 && c[p].unique;
            if (!one && !unique_zero) continue;
            if (!first) text += "*";
            first = false;
            text += format_string("%c(%s)", one ? in_letter : out_letter, name(p).c_str());
        }
        for (const auto& [step, members] : zero_groups(c)) {
            text += first ? "(1-" : "*(1-";
            first = false;
            for (size_t i = 0; i < members.size(); ++i) {
                if (i) text += "*";
                text += format_string("%c(%s)", in_letter, name(members[i]).c_str());
            }
            text += ")";
        }
        text += "]";
        in.out.write(text);
        text.clear();
    }
}

namespace {

// The disjoint products evaluated at t from the components' own F(t) and
// 1 − F(t): every cube a product of non-negative factors, a group of zeros
// 1 − Π F as the telescoping sum Σ_i (1 − F_i)·Π_{j<i} F_j, so nothing is
// got by cancellation. Disjoint cubes partition the states, so no input
// moves the sum by more than its own error.
class CubeSumDist final : public NumericDist {
public:
    CubeSumDist(std::vector<std::shared_ptr<const NumericDist>> comps, std::vector<Cube> cubes)
        : comps_(std::move(comps)), cubes_(std::move(cubes)) {
        size_t factors = 0;
        for (const Cube& c : cubes_) factors = std::max(factors, c.size());
        rounding_ = kUnitRoundoff * (2.0 * static_cast<double>(factors) + static_cast<double>(cubes_.size()) + 4.0);
        for (const auto& d : comps_) scale_ = std::max(scale_, d->time_scale());
        if (!(scale_ > 0.0) || !std::isfinite(scale_)) scale_ = 1.0;
    }

    GuardedProb at(double t) const override {
        if (t < 0.0) return {Guarded::exact(0.0), Guarded::exact(1.0)};
        std::vector<double> f(comps_.size()), r(comps_.size());
        double error = 0.0;
        for (size_t p = 0; p < comps_.size(); ++p) {
            const GuardedProb g = comps_[p]->at(t);
            f[p] = g.f.value;
            r[p] = g.r.value;
            error += g.f.error + g.r.error;
        }
        return result(sum(f, r), error);
    }
    double mass_at_zero() const override { return at(0.0).f.value; }
    double mass_at_infinity() const override {
        std::vector<double> f(comps_.size()), r(comps_.size());
        for (size_t p = 0; p < comps_.size(); ++p) {
            r[p] = comps_[p]->mass_at_infinity();
            f[p] = 1.0 - r[p];
        }
        return 1.0 - std::min(1.0, sum(f, r));
    }
    double time_scale() const override { return scale_; }

private:
    double sum(const std::vector<double>& f, const std::vector<double>& r) const {
        double total = 0.0;
        for (const Cube& c : cubes_) {
            double prod = 1.0;
            for (size_t p = 0; p < c.size(); ++p) {
                if (c[p].value == V1) prod *= f[p];
                else if (c[p].value == V0 && c[p].unique) prod *= r[p];
            }
            for (const auto& [step, members] : zero_groups(c)) {
                double none = 0.0, before = 1.0;
                for (size_t p : members) {
                    none += r[p] * before;
                    before *= f[p];
                }
                prod *= none;
            }
            total += prod;
        }
        return total;
    }
    GuardedProb result(double F, double error) const {
        F = std::min(1.0, F);
        return {Guarded{F, error + rounding_ * F, Route::Structure},
                Guarded{1.0 - F, error + rounding_ * F + kUnitRoundoff, Route::Structure}};
    }

    std::vector<std::shared_ptr<const NumericDist>> comps_;
    std::vector<Cube> cubes_;
    double rounding_ = 0.0, scale_ = 0.0;
};

}  // namespace

std::shared_ptr<const NumericDist> disjoint_sum_dist(AnalysisContext& in, const SystemRecord& sys,
                                                     const std::vector<int>& map, std::vector<Cube> cubes) {
    std::vector<std::shared_ptr<const NumericDist>> comps;
    comps.reserve(map.size());
    for (int comp : map) {
        comps.push_back(component_dist(in, sys.nodes[static_cast<size_t>(comp)]));
    }
    return std::make_shared<CubeSumDist>(std::move(comps), std::move(cubes));
}

double predicted_cube_terms(const SystemRecord& sys, const std::vector<int>& map, const std::vector<Cube>& cubes) {
    constexpr double kCap = 1e300;
    auto terms = [&](size_t p) {
        return std::max<double>(1.0, static_cast<double>(sys.nodes[static_cast<size_t>(map[p])].dist.size()));
    };
    double total = 0.0;
    for (const Cube& c : cubes) {
        double prod = 1.0;
        for (size_t p = 0; p < c.size(); ++p) {
            if (c[p].value == V1) prod *= terms(p);
            else if (c[p].value == V0 && c[p].unique) prod *= terms(p) + 1.0;
        }
        for (const auto& [step, members] : zero_groups(c)) {
            double g = 1.0;
            for (size_t p : members) g *= terms(p);
            prod *= g + 1.0;
        }
        total = std::min(kCap, total + std::min(kCap, prod));
    }
    return total;
}

}  // namespace corvel
