// Reading the relgraph block: edge lines with their distributions, repeated
// edges after "transfer", and two-way edges after "bidirect".

#include "combinatorial/relgraph_blocks.h"

#include <utility>

#include "interp/blocks.h"
#include "interp/interpreter.h"
#include "interp/parser.h"
#include "interp/block_lines.h"

namespace corvel {

namespace {

// from to: two node names, not the same.
std::pair<std::string, std::string> edge_ends(Parser& p, SystemRecord& sys) {
    std::string from = element_name(p, 13);
    std::string to = element_name(p, 13);
    if (from == to) p.interp().err.error(79, kInputError, sys.name, true);
    return {std::move(from), std::move(to)};
}

// from to dist [dist2] [transfer from to ...]
void edge_line(Parser& p, SystemRecord& sys, bool two_way) {
    auto [from, to] = edge_ends(p, sys);
    std::shared_ptr<DistSpec> failure = p.dist();
    std::shared_ptr<DistSpec> repair;
    if (!p.at_eol() && !p.at_kw(Kw::Transfer)) {
        bool exponential = p.at_kw(Kw::Exp);
        std::shared_ptr<DistSpec> second = p.dist();
        if (exponential)
            repair = std::move(second);
        else
            p.interp().out.write("Currently only exponential distribution is accepted.\n");
    }
    std::vector<std::pair<std::string, std::string>> copies;
    if (p.accept_kw(Kw::Transfer)) {
        do {
            copies.push_back(edge_ends(p, sys));
        } while (!p.at_eol());
    }
    p.expect_eol();
    // The names are entered only once the whole line has been read.
    int first = static_cast<int>(sys.edges.size());
    auto add = [&](const std::string& a, const std::string& b) {
        EdgeRecord e;
        e.from = sys.names.find(a, NameTable::kFindOrAdd);
        e.to = sys.names.find(b, NameTable::kFindOrAdd);
        e.udist = failure;
        e.rudist = repair;
        e.bidirect = two_way;
        sys.edges.push_back(std::move(e));
    };
    add(from, to);
    for (const auto& [a, b] : copies) {
        add(a, b);
        sys.edges.back().is_repeat = true;
        sys.edges.back().repeat = first;
    }
    if (!copies.empty()) sys.is_relgraph_repeat = true;
}

void link_nodes(SystemRecord& sys, RelgraphModel& g) {
    size_t n = static_cast<size_t>(sys.names.size());
    g.succ.assign(n, {});
    g.pred.assign(n, {});
    // Walking the edges backwards and appending gives each list the order of
    // entering every edge at the front.
    for (int i = static_cast<int>(sys.edges.size()) - 1; i >= 0; --i) {
        const EdgeRecord& e = sys.edges[static_cast<size_t>(i)];
        g.succ[static_cast<size_t>(e.from)].push_back({i, false});
        g.pred[static_cast<size_t>(e.to)].push_back({i, false});
        if (e.bidirect) {
            g.succ[static_cast<size_t>(e.to)].push_back({i, true});
            g.pred[static_cast<size_t>(e.from)].push_back({i, true});
        }
    }
}

}  // namespace

void read_relgraph_block(Parser& p, SystemRecord& sys) {
    auto model = std::make_unique<RelgraphModel>();
    RelgraphModel& g = *model;
    sys.model = std::move(model);
    p.expect_eol();
    bool two_way = false;
    p.block_section([&] {
        if (!two_way && p.accept_kw(Kw::Bidirect)) {
            p.expect_eol();
            two_way = true;
            return;
        }
        edge_line(p, sys, two_way);
    });
    link_nodes(sys, g);
    bool source = false, sink = false;
    for (size_t i = 0; i < g.succ.size(); ++i) {
        source = source || g.pred[i].empty();
        sink = sink || g.succ[i].empty();
    }
    if (!source || !sink) p.interp().err.error(165, kFatal, sys.name, true);
}

}  // namespace corvel
