// Feeds arbitrary bytes to the interpreter as a batch input. Any crash, hang,
// leak or sanitizer report is a fault; numbered errors and syntax errors are
// the expected outcome of most inputs.
//
// Built once per entry point: CORVEL_FUZZ_PREFIX is put before the bytes, so
// a target built with the prefix "markov " starts inside the markov block
// reader (the bytes begin with the system's name) and its mutations do not
// have to survive the statement parser first. Whatever follows the block's
// end is read as ordinary statements, so measures on the model are reached
// too.
//
// The work of every analysis is capped so that each input ends quickly; an
// input that reaches the cap ends with the message of the limit, and a
// timeout is then always a real hang.

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "interp/interpreter.h"

#ifndef CORVEL_FUZZ_PREFIX
#define CORVEL_FUZZ_PREFIX ""
#endif

namespace {

// States, diagram nodes, solver steps and terms per analysis, and loop
// passes per input.
constexpr long kFuzzWorkLimit = 20000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text = CORVEL_FUZZ_PREFIX;
    text.append(reinterpret_cast<const char*>(data), size);
    std::string captured;
    corvel::Interpreter in(&captured);
    in.err.interactive = false;
    in.scanner.includes_enabled = false;
    in.settings.work_limit = kFuzzWorkLimit;
    std::istringstream input(text);
    try {
        in.install_builtins();
        in.parse_stream(input, "fuzz.crv");
    } catch (const corvel::ProgramExit&) {
    }
    return 0;
}
