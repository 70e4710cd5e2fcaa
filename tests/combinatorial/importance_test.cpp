// Importance measures against enumeration over every state of the events:
// random small fault trees (shared events, negated and k-of-n gates) and
// small reliability graphs, each measure recomputed from its definition.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "combinatorial/importance.h"
#include "interp/measures.h"
#include "tree_run.h"

namespace corvel {

namespace {

double measure(TreeRun& r, Kw kw, const std::string& sys, const std::string& comp, double t) {
    MeasureCall call;
    call.kw = kw;
    call.keyword = keyword_spelling(kw);
    call.sys_name = sys;
    call.system = r.in.systems.find(sys);
    call.time = Expr::constant(t);
    call.has_second = true;
    call.second = comp;
    return evaluate_measure(r.in, call);
}

// Probabilities from enumeration: Q, and Q with the component forced failed
// (Q1) or working (Q0).
struct Enumerated {
    double q = 0, q1 = 0, q0 = 0;
};

Enumerated enumerate(const std::vector<double>& p, int comp, const std::function<bool(unsigned)>& failed) {
    Enumerated e;
    const int n = static_cast<int>(p.size());
    for (unsigned s = 0; s < (1u << n); ++s) {
        double w = 1.0, w_other = 1.0;
        for (int i = 0; i < n; ++i) {
            const double f = (s >> i) & 1u ? p[static_cast<size_t>(i)] : 1.0 - p[static_cast<size_t>(i)];
            w *= f;
            if (i != comp) w_other *= f;
        }
        if (!failed(s)) continue;
        e.q += w;
        // Each state of the others counted once on its own side.
        if ((s >> comp) & 1u)
            e.q1 += w_other;
        else
            e.q0 += w_other;
    }
    return e;
}

struct Gate {
    std::string op;  // and, or, nand, nor, not, kofn
    int k = 0;
    std::vector<int> kids;  // node numbers: events first, then gates
};

bool gate_value(const Gate& g, const std::vector<bool>& v) {
    int count = 0;
    for (int c : g.kids) count += v[static_cast<size_t>(c)] ? 1 : 0;
    const int n = static_cast<int>(g.kids.size());
    if (g.op == "and") return count == n;
    if (g.op == "or") return count > 0;
    if (g.op == "nand") return count != n;
    if (g.op == "nor") return count == 0;
    if (g.op == "not") return count == 0;
    return count >= g.k;
}

}  // namespace

TEST(ImportanceMeasures, FaultTreesAgreeWithEnumerationOverAllEventStates) {
    std::mt19937 rng(20261209);
    const char* ops[] = {"and", "or", "nand", "nor", "not", "kofn"};
    int checked = 0;
    for (int trial = 0; trial < 40; ++trial) {
        const int events = 3 + static_cast<int>(rng() % 4);
        const int gates = 2 + static_cast<int>(rng() % 4);
        std::vector<double> p;
        std::string text = "ftree f\n";
        for (int i = 0; i < events; ++i) {
            p.push_back(0.05 + 0.9 * std::uniform_real_distribution<double>(0, 1)(rng));
            text += format_string("repeat e%d prob(%.17g)\n", i, p.back());
        }
        std::vector<Gate> g;
        bool coherent = true;
        for (int j = 0; j < gates; ++j) {
            Gate gate;
            // The top draws on the two latest nodes at least, so most nodes matter.
            const int avail = events + j;
            gate.op = ops[rng() % (trial % 2 ? 6 : 2)];
            const int want = gate.op == "not" ? 1 : 2 + static_cast<int>(rng() % 2);
            std::vector<int> pool;
            for (int c = 0; c < avail; ++c) pool.push_back(c);
            std::shuffle(pool.begin(), pool.end(), rng);
            for (int c = 0; c < want && c < avail; ++c) gate.kids.push_back(pool[static_cast<size_t>(c)]);
            if (gate.op == "kofn") gate.k = 1 + static_cast<int>(rng() % gate.kids.size());
            if (gate.op != "and" && gate.op != "or" && gate.op != "kofn") coherent = false;
            std::string line = gate.op + " g" + std::to_string(j);
            if (gate.op == "kofn") line += format_string(" %d, %zu,", gate.k, gate.kids.size());
            for (int c : gate.kids) line += c < events ? format_string(" e%d", c) : format_string(" g%d", c - events);
            text += line + "\n";
            g.push_back(gate);
        }
        text += "end\n";
        TreeRun r(text);
        ASSERT_EQ(r.status, 0) << text << r.out;
        auto failed = [&](unsigned s) {
            std::vector<bool> v(static_cast<size_t>(events + gates));
            for (int i = 0; i < events; ++i) v[static_cast<size_t>(i)] = (s >> i) & 1u;
            for (int j = 0; j < gates; ++j) v[static_cast<size_t>(events + j)] = gate_value(g[static_cast<size_t>(j)], v);
            return static_cast<bool>(v.back());
        };
        for (int c = 0; c < events; ++c) {
            const Enumerated e = enumerate(p, c, failed);
            const std::string comp = "e" + std::to_string(c);
            const double pc = p[static_cast<size_t>(c)];
            EXPECT_NEAR(measure(r, Kw::Bimpt, "f", comp, 0), e.q1 - e.q0, 1e-12) << text;
            if (e.q > 1e-9) {
                EXPECT_NEAR(measure(r, Kw::Fvimpt, "f", comp, 0), (e.q - e.q0) / e.q, 1e-9) << text << comp;
                EXPECT_NEAR(measure(r, Kw::Rawimpt, "f", comp, 0), e.q1 / e.q, 1e-9 * e.q1 / e.q) << text << comp;
                EXPECT_NEAR(measure(r, Kw::Cimpt, "f", comp, 0), (e.q1 - e.q0) * pc / e.q, 1e-9) << text;
            }
            if (e.q0 > 1e-9) {
                EXPECT_NEAR(measure(r, Kw::Rrwimpt, "f", comp, 0), e.q / e.q0, 1e-9 * e.q / e.q0) << text;
            }
            if (coherent) {
                // Coherent structures: failing a component never helps.
                EXPECT_GE(measure(r, Kw::Rawimpt, "f", comp, 0), 1.0 - 1e-12);
                const double fv = measure(r, Kw::Fvimpt, "f", comp, 0);
                EXPECT_GE(fv, -1e-12);
                EXPECT_LE(fv, 1.0 + 1e-12);
            }
            ++checked;
        }
    }
    EXPECT_GT(checked, 150);
}

TEST(ImportanceMeasures, ExponentialEventsAreReadAtTheCallsTime) {
    // top = a and (b or c): Q = Fa (Fb + Fc - Fb Fc).
    TreeRun r("ftree f\nrepeat a exp(0.5)\nrepeat b exp(1)\nrepeat c exp(2)\nor bc b c\nand top a bc\nend\n");
    ASSERT_EQ(r.status, 0) << r.out;
    const double t = 0.7;
    const double fa = expF(0.5, t), fb = expF(1, t), fc = expF(2, t);
    const double bc = fb + fc - fb * fc;
    const double q = fa * bc;
    EXPECT_NEAR(measure(r, Kw::Fvimpt, "f", "a", t), 1.0, 1e-12);
    EXPECT_NEAR(measure(r, Kw::Rawimpt, "f", "a", t), bc / q, 1e-10);
    // Q with b working: Fa·Fc.
    EXPECT_NEAR(measure(r, Kw::Fvimpt, "f", "b", t), (q - fa * fc) / q, 1e-12);
    EXPECT_NEAR(measure(r, Kw::Rrwimpt, "f", "b", t), q / (fa * fc), 1e-10);
    EXPECT_NEAR(measure(r, Kw::Rawimpt, "f", "c", t), fa / q, 1e-10);
}

TEST(ImportanceMeasures, UndefinedValuesWarnAndGiveZero) {
    // a and b with a that never fails: Q = 0; Q with b working is 0 too.
    TreeRun r("ftree f\nrepeat a prob(0)\nrepeat b prob(0.5)\nand top a b\nend\n");
    ASSERT_EQ(r.status, 0) << r.out;
    r.out.clear();
    EXPECT_EQ(measure(r, Kw::Fvimpt, "f", "b", 1), 0.0);
    EXPECT_TRUE(r.printed("Warning: no Fussell-Vesely importance measure at this time point\n")) << r.out;
    EXPECT_EQ(measure(r, Kw::Rawimpt, "f", "b", 1), 0.0);
    EXPECT_TRUE(r.printed("Warning: no risk achievement worth at this time point\n")) << r.out;
    EXPECT_EQ(measure(r, Kw::Rrwimpt, "f", "b", 1), 0.0);
    EXPECT_TRUE(r.printed("Warning: no risk reduction worth at this time point\n")) << r.out;
    // A tree that always fails has RRW 1 for every event, and RAW 1.
    TreeRun sure("ftree s\nrepeat a prob(1)\nrepeat b prob(0.5)\nor top a b\nend\n");
    EXPECT_NEAR(measure(sure, Kw::Rrwimpt, "s", "a", 1), 1.0 / 0.5, 1e-12);  // Q0 = P(b) = 0.5
    EXPECT_NEAR(measure(sure, Kw::Rawimpt, "s", "b", 1), 1.0, 1e-12);
}

TEST(ImportanceMeasures, RefusedWithoutTheDecisionDiagram) {
    TreeRun r("ftree f\nrepeat a prob(0.1)\nrepeat b prob(0.5)\nand top a b\nend\nbdd off\nexpr fvimpt(1; f, a)\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(r.printed("can't get importance measure unless bdd is on: system f")) << r.out;
}

TEST(ImportanceMeasures, ReliabilityGraphEdgesAgreeWithEnumeration) {
    // The bridge: s-a, s-b, a-b, a-t, b-t; edges fail independently.
    struct E {
        int from, to;
        double p;
    };
    const std::vector<E> edges = {{0, 1, 0.1}, {0, 2, 0.2}, {1, 2, 0.3}, {1, 3, 0.15}, {2, 3, 0.25}};
    const char* node[] = {"s", "a", "b", "t"};
    std::string text = "relgraph br\n";
    for (const E& e : edges) text += format_string("%s %s prob(%.17g)\n", node[e.from], node[e.to], e.p);
    text += "end\n";
    TreeRun r(text);
    ASSERT_EQ(r.status, 0) << r.out;
    std::vector<double> p;
    for (const E& e : edges) p.push_back(e.p);
    // Failed when no path of working edges leads from s to t (edges one-way as listed).
    auto failed = [&](unsigned s) {
        std::vector<bool> reach(4, false);
        reach[0] = true;
        for (int pass = 0; pass < 4; ++pass)
            for (size_t i = 0; i < edges.size(); ++i)
                if (!((s >> i) & 1u) && reach[static_cast<size_t>(edges[i].from)]) reach[static_cast<size_t>(edges[i].to)] = true;
        return !reach[3];
    };
    for (size_t i = 0; i < edges.size(); ++i) {
        const Enumerated e = enumerate(p, static_cast<int>(i), failed);
        const std::string comp = std::to_string(i);
        EXPECT_NEAR(measure(r, Kw::Bimpt, "br", comp, 0), e.q1 - e.q0, 1e-12) << comp;
        EXPECT_NEAR(measure(r, Kw::Fvimpt, "br", comp, 0), (e.q - e.q0) / e.q, 1e-10) << comp;
        EXPECT_NEAR(measure(r, Kw::Rawimpt, "br", comp, 0), e.q1 / e.q, 1e-9) << comp;
        EXPECT_NEAR(measure(r, Kw::Rrwimpt, "br", comp, 0), e.q / e.q0, 1e-9) << comp;
    }
    // The ranking lists the edges by number, the largest Birnbaum value first.
    int best = 0;
    double best_value = -1.0;
    for (size_t i = 0; i < edges.size(); ++i) {
        const Enumerated e = enumerate(p, static_cast<int>(i), failed);
        if (e.q1 - e.q0 > best_value + 1e-12) {
            best_value = e.q1 - e.q0;
            best = static_cast<int>(i);
        }
    }
    r.out.clear();
    r.run("rankimpt(0; br) bimpt\n");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("rank  edge       bimpt\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(format_string("   1  %-4d  %10.4e\n", best, best_value)), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("   5  "), std::string::npos) << r.out;
}

TEST(ImportanceMeasures, RankingListsEveryEventLargestFirstAndSavesCsv) {
    // top = a or (b and c): Q = 0.28; with a working Q = 0.2, with b (or c) working Q = 0.1.
    TreeRun r("ftree f\nrepeat a prob(0.1)\nrepeat b prob(0.5)\nrepeat c prob(0.4)\nand bc b c\nor top a bc\nend\n");
    ASSERT_EQ(r.status, 0) << r.out;
    const double q = 1 - (1 - 0.1) * (1 - 0.2);
    const double fv_a = (q - 0.2) / q, fv_b = (q - 0.1) / q;  // b (or c) working leaves only a
    r.out.clear();
    r.run("rankimpt(1; f) fvimpt\n");
    ASSERT_EQ(r.status, 0) << r.out;
    const std::string expected = "\nranking of system f by fvimpt at t = 1.0000e+00:\n\n"
                                 "rank  component      fvimpt\n" +
                                 format_string("   1  b          %10.4e\n", fv_b) +
                                 format_string("   2  c          %10.4e\n", fv_b) +
                                 format_string("   3  a          %10.4e\n", fv_a) + "\n";
    EXPECT_EQ(r.out, expected);
    EXPECT_GT(fv_b, fv_a);

    // With -csv the ranking is saved: rank, name, value at full precision.
    namespace fs = std::filesystem;
    std::string templ = (fs::temp_directory_path() / "corvel_rank_XXXXXX").string();
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    r.in.tables.csv_dir = templ;
    r.run("rankimpt(1; f) fvimpt\n");
    std::ifstream csv(fs::path(templ) / "f_1.csv", std::ios::binary);
    std::stringstream text;
    text << csv.rdbuf();
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 4u) << text.str();
    EXPECT_EQ(lines[0], "rank,component,fvimpt\r");
    const char* names[] = {"b", "c", "a"};
    const double values[] = {fv_b, fv_b, fv_a};
    for (int i = 0; i < 3; ++i) {
        const std::string& row = lines[static_cast<size_t>(i + 1)];
        const std::string head = std::to_string(i + 1) + "," + names[i] + ",";
        ASSERT_EQ(row.rfind(head, 0), 0u) << row;
        EXPECT_NEAR(std::strtod(row.c_str() + head.size(), nullptr), values[i], 1e-15) << row;
    }
    fs::remove_all(templ);
}

}  // namespace corvel
