#pragma once
// Command-line options and the choice of run mode.

#include <string>
#include <vector>

namespace corvel {

class Interpreter;

enum class RunMode { Interactive, Batch, DataFile };

struct StartupChoice {
    RunMode mode = RunMode::Interactive;
    std::string input_name;   // batch input file
    bool exit_now = false;    // -ve was given: the version has been printed
    // Model exchange files in command-line order; `print` for -mef-crv.
    struct MefFile {
        std::string path;
        bool print = false;
    };
    std::vector<MefFile> mef_files;
};

// Applies the options left to right (printing their messages), opens the data
// file, and decides the run mode. Failures are fatal errors of the reporter.
StartupChoice init_file(Interpreter& in, const std::vector<std::string>& args);

// The three usage lines.
void print_cmd_line_syntax(Interpreter& in);

extern const char* const kVersion;

}  // namespace corvel
