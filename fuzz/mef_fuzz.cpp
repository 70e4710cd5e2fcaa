// Feeds arbitrary bytes to the model exchange reader. A translation that
// succeeds is read by the interpreter as the loader would read it: it must
// define its systems without a syntax error. Any crash, hang or sanitizer
// report is a fault; refused files are the expected outcome of most inputs.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

#include "interp/interpreter.h"
#include "interp/mef_import.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    corvel::MefTakenNames taken;
    corvel::MefTranslation t = corvel::translate_mef(bytes, taken);
    if (!t.ok) return 0;
    std::string captured;
    corvel::Interpreter in(&captured);
    in.err.interactive = false;
    in.scanner.includes_enabled = false;
    // The same cap on the work of an analysis as the interpreter's fuzz modes.
    in.settings.work_limit = 20000;
    std::istringstream input(t.crv);
    try {
        in.install_builtins();
        in.parse_stream(input, "fuzz.xml");
    } catch (const corvel::ProgramExit&) {
    }
    // The translation is written so that it always reads.
    if (captured.find("parse error") != std::string::npos) std::abort();
    return 0;
}
