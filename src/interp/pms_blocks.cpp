// Reading the pms block: one line per phase, "phase tree duration".

#include "combinatorial/pms_blocks.h"

#include <cmath>
#include <string>

#include "combinatorial/tree.h"
#include "interp/blocks.h"
#include "interp/interpreter.h"
#include "interp/parser.h"
#include "symbols/counts.h"
#include "interp/block_lines.h"

namespace corvel {

namespace {

bool is_fault_tree(int type) { return type == kSysFtree || type == kSysFtreeRepeated || type == kSysFtreeNoRepeat; }

// The fault tree of a phase line, with the checks on what a phase may use.
int phase_tree(Parser& p, const SystemRecord& pms) {
    Interpreter& in = p.interp();
    if (!p.at_word()) in.err.error(14, kInputError, "", true);
    std::string name = significant_name(p.word());
    int index = in.systems.find(name);
    if (index < 0) in.err.error(37, kInputError, name, true);
    SystemRecord& tree = in.systems[index];
    if (!is_fault_tree(tree.type)) in.err.error(141, kInputError, name, true);
    if (tree.type == kSysFtreeNoRepeat) {
        in.out.write("\n*** NOTE:");
        in.out.printf("\n*** fault tree %s will be treated in pms %s", tree.name.c_str(), pms.name.c_str());
        in.out.write(" as if all events were repeated.\n\n");
    }
    if (!tree.coherent) {
        in.out.write("phases in pms can't use not, nor, nand, or nkofn gates.\n");
        in.err.exit_program(kExitFailure);
    }
    if (!tree.params.empty()) {
        in.out.write("phases in pms can't have system parameters.\n");
        in.err.exit_program(kExitFailure);
    }
    return index;
}

}  // namespace

void read_pms_block(Parser& p, SystemRecord& sys) {
    Interpreter& in = p.interp();
    auto model = std::make_unique<PmsModel>();
    PmsModel& pms = *model;
    sys.model = std::move(model);
    p.expect_eol();
    // Phases by number (slot 0 unused) until the block's end puts them in order.
    std::vector<PmsPhase> slots(kMaxPhases + 1);
    std::vector<char> given(kMaxPhases + 1, 0);
    p.block_section([&] {
        auto number_expr = p.expr();
        const double written = constant_value(p, *number_expr);
        const long long number = checked_count(in.err, written, CountRounding::Truncate, "phase number", kInputError,
                                               kMaxPhases, CountBeyond::Clamp);
        if (number < 1) in.err.error(219, kInputError, "", true);
        if (number > kMaxPhases) in.err.error(218, kFatal, format_string("%.15g", std::trunc(written)), true);
        int order = static_cast<int>(number);
        if (given[static_cast<size_t>(order)]) in.err.error(217, kInputError, std::to_string(order), true);
        PmsPhase phase;
        phase.order = order;
        phase.sys_index = phase_tree(p, sys);
        std::shared_ptr<Expr> duration = p.expr();
        p.expect_eol();
        if (duration->is_constant()) {
            phase.duration = constant_value(p, *duration);
            if (!(phase.duration >= 0.0)) in.err.error(19, kInputError, "", true);
        } else {
            phase.sym_duration = std::move(duration);
            pms.constant_durations = false;
        }
        const SystemRecord& tree = in.systems[phase.sys_index];
        if (auto* tm = dynamic_cast<const TreeModel*>(tree.model.get()); tm && tm->symbolic_kn > 0)
            pms.symbolic_kn = true;
        given[static_cast<size_t>(order)] = 1;
        slots[static_cast<size_t>(order)] = std::move(phase);
    });
    // Numbers are distinct, so n phases run 1..n exactly when 1..n are all given.
    int n = 0;
    for (char g : given) n += g ? 1 : 0;
    bool complete = n > 0;
    for (int i = 1; i <= n; ++i) complete = complete && given[static_cast<size_t>(i)];
    if (!complete) in.err.error(216, kFatal, sys.name, true);
    for (int i = 1; i <= n; ++i) pms.phases.push_back(std::move(slots[static_cast<size_t>(i)]));
}

}  // namespace corvel
