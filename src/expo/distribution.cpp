// Binding of distribution specifications: symbolic term lists become checked
// exponomials, named distributions are bound through their parameters, and
// the built-in library and the help texts live here too.

#include "expo/distribution.h"
#include "symbols/counts.h"

#include <climits>
#include <cmath>
#include <vector>

#include "symbols/errors.h"
#include "symbols/output.h"
#include "symbols/settings.h"
#include "symbols/symbol_table.h"

namespace corvel {

namespace {

// Named distributions are acyclic by construction (a name is defined only
// after its specification has been read); the bound only protects the stack
// from a corrupted table.
constexpr int kMaxNamedDepth = 256;

// The numeric values of one symbolic term.
struct TermValues {
    double a = 0.0;
    double a_c = 0.0;
    int k = 0;
    double b = 0.0;
    double b_c = 0.0;
    TrigKind trig = TrigKind::None;
};

struct DepthGuard {
    int& depth;
    explicit DepthGuard(int& d) : depth(d) { ++depth; }
    ~DepthGuard() { --depth; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
};

// b' is the conjugate of a: same power, coefficients a and -a', rates b and -c.
bool conjugates(const Term& x, const Term& y, double eps) {
    return x.e_xpower == y.e_xpower && std::fabs(x.e_a - y.e_a) <= eps &&
           std::fabs(x.e_a_complex + y.e_a_complex) <= eps && std::fabs(x.e_b - y.e_b) <= eps &&
           std::fabs(x.e_b_complex + y.e_b_complex) <= eps;
}

}  // namespace

double weibull(double t, double b, double c) { return 1.0 - std::exp(-std::pow(t, c) / b); }

void conditional_absorption(const Exponomial& dist, double prob, Exponomial& out, const Tolerances& tol) {
    if (std::fabs(prob) < tol.epsilon) {
        out = Exponomial::constant(0.0);
        return;
    }
    copy_expo(dist, out);
    scalar_multiply(out, 1.0 / prob);
}

bool DistributionBinder::bind_distribution(const DistSpec& spec, Exponomial& out, int level,
                                           const std::string& first, const std::string& second) {
    out.clear();
    switch (spec.type) {
        case kDistSystem:
        case kDistSystemState:
            if (!system_hook) {
                err_.error(5, kInternal, "", false);
                return false;
            }
            return system_hook(spec, out, level);
        case kDistGenConst:
        case kDistCgenConst:
        case kDistTgenConst:
            copy_expo(spec.num, out);
            return true;
        case kDistGenSym:
            return bind_sym_expo(TermMode::Gen, spec.terms, out, level, first, second);
        case kDistCgenSym:
            return bind_sym_expo(TermMode::Cgen, spec.terms, out, level, first, second);
        case kDistTgenSym:
            return bind_sym_expo(TermMode::Tgen, spec.terms, out, level, first, second);
        case kDistNamed: {
            std::shared_ptr<DistSpec> body;
            if (spec.symbol >= 0 && spec.symbol < symbols_.size()) body = symbols_[spec.symbol].dist;
            if (!body || depth_ >= kMaxNamedDepth) {
                err_.error(101, kInternal, "", false);
                return false;
            }
            DepthGuard guard(depth_);
            eval_.bind_parameters(symbols_[spec.symbol].params, spec.args);
            return bind_distribution(*body, out, kFatal, first, second);
        }
        case kDistWeibull:
            // Usable only at a time point (tvalue_weibull); the callers that
            // cannot use it report that.
            return true;
        default:
            err_.error(101, kInternal, "", false);
            return false;
    }
}

bool DistributionBinder::bind_sym_expo(TermMode mode, const std::vector<SymTerm>& terms, Exponomial& out,
                                       int level, const std::string& first, const std::string& second) {
    out.clear();
    const double eps = settings_.tol.epsilon;
    auto value_of = [this](const SymField& f) { return f.expr ? eval_.bind_expression(*f.expr) : f.value; };
    auto fail = [&](int number) {
        err_.ERR(number, level, first, second);
        return false;
    };

    // Every field of every term, in the order the terms were written.
    std::vector<TermValues> values;
    values.reserve(terms.size());
    // A field that is not a number (sqrt(-1), an overflow) has no meaning in
    // any term; it is refused before the term is used.
    const std::string where = make_msg(first, second);
    auto finite = [&](double x, const char* field) { return check_finite(err_, x, field, level, where); };
    for (const SymTerm& term : terms) {
        TermValues v;
        v.a = value_of(term.a);
        if (mode == TermMode::Cgen) v.a_c = value_of(term.a_c);
        const long long k = checked_count(err_, value_of(term.k), CountRounding::Truncate, "power of t of a term",
                                          level, INT_MAX);
        v.b = value_of(term.b);
        if (mode == TermMode::Cgen) v.b_c = value_of(term.b_c);
        if (mode == TermMode::Tgen) {
            v.trig = term.trig;
            if (v.trig != TrigKind::None) v.a_c = value_of(term.a_c);
        }
        if (!finite(v.a, "coefficient of a term") || !finite(v.a_c, "imaginary part or frequency of a term") ||
            !finite(v.b, "exponent of a term") || !finite(v.b_c, "imaginary exponent of a term"))
            return false;
        if (k < 0) return fail(60);
        v.k = static_cast<int>(k);
        values.push_back(v);
    }

    Exponomial result;
    for (const TermValues& v : values) {
        if (mode != TermMode::Tgen) {
            insert_term(v.a, v.a_c, v.k, v.b, v.b_c, result, settings_.tol);
            continue;
        }
        const double w = v.a_c;
        switch (v.trig) {
            case TrigKind::Sin:
                // a·sin(w·t) as the pair (i·a/2)·e^(-i·w·t) + (-i·a/2)·e^(i·w·t).
                // sin(0·t) vanishes: such a term contributes nothing.
                if (std::fabs(w) >= eps) {
                    insert_term(0.0, v.a / 2.0, v.k, v.b, -w, result, settings_.tol);
                    insert_term(0.0, -v.a / 2.0, v.k, v.b, w, result, settings_.tol);
                }
                break;
            case TrigKind::Cos:
                // a·cos(w·t) as (a/2)·e^(i·w·t) + (a/2)·e^(-i·w·t); cos(0·t) is 1.
                if (std::fabs(w) >= eps) {
                    insert_term(v.a / 2.0, 0.0, v.k, v.b, w, result, settings_.tol);
                    insert_term(v.a / 2.0, 0.0, v.k, v.b, -w, result, settings_.tol);
                } else {
                    insert_term(v.a, 0.0, v.k, v.b, 0.0, result, settings_.tol);
                }
                break;
            case TrigKind::None:
                insert_term(v.a, 0.0, v.k, v.b, 0.0, result, settings_.tol);
                break;
        }
    }

    // Term checks in canonical order; a complex term waits for its conjugate.
    std::vector<const Term*> unmatched;
    for (const Term& x : result) {
        if (x.e_xpower > 0 && std::fabs(x.e_b) < eps) return fail(104);
        if (x.e_b > 0.0) return fail(89);
        if (std::fabs(x.e_b) < eps) {
            if (x.e_b_complex != 0.0) return fail(106);
            if (x.e_a_complex != 0.0) return fail(107);
        }
        if (x.e_b_complex == 0.0) {
            if (x.e_a_complex != 0.0) return fail(108);
            continue;
        }
        bool matched = false;
        for (auto it = unmatched.begin(); it != unmatched.end(); ++it) {
            if (conjugates(**it, x, eps)) {
                unmatched.erase(it);
                matched = true;
                break;
            }
        }
        if (!matched) unmatched.push_back(&x);
    }
    if (!unmatched.empty()) return fail(109);

    // Value at zero and limit at infinity.
    double at_zero = 0.0;
    double at_inf = 0.0;
    for (const Term& x : result) {
        if (x.e_xpower != 0) continue;
        at_zero += x.e_a;
        if (x.e_b == 0.0) at_inf += x.e_a;
    }
    if (std::fabs(at_zero) >= eps) {
        if (at_zero < 0.0) return fail(56);
        if (at_zero > 1.0 + eps) return fail(57);
    }
    if (at_inf > 1.0 + eps) return fail(58);
    if (at_inf < at_zero - eps) return fail(59);

    out = std::move(result);
    return true;
}

Exponomial DistributionBinder::tvalue_weibull(double t, const DistSpec& spec) {
    if (spec.type == kDistNamed) {
        std::shared_ptr<DistSpec> body;
        if (spec.symbol >= 0 && spec.symbol < symbols_.size()) body = symbols_[spec.symbol].dist;
        if (!body || depth_ >= kMaxNamedDepth) {
            err_.error(101, kInternal, "", false);
            return {};
        }
        DepthGuard guard(depth_);
        eval_.bind_parameters(symbols_[spec.symbol].params, spec.args);
        return tvalue_weibull(t, *body);
    }
    if (spec.type != kDistWeibull || spec.args.size() != 2 || !spec.args[0] || !spec.args[1]) {
        err_.error(101, kInternal, "", false);
        return {};
    }
    double b = eval_.bind_expression(*spec.args[0]);
    double c = eval_.bind_expression(*spec.args[1]);
    if (!(b > 0.0) || !(c > 0.0)) {
        err_.error(207, kFatal, "", true);
        return {};
    }
    return Exponomial::constant(weibull(t, b, c));
}

void print_dist_types(Output& out) {
    out.write("\nDistributions types are:\n");
    out.write("      exp (rate)\n");
    out.write("      dist_name (args)\n");
    out.write("      zero\n");
    out.write("      inf\n");
    out.write("      gen\n");
    out.write("      cdf  (system<,node><;args>)\n");
}

void print_builtin_dists(Output& out) {
    static const char* const kLines[] = {
        "prob(p):        probability of failure is p\n",
        "exp(u):         exponential distribution\n",
        "Erlang(n,u):    Erlang distribution, n stages\n",
        "hypoexp(u1,u2): hypoexponential distribution\n",
        "hyperexp(u1,p2,u2, p2): hyperexponential distribution\n",
        "mixture(p1,p2,u): mixture distribution: p1 - p2 exp(-u)\n",
        "defective(p,u):   defective distribution: p - p exp(-u)\n",
        "ss_unavail(m,u):   steady-state component unavailability\n",
        "                   m = failure rate, u = repair rate\n",
        "inst_unavail(m,u): instantaneous component unavailability\n",
        "                   m = failure rate, u = repair rate\n",
        "kofn_ftree(m,k,n): k of n system, k failures causes failure\n",
        "kofn_block(m,k,n): k of n system, k components up for success\n",
        "\n",
        "oneshot(p):      Tarvik oneshot function\n",
        "activeE(u):      Tarvik 2 active components in parallel\n",
        "                 equal failure rates u\n",
        "activeU(u,m):    Tarvik 2 active components in parallel\n",
        "                 unequal failure rates u and m\n",
        "standbyE(u,s):   Tarvik 2 components, one in standby\n",
        "                 equal failure rates, possible switch failure\n",
        "standbyU(u,m,s): Tarvik 2 components, one in standby\n",
        "                 unequal failure rates possible switch failure\n",
        "binomial(m,k,n): Tarvik k of n system\n",
    };
    for (const char* line : kLines) out.write(line);
}

const char* const kBuiltinLibrary[] = {
    "poly prob(p) gen p,0,0",
    "poly PROB(p) gen p,0,0",
    "poly exp(u) gen 1,0,0, -1,0,-u",
    "poly EXP(u) gen 1,0,0, -1,0,-u",
    "markov __erlang(n,u)",
    "loop i,0,n-1,1",
    "$(i) $(i+1) u",
    "end",
    "end",
    "end",
    "poly Erlang(n,u) cdf(__erlang;n,u)",
    "poly ERLANG(n,u) cdf(__erlang;n,u)",
    "poly hypoexp (u1,u2) gen 1,0,0, -u2/(u2-u1),0,-u1, u1/(u2-u1),0,-u2",
    "poly HYPOEXP (u1,u2) gen 1,0,0, -u2/(u2-u1),0,-u1, u1/(u2-u1),0,-u2",
    "poly hyperexp (u1,p1,u2,p2) gen 1,0,0, -p1,0,-u1, -p2,0,-u2",
    "poly HYPEREXP (u1,p1,u2,p2) gen 1,0,0, -p1,0,-u1, -p2,0,-u2",
    "poly mixture (p1, p2, u) gen p1,0,0, -p2,0,-u",
    "poly MIXTURE (p1, p2, u) gen p1,0,0, -p2,0,-u",
    "poly defective (p, u) gen p,0,0, -p,0,-u",
    "poly DEFECTIVE (p, u) gen p,0,0, -p,0,-u",
    "poly inst_unavail(m,u) gen m/(m+u),0,0,-m/(m+u),0,-(m+u)",
    "poly INST_UNAVAIL(m,u) gen m/(m+u),0,0,-m/(m+u),0,-(m+u)",
    "poly ss_unavail(m,u) gen m/(m+u),0,0",
    "poly SS_UNAVAIL(m,u) gen m/(m+u),0,0",
    "poly oneshot(p) gen 1-p,0,0",
    "poly ONESHOT(p) gen 1-p,0,0",
    "poly activeE (u) gen 1,0,0, -2,0,-u, 1,0,-2*u",
    "poly ACTIVEE (u) gen 1,0,0, -2,0,-u, 1,0,-2*u",
    "poly activeU (u,m) gen 1,0,0, -1,0,-u, -1,0,-m, 1,0,-(u+m)",
    "poly ACTIVEU (u,m) gen 1,0,0, -1,0,-u, -1,0,-m, 1,0,-(u+m)",
    "poly standbyE (u,s) gen 1,0,0, -1,0,-u, -u,1,-(u+s)",
    "poly STANDBYE (u,s) gen 1,0,0, -1,0,-u, -u,1,-(u+s)",
    "poly standbyU (u,m,s) gen 1,0,0,-1,0,-u,-u/(m-u),0,-(u+s),u/(m-u),0,-(m+s)",
    "poly STANDBYU (u,m,s) gen 1,0,0,-1,0,-u,-u/(m-u),0,-(u+s),u/(m-u),0,-(m+s)",
    "ftree __KN (lambda, k, n)",
    "basic x exp(lambda)",
    "kofn top k,n, x",
    "end",
    "poly binomial (lambda, k, n)  cdf (__KN;lambda,n-k+1,n)",
    "poly BINOMIAL (lambda, k, n)  cdf (__KN;lambda,n-k+1,n)",
    "poly kofn_ftree (lambda, k, n)  cdf (__KN;lambda,k,n)",
    "poly KOFN_FTREE (lambda, k, n)  cdf (__KN;lambda,k,n)",
    "poly kofn_block (lambda, k, n)  cdf (__KN;lambda,n-k+1,n)",
    "poly KOFN_BLOCK (lambda, k, n)  cdf (__KN;lambda,n-k+1,n)",
    "func weibull (t,b,c) 1 - ^-(1/b*(t^c))",
    "func WEIBULL(t,b,c) 1 - ^-(1/b*(t^c))",
    "func weib_rate(t,b,c) c/b*(t^(c-1))",
    "func WEIB_RATE(t,b,c) c/b*(t^(c-1))",
};

const int kBuiltinLibraryLines = static_cast<int>(sizeof(kBuiltinLibrary) / sizeof(kBuiltinLibrary[0]));
static_assert(sizeof(kBuiltinLibrary) / sizeof(kBuiltinLibrary[0]) == 48);

}  // namespace corvel
