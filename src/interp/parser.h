#pragma once
// The statement parser: reads tokens from the scanner, builds expressions and
// statement bodies, and executes each top-level statement as soon as its line
// is complete.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "interp/tokens.h"
#include "expo/distribution.h"
#include "interp/measures.h"
#include "symbols/statement.h"

namespace corvel {

class Interpreter;

// Thrown to stop the parse: a syntax error (after its report), a rejected
// format value, a stopped eval range. The run then ends with status 0.
struct ParseStop {};

// Thrown by a top-level "end": the program ends normally.
struct ProgramEnd {};

class Parser {
public:
    explicit Parser(Interpreter& in, bool builtin_library = false) : in_(in), builtin_mode_(builtin_library) {}

    // Parses and executes statements until the end of the input, a top-level
    // "end", or a stop.
    void run();

    // The reading interface that the model block readers use. -------------
    Interpreter& interp() { return in_; }
    // Makes a parameter list visible in the expressions that follow.
    void push_scope(ParamList& params);
    // "(" names ")" of a definition; nothing when no "(" follows.
    ParamList param_list();
    void pop_scope(ParamList& params);

    // Tokens.
    const Token& peek();
    Token take();
    bool at(Tok kind);
    bool at_kw(Kw kw);
    bool accept(Tok kind);
    bool accept_kw(Kw kw);
    void expect(Tok kind);
    bool at_eol();
    void expect_eol();
    void skip_to_eol();
    [[noreturn]] void syntax_error();
    [[noreturn]] void stop_with_message(const char* text);

    // Source text of expressions.
    void start_text();
    std::string end_text();

    // Words, expressions, conditions and distributions.
    bool at_word();
    std::string word();
    std::unique_ptr<Expr> expr();
    std::unique_ptr<Expr> cond();
    std::shared_ptr<DistSpec> dist();
    // One line of a model block, read by `line`. Every block kind unwinds an
    // input error the same way: in interactive use the line is dropped (the
    // rest of it skipped unless its line end was read) and the block goes on
    // with the next line, so the user retypes only that line. False when the
    // line was dropped. Batch input errors end the run before this returns.
    bool block_line(const std::function<void()>& line);
    // Lines read by `line` up to the "end" of a block section (see block_line).
    void block_section(const std::function<void()>& line);
    // Reads with `header` the opening line of a construct that has its own
    // lines and "end" inside a block section. When an input error drops that
    // line, the construct's lines are skipped through its "end" (nested
    // constructs, whose lines `opens` recognises, with their own ends) and
    // the error goes on to drop the enclosing line.
    void construct_header(const std::function<void()>& header,
                          const std::function<bool()>& opens = [] { return false; });

    // Reads a loop header "loop index, low, high[, step]" through its line end
    // and makes the index visible (pop it with pop_loop_index).
    std::unique_ptr<Stmt> loop_header();
    void pop_loop_index();

private:
    enum class BodyKind { Function, While, Loop };

    // Statements.
    void statement();
    void stmt_var();
    void stmt_func();
    void stmt_bind();
    void stmt_epsilon(bool execute, Stmt* keep);
    void stmt_format();
    void stmt_on_off(Kw kw);
    void stmt_type();
    void stmt_info();
    void stmt_debug();
    void stmt_truncate();
    void stmt_expr_list(Stmt& st);
    void stmt_end_of_program();
    // Statements that begin with a keyword handled outside the core language
    // (definitions of distributions and models, output statements); true when
    // the statement was read and run.
    bool statement_hook();
    // An output statement inside a loop or while body; null when the current
    // token does not start one.
    std::unique_ptr<Stmt> output_statement();

    std::unique_ptr<Stmt> parse_loop();
    std::unique_ptr<Stmt> parse_while(BodyKind kind);
    std::unique_ptr<Stmt> parse_if(BodyKind kind);
    std::unique_ptr<Stmt> parse_bind();
    std::unique_ptr<Stmt> parse_epsilon();
    std::unique_ptr<Stmt> parse_expression_line();
    // Reads body lines up to (not including) a closing keyword: end, and for
    // if-chains also elseif and else. Typed at the console, a loop or while
    // body also ends at an empty line, which is consumed and reported through
    // `closed_by_empty_line`.
    StmtList parse_body(BodyKind kind, bool in_if, bool* closed_by_empty_line = nullptr);
    // The "end" of a loop or while, unless an empty line closed the body.
    void close_body(bool closed_by_empty_line);
    std::unique_ptr<Stmt> parse_body_line(BodyKind kind);

    std::unique_ptr<Expr> expr_rest(std::unique_ptr<Expr> first);
    std::unique_ptr<Expr> term(std::unique_ptr<Expr> first);
    std::unique_ptr<Expr> power(std::unique_ptr<Expr> first);
    std::unique_ptr<Expr> unary();
    std::unique_ptr<Expr> primary();
    std::unique_ptr<Expr> name_primary(const std::string& name);
    std::unique_ptr<Expr> math_call(int code, int nargs);
    std::unique_ptr<Expr> sum_call();
    std::unique_ptr<Expr> net_ref(int code);
    // A measure call on a system in expression position; null when the
    // current token does not start one.
    std::unique_ptr<Expr> measure_primary();
    std::unique_ptr<Expr> cond_and();
    std::unique_ptr<Expr> cond_not();
    std::unique_ptr<Expr> cond_atom();
    std::unique_ptr<Expr> comparison(std::unique_ptr<Expr> left);
    std::vector<std::unique_ptr<Expr>> call_args();
    double constant_value(const Expr& e);

    // Distributions.
    void stmt_poly();
    void term_list(DistSpec& spec, TermMode mode);
    SymField term_field();
    // The name of a definition; the built-in library may use keyword spellings.
    std::string definition_name();
    // A model block; false when the keyword has no block reader.
    bool read_block(Kw kw);
    // The parenthesised arguments of a measure call whose keyword has been read.
    void measure_arguments(MeasureCall& call, MeasureShape shape, bool paren_read);

    Param* find_param(const std::string& name) const;

    Interpreter& in_;
    Token tok_;
    bool have_ = false;
    bool eol_seen_ = false;     // the current statement's line end was consumed
    std::vector<Param*> scope_;  // parameters visible in expressions, innermost last
    bool recording_ = false;
    std::string text_;
    int body_depth_ = 0;
    int depth_ = 0;  // nesting of the expression being read
    int body_nesting_ = 0;
    struct DepthGuard;
    void enter_depth(int n);
    bool builtin_mode_ = false;
    int current_block_system_ = -1;  // the system whose block is being read
};

}  // namespace corvel
