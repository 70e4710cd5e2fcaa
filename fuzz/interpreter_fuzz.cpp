// Feeds arbitrary bytes to the interpreter as a batch input. Any crash, hang,
// leak or sanitizer report is a fault; numbered errors and syntax errors are
// the expected outcome of most inputs.
//
// One program with one mode per entry point, chosen by the name it is
// started under (corvel_fuzz_<mode>): the mode's prefix is put before the
// bytes, so the mode "markov", whose prefix is "markov ", starts inside the
// markov block reader (the bytes begin with the system's name) and its
// mutations do not have to survive the statement parser first. Whatever
// follows the block's end is read as ordinary statements, so measures on the
// model are reached too. Under any other name the bytes are read as they are.
//
// The work of every analysis is capped so that each input ends quickly; an
// input that reaches the cap ends with the message of the limit, and a
// timeout is then always a real hang.

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "interp/interpreter.h"

#ifndef CORVEL_FUZZ_MODES
#define CORVEL_FUZZ_MODES {"parser", ""},
#endif

namespace {

// States, diagram nodes, solver steps and queue tables per analysis, and loop
// passes per input; fifty times as many term products per closed-form
// operation.
constexpr long kFuzzWorkLimit = 20000;

struct Mode {
    const char* name;
    const char* prefix;
};
constexpr Mode kModes[] = {CORVEL_FUZZ_MODES};

std::string prefix;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    if (*argc < 1) return 0;
    std::string program = (*argv)[0];
    program = program.substr(program.find_last_of('/') + 1);
    for (const Mode& m : kModes)
        if (program == std::string("corvel_fuzz_") + m.name) prefix = m.prefix;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text = prefix;
    text.append(reinterpret_cast<const char*>(data), size);
    std::string captured;
    corvel::Interpreter in(&captured);
    in.err.interactive = false;
    in.scanner.includes_enabled = false;
    in.settings.work_limit = kFuzzWorkLimit;
    in.settings.tol.work_limit = 50.0 * kFuzzWorkLimit;
    std::istringstream input(text);
    try {
        in.install_builtins();
        in.parse_stream(input, "fuzz.crv");
    } catch (const corvel::ProgramExit&) {
    }
    return 0;
}
