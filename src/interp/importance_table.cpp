#include "interp/importance_table.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "combinatorial/ftree_repeat.h"
#include "combinatorial/relgraph_solve.h"
#include "combinatorial/tree.h"
#include "interp/interpreter.h"
#include "symbols/table_record.h"

namespace corvel {

namespace {

struct Ranked {
    std::string name;
    double value;
};

}  // namespace

void print_importance_ranking(Interpreter& in, SystemRecord& sys, Kw kind, double time) {
    const bool graph = sys.type == kSysRelgraph;
    std::vector<int> comps = graph ? relgraph_ranked_components(sys) : repeated_ranked_components(sys);
    std::vector<Ranked> rows;
    rows.reserve(comps.size());
    bool any_undefined = false;
    for (int c : comps) {
        bool undefined = false;
        const double v = graph ? relgraph_importance_value(in, sys, c, kind, undefined)
                               : repeated_importance_value(in, sys, c, kind, undefined);
        any_undefined = any_undefined || undefined;
        // Rounding leaves a few units in the last place where the value is 0.
        rows.push_back({graph ? std::to_string(c) : real_name(sys, c),
                        std::fabs(v) < in.settings.tol.results_epsilon ? 0.0 : v});
    }
    if (any_undefined) in.out.write(importance_warning(kind));
    // Values equal to 12 digits rank as ties (symmetric components computed
    // along different paths differ in the last bits) and keep their order.
    auto key = [](double v) { return std::strtod(format_string("%.11e", v).c_str(), nullptr); };
    std::stable_sort(rows.begin(), rows.end(),
                     [&](const Ranked& a, const Ranked& b) { return key(a.value) > key(b.value); });

    const Settings& s = in.settings;
    const char* measure = keyword_spelling(kind);
    TableCapture capture(in.out, in.tables, sys.name, std::nullopt);
    in.out.printf("\nranking of system %s by %s at t = %.*e:\n\n", sys.name.c_str(), measure, s.precision, time);
    int name_width = graph ? 4 : 9;
    for (const Ranked& r : rows) name_width = std::max(name_width, static_cast<int>(r.name.size()));
    in.out.printf("rank  %-*s  %*s\n", name_width, graph ? "edge" : "component", s.width, measure);
    TableRecord* record = in.out.table_record();
    if (record) {
        record->set_variable("rank");
        record->label_title = graph ? "edge" : "component";
        record->set_title(0, measure);
    }
    int rank = 0;
    for (const Ranked& r : rows) {
        ++rank;
        in.out.printf("%4d  %-*s  %*.*e\n", rank, name_width, r.name.c_str(), s.width, s.precision, r.value);
        if (record) {
            record->set_value(0, static_cast<size_t>(rank - 1), rank, r.value);
            record->labels.push_back(r.name);
        }
    }
    in.out.write("\n");
    capture.finish();
}

}  // namespace corvel
