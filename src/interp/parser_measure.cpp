// Measure calls: the argument shapes, measures inside expressions and in
// distribution positions, and the output statements.

#include "interp/interpreter.h"
#include "interp/measures.h"
#include "interp/parser.h"

namespace corvel {

bool measure_shape(Kw kw, MeasureShape& shape) {
    switch (kw) {
        case Kw::Cdf: case Kw::Mttf: case Kw::Mean: case Kw::Variance: case Kw::Pzero: case Kw::Pinf:
        case Kw::Pcont: case Kw::Fastmttf: case Kw::Sysprob: case Kw::Ss_unavail:
            shape = MeasureShape::SysOptNode;
            return true;
        case Kw::Lcdf: case Kw::Prob: case Kw::Sreward: case Kw::Tput: case Kw::Rtime: case Kw::Qlength:
        case Kw::Util: case Kw::Etok: case Kw::Prempty: case Kw::Fprempty: case Kw::Fetok: case Kw::Futil:
        case Kw::Ftput:
            shape = MeasureShape::SysName;
            return true;
        case Kw::Pqcdf: case Kw::Reward: case Kw::Mincuts: case Kw::Minpaths: case Kw::Exrss: case Kw::Rmean:
        case Kw::Rvariance: case Kw::Transenabled: case Kw::Mtta:
            shape = MeasureShape::Sys;
            return true;
        case Kw::Exrt: case Kw::Cexrt: case Kw::Rvalue: case Kw::Lbound: case Kw::Ubound: case Kw::Rankimpt:
            shape = MeasureShape::TimeSys;
            return true;
        case Kw::Value: case Kw::Tvalue:
            shape = MeasureShape::TimeSysOptNode;
            return true;
        case Kw::Etokt: case Kw::Premptyt: case Kw::Premptyu: case Kw::Tputt: case Kw::Utilt: case Kw::Tavetokt:
        case Kw::Tavtputt: case Kw::Etoku: case Kw::Tputu: case Kw::Utilu: case Kw::Srn_exrt: case Kw::Srn_cexrt:
        case Kw::Srn_ave_cexrt:
            shape = MeasureShape::TimeSysName;
            return true;
        case Kw::Bimpt: case Kw::Cimpt: case Kw::Fvimpt: case Kw::Rawimpt: case Kw::Rrwimpt:
            shape = MeasureShape::TimeSysCompNode;
            return true;
        case Kw::Simpt:
            shape = MeasureShape::SysCompNode;
            return true;
        case Kw::Mtput: case Kw::Mrtime: case Kw::Mqlength: case Kw::Mutil:
            shape = MeasureShape::SysStationChain;
            return true;
        case Kw::Srn_exrss: case Kw::Srn_cexrinf:
            shape = MeasureShape::SysSemiName;
            return true;
        case Kw::Analyze:
            shape = MeasureShape::Analyze;
            return true;
        case Kw::Eval:
            shape = MeasureShape::Eval;
            return true;
        default:
            return false;
    }
}

bool is_reward_net_measure(Kw kw) {
    switch (kw) {
        case Kw::Srn_exrss: case Kw::Srn_cexrinf: case Kw::Srn_exrt: case Kw::Srn_cexrt: case Kw::Srn_ave_cexrt:
            return true;
        default:
            return false;
    }
}

bool is_output_statement(Kw kw) {
    switch (kw) {
        case Kw::Cdf: case Kw::Lcdf: case Kw::Reward: case Kw::Eval: case Kw::Pqcdf: case Kw::Fprempty:
        case Kw::Fetok: case Kw::Futil: case Kw::Ftput: case Kw::Mincuts: case Kw::Minpaths: case Kw::Analyze:
        case Kw::Rankimpt:
            return true;
        default:
            return false;
    }
}

// Reads "( ... )" of a measure keyword that has just been consumed.
void Parser::measure_arguments(MeasureCall& call, MeasureShape shape, bool paren_read) {
    if (!paren_read) expect(Tok::LParen);
    auto any_sep = [this] {
        if (!accept(Tok::Comma) && !accept(Tok::Semicolon)) syntax_error();
    };
    bool timed = shape == MeasureShape::TimeSys || shape == MeasureShape::TimeSysOptNode ||
                 shape == MeasureShape::TimeSysName || shape == MeasureShape::TimeSysCompNode;
    if (timed) {
        call.time = expr();
        any_sep();
    }
    if (!at_word()) in_.err.error(14, kInputError, "", true);
    call.sys_name = significant_name(word());
    call.system = in_.systems.find(call.sys_name);
    if (call.system < 0) in_.err.error(37, kInputError, call.sys_name, true);
    if (call.system == current_block_system_) in_.err.error(99, kInputError, "", true);

    auto name = [this]() {
        if (!at_word()) in_.err.error(13, kInputError, "", true);
        return significant_name(word());
    };
    switch (shape) {
        case MeasureShape::SysName:
        case MeasureShape::TimeSysName:
        case MeasureShape::SysSemiName:
            // A required second name follows whichever separator precedes it;
            // a call without it is refused by the analysis ("node name expected").
            if (at(Tok::RParen)) break;
            any_sep();
            if (is_reward_net_measure(call.kw)) {
                // The name is the reward function, not a node of the system.
                call.reward = name();
                break;
            }
            call.has_node = true;
            call.node = name();
            break;
        case MeasureShape::TimeSysCompNode:
        case MeasureShape::SysCompNode:
            any_sep();
            call.has_second = true;
            call.second = name();
            if (accept(Tok::Comma)) {
                call.has_node = true;
                call.node = name();
            }
            break;
        case MeasureShape::SysStationChain:
            if (at(Tok::RParen)) break;
            any_sep();
            call.has_node = true;
            call.node = name();
            if (accept(Tok::Comma)) {
                call.has_second = true;
                call.second = name();
            }
            break;
        case MeasureShape::SysOptNode:
        case MeasureShape::TimeSysOptNode:
        case MeasureShape::Eval:
            if (accept(Tok::Comma)) {
                call.has_node = true;
                call.node = name();
            }
            break;
        case MeasureShape::Analyze:
            if (accept(Tok::Comma)) {
                call.has_node = true;
                call.node = name();
                while (accept(Tok::Comma)) call.extra.push_back(name());
            }
            break;
        case MeasureShape::Sys:
        case MeasureShape::TimeSys:
            break;
    }
    if (accept(Tok::Semicolon)) {
        call.args.push_back(expr());
        while (accept(Tok::Comma)) call.args.push_back(expr());
    }
    expect(Tok::RParen);
}

std::unique_ptr<Expr> Parser::measure_primary() {
    const Token& t = peek();
    if (t.kind != Tok::Keyword) return nullptr;
    MeasureShape shape;
    if (!measure_shape(t.kw, shape) || is_output_statement(t.kw) || shape == MeasureShape::Eval) return nullptr;
    auto call = std::make_shared<MeasureCall>();
    call->kw = t.kw;
    call->keyword = take().text;
    measure_arguments(*call, shape, false);
    auto e = std::make_unique<Expr>();
    e->code = kMeasure;
    e->measure = std::move(call);
    return e;
}

std::unique_ptr<Stmt> Parser::output_statement() {
    const Token& t = peek();
    if (t.kind != Tok::Keyword || !is_output_statement(t.kw)) return nullptr;
    MeasureShape shape;
    measure_shape(t.kw, shape);
    auto out = std::make_shared<OutputStatement>();
    out->call.kw = t.kw;
    out->call.keyword = take().text;
    start_text();
    measure_arguments(out->call, shape, false);
    out->call.text = end_text();
    if (shape == MeasureShape::Eval) {
        auto number = [this]() {
            bool negative = accept(Tok::Minus);
            if (!at(Tok::Integer) && !at(Tok::Real)) syntax_error();
            double v = std::strtod(take().text.c_str(), nullptr);
            return negative ? -v : v;
        };
        out->low = number();
        out->high = number();
        out->increment = number();
        out->kind = Kw::Cdf;
        if (at(Tok::Keyword)) {
            switch (peek().kw) {
                case Kw::Cdf: case Kw::Reward: case Kw::Exrt: case Kw::Cexrt: case Kw::Etokt: case Kw::Premptyt:
                case Kw::Tputt: case Kw::Utilt: case Kw::Tavetokt: case Kw::Tavtputt:
                    out->kind = take().kw;
                    break;
                default:
                    syntax_error();
            }
        }
    }
    if (out->call.kw == Kw::Rankimpt) {
        // The measure the components are ranked by.
        if (!at(Tok::Keyword)) syntax_error();
        switch (peek().kw) {
            case Kw::Simpt: case Kw::Bimpt: case Kw::Cimpt: case Kw::Fvimpt: case Kw::Rawimpt: case Kw::Rrwimpt:
                out->kind = take().kw;
                break;
            default:
                syntax_error();
        }
    }
    expect_eol();
    auto st = std::make_unique<Stmt>();
    st->kind = Stmt::Output;
    st->output = std::move(out);
    return st;
}

}  // namespace corvel
