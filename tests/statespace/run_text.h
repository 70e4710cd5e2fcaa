#pragma once
// Runs a program text through the real parser in batch mode and keeps the
// interpreter for inspecting the systems it defined.

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "interp/interpreter.h"

namespace corvel {

struct RunText {
    std::string out;
    Interpreter in{&out};
    int status = 0;  // exit status of a run-ending error, else 0

    RunText() { in.err.interactive = false; }
    explicit RunText(const std::string& text) : RunText() { run(text); }

    void run(const std::string& text) {
        std::istringstream s(text);
        try {
            in.parse_stream(s, "t.crv");
        } catch (const ProgramExit& e) {
            status = e.status;
        }
    }

    // The system of that name, or null (with a test failure).
    SystemRecord* sys(const std::string& name) {
        int i = in.systems.find(name);
        EXPECT_GE(i, 0) << "no system " << name << "\n" << out;
        return i < 0 ? nullptr : &in.systems[i];
    }
};

// The run stopped with an error whose message starts with `message`.
inline void expect_error(const std::string& text, const std::string& message) {
    RunText r(text);
    EXPECT_EQ(r.status, kExitFailure) << text << "\n" << r.out;
    EXPECT_NE(r.out.find("error: " + message), std::string::npos) << text << "\n" << r.out;
}

}  // namespace corvel
