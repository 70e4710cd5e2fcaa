// Readers of the markov, semimark and mrgp blocks.
//
// markov:   [readprobs] eol
//           arc lines "from to rate" and loop groups,
//           optionally "reward [default expr]" and lines "state reward" (and loop groups),
//           end
//           lines "state probability" (and loop groups), end
//           optionally "fastmttf", lines "state reada|readf", end
// semimark: [cond|uncond] eol, then as markov with arc lines "from to dist [dist2]"
//           and no loop groups
// mrgp:     eol, lines "from - to dist" or "from @ to dist", optionally a reward
//           section, end
//
// In markov lines blanks separate the fields: outside parentheses a run of
// blanks is a separator token (the scanner's blank mode), so a state name may
// be made of several pieces written together, such as x$(i) or a$(i)b.
// Leading and trailing blanks are ignored, and keyword lines (loop headers,
// reward, end, fastmttf) are read with blanks skipped.

#include <cmath>

#include "interp/blocks.h"
#include "interp/interpreter.h"
#include "interp/parser.h"
#include "statespace/chain.h"

namespace corvel {

namespace {

// Loop groups nest at most this deep.
constexpr int kMaxGroupNesting = 200;

enum class Section { Arcs, Probs, Rewards };

class ChainReader {
public:
    ChainReader(Parser& p, SystemRecord& sys, bool blanks)
        : p_(p), in_(p.interp()), sys_(sys), m_(chain_of(sys)), blanks_(blanks) {}
    ~ChainReader() { in_.scanner.isArcPair = false; }
    ChainReader(const ChainReader&) = delete;
    ChainReader& operator=(const ChainReader&) = delete;

    // Lines after the header line up to the end of the transitions (and the
    // reward section, when there is one).
    void transitions(bool mrgp);
    // Initial probabilities up to their "end".
    void start_probabilities();
    // An optional fastmttf section after the block.
    void optional_fastmttf();

    // Switches between the two ways of scanning. Each switch is made while no
    // token of the affected text has been looked at yet.
    void line_mode() { in_.scanner.isArcPair = blanks_; }
    void keyword_mode() { in_.scanner.isArcPair = false; }

private:
    void skip_blanks() {
        while (p_.at(Tok::Blank)) p_.take();
    }
    // Moves to the first token of the next line that is not empty.
    void line_start();
    // Trailing blanks, then the line end.
    void line_end() {
        skip_blanks();
        p_.expect_eol();
    }
    void separator() {
        if (blanks_ && !p_.accept(Tok::Blank)) p_.syntax_error();
    }
    // "end" and the rest of its line; the next line is scanned in line mode.
    void end_line() {
        p_.take();
        keyword_mode();
        p_.expect_eol();
        line_mode();
    }

    ChainWord read_word();
    std::string direct_name() { return spell_chain_word(in_, read_word()); }
    void reward_header();
    void state_section(Section section, std::vector<StateValue>& direct,
                       std::vector<std::unique_ptr<ChainLoop>>& groups);
    void direct_arc(bool mrgp);
    std::unique_ptr<ChainLoop> group(Section section);

