// Fault trees with repeated events solved by each decision-diagram route, one
// child process per route so that each peak memory is its own:
//   ordered        the depth-first order of the listings, one diagram
//   free/<order>   the order-free route: modules, each under a heuristic order
//                  (df, weight, repeated; the solver uses df)
// For every route: the top-event probability, diagram nodes (the top's
// diagram, or all module diagrams), the most live nodes while building
// (collected garbage not counted), modules, time to build and to evaluate,
// (processor seconds), and the peak resident memory of the process.
//
//   corvel_ftree_routes FILE.crv ...     the ftree block of each file (up to its "end")
//   corvel_ftree_routes --generate N ... generated trees of N events with shared gates
//                                        (--print N writes the tree's text instead)
//   options: --routes ordered,free/df,free/weight,free/repeated,free/leftmost,free/lweight,free/force,free/adaptive
//            --timeout SECONDS (wall clock)   --limit NODES (a route reaching it reports "error")

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "combinatorial/ftree_modules.h"
#include "combinatorial/ftree_repeat.h"
#include "combinatorial/tree.h"
#include "interp/dispatch.h"
#include "interp/interpreter.h"

namespace {

// Processor time of this process (user and system), in seconds: on a shared
// machine it varies far less than the wall clock.
double cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    auto sec = [](const timeval& t) { return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec); };
    return sec(u.ru_utime) + sec(u.ru_stime);
}

// The text of the first ftree block: the lines up to and including "end".
std::string ftree_block(const std::string& path) {
    std::ifstream f(path);
    std::string line, text;
    while (std::getline(f, line)) {
        text += line + "\n";
        if (line == "end") break;
    }
    return text;
}

// n repeated events (probabilities 0.001 to 0.009) in blocks of 1000. In a
// block: gates over four neighbouring events, the event two windows on and,
// for every third gate, one from the far half of the block; then layers of
// gates each naming three consecutive gates of the layer below with a stride
// of two, so every inner gate is shared by two parents; alternating or / and
// / 2-of-3 gates. The blocks share nothing, and pairs of them are joined
// under and gates below an or at the top.
std::string generated_tree(long n) {
    constexpr long kBlock = 1000;
    std::ostringstream m;
    m << "ftree gen" << n << "\n";
    for (long i = 0; i < n; ++i) m << "repeat e" << i << " prob(0.00" << 1 + i % 9 << ")\n";
    std::vector<std::string> tops;
    for (long base = 0; base < n; base += kBlock) {
        const long size = std::min(kBlock, n - base);
        const std::string tag = "b" + std::to_string(base / kBlock) + "_";
        auto ev = [&](long k) { return " e" + std::to_string(base + k % size); };
        std::vector<std::string> layer;
        for (long j = 0; 4 * j < size; ++j) {
            const std::string name = tag + "a" + std::to_string(j);
            m << (j % 2 ? "or " : "and ") << name;
            for (long k = 4 * j; k < 4 * j + 4; ++k) m << ev(k);
            m << ev(4 * j + 6);
            if (j % 3 == 0) m << ev(j * 37 + size / 2);
            m << "\n";
            layer.push_back(name);
        }
        for (int level = 1; layer.size() > 1; ++level) {
            std::vector<std::string> next;
            for (size_t j = 0; j + 1 < layer.size(); j += 2) {
                const size_t take = std::min<size_t>(3, layer.size() - j);
                const std::string name = tag + "l" + std::to_string(level) + "_" + std::to_string(j);
                const int kind = take == 3 ? static_cast<int>((j / 2 + static_cast<size_t>(level)) % 3) : 0;
                m << (kind == 0 ? "or " : kind == 1 ? "and " : "kofn ") << name << (kind == 2 ? " 2, 3," : "");
                for (size_t k = j; k < j + take; ++k) m << " " << layer[k];
                m << "\n";
                next.push_back(name);
            }
            layer = std::move(next);
        }
        tops.push_back(layer[0]);
    }
    std::vector<std::string> pairs;
    for (size_t i = 0; i + 1 < tops.size(); i += 2) {
        const std::string name = "pair" + std::to_string(i / 2);
        m << "and " << name << " " << tops[i] << " " << tops[i + 1] << "\n";
        pairs.push_back(name);
    }
    if (tops.size() % 2) pairs.push_back(tops.back());
    if (pairs.size() > 1) {
        m << "or top";
        for (const std::string& p : pairs) m << " " << p;
        m << "\n";
    }
    m << "end\n";
    return m.str();
}

struct Result {
    double prob = -1.0, build = 0.0, eval = 0.0, peak_mb = 0.0;
    long nodes = 0, peak = 0, modules = 0, status = 0;
};

