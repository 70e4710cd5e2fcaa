#pragma once
// Fault trees read from model exchange files (the XML format fault-tree tools
// share). Every define-fault-tree of a file becomes one ftree system named
// after the tree: its gates, basic events (as repeated events, so that an
// event named under several gates stays one event and a gate named by
// several parents stays one gate), house events (folded into the formulas as
// the constants they are) and parameters (as var definitions). The reader
// turns the file into the statements of our own language, which the
// interpreter then reads like any input; so a loaded tree is exactly the
// system its printed translation defines.
//
// Names that our language cannot hold (too long, other characters, a
// keyword) are mapped deterministically; the original names are kept for
// the listings. Anything the format has that an ftree cannot represent is
// refused with the element and its line.

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvel {

class Interpreter;

// A mapped name and the name it was made from.
struct MefRename {
    std::string name;
    std::string original;
};

struct MefSystem {
    std::string name;                 // the system's name in our language
    std::string original;             // the fault tree's name in the file
    std::vector<MefRename> renamed;   // nodes whose names had to be mapped
};

struct MefTranslation {
    bool ok = false;
    int error_line = 0;               // line of the element at fault (0: none)
    std::string error;                // what is wrong, when !ok
    std::string crv;                  // the statements, when ok
    std::vector<MefSystem> systems;
    std::vector<MefRename> parameters;  // parameters whose names had to be mapped
};

// Which names are in use already outside the file.
struct MefTakenNames {
    std::function<bool(const std::string&)> symbol;  // parameters become symbols
    std::function<bool(const std::string&)> system;  // fault trees become systems
};

// Translates the bytes of one file. Never throws for bad input: every fault
// is returned with its line.
MefTranslation translate_mef(std::string_view xml, const MefTakenNames& taken);

// The name our language uses for a name of the file: letters, digits, '_'
// and '.' are kept, any other character becomes '_', a name that does not
// start with a letter gets the prefix "n", a keyword gets the suffix "_",
// and a name longer than 29 characters keeps 20 and a hash of the whole.
std::string mef_mapped_name(const std::string& original);

// Reads the file and defines its systems (-mef); with `print` set the
// translation is written to standard output instead (-mef-crv), after the
// same checks. A missing file, malformed XML, an unknown or unsupported
// element and a dangling reference end the run (status 255) with a message
// that names the file and the line.
void load_mef_file(Interpreter& in, const std::string& path, bool print);

}  // namespace corvel
