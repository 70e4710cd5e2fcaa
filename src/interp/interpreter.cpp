#include "interp/interpreter.h"

#include <csignal>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <unistd.h>

#include "interp/blocks.h"
#include "interp/help_text.h"
#include "interp/measures.h"
#include "interp/mef_import.h"
#include "symbols/progress.h"
#include "statespace/petri_net.h"
#include "interp/options.h"
#include "interp/parser.h"
#include "interp/runner.h"
#include "expo/distribution.h"
#include "symbols/line_reader.h"

namespace corvel {

Interpreter::Interpreter() : AnalysisContext(static_cast<EvalHooks&>(*this)), scanner(err, out) { connect(); }

Interpreter::Interpreter(std::string* capture)
    : AnalysisContext(static_cast<EvalHooks&>(*this), capture), scanner(err, out) {
    connect();
}

void Interpreter::connect() { err.location_source = [this] { return scanner.location(); }; }

bool Interpreter::system_distribution(MeasureCall& call, Exponomial& result) {
    return measure_distribution(*this, call, result);
}

Interpreter::~Interpreter() {
    if (datafd_ != nullptr) std::fclose(datafd_);
}

bool Interpreter::open_data_file(const std::string& name) {
    datafd_ = std::fopen(name.c_str(), "w+");
    if (datafd_ == nullptr) return false;
    makedata = true;
    return true;
}

void Interpreter::write_data(const std::string& line) {
    if (!makedata || datafd_ == nullptr) return;
    std::fputs(line.c_str(), datafd_);
    std::fflush(datafd_);
}

void Interpreter::begin_result() {
    if (!first_result && !err.interactive) out.write("-------------------------------------------\n\n");
    first_result = false;
}

void Interpreter::invalidate_after_binding() {
    systems.invalidate_all();
    symbols.invalidate_values();
}

void Interpreter::print_system_type(const std::string& name) {
    int index = systems.find(name);
    if (index < 0) err.error(37, kInputError, name, true);
    out.printf("system %s: ", systems[index].name.c_str());
    out.write(system_type_text(systems[index].type));
}


double Interpreter::measure_value(const Expr& call) { return evaluate_measure(*this, *call.measure); }

double Interpreter::net_reference(const Expr& ref) { return srn_reference(*this, ref); }

double Interpreter::run_function_body(int symbol, bool& returned) {
    std::shared_ptr<StmtList> body = symbols[symbol].body;
    return Runner(*this).run_function_body(*body, returned);
}

double Interpreter::prompt_value(int symbol) {
    std::string name = symbols[symbol].name;
    LineReader reader(symbols, err, out, eval);
    for (;;) {
        out.printf("Enter a value for %s: ", name.c_str());
        out.flush();
        std::string line;
        if (!scanner.read_raw_line(line)) {
            out.write("\n");
            err.error(76, kFatal, name, false);
        }
        try {
            size_t pos = 0;
            std::unique_ptr<Expr> e;
            double value = 0.0;
            LineReadOptions options;
            options.value = &value;
            int r = reader.get_expression(line, pos, e, options);
            if (r == kReadEmpty) err.error(23, kInputError, "", false);
            if (r != kReadComplete) continue;
            if (e) value = eval.bind_expression(*e);
            write_data(format_string("bind %s %s\n", name.c_str(), line.c_str()));
            return value;
        } catch (const CommandAbandoned&) {
            // The reader reported the error; ask again.
        }
    }
}

void Interpreter::parse_stream(std::istream& in, const std::string& name) {
    scanner.open_main(in, name);
    Parser parser(*this);
    // Reports made while batch statements are read and run name their line.
    struct Locations {
        ErrorReporter& err;
        bool saved;
        ~Locations() { err.statement_locations = saved; }
    } locations{err, err.statement_locations};
    err.statement_locations = !err.interactive;
    try {
        parser.run();
    } catch (const ParseStop&) {
    } catch (const ParseStopRequest&) {
    } catch (const ExpoError& e) {
        // The algebra's failures are internal errors.
        err.error(e.number, kInternal, e.text, false);
    }
    out.flush();
}

namespace {

extern "C" void floating_point_exception(int) {
    static const char text[] = "error: floating point exception.\n";
    std::fflush(stdout);
    ssize_t ignored = ::write(1, text, sizeof text - 1);
    (void)ignored;
    _exit(kExitFailure);
}

}  // namespace

int Interpreter::run(const std::vector<std::string>& args) {
    StartupChoice choice = init_file(*this, args);
    if (choice.exit_now) {
        out.flush();
        return 0;
    }
    // -mef-crv prints translations and reads no input.
    bool translate_only = false;
    for (const StartupChoice::MefFile& m : choice.mef_files) translate_only = translate_only || m.print;
    std::ifstream file;
    if (choice.mode == RunMode::Batch && !translate_only) {
        file.open(choice.input_name, std::ios::binary);
        if (!file) err.error(83, kFatal, choice.input_name, false);
        err.interactive = false;
    } else if (!translate_only) {
        out.write("\nEnter a line with one of the following forms:\n");
        print_forms(out);
        out.flush();
    }
    std::signal(SIGFPE, floating_point_exception);
    // The progress line only ever goes to a terminal.
    progress::enable(::isatty(2) == 1);
    install_builtins();
    for (const StartupChoice::MefFile& m : choice.mef_files) load_mef_file(*this, m.path, m.print);
    if (translate_only) {
        out.flush();
        return 0;
    }
    if (choice.mode == RunMode::Batch)
        parse_stream(file, choice.input_name);
    else
        parse_stream(std::cin, "STDIN");
    return 0;
}

// The library's model definitions (the Erlang chain and the k-out-of-n tree)
// and the distributions defined through them need the model blocks; they are
// left out while no model kind can be read.
static bool builtin_line_needs_models(const std::string& line) {
    return line.rfind("markov", 0) == 0 || line.rfind("ftree", 0) == 0 || line.find("cdf") != std::string::npos;
}

void Interpreter::install_builtins() {
    std::string text;
    int open_blocks = 0;
    for (int i = 0; i < kBuiltinLibraryLines; ++i) {
        std::string line = kBuiltinLibrary[i];
        if (!model_blocks_available()) {
            if (line.rfind("markov", 0) == 0) {
                open_blocks = 3;  // loop, transition section, block
                continue;
            }
            if (line.rfind("ftree", 0) == 0) {
                open_blocks = 1;
                continue;
            }
            if (open_blocks > 0) {
                if (line == "end") --open_blocks;
                continue;
            }
            if (builtin_line_needs_models(line)) continue;
        }
        text += line;
        text += '\n';
    }
    bool was_interactive = err.interactive;
    err.interactive = false;
    std::istringstream library(text);
    scanner.open_main(library, "builtin library");
    Parser parser(*this, true);
    try {
        parser.run();
    } catch (const ParseStop&) {
    }
    err.interactive = was_interactive;
}

bool Interpreter::model_blocks_available() const {
    return block_reader_of(Kw::Markov) != nullptr && block_reader_of(Kw::Ftree) != nullptr;
}

void Interpreter::print_builtin_help() { print_builtin_dists(out); }

void Interpreter::run_output(OutputRequest& request, int) {
    run_output_statement(*this, static_cast<OutputStatement&>(request));
}

}  // namespace corvel
