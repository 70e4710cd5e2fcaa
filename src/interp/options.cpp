#include "interp/options.h"

#include "interp/interpreter.h"

namespace corvel {

const char* const kVersion = "Version 00.01.04, bdd beta test";

void print_cmd_line_syntax(Interpreter& in) {
    Output& out = in.out;
    out.write("interactive:     corvel [-v] [-f] [-p<n|o>] [-s<c|u>] [-e<1|2>] [-ss] [-vo] [-ve]\n");
    out.write("batch :          corvel [-v] [-f] [-p<n|o>] [-s<c|u>] [-e<1|2>] [-ss] [-vo] [-ve] file [file ...]\n");
    out.write("make data file:  corvel [-v] [-f] [-p<n|o>] [-s<c|u>] [-e<1|2>] [-ss] [-vo] [-ve] -d datafile\n");
}

namespace {

constexpr const char* kEigen1Message = "cannot use eigen1 with phnew; using eigen2\n";

// Command-line failures are fatal and carry no location.
[[noreturn]] void fail(Interpreter& in, bool usage_first, int number, const std::string& text) {
    if (usage_first) print_cmd_line_syntax(in);
    in.err.error(number, kFatal, text, false);
    in.err.exit_program(kExitFailure);  // not reached: level 2 always ends the run
}

}  // namespace

StartupChoice init_file(Interpreter& in, const std::vector<std::string>& args) {
    StartupChoice choice;
    Settings& s = in.settings;
    bool eigen1_given = false;
    bool data_file = false;
    size_t i = 0;
    for (; i < args.size() && !args[i].empty() && args[i][0] == '-'; ++i) {
        const std::string& arg = args[i];
        if (arg == "-csv" || arg == "-svg") {
            // A folder for the tables' files; it is created when missing.
            if (i + 1 >= args.size() || args[i + 1].empty()) fail(in, true, 81, "");
            (arg == "-csv" ? in.tables.csv_dir : in.tables.svg_dir) = args[++i];
            continue;
        }
        if (arg == "-mef" || arg == "-mef-crv") {
            // A model exchange file read before the input (-mef-crv: printed).
            if (i + 1 >= args.size() || args[i + 1].empty()) fail(in, true, 81, "");
            choice.mef_files.push_back({args[++i], arg == "-mef-crv"});
            continue;
        }
        char letter = arg.size() > 1 ? arg[1] : '\0';
        char second = arg.size() > 2 ? arg[2] : '\0';
        switch (letter) {
            case 'd': {
                if (i + 1 >= args.size()) fail(in, true, 81, "");
                const std::string& name = args[++i];
                if (!in.open_data_file(name)) fail(in, true, 82, name);
                data_file = true;
                break;
            }
            case 'f':
                break;
            case 'n':
                if (second != 'f') fail(in, true, 85, arg);
                break;
            case 'v':
                if (second == 'o') {
                    if (s.ph_old)
                        in.out.write("cannot use voronoi with phold\n");
                    else
                        s.use_voronoi = true;
                } else if (second == 'e') {
                    in.out.printf("%s\n", kVersion);
                    choice.exit_now = true;
                    return choice;
                } else {
                    s.verbose = true;
                }
                break;
            case 'p':
                if (second == 'n') {
                    s.ph_old = false;
                    s.find_eigenvalues = EigenRoutine::NewCg;
                    if (eigen1_given) in.out.write(kEigen1Message);
                } else if (second == 'o') {
                    s.ph_old = true;
                } else {
                    fail(in, false, 85, arg);
                }
                break;
            case 's':
                if (arg == "-ss") {
                    // The steady-state method of chains and nets; a missing
                    // or unknown method name is an unknown flag.
                    const std::string method = i + 1 < args.size() ? args[i + 1] : "";
                    if (method == "sor")
                        s.steady_method = SteadyMethod::Sor;
                    else if (method == "gs")
                        s.steady_method = SteadyMethod::GaussSeidel;
                    else if (method == "bicgstab")
                        s.steady_method = SteadyMethod::Bicgstab;
                    else
                        fail(in, false, 85, arg);
                    ++i;
                } else if (second == 'c')
                    s.default_semi_conditional = true;
                else if (second == 'u')
                    s.default_semi_conditional = false;
                else
                    fail(in, false, 85, arg);
                break;
            case 'e':
                if (second == '1') {
                    eigen1_given = true;
                    if (!s.ph_old) {
                        in.out.write(kEigen1Message);
                        s.find_eigenvalues = EigenRoutine::NewCg;
                    } else {
                        s.find_eigenvalues = EigenRoutine::Cg;
                    }
                } else if (second == '2') {
                    s.find_eigenvalues = EigenRoutine::NewCg;
                } else {
                    fail(in, false, 85, arg);
                }
                break;
            default:
                fail(in, true, 85, arg);
        }
    }
    if (data_file) {
        if (i < args.size()) fail(in, true, 72, "command line");
        choice.mode = RunMode::DataFile;
        return choice;
    }
    if (i < args.size()) {
        // Only the first file is read; any further file arguments are ignored.
        choice.mode = RunMode::Batch;
        choice.input_name = args[i];
    }
    return choice;
}

}  // namespace corvel