    Parser& p_;
    Interpreter& in_;
    SystemRecord& sys_;
    ChainModel& m_;
    bool blanks_;
    int nesting_ = 0;
};

void ChainReader::line_start() {
    for (;;) {
        skip_blanks();
        if (p_.at(Tok::Eol) || p_.at(Tok::Comment)) {
            p_.take();
            continue;
        }
        if (p_.at(Tok::EndOfInput)) p_.syntax_error();
        return;
    }
}

// A state name. In markov lines: one or more pieces without blanks between
// them, each a number, a name or an index substitution "$" expr (optionally
// closed by "}"), kept unevaluated. Elsewhere a single word, whose
// substitution the parser evaluates at once.
ChainWord ChainReader::read_word() {
    ChainWord w;
    if (!p_.at_word()) p_.syntax_error();
    if (!blanks_) {
        w.pieces.push_back({significant_name(p_.word()), nullptr});
        return w;
    }
    while (p_.at_word()) {
        ChainWord::Piece piece;
        if (p_.accept(Tok::Dollar)) {
            piece.subst = p_.expr();
            p_.accept(Tok::RBrace);
        } else {
            piece.text = p_.word();
        }
        w.pieces.push_back(std::move(piece));
    }
    return w;
}

void ChainReader::reward_header() {
    p_.take();
    keyword_mode();
    if (p_.accept_kw(Kw::Default)) m_.default_reward = p_.expr();
    p_.expect_eol();
    line_mode();
}

void ChainReader::transitions(bool mrgp) {
    line_mode();
    for (;;) {
        line_start();
        if (p_.at_kw(Kw::End)) {
            end_line();
            break;
        }
        if (p_.at_kw(Kw::Reward)) {
            // A dropped header loses only its default: the reward lines follow.
            p_.block_line([&] { reward_header(); });
            state_section(Section::Rewards, m_.rewards, m_.loop_rewards);
            break;
        }
        if (p_.at_kw(Kw::Loop) && blanks_) {
            p_.block_line([&] { m_.loop_arcs.push_back(group(Section::Arcs)); });
            continue;
        }
        p_.block_line([&] { direct_arc(mrgp); });
    }
    // A chain without loop groups is numbered and classified now; one with
    // loop groups when it is expanded for its parameter values.
    if (m_.loop_arcs.empty() && m_.num_states() > 0) classify_chain(in_, sys_);
}

void ChainReader::start_probabilities() {
    line_mode();
    state_section(Section::Probs, m_.start_probs, m_.loop_probs);
}

void ChainReader::optional_fastmttf() {
    keyword_mode();
    while (p_.at(Tok::Eol) || p_.at(Tok::Comment)) p_.take();
    if (!p_.accept_kw(Kw::Fastmttf)) return;
    p_.expect_eol();
    for (;;) {
        if (p_.at(Tok::Eol) || p_.at(Tok::Comment)) {
            p_.take();
            continue;
        }
        if (p_.at(Tok::EndOfInput)) p_.syntax_error();
        if (p_.accept_kw(Kw::End)) {
            p_.expect_eol();
            return;
        }
        p_.block_line([&] {
            if (p_.at(Tok::Dollar)) p_.stop_with_message("Error: Evaluated words cannot be used here");
            if (!p_.at_word()) p_.syntax_error();
            std::string name = significant_name(p_.word());
            if (p_.accept_kw(Kw::Reada))
                m_.set_a.push_back(std::move(name));
            else if (p_.accept_kw(Kw::Readf))
                m_.set_f.push_back(std::move(name));
            else
                p_.syntax_error();
            p_.expect_eol();
        });
    }
}

// Lines "state value" (and, in markov blocks, loop groups) up to "end".
void ChainReader::state_section(Section section, std::vector<StateValue>& direct,
                                std::vector<std::unique_ptr<ChainLoop>>& groups) {
    for (;;) {
        line_start();
        if (p_.at_kw(Kw::End)) {
            end_line();
            return;
        }
        if (p_.at_kw(Kw::Loop) && blanks_) {
            p_.block_line([&] { groups.push_back(group(section)); });
            continue;
        }
        p_.block_line([&] {
            StateValue v;
            v.state = direct_name();
            separator();
            v.value = p_.expr();
            line_end();
            direct.push_back(std::move(v));
        });
    }
}

void ChainReader::direct_arc(bool mrgp) {
    std::string from = direct_name();
    separator();
    bool regen = false;
    if (mrgp) {
        if (p_.accept(Tok::At))
            regen = true;
        else if (!p_.accept(Tok::Minus))
            p_.syntax_error();
    }
    std::string to = direct_name();
    separator();
    if (sys_.block_kind == kSysMarkov) {
        std::shared_ptr<Expr> rate = p_.expr();
        line_end();
        double value = 0.0;
        if (rate->is_constant()) {
            value = in_.eval.bind_expression(*rate);
            rate.reset();
        }
        if (add_chain_arc(in_, sys_, from, to, value) >= 0) {
            m_.direct_rates.push_back(std::move(rate));
            ++m_.num_direct_arcs;
        }
        return;
    }
    EdgeRecord arc;
    {
        arc.udist = p_.dist();
        if (!mrgp && !p_.at_eol()) {
            // A second distribution: only the exponential form is kept.
            bool exponential = p_.at_kw(Kw::Exp);
            std::shared_ptr<DistSpec> second = p_.dist();
            if (exponential)
                arc.rudist = std::move(second);
            else
                in_.out.write("Currently only exponential distribution is accepted.\n");
        }
        p_.expect_eol();
        const DistSpec& d = *arc.udist;
        if (d.type == kDistGenConst &&
            std::fabs(evaluate_expo(d.num, 0.0, in_.settings.tol)) >= in_.settings.tol.epsilon)
            in_.err.ERR(98, kInputError, significant_name(from), significant_name(to));
        arc.regen = regen;
    }
    if (add_chain_arc(in_, sys_, from, to, std::move(arc)) >= 0) ++m_.num_direct_arcs;
}

// "loop index, low, high[, step]", its lines and "end"; the lines are those
// of the section, or nested groups.
std::unique_ptr<ChainLoop> ChainReader::group(Section section) {
    if (++nesting_ > kMaxGroupNesting) p_.syntax_error();
    struct Nesting {
        int& n;
        ~Nesting() { --n; }
    } nesting{nesting_};
    keyword_mode();
    std::unique_ptr<Stmt> head;
    // A dropped header takes the group's lines, nested groups included, with it.
    p_.construct_header([&] { head = p_.loop_header(); }, [&] { return p_.at_kw(Kw::Loop); });
    struct PopIndex {
        Parser& p;
        ~PopIndex() { p.pop_loop_index(); }
    } pop{p_};
    line_mode();
    auto loop = std::make_unique<ChainLoop>();
    loop->index = std::move(head->index);
    loop->low = std::move(head->exprs[0]);
    loop->high = std::move(head->exprs[1]);
    loop->step = std::move(head->exprs[2]);
    for (;;) {
        line_start();
        if (p_.at_kw(Kw::End)) {
            end_line();
            return loop;
        }
        p_.block_line([&] {
            ChainLoopLine line;
            if (p_.at_kw(Kw::Loop)) {
                line.loop = group(section);
            } else {
                line.from = read_word();
                separator();
                if (section == Section::Arcs) {
                    line.to = read_word();
                    separator();
                }
                line.value = p_.expr();
                line_end();
            }
            loop->lines.push_back(std::move(line));
        });
    }
}

}  // namespace

void read_markov_block(Parser& parser, SystemRecord& sys) {
    ChainReader r(parser, sys, true);
    if (parser.accept_kw(Kw::Readprobs)) sys.readprobs = true;
    parser.expect_eol();
    r.transitions(false);
    r.start_probabilities();
    r.optional_fastmttf();
}

void read_semimark_block(Parser& parser, SystemRecord& sys) {
    ChainReader r(parser, sys, false);
    if (parser.accept_kw(Kw::Cond))
        sys.semi_conditional = true;
    else if (parser.accept_kw(Kw::Uncond))
        sys.semi_conditional = false;
    parser.expect_eol();
    r.transitions(false);
    r.start_probabilities();
    r.optional_fastmttf();
}

void read_mrgp_block(Parser& parser, SystemRecord& sys) {
    ChainReader r(parser, sys, false);
    parser.expect_eol();
    r.transitions(true);
}

}  // namespace corvel