Result run_route(const std::string& text, const std::string& route, long limit) {
    Result r;
    std::string out;
    corvel::Interpreter in(&out);
    in.install_builtins();
    in.err.interactive = false;
    std::istringstream s(text);
    in.parse_stream(s, "tree.crv");
    if (limit > 0) in.settings.work_limit = limit;
    corvel::SystemRecord& sys = in.systems[in.systems.size() - 1];
    corvel::TreeModel& tm = corvel::tree_model(sys);
    corvel::bind_k_n(in, sys, tm.root, corvel::kFatal);
    corvel::AnalysisRequest req;
    req.measure = corvel::Kw::Cdf;
    corvel::bind_tree_components(in, sys, req);
    const double t0 = cpu_seconds();
    corvel::Exponomial F;
    if (route == "ordered") {
        auto info = corvel::analyze_ftree_with_bdd(in, sys);
        r.build = cpu_seconds() - t0;
        r.nodes = corvel::bdd_size(info->m, info->root, 0);
        r.modules = 1;
        r.peak = corvel::bdd_total_nodes(info->m);
        const double t1 = cpu_seconds();
        F = corvel::ftbdd_evaluate(in, sys, *info, info->root);
        r.eval = cpu_seconds() - t1;
    } else {
        corvel::FtOrder order = corvel::FtOrder::DepthFirst;
        if (route == "free/repeated") order = corvel::FtOrder::RepeatedFirst;
        if (route == "free/df") order = corvel::FtOrder::DepthFirst;
        if (route == "free/weight") order = corvel::FtOrder::Weight;
        if (route == "free/leftmost") order = corvel::FtOrder::Leftmost;
        if (route == "free/lweight") order = corvel::FtOrder::LeftmostWeight;
        if (route == "free/force") order = corvel::FtOrder::Force;
        if (route == "free/adaptive") order = corvel::FtOrder::Adaptive;
        auto fast = corvel::build_fast_ftree(in, sys, order);
        r.build = cpu_seconds() - t0;
        r.nodes = corvel::fast_ftree_size(*fast);
        r.modules = static_cast<long>(fast->modules.size());
        r.peak = fast->peak_nodes;
        const double t1 = cpu_seconds();
        F = corvel::fast_ftree_evaluate(in, sys, *fast);
        r.eval = cpu_seconds() - t1;
    }
    r.prob = F.empty() ? 0.0 : F[0].e_a;
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    r.peak_mb = static_cast<double>(u.ru_maxrss) / 1024.0;
    return r;
}

// Runs one route in a child process; the result comes back through a pipe.
Result run_isolated(const std::string& text, const std::string& route, int timeout, long limit) {
    int fd[2];
    if (pipe(fd) != 0) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(fd[0]);
        alarm(static_cast<unsigned>(timeout));
        Result r;
        try {
            r = run_route(text, route, limit);
        } catch (const corvel::ProgramExit& e) {
            r.status = e.status == 0 ? 1 : e.status;
        }
        if (write(fd[1], &r, sizeof r) != static_cast<ssize_t>(sizeof r)) _exit(3);
        _exit(0);
    }
    close(fd[1]);
    Result r;
    r.status = -1;  // killed (time limit) unless the child reports
    Result got;
    if (read(fd[0], &got, sizeof got) == static_cast<ssize_t>(sizeof got)) r = got;
    close(fd[0]);
    int st = 0;
    waitpid(pid, &st, 0);
    return r;
}

std::vector<std::string> split(const std::string& s) {
    std::vector<std::string> parts;
    std::stringstream ss(s);
    std::string p;
    while (std::getline(ss, p, ',')) parts.push_back(p);
    return parts;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> routes = {"ordered", "free/df", "free/weight", "free/repeated"};
    int timeout = 120;
    long limit = 0;
    std::vector<std::pair<std::string, std::string>> trees;  // name, text
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--routes" && i + 1 < argc) {
            routes = split(argv[++i]);
        } else if (a == "--limit" && i + 1 < argc) {
            limit = std::stol(argv[++i]);
        } else if (a == "--timeout" && i + 1 < argc) {
            timeout = std::stoi(argv[++i]);
        } else if (a == "--print" && i + 1 < argc) {
            std::fputs(generated_tree(std::stol(argv[++i])).c_str(), stdout);
            return 0;
        } else if (a == "--generate" && i + 1 < argc) {
            const long n = std::stol(argv[++i]);
            trees.emplace_back("gen" + std::to_string(n), generated_tree(n));
        } else {
            std::string name = a.substr(a.find_last_of('/') + 1);
            name = name.substr(0, name.find('.'));
            trees.emplace_back(name, ftree_block(a));
        }
    }
    std::printf("%-10s %-14s %16s %10s %10s %7s %9s %9s %9s\n", "tree", "route", "probability", "nodes", "peak",
                "modules", "build_s", "eval_s", "peak_MB");
    for (const auto& [name, text] : trees) {
        for (const std::string& route : routes) {
            const Result r = run_isolated(text, route, timeout, limit);
            if (r.status != 0) {
                std::printf("%-10s %-14s %16s\n", name.c_str(), route.c_str(),
                            r.status < 0 ? "time limit" : "error");
                continue;
            }
            std::printf("%-10s %-14s %16.9e %10ld %10ld %7ld %9.3f %9.3f %9.1f\n", name.c_str(), route.c_str(), r.prob,
                        r.nodes, r.peak, r.modules, r.build, r.eval, r.peak_mb);
            std::fflush(stdout);
        }
    }
    return 0;
}
