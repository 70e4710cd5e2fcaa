// corvel: an interpreter for stochastic models of reliability, availability
// and performance.

#include <string>
#include <vector>

#include "interp/interpreter.h"
#include "symbols/progress.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    corvel::Interpreter interpreter;
    int status = 0;
    try {
        status = interpreter.run(args);
    } catch (const corvel::ProgramExit& e) {
        status = e.status;
    }
    interpreter.out.flush();
    corvel::progress::clear();
    return status;
}
