// Closed forms of large phase-type chains by the dense eigen-decomposition
// route, read and printed with cdf(chain) once per iteration:
//   BM_DenseClosedFormCdf/N: a walk over N transient states with rates
//     1 + 0.001·i both ways between neighbours, absorbed below the first
//     and above the last: reversible without drift, so its closed form is
//     well conditioned;
//   BM_DenseClosedFormRing/N: a ring of N states (a step ahead, a jump of
//     seven ahead, a step back from every third) with two exits: far from
//     normal, so its closed form cancels and the check reports it.
//   BM_DenseExpansionWalk/N, BM_DenseExpansionRing/N: the same two blocks
//     handed to the dense route directly, without the interpreter's other
//     work on the request (reading, moments, printing).
// The walk is reversible and a path: symmetric tridiagonal, O(N^2) for the
// decomposition (the coefficients of every position are N^2 numbers); the
// ring takes the general route, O(N^3): the blocked Hessenberg reduction and
// the multishift QR iteration with early deflation.
// Counters: printed terms, the check's error estimate of the closed forms,
// the process's peak memory so far (one size per run, with
// --benchmark_filter, gives each size its own peak).

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <sstream>
#include <string>

#include "bench_models.h"
#include "statespace/chain.h"
#include "statespace/phase_type.h"

namespace {

std::string walk(long n) {
    std::ostringstream m;
    m << "markov ring\nloop i, 1, " << n << "\ns$(i) s$(i+1) 1+0.001*i\ns$(i) s$(i-1) 1+0.001*(i-1)\nend\nend\n";
    m << "s" << n / 2 << " 1\nend\n";
    return m.str();
}

std::string ring(long n) {
    std::ostringstream m;
    m << "markov ring\nloop i, 0, " << n - 2 << "\ns$(i) s$(i+1) 1+0.001*i\nend\n";
    m << "s" << n - 1 << " s0 1\n";
    m << "loop i, 0, " << n - 8 << "\ns$(i) s$(i+7) 0.3\nend\n";
    m << "loop i, 1, " << (n - 1) / 3 << "\ns$(3*i) s$(3*i-1) 0.5\nend\n";
    m << "s" << n / 2 << " out1 0.4\ns" << n - 1 << " out2 0.7\nend\ns0 1\nend\n";
    return m.str();
}

double peak_mb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_maxrss) / 1024.0;
}

void run_cdf(benchmark::State& state, const std::string& model) {
    const std::string text = model + "cdf(ring)\n";
    size_t printed = 0;
    double error = 0.0;
    corvel::bench::run_model(state, text, [&](corvel::Interpreter& in) {
        in.out.flush();
        corvel::SystemRecord& sys = in.systems[in.systems.find("ring")];
        printed = sys.s_dist.size();
        error = corvel::find_chain(sys)->form_error;
    });
    state.counters["terms"] = static_cast<double>(printed);
    state.counters["form_error"] = error;
    state.counters["peak_MB"] = peak_mb();
}

void BM_DenseClosedFormCdf(benchmark::State& state) { run_cdf(state, walk(state.range(0))); }
void BM_DenseClosedFormRing(benchmark::State& state) { run_cdf(state, ring(state.range(0))); }

// The blocks of walk(n) and ring(n): transient positions 0..n−1, absorbing
// ones after them.
struct BlockBuilder {
    corvel::PhBlock b;
    BlockBuilder(int nt, int n) {
        b.nt = nt;
        b.a = Eigen::MatrixXd::Zero(n, n);
        for (int i = 0; i < n; ++i) b.state.push_back(i);
    }
    void arc(int from, int to, double rate) {
        b.a(from, to) += rate;
        b.a(from, from) -= rate;
    }
};

corvel::PhBlock walk_block(int n) {
    // States s1..sn are positions 0..n−1; s0 and s(n+1) absorb.
    BlockBuilder k(n, n + 2);
    for (int i = 1; i <= n; ++i) {
        k.arc(i - 1, i < n ? i : n + 1, 1.0 + 0.001 * i);
        k.arc(i - 1, i > 1 ? i - 2 : n, 1.0 + 0.001 * (i - 1));
    }
    return k.b;
}

corvel::PhBlock ring_block(int n) {
    BlockBuilder k(n, n + 2);
    for (int i = 0; i <= n - 2; ++i) k.arc(i, i + 1, 1.0 + 0.001 * i);
    k.arc(n - 1, 0, 1.0);
    for (int i = 0; i <= n - 8; ++i) k.arc(i, i + 7, 0.3);
    for (int i = 1; i <= (n - 1) / 3; ++i) k.arc(3 * i, 3 * i - 1, 0.5);
    k.arc(n / 2, n, 0.4);
    k.arc(n - 1, n + 1, 0.7);
    return k.b;
}

void run_expansion(benchmark::State& state, const corvel::PhBlock& b, int start) {
    Eigen::VectorXd p0 = Eigen::VectorXd::Zero(b.size());
    p0(start) = 1.0;
    double error = 0.0;
    for (auto _ : state) {
        const corvel::PhExpansion x = corvel::ph_dense_expansion(b, p0, corvel::PhTrace{});
        error = x.value_error;
        for (double e : x.error) error = std::max(error, e);
        benchmark::DoNotOptimize(x.coef.data());
    }
    state.counters["form_error"] = error;
    state.counters["peak_MB"] = peak_mb();
}

void BM_DenseExpansionWalk(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    run_expansion(state, walk_block(n), n / 2 - 1);
}
void BM_DenseExpansionRing(benchmark::State& state) { run_expansion(state, ring_block(static_cast<int>(state.range(0))), 0); }

}  // namespace

BENCHMARK(BM_DenseClosedFormCdf)->Arg(250)->Arg(1000)->Arg(2000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_DenseClosedFormRing)->Arg(250)->Arg(1000)->Arg(2000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_DenseExpansionWalk)->Arg(250)->Arg(1000)->Arg(2000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_DenseExpansionRing)->Arg(250)->Arg(1000)->Arg(2000)->Unit(benchmark::kMillisecond)->Iterations(1);
