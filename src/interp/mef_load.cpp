// -mef and -mef-crv: a model exchange file read into the system store, or
// its translation printed.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "interp/interpreter.h"
#include "interp/mef_import.h"

namespace corvel {

void load_mef_file(Interpreter& in, const std::string& path, bool print) {
    // A folder opens as a stream but cannot be read: it is a file that cannot be opened.
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) in.err.error(83, kFatal, path, false);
    std::ifstream file(path, std::ios::binary);
    if (!file) in.err.error(83, kFatal, path, false);
    std::string bytes;
    try {
        bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    } catch (const std::ios_base::failure&) {
        in.err.error(83, kFatal, path, false);
    }
    if (file.bad()) in.err.error(83, kFatal, path, false);

    MefTakenNames taken;
    taken.symbol = [&](const std::string& n) { return in.symbols.find_symbol(n, SymbolTable::kLookup) >= 0; };
    taken.system = [&](const std::string& n) { return in.systems.find(n) >= 0; };
    const MefTranslation t = translate_mef(bytes, taken);
    if (!t.ok) {
        const std::string where = t.error_line > 0 ? format_string("%s, line %d: ", path.c_str(), t.error_line)
                                                    : path + ": ";
        in.err.error(225, kFatal, where + t.error, false);
    }

    // The statements are read like any input, with every fault ending the run.
    const bool was_interactive = in.err.interactive;
    in.err.interactive = false;
    std::istringstream text(t.crv);
    in.parse_stream(text, path + " (translated)");
    in.err.interactive = was_interactive;

    for (const MefSystem& s : t.systems) {
        const int index = in.systems.find(s.name);
        if (index < 0) in.err.error(225, kFatal, path + ": fault tree \"" + s.original + "\" was not defined", false);
        SystemRecord& sys = in.systems[index];
        for (const MefRename& r : s.renamed) {
            const int node = sys.names.find(r.name);
            if (node >= 0) sys.nodes[static_cast<size_t>(node)].display_name = r.original;
        }
    }
    if (!print) return;
    in.out.printf("* translated from %s\n", path.c_str());
    for (const MefRename& r : t.parameters) in.out.printf("* parameter %s: \"%s\"\n", r.name.c_str(), r.original.c_str());
    for (const MefSystem& s : t.systems) {
        if (s.name != s.original) in.out.printf("* system %s: fault tree \"%s\"\n", s.name.c_str(), s.original.c_str());
        for (const MefRename& r : s.renamed)
            in.out.printf("* %s: \"%s\" in %s\n", r.name.c_str(), r.original.c_str(), s.name.c_str());
    }
    in.out.write(t.crv);
}

}  // namespace corvel
