#include "interp/blocks.h"

#include <algorithm>

#include "interp/interpreter.h"
#include "interp/model_kinds.h"
#include "interp/parser.h"

namespace corvel {

int block_type_of(Kw kw) {
    const ModelKind* kind = model_kind_of(kw);
    return kind == nullptr ? 0 : kind->type;
}

BlockReader block_reader_of(Kw kw) {
    const ModelKind* kind = model_kind_of(kw);
    return kind == nullptr ? nullptr : kind->reader;
}

// keyword word params, then the kind's own lines.
bool Parser::read_block(Kw kw) {
    int type = block_type_of(kw);
    BlockReader reader = block_reader_of(kw);
    if (type == 0 || reader == nullptr) return false;
    take();
    std::string name = definition_name();
    ParamList params = param_list();
    int index = in_.systems.create(name, type);
    if (index < 0) in_.err.error(28, kInputError, name, true);
    SystemRecord& sys = in_.systems[index];
    sys.params = std::move(params);
    sys.semi_conditional = in_.settings.default_semi_conditional;
    push_scope(sys.params);
    int outer_block = current_block_system_;
    current_block_system_ = index;
    // Restores the scope without touching the record, which an abandoned
    // block removes from the store.
    struct PopScope {
        std::vector<Param*>& scope;
        size_t size;
        int& current;
        int outer;
        ~PopScope() {
            scope.resize(size);
            current = outer;
        }
    } pop{scope_, scope_.size() - sys.params.size(), current_block_system_, outer_block};
    try {
        reader(*this, sys);
    } catch (const CommandAbandoned&) {
        // An input error in the middle of an interactive block: the model is
        // not defined, so its name stays free.
        if (index == in_.systems.size() - 1) in_.systems.discard_last();
        throw;
    }
    if (in_.systems[index].discarded && index == in_.systems.size() - 1) in_.systems.discard_last();
    return true;
}

}  // namespace corvel

namespace corvel {

bool Parser::block_line(const std::function<void()>& line) {
    // What a dropped line may leave behind: its loop indexes in the scope,
    // the pending symbols of its names, a half-read expression, and the
    // scanner's modes.
    const size_t scope = scope_.size();
    const int symbols = in_.symbols.size();
    const int depth = depth_;
    const bool arc_pair = in_.scanner.isArcPair;
    eol_seen_ = false;
    try {
        line();
        return true;
    } catch (const CommandAbandoned&) {
        scope_.resize(std::min(scope, scope_.size()));
        // Names the line created as pending symbols go with it.
        in_.symbols.truncate(symbols);
        depth_ = depth;
        recording_ = false;
        in_.scanner.isTuple = false;
        if (!eol_seen_) skip_to_eol();
        in_.scanner.isArcPair = arc_pair;
        eol_seen_ = false;
        return false;
    }
}

void Parser::block_section(const std::function<void()>& line) {
    for (;;) {
        while (at(Tok::Eol) || at(Tok::Comment) || at(Tok::Blank)) take();
        if (at(Tok::EndOfInput)) syntax_error();
        if (accept_kw(Kw::End)) {
            expect_eol();
            return;
        }
        block_line(line);
    }
}

void Parser::construct_header(const std::function<void()>& header, const std::function<bool()>& opens) {
    try {
        header();
        return;
    } catch (const CommandAbandoned&) {
        if (!eol_seen_) skip_to_eol();
    }
    int open = 1;
    for (;;) {
        while (at(Tok::Eol) || at(Tok::Comment) || at(Tok::Blank)) take();
        if (at(Tok::EndOfInput)) syntax_error();
        if (at_kw(Kw::End)) {
            if (--open == 0) {
                take();
                while (at(Tok::Blank)) take();
                expect_eol();
                throw CommandAbandoned{};
            }
        } else if (opens()) {
            ++open;
        }
        skip_to_eol();
    }
}

}  // namespace corvel
