// Growth of the exponomial products and convolutions with the number of terms.
// Run: build-expo/bench/corvel_bench --benchmark_filter=Expo

#include <benchmark/benchmark.h>

#include <random>

#include "expo/exponomial.h"

namespace {

using corvel::Exponomial;
using corvel::Tolerances;

// A distribution-like exponomial: the constant 1 plus n − 1 terms with
// distinct negative rates and powers 0..2, a few of them complex pairs. The
// rates lie on a grid (offset per seed): rates that nearly coincide make the
// closed-form convolution ill-conditioned, which is not what is measured here.
Exponomial make_expo(int n, unsigned seed) {
    Tolerances tol;
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> coef(-1.0, 1.0);
    std::uniform_real_distribution<double> rate(0.1, 50.0);
    std::uniform_int_distribution<int> power(0, 2);
    const double step = 50.0 / n, offset = 0.1 + 0.37 * step * (seed % 2);
    Exponomial F;
    corvel::insert_term(1.0, 0.0, 0, 0.0, 0.0, F, tol);
    for (int i = 0; static_cast<int>(F.size()) < n; ++i) {
        double a = coef(rng), b = -(offset + step * i);
        int k = power(rng);
        if (n - static_cast<int>(F.size()) >= 2 && rng() % 8 == 0) {
            double c = rate(rng), ai = coef(rng);
            corvel::insert_term(a, ai, k, b, c, F, tol);
            corvel::insert_term(a, -ai, k, b, -c, F, tol);
        } else {
            corvel::insert_term(a, 0.0, k, b, 0.0, F, tol);
        }
    }
    return F;
}

void BM_ExpoMultiply(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    Tolerances tol;
    Exponomial x = make_expo(n, 1), y = make_expo(n, 2);
    std::size_t terms = 0;
    for (auto _ : state) {
        Exponomial dst;
        corvel::multiply_expos(x, y, dst, tol);
        terms = dst.size();
        benchmark::DoNotOptimize(dst);
    }
    state.counters["result_terms"] = static_cast<double>(terms);
    state.SetComplexityN(n);
}
BENCHMARK(BM_ExpoMultiply)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond)->Complexity();

void BM_ExpoConvolve(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    Tolerances tol;
    Exponomial p = make_expo(n, 3), q = make_expo(n, 4);
    std::size_t terms = 0;
    for (auto _ : state) {
        Exponomial dst;
        corvel::convolute_expos(p, q, dst, tol);
        terms = dst.size();
        benchmark::DoNotOptimize(dst);
    }
    state.counters["result_terms"] = static_cast<double>(terms);
    state.SetComplexityN(n);
}
BENCHMARK(BM_ExpoConvolve)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond)->Complexity();

// Convolution of distributions built from exponential phases (all powers 0),
// the common case of series systems and task graphs.
void BM_ExpoConvolveExponentialPhases(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    Tolerances tol;
    auto phases = [&](double offset) {
        Exponomial F = Exponomial::constant(1.0);
        for (int i = 0; i < n - 1; ++i)
            corvel::insert_term(-1.0 / (n - 1), 0.0, 0, -(offset + 0.37 * i), 0.0, F, tol);
        return F;
    };
    Exponomial p = phases(0.5), q = phases(0.61);
    for (auto _ : state) {
        Exponomial dst;
        corvel::convolute_expos(p, q, dst, tol);
        benchmark::DoNotOptimize(dst);
    }
    state.SetComplexityN(n);
}
BENCHMARK(BM_ExpoConvolveExponentialPhases)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond)->Complexity();

void BM_ExpoKofN(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    Tolerances tol;
    Exponomial F = Exponomial::constant(1.0);
    corvel::insert_term(-1.0, 0.0, 0, -0.5, 0.0, F, tol);
    for (auto _ : state) {
        Exponomial result;
        corvel::k_of_n_iid(F, result, n / 2, n, tol);
        benchmark::DoNotOptimize(result);
    }
    state.SetComplexityN(n);
}
BENCHMARK(BM_ExpoKofN)->Arg(10)->Arg(40)->Arg(100)->Unit(benchmark::kMicrosecond)->Complexity();

}  // namespace
