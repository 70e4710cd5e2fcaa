#pragma once
// The interpreter's context: everything that lives for the length of one run.
// One Interpreter owns the output channel, the reporter, the settings, the
// scanner and its include stack, the symbol table and the system store; the
// solvers see it as their analysis context.

#include <cstdio>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "expo/distribution.h"
#include "interp/scanner.h"
#include "interp/table_export.h"
#include "model/context.h"
#include "symbols/statement.h"

namespace corvel {

class Interpreter : public EvalHooks, public AnalysisContext {
public:
    Interpreter();
    explicit Interpreter(std::string* capture);
    ~Interpreter() override;

    Scanner scanner;

    // Where the printed tables are also saved (-csv, -svg).
    TableExport tables;

    bool first_result = true;  // no separator before the first result
    bool makedata = false;     // data-file mode

    // Opens the data file of data-file mode ("w+"); false when it cannot be opened.
    bool open_data_file(const std::string& name);
    // Writes one canonical line to the data file (data-file mode only).
    void write_data(const std::string& line);

    // Prints the separator before a result unless this is the first result or
    // the session is interactive, and marks that a result was printed.
    void begin_result();

    // Clears every cached analysis of every system and the cached values of
    // defined symbols (after a binding).
    void invalidate_after_binding();

    // "system %s: " and the type, or error 37 for an unknown name.
    void print_system_type(const std::string& name);
    // The help text of the built-in distributions.
    void print_builtin_help();

    // Runs the whole program: command line, start-up, parse. Returns the exit status.
    int run(const std::vector<std::string>& args);

    // Reads statements from `in` until its end (used by tests and for the
    // main input).
    void parse_stream(std::istream& in, const std::string& name);

    // Reads the built-in definition library before the first input line.
    void install_builtins();
    bool model_blocks_available() const;
    // Runs an output statement kept in a loop or while body.
    void run_output(OutputRequest& request, int indent);

    // EvalHooks
    double measure_value(const Expr& call) override;
    double prompt_value(int symbol) override;
    double run_function_body(int symbol, bool& returned) override;
    double net_reference(const Expr& ref) override;

    // AnalysisContext
    bool system_distribution(MeasureCall& call, Exponomial& result) override;

private:
    void connect();
    std::FILE* datafd_ = nullptr;
};

}  // namespace corvel
