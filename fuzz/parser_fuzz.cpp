// Feeds arbitrary bytes to the scanner and the parser as a batch input. Any
// crash, hang or sanitizer report is a fault; numbered errors and syntax
// errors are the expected outcome of most inputs.

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "interp/interpreter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string captured;
    corvel::Interpreter in(&captured);
    in.err.interactive = false;
    in.scanner.includes_enabled = false;
    in.eval.pass_budget = 20000;
    std::istringstream input(std::string(reinterpret_cast<const char*>(data), size));
    try {
        in.install_builtins();
        in.parse_stream(input, "fuzz.crv");
    } catch (const corvel::ProgramExit&) {
    }
    return 0;
}
