#pragma once
// Random fault trees for the property tests: gates over a pool of events and
// earlier gates, drawn with replacement so that events repeat and gates are
// shared; the gates nobody used are joined under the top.

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace corvel {

struct RandomTreeShape {
    std::vector<std::string> kinds;  // gate keywords, drawn uniformly ("not" takes one input)
    double p_low = 0.02, p_span = 0.9;  // event probabilities (or rates) p_low + p_span·u
    size_t extra_inputs = 3;            // a gate takes 2 + (draw % extra_inputs) inputs
    size_t recent = 6;                  // half the inputs come from the last `recent` nodes
};

// `exponential` gives the events exp() distributions instead of prob().
inline std::string random_ftree(std::mt19937& rng, int events, int gates, bool exponential,
                                const RandomTreeShape& shape) {
    std::string text = "ftree f\n";
    std::vector<std::string> pool;
    for (int i = 0; i < events; ++i) {
        const std::string name = "e" + std::to_string(i);
        const double x = shape.p_low + shape.p_span * static_cast<double>(rng() % 1000) / 1000.0;
        text += "repeat " + name + (exponential ? " exp(" : " prob(") + std::to_string(x) + ")\n";
        pool.push_back(name);
    }
    std::vector<int> used(static_cast<size_t>(events + gates), 0);
    for (int g = 0; g < gates; ++g) {
        const std::string kind = shape.kinds[rng() % shape.kinds.size()];
        std::vector<size_t> kids;
        const size_t want = kind == "not" ? 1 : 2 + rng() % shape.extra_inputs;
        // Recent nodes are preferred, so that the tree grows deep.
        for (size_t k = 0; k < want; ++k) {
            const size_t n = pool.size();
            const size_t at = rng() % 2 ? n - 1 - rng() % std::min<size_t>(n, shape.recent) : rng() % n;
            kids.push_back(at);
        }
        std::sort(kids.begin(), kids.end());
        kids.erase(std::unique(kids.begin(), kids.end()), kids.end());
        if (kind != "not" && kids.size() < 2) kids.push_back(kids[0] == 0 ? 1 : 0);
        std::sort(kids.begin(), kids.end());
        const std::string name = "g" + std::to_string(g);
        text += kind + " " + name;
        if (kind == "kofn") text += " " + std::to_string(1 + rng() % kids.size()) + ", " + std::to_string(kids.size()) + ",";
        for (size_t k : kids) {
            text += " " + pool[k];
            ++used[k];
        }
        text += "\n";
        pool.push_back(name);
    }
    std::string top = "or top";
    int open = 0;
    for (int g = 0; g < gates; ++g)
        if (used[static_cast<size_t>(events + g)] == 0) {
            top += " g" + std::to_string(g);
            ++open;
        }
    if (open >= 2) text += top + "\n";
    return text + "end\n";
}

}  // namespace corvel
