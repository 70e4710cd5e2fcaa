// The model exchange reader: XML (libxml2) to an element model, checked and
// folded, then written as ftree blocks and var definitions.

#include "interp/mef_import.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "interp/tokens.h"
#include "symbols/output.h"

namespace corvel {

namespace {

// A fault of the file: what and where. Thrown inside the reader only.
struct MefFault {
    int line;
    std::string what;
};

[[noreturn]] void fault(int line, std::string what) { throw MefFault{line, std::move(what)}; }

int line_of(const xmlNode* n) { return n ? static_cast<int>(xmlGetLineNo(n)) : 0; }

std::string element_name(const xmlNode* n) { return reinterpret_cast<const char*>(n->name); }

std::optional<std::string> attribute(const xmlNode* n, const char* name) {
    xmlChar* v = xmlGetProp(n, reinterpret_cast<const xmlChar*>(name));
    if (!v) return std::nullopt;
    std::string s(reinterpret_cast<const char*>(v));
    xmlFree(v);
    return s;
}

std::string trim(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
    return s.substr(a, b - a);
}

std::string required(const xmlNode* n, const char* name) {
    std::optional<std::string> v = attribute(n, name);
    if (!v || trim(*v).empty())
        fault(line_of(n), format_string("element <%s> needs the attribute \"%s\"", element_name(n).c_str(), name));
    return trim(*v);
}

// The element children of a node; text other than blanks is refused.
std::vector<const xmlNode*> elements(const xmlNode* n) {
    std::vector<const xmlNode*> out;
    for (const xmlNode* c = n->children; c; c = c->next) {
        if (c->type == XML_ELEMENT_NODE) {
            out.push_back(c);
        } else if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) {
            const char* t = reinterpret_cast<const char*>(c->content);
            if (t && !trim(t).empty())
                fault(line_of(c), format_string("unexpected text inside <%s>", element_name(n).c_str()));
        }
    }
    return out;
}

bool is_documentation(const std::string& e) { return e == "label" || e == "attributes"; }

// Elements of the format an ftree cannot represent, with what they are.
const char* unsupported_reason(const std::string& e) {
    static const std::map<std::string, const char*> reasons = {
        {"define-CCF-group", "common-cause failure groups"},
        {"define-event-tree", "event trees"},
        {"define-initiating-event", "event trees"},
        {"define-sequence", "event trees"},
        {"define-functional-event", "event trees"},
        {"define-branch", "event trees"},
        {"define-rule", "event trees"},
        {"define-consequence", "event trees"},
        {"define-consequence-group", "event trees"},
        {"define-substitution", "substitutions"},
        {"define-alignment", "alignments"},
        {"define-phase", "alignments"},
        {"define-extern-function", "external functions"},
        {"define-extern-library", "external functions"},
        {"define-component", "components"},
        {"cardinality", "cardinality gates"},
        {"lognormal-deviate", "lognormal distributions"},
        {"lognormal", "lognormal distributions"},
        {"normal-deviate", "random deviates"},
        {"uniform-deviate", "random deviates"},
        {"gamma-deviate", "random deviates"},
        {"beta-deviate", "random deviates"},
        {"histogram", "random deviates"},
        {"GLM", "GLM distributions"},
        {"periodic-test", "periodic tests"},
        {"extern-function", "external functions"},
        {"test-initiating-event", "event trees"},
        {"test-functional-event", "event trees"},
    };
    auto it = reasons.find(e);
    return it == reasons.end() ? nullptr : it->second;
}

[[noreturn]] void refuse_element(const xmlNode* n) {
    const std::string e = element_name(n);
    if (const char* why = unsupported_reason(e))
        fault(line_of(n), format_string("element <%s> is not supported (%s cannot be represented)", e.c_str(), why));
    fault(line_of(n), format_string("unknown element <%s>", e.c_str()));
}

// ------------------------------------------------------------ expressions

struct MExpr {
    enum Kind { Num, Param, MissionTime, Add, Sub, Mul, Div, Neg, Exp, Log, Sqrt, Pow, Exponential, Weibull };
    Kind kind = Num;
    double value = 0.0;
    std::string name;  // parameter, as written in the file
    int line = 0;
    std::vector<MExpr> args;
};

double parse_number(const xmlNode* n, bool integer) {
    const std::string text = required(n, "value");
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || !std::isfinite(v) || (integer && v != std::floor(v)))
        fault(line_of(n), format_string("\"%s\" is not a valid %s value", text.c_str(), integer ? "int" : "float"));
    return v;
}

bool parse_bool(const xmlNode* n) {
    const std::string text = required(n, "value");
    if (text == "true") return true;
    if (text == "false") return false;
    fault(line_of(n), format_string("\"%s\" is not a valid boolean value", text.c_str()));
}

MExpr read_expr(const xmlNode* n);

std::vector<MExpr> read_args(const xmlNode* n, size_t min, size_t max) {
    std::vector<MExpr> args;
    for (const xmlNode* c : elements(n)) args.push_back(read_expr(c));
    if (args.size() < min || args.size() > max) {
        if (min == max)
            fault(line_of(n), format_string("<%s> takes %zu arguments", element_name(n).c_str(), min));
        fault(line_of(n), format_string("<%s> takes at least %zu arguments", element_name(n).c_str(), min));
    }
    return args;
}

MExpr read_expr(const xmlNode* n) {
    const std::string e = element_name(n);
    MExpr x;
    x.line = line_of(n);
    constexpr size_t many = static_cast<size_t>(-1);
    if (e == "float" || e == "int") {
        x.value = parse_number(n, e == "int");
    } else if (e == "bool") {
        x.value = parse_bool(n) ? 1.0 : 0.0;
    } else if (e == "parameter") {
        x.kind = MExpr::Param;
        x.name = required(n, "name");
    } else if (e == "system-mission-time") {
        x.kind = MExpr::MissionTime;
    } else if (e == "add" || e == "sub" || e == "mul" || e == "div") {
        x.kind = e == "add" ? MExpr::Add : e == "sub" ? MExpr::Sub : e == "mul" ? MExpr::Mul : MExpr::Div;
        x.args = read_args(n, 2, many);
    } else if (e == "neg" || e == "exp" || e == "log" || e == "sqrt") {
        x.kind = e == "neg" ? MExpr::Neg : e == "exp" ? MExpr::Exp : e == "log" ? MExpr::Log : MExpr::Sqrt;
        x.args = read_args(n, 1, 1);
    } else if (e == "pow") {
        x.kind = MExpr::Pow;
        x.args = read_args(n, 2, 2);
    } else if (e == "exponential") {
        x.kind = MExpr::Exponential;
        x.args = read_args(n, 2, 2);
    } else if (e == "Weibull") {
        x.kind = MExpr::Weibull;
        x.args = read_args(n, 4, 4);
    } else {
        refuse_element(n);
    }
    return x;
}

// ------------------------------------------------------------ formulas

struct Formula {
    enum Kind { Ref, Const, And, Or, Not, Nand, Nor, Xor, Iff, Imply, Atleast };
    Kind kind = Ref;
    std::string ref_type;  // gate, basic-event, house-event, event
    std::string name;
    bool value = false;
    int k = 0;
    int line = 0;
    std::vector<Formula> args;
};

Formula read_formula(const xmlNode* n) {
    const std::string e = element_name(n);
    Formula f;
    f.line = line_of(n);
    static const std::map<std::string, Formula::Kind> ops = {
        {"and", Formula::And},   {"or", Formula::Or},   {"not", Formula::Not},   {"nand", Formula::Nand},
        {"nor", Formula::Nor},   {"xor", Formula::Xor}, {"iff", Formula::Iff},   {"imply", Formula::Imply},
        {"atleast", Formula::Atleast},
    };
    if (e == "gate" || e == "basic-event" || e == "house-event" || e == "event") {
        f.kind = Formula::Ref;
        f.ref_type = e;
        f.name = required(n, "name");
        return f;
    }
    if (e == "constant") {
        f.kind = Formula::Const;
        f.value = parse_bool(n);
        return f;
    }
    auto op = ops.find(e);
    if (op == ops.end()) refuse_element(n);
    f.kind = op->second;
    for (const xmlNode* c : elements(n)) f.args.push_back(read_formula(c));
    const size_t count = f.args.size();
    switch (f.kind) {
        case Formula::Not:
            if (count != 1) fault(f.line, "<not> takes exactly one argument");
            break;
        case Formula::Iff:
        case Formula::Imply:
            if (count != 2) fault(f.line, format_string("<%s> takes exactly two arguments", e.c_str()));
            break;
        case Formula::Atleast: {
            const std::string text = required(n, "min");
            char* end = nullptr;
            const long k = std::strtol(text.c_str(), &end, 10);
            if (end == text.c_str() || *end != '\0' || k < 1 || k > 1000000)
                fault(f.line, format_string("\"%s\" is not a valid minimum of <atleast>", text.c_str()));
            f.k = static_cast<int>(k);
            if (count < 1) fault(f.line, "<atleast> needs arguments");
            break;
        }
        default:
            if (count < 1) fault(f.line, format_string("<%s> needs arguments", e.c_str()));
            break;
    }
    return f;
}

// ------------------------------------------------------------ the file

struct GateDef {
    std::string name;
    int line = 0;
    int tree = -1;
    Formula formula;
};

struct EventDef {
    std::string name;
    int line = 0;
    std::optional<MExpr> expr;
};

struct HouseDef {
    std::string name;
    int line = 0;
    bool value = false;
};

struct ParamDef {
    std::string name;
    int line = 0;
    MExpr expr;
};

struct TreeDef {
    std::string name;
    int line = 0;
    std::vector<int> gates;  // indices into the gate list, in file order
};

struct MefFile {
    std::vector<TreeDef> trees;
    std::vector<GateDef> gates;
    std::vector<EventDef> events;
    std::vector<HouseDef> houses;
    std::vector<ParamDef> params;
    std::unordered_map<std::string, int> gate_index, event_index, house_index, param_index;
    // One namespace for gates, basic events and house events.
    std::unordered_map<std::string, int> event_line;
};

void add_event_name(MefFile& f, const std::string& name, int line) {
    auto [it, fresh] = f.event_line.emplace(name, line);
    if (!fresh) fault(line, format_string("\"%s\" is defined twice (first on line %d)", name.c_str(), it->second));
}

// The one formula of a gate or the one expression of an event or parameter;
// documentation elements before it are skipped.
std::vector<const xmlNode*> content(const xmlNode* n) {
    std::vector<const xmlNode*> out;
    for (const xmlNode* c : elements(n))
        if (!is_documentation(element_name(c))) out.push_back(c);
    return out;
}

void read_definition(MefFile& f, const xmlNode* n, int tree) {
    const std::string e = element_name(n);
    if (is_documentation(e)) return;
    const int line = line_of(n);
    if (e == "define-gate") {
        GateDef g;
        g.name = required(n, "name");
        g.line = line;
        g.tree = tree;
        std::vector<const xmlNode*> body = content(n);
        if (body.size() != 1) fault(line, format_string("gate \"%s\" needs exactly one formula", g.name.c_str()));
        g.formula = read_formula(body[0]);
        add_event_name(f, g.name, line);
        f.gate_index[g.name] = static_cast<int>(f.gates.size());
        if (tree >= 0) f.trees[static_cast<size_t>(tree)].gates.push_back(static_cast<int>(f.gates.size()));
        f.gates.push_back(std::move(g));
    } else if (e == "define-basic-event") {
        EventDef ev;
        ev.name = required(n, "name");
        ev.line = line;
        std::vector<const xmlNode*> body = content(n);
        if (body.size() > 1) fault(line, format_string("basic event \"%s\" has more than one expression", ev.name.c_str()));
        if (!body.empty()) ev.expr = read_expr(body[0]);
        add_event_name(f, ev.name, line);
        f.event_index[ev.name] = static_cast<int>(f.events.size());
        f.events.push_back(std::move(ev));
    } else if (e == "define-house-event") {
        HouseDef h;
        h.name = required(n, "name");
        h.line = line;
        std::vector<const xmlNode*> body = content(n);
        if (body.size() > 1) fault(line, format_string("house event \"%s\" has more than one value", h.name.c_str()));
        if (!body.empty()) {
            if (element_name(body[0]) != "constant") refuse_element(body[0]);
            h.value = parse_bool(body[0]);
        }
        add_event_name(f, h.name, line);
        f.house_index[h.name] = static_cast<int>(f.houses.size());
        f.houses.push_back(std::move(h));
    } else if (e == "define-parameter") {
        ParamDef p;
        p.name = required(n, "name");
        p.line = line;
        std::vector<const xmlNode*> body = content(n);
        if (body.size() != 1) fault(line, format_string("parameter \"%s\" needs exactly one expression", p.name.c_str()));
        p.expr = read_expr(body[0]);
        auto [it, fresh] = f.param_index.emplace(p.name, static_cast<int>(f.params.size()));
        if (!fresh)
            fault(line, format_string("parameter \"%s\" is defined twice (first on line %d)", p.name.c_str(),
                                      f.params[static_cast<size_t>(it->second)].line));
        f.params.push_back(std::move(p));
    } else {
        refuse_element(n);
    }
}

void read_file(MefFile& f, const xmlNode* root) {
    if (element_name(root) != "opsa-mef")
        fault(line_of(root), format_string("the root element is <%s>, not <opsa-mef>", element_name(root).c_str()));
    for (const xmlNode* n : elements(root)) {
        const std::string e = element_name(n);
        if (is_documentation(e)) continue;
        if (e == "define-fault-tree") {
            TreeDef t;
            t.name = required(n, "name");
            t.line = line_of(n);
            for (const TreeDef& other : f.trees)
                if (other.name == t.name)
                    fault(t.line, format_string("fault tree \"%s\" is defined twice", t.name.c_str()));
            const int index = static_cast<int>(f.trees.size());
            f.trees.push_back(std::move(t));
            for (const xmlNode* c : elements(n)) read_definition(f, c, index);
        } else if (e == "model-data") {
            for (const xmlNode* c : elements(n)) {
                const std::string ce = element_name(c);
                if (ce == "define-gate") fault(line_of(c), "element <define-gate> outside a fault tree");
                read_definition(f, c, -1);
            }
        } else {
            refuse_element(n);
        }
    }
    if (f.trees.empty()) fault(line_of(root), "the file defines no fault tree");
}

// ------------------------------------------------------------ names

std::string hash_suffix(const std::string& s) {
    std::uint32_t h = 2166136261u;
    for (unsigned char c : s) {
        h ^= c;
        h *= 16777619u;
    }
    return format_string("%08x", h);
}

}  // namespace

std::string mef_mapped_name(const std::string& original) {
    constexpr size_t kMax = 29;
    std::string s;
    for (unsigned char c : original) {
        const bool ok = std::isalnum(c) || c == '_' || c == '.';
        s += (ok && c < 128) ? static_cast<char>(c) : '_';
    }
    if (s.empty() || !std::isalpha(static_cast<unsigned char>(s[0]))) s = "n" + s;
    // A word that begins with "echo" or "ECHO" reads as an echo statement.
    if (s.compare(0, 4, "echo") == 0 || s.compare(0, 4, "ECHO") == 0) s = "n" + s;
    if (s.size() > kMax) s = s.substr(0, 20) + "_" + hash_suffix(original);
    if (lookup_keyword(s)) s += "_";
    return s;
}

namespace {

// Assigns the mapped names of one namespace and refuses two originals that
// end up with the same name.
class NameMap {
public:
    explicit NameMap(const char* what) : what_(what) {}

    const std::string& add(const std::string& original, int line) {
        auto it = mapped_.find(original);
        if (it != mapped_.end()) return it->second;
        std::string name = mef_mapped_name(original);
        auto [owner, fresh] = owners_.emplace(name, std::make_pair(original, line));
        if (!fresh)
            fault(line, format_string("the %s names \"%s\" (line %d) and \"%s\" both become \"%s\"", what_,
                                      owner->second.first.c_str(), owner->second.second, original.c_str(),
                                      name.c_str()));
        return mapped_.emplace(original, name).first->second;
    }
    const std::string& operator[](const std::string& original) const { return mapped_.at(original); }
    bool used(const std::string& name) const { return owners_.count(name) != 0; }
    // Reserves a name made by the reader itself (a helper gate).
    void reserve(const std::string& name) { owners_.emplace(name, std::make_pair(name, 0)); }

private:
    const char* what_;
    std::unordered_map<std::string, std::string> mapped_;
    std::unordered_map<std::string, std::pair<std::string, int>> owners_;
};

// A name of the file as it may be printed: control characters become '?'.
std::string printable(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return out;
}

std::string number_text(double v) {
    std::string s;
    for (int p = 15; p <= 17; ++p) {
        s = format_string("%.*g", p, v);
        if (std::strtod(s.c_str(), nullptr) == v) break;
    }
    if (v < 0) return "(" + s + ")";
    return s;
}

// ------------------------------------------------------------ translation

// Children before parents, from `start`, with an explicit stack (chains of
// references may be as long as the file). `cycle(i)` is called for a node
// reached again while it is open.
template <class Kids, class Cycle>
std::vector<int> post_order(int start, const Kids& kids, const Cycle& cycle, std::unordered_map<int, int>& state) {
    std::vector<int> order;
    struct Frame {
        int node;
        std::vector<int> kids;
        size_t next = 0;
    };
    if (state[start] == 2) return order;
    std::vector<Frame> stack;
    state[start] = 1;
    stack.push_back({start, kids(start)});
    while (!stack.empty()) {
        Frame& fr = stack.back();
        if (fr.next < fr.kids.size()) {
            const int c = fr.kids[fr.next++];
            int& st = state[c];
            if (st == 1) cycle(c);
            if (st == 0) {
                st = 1;
                std::vector<int> k = kids(c);
                stack.push_back({c, std::move(k)});
            }
            continue;
        }
        state[fr.node] = 2;
        order.push_back(fr.node);
        stack.pop_back();
    }
    return order;
}


class Translator {
public:
    Translator(const MefFile& f, const MefTakenNames& taken) : f_(f), taken_(taken) {}

    MefTranslation run() {
        MefTranslation out;
        map_names();
        write_parameters();
        for (size_t t = 0; t < f_.trees.size(); ++t) write_tree(static_cast<int>(t), out);
        out.crv = std::move(text_);
        out.parameters = std::move(renamed_parameters_);
        out.ok = true;
        return out;
    }

private:
    // Operand of a gate: a constant or a node of the system.
    struct Operand {
        int constant = -1;  // 0 or 1 for a constant, -1 for a node
        std::string node;
        bool operator==(const Operand& o) const { return constant == o.constant && node == o.node; }
    };
    static Operand constant(bool v) { return Operand{v ? 1 : 0, {}}; }

    void map_names() {
        for (const TreeDef& t : f_.trees) {
            const std::string& name = trees_.add(t.name, t.line);
            if (taken_.system && taken_.system(name))
                fault(t.line, format_string("a system named \"%s\" exists already", name.c_str()));
        }
        for (const GateDef& g : f_.gates) nodes_.add(g.name, g.line);
        for (const EventDef& e : f_.events) nodes_.add(e.name, e.line);
        for (const HouseDef& h : f_.houses) nodes_.add(h.name, h.line);
        for (const ParamDef& p : f_.params) {
            const std::string& name = params_.add(p.name, p.line);
            if (name != p.name) renamed_parameters_.push_back({name, printable(p.name)});
            if (taken_.symbol && taken_.symbol(name))
                fault(p.line, format_string("the parameter name \"%s\" is in use already", name.c_str()));
        }
    }

    // ---- parameters: values for the checks, written in dependency order

    void collect_params(const MExpr& x, std::vector<int>& out) const {
        if (x.kind == MExpr::Param) {
            auto it = f_.param_index.find(x.name);
            if (it == f_.param_index.end()) fault(x.line, format_string("undefined parameter \"%s\"", x.name.c_str()));
            out.push_back(it->second);
        }
        for (const MExpr& a : x.args) collect_params(a, out);
    }

    // Every parameter after the ones it uses, with its value for the checks.
    void write_parameters() {
        std::unordered_map<int, int> state;
        auto kids = [&](int i) {
            std::vector<int> k;
            collect_params(f_.params[static_cast<size_t>(i)].expr, k);
            return k;
        };
        auto cycle = [&](int i) {
            const ParamDef& p = f_.params[static_cast<size_t>(i)];
            fault(p.line, format_string("parameter \"%s\" depends on itself", p.name.c_str()));
        };
        for (size_t i = 0; i < f_.params.size(); ++i) {
            for (int j : post_order(static_cast<int>(i), kids, cycle, state)) {
                const ParamDef& p = f_.params[static_cast<size_t>(j)];
                value_[p.name] = evaluate(p.expr);
                text_ += format_string("var %s %s\n", params_[p.name].c_str(), expr_text(p.expr).c_str());
            }
        }
    }

    double evaluate(const MExpr& x) {
        auto arg = [&](size_t i) { return evaluate(x.args[i]); };
        double v = 0.0;
        switch (x.kind) {
            case MExpr::Num:
                return x.value;
            case MExpr::Param: {
                auto it = value_.find(x.name);
                if (it == value_.end()) fault(x.line, format_string("undefined parameter \"%s\"", x.name.c_str()));
                return it->second;
            }
            case MExpr::MissionTime:
                fault(x.line, "<system-mission-time> is accepted only as the time of <exponential> and <Weibull>");
            case MExpr::Add:
                for (size_t i = 0; i < x.args.size(); ++i) v += arg(i);
                break;
            case MExpr::Sub:
                v = arg(0);
                for (size_t i = 1; i < x.args.size(); ++i) v -= arg(i);
                break;
            case MExpr::Mul:
                v = 1.0;
                for (size_t i = 0; i < x.args.size(); ++i) v *= arg(i);
                break;
            case MExpr::Div:
                v = arg(0);
                for (size_t i = 1; i < x.args.size(); ++i) {
                    const double d = arg(i);
                    if (d == 0.0) fault(x.line, "division by zero");
                    v /= d;
                }
                break;
            case MExpr::Neg:
                return -arg(0);
            case MExpr::Exp:
                v = std::exp(arg(0));
                break;
            case MExpr::Log:
                v = arg(0);
                if (!(v > 0.0)) fault(x.line, "<log> of a number that is not positive");
                v = std::log(v);
                break;
            case MExpr::Sqrt:
                v = arg(0);
                if (v < 0.0) fault(x.line, "<sqrt> of a negative number");
                v = std::sqrt(v);
                break;
            case MExpr::Pow:
                v = std::pow(arg(0), arg(1));
                break;
            case MExpr::Exponential:
            case MExpr::Weibull:
                fault(x.line, "a distribution is accepted only as the whole expression of a basic event");
        }
        if (!std::isfinite(v)) fault(x.line, "the expression has no finite value");
        return v;
    }

    std::string expr_text(const MExpr& x) const {
        auto join = [&](const char* op) {
            std::string s = "(";
            for (size_t i = 0; i < x.args.size(); ++i) {
                if (i) s += op;
                s += expr_text(x.args[i]);
            }
            return s + ")";
        };
        switch (x.kind) {
            case MExpr::Num: return number_text(x.value);
            case MExpr::Param: return params_[x.name];
            case MExpr::Add: return join(" + ");
            case MExpr::Sub: return join(" - ");
            case MExpr::Mul: return join("*");
            case MExpr::Div: return join("/");
            case MExpr::Neg: return "(-" + expr_text(x.args[0]) + ")";
            case MExpr::Exp: return "(^(" + expr_text(x.args[0]) + "))";
            case MExpr::Log: return "ln(" + expr_text(x.args[0]) + ")";
            case MExpr::Sqrt: return "sqrt(" + expr_text(x.args[0]) + ")";
            case MExpr::Pow: return "((" + expr_text(x.args[0]) + ")^(" + expr_text(x.args[1]) + "))";
            default: return "0";
        }
    }

    // ---- basic events

    void require_mission_time(const MExpr& x, const char* what) {
        if (x.kind != MExpr::MissionTime)
            fault(x.line, format_string("the time of <%s> must be <system-mission-time>", what));
    }

    std::string event_distribution(const EventDef& e) {
        if (!e.expr) fault(e.line, format_string("basic event \"%s\" has no probability", e.name.c_str()));
        const MExpr& x = *e.expr;
        if (x.kind == MExpr::Exponential) {
            require_mission_time(x.args[1], "exponential");
            const double rate = evaluate(x.args[0]);
            if (rate < 0.0)
                fault(x.line, format_string("basic event \"%s\": the failure rate is negative", e.name.c_str()));
            return "exp(" + expr_text(x.args[0]) + ")";
        }
        if (x.kind == MExpr::Weibull) {
            // F(t) = 1 - exp(-(t/alpha)^beta): our weibull(b, c) is 1 - exp(-t^c / b).
            require_mission_time(x.args[3], "Weibull");
            const double alpha = evaluate(x.args[0]), beta = evaluate(x.args[1]), t0 = evaluate(x.args[2]);
            if (!(alpha > 0.0) || !(beta > 0.0))
                fault(x.line, format_string("basic event \"%s\": Weibull parameters must be positive", e.name.c_str()));
            if (t0 != 0.0)
                fault(x.args[2].line, format_string("basic event \"%s\": a Weibull time shift is not supported",
                                                    e.name.c_str()));
            const std::string a = expr_text(x.args[0]), b = expr_text(x.args[1]);
            return "weibull(((" + a + ")^(" + b + ")), " + b + ")";
        }
        const double p = evaluate(x);
        if (p < 0.0 || p > 1.0)
            fault(x.line, format_string("basic event \"%s\": probability %s is outside [0, 1]", e.name.c_str(),
                                        number_text(p).c_str()));
        return "prob(" + expr_text(x) + ")";
    }

    // ---- gates of one system

    std::string helper_name(const std::string& base) {
        for (int k = 1;; ++k) {
            const std::string suffix = "_" + std::to_string(k);
            std::string name = base.substr(0, std::min(base.size(), 29 - suffix.size())) + suffix;
            if (!nodes_.used(name)) {
                nodes_.reserve(name);
                return name;
            }
        }
    }

    // A new gate statement of the system.
    std::string emit(const char* keyword, const std::string& name, const std::vector<Operand>& kids,
                     const std::string& prefix = "") {
        std::string line = std::string(keyword) + " " + name + " " + prefix;
        for (size_t i = 0; i < kids.size(); ++i) {
            if (i) line += ' ';
            line += kids[i].node;
        }
        std::vector<std::string> inputs;
        inputs.reserve(kids.size());
        for (const Operand& k : kids) inputs.push_back(k.node);
        gate_lines_.push_back({name, line, std::move(inputs)});
        return name;
    }

    std::string node_name(const std::string& hint) { return hint.empty() ? helper_name(current_) : hint; }

    Operand negate(const Operand& a, const std::string& hint = "") {
        if (a.constant >= 0) return constant(a.constant == 0);
        if (hint.empty()) {
            auto it = negated_.find(a.node);
            if (it != negated_.end()) return Operand{-1, it->second};
        }
        const std::string name = emit("not", node_name(hint), {a});
        if (hint.empty()) negated_[a.node] = name;
        return Operand{-1, name};
    }

    // AND (or OR) of operands with the constants folded and repeats dropped;
    // `negated` writes the complement (nand, nor).
    Operand junction(bool is_and, std::vector<Operand> kids, bool negated, const std::string& hint) {
        std::vector<Operand> nodes;
        std::unordered_set<std::string> seen;
        for (const Operand& k : kids) {
            if (k.constant >= 0) {
                if ((k.constant == 0) == is_and) return negated ? constant(is_and) : constant(!is_and);
                continue;
            }
            if (seen.insert(k.node).second) nodes.push_back(k);
        }
        if (nodes.empty()) return negated ? constant(!is_and) : constant(is_and);
        if (nodes.size() == 1) return negated ? negate(nodes[0], hint) : nodes[0];
        const char* keyword = is_and ? (negated ? "nand" : "and") : (negated ? "nor" : "or");
        return Operand{-1, emit(keyword, node_name(hint), nodes)};
    }

    Operand at_least(int k, const std::vector<Operand>& kids, const std::string& hint) {
        std::vector<Operand> nodes;
        for (const Operand& o : kids) {
            if (o.constant == 1)
                --k;
            else if (o.constant == -1)
                nodes.push_back(o);
        }
        const int n = static_cast<int>(nodes.size());
        if (k <= 0) return constant(true);
        if (k > n) return constant(false);
        if (k == 1) return junction(false, nodes, false, hint);
        if (k == n) return junction(true, nodes, false, hint);
        return Operand{-1, emit("kofn", node_name(hint), nodes, format_string("%d, %d, ", k, n))};
    }

    Operand exclusive(const Operand& a, const Operand& b, const std::string& hint) {
        if (a.constant >= 0) return a.constant ? negate(b, hint) : b;
        if (b.constant >= 0) return b.constant ? negate(a, hint) : a;
        if (a == b) return constant(false);
        Operand left = junction(true, {a, negate(b)}, false, "");
        Operand right = junction(true, {negate(a), b}, false, "");
        return junction(false, {left, right}, false, hint);
    }

    Operand reference(const Formula& f) {
        const std::string& type = f.ref_type;
        const bool any = type == "event";
        if (type == "gate" || any) {
            auto it = f_.gate_index.find(f.name);
            if (it != f_.gate_index.end()) return gate(it->second);
        }
        if (type == "basic-event" || any) {
            auto it = f_.event_index.find(f.name);
            if (it != f_.event_index.end()) {
                const std::string& name = nodes_[f.name];
                if (used_events_.insert(it->second).second) event_order_.push_back(it->second);
                return Operand{-1, name};
            }
        }
        if (type == "house-event" || any) {
            auto it = f_.house_index.find(f.name);
            if (it != f_.house_index.end()) return constant(f_.houses[static_cast<size_t>(it->second)].value);
        }
        const char* what = any ? "event" : type == "gate" ? "gate" : type == "basic-event" ? "basic event" : "house event";
        fault(f.line, format_string("undefined %s \"%s\"", what, f.name.c_str()));
    }

    Operand formula(const Formula& f, const std::string& hint) {
        std::vector<Operand> kids;
        if (f.kind != Formula::Ref && f.kind != Formula::Const)
            for (const Formula& a : f.args) kids.push_back(formula(a, ""));
        switch (f.kind) {
            case Formula::Ref: return reference(f);
            case Formula::Const: return constant(f.value);
            case Formula::And: return junction(true, kids, false, hint);
            case Formula::Or: return junction(false, kids, false, hint);
            case Formula::Nand: return junction(true, kids, true, hint);
            case Formula::Nor: return junction(false, kids, true, hint);
            case Formula::Not: return negate(kids[0], hint);
            case Formula::Atleast: return at_least(f.k, kids, hint);
            case Formula::Imply: return junction(false, {negate(kids[0]), kids[1]}, false, hint);
            case Formula::Iff: {
                Operand x = exclusive(kids[0], kids[1], "");
                return negate(x, hint);
            }
            case Formula::Xor: {
                Operand acc = kids[0];
                for (size_t i = 1; i < kids.size(); ++i)
                    acc = exclusive(acc, kids[i], i + 1 == kids.size() ? hint : "");
                return acc;
            }
        }
        return constant(false);
    }

    Operand gate(int index) {
        auto done = lowered_.find(index);
        if (done != lowered_.end()) return done->second;
        const GateDef& g = f_.gates[static_cast<size_t>(index)];
        if (!visiting_.insert(index).second)
            fault(g.line, format_string("gate \"%s\" depends on itself", g.name.c_str()));
        const std::string saved = current_;
        current_ = nodes_[g.name];
        Operand result = formula(g.formula, current_);
        current_ = saved;
        visiting_.erase(index);
        lowered_[index] = result;
        return result;
    }

    void collect_references(const Formula& f, std::set<int>& referenced) const {
        if (f.kind == Formula::Ref && (f.ref_type == "gate" || f.ref_type == "event")) {
            auto it = f_.gate_index.find(f.name);
            if (it != f_.gate_index.end()) referenced.insert(it->second);
        }
        for (const Formula& a : f.args) collect_references(a, referenced);
    }

    void write_tree(int t, MefTranslation& out) {
        const TreeDef& tree = f_.trees[static_cast<size_t>(t)];
        if (tree.gates.empty()) fault(tree.line, format_string("fault tree \"%s\" has no gate", tree.name.c_str()));
        std::set<int> referenced;
        for (int g : tree.gates) collect_references(f_.gates[static_cast<size_t>(g)].formula, referenced);
        std::vector<int> tops;
        for (int g : tree.gates)
            if (!referenced.count(g)) tops.push_back(g);
        if (tops.empty())
            fault(tree.line, format_string("fault tree \"%s\" has no top gate (its gates form a cycle)", tree.name.c_str()));
        if (tops.size() > 1) {
            std::string list;
            for (size_t i = 0; i < tops.size() && i < 5; ++i)
                list += (i ? ", \"" : "\"") + f_.gates[static_cast<size_t>(tops[i])].name + "\"";
            if (tops.size() > 5) list += ", ...";
            fault(tree.line, format_string("fault tree \"%s\" has %zu top gates (%s); it needs exactly one",
                                           tree.name.c_str(), tops.size(), list.c_str()));
        }
        // Every system lowers its gates afresh: a gate of another tree that
        // it names becomes a gate of this system too.
        lowered_.clear();
        negated_.clear();
        gate_lines_.clear();
        event_order_.clear();
        used_events_.clear();
        const GateDef& top_gate = f_.gates[static_cast<size_t>(tops[0])];
        {
            // The gates below the top, children first, so that lowering a gate
            // finds the gates it names done.
            std::unordered_map<int, int> state;
            auto kids = [&](int g) {
                std::set<int> refs;
                collect_references(f_.gates[static_cast<size_t>(g)].formula, refs);
                std::vector<int> k;
                for (int r : refs) k.push_back(r);
                return k;
            };
            auto cycle = [&](int g) {
                const GateDef& d = f_.gates[static_cast<size_t>(g)];
                fault(d.line, format_string("gate \"%s\" depends on itself", d.name.c_str()));
            };
            for (int g : post_order(tops[0], kids, cycle, state)) gate(g);
        }
        const Operand top = gate(tops[0]);

        MefSystem sys;
        sys.name = trees_[tree.name];
        sys.original = printable(tree.name);
        text_ += format_string("ftree %s\n", sys.name.c_str());
        std::unordered_set<std::string> present;
        // Only the gates the top still uses are written: constants may have
        // cut gates off (an iff of a gate with itself), and a gate left over
        // could name the event that is written last, as the top. Every event
        // met stays a component of the system.
        std::unordered_set<std::string> reached;
        if (top.constant < 0) {
            std::unordered_map<std::string, const GateLine*> line_of_gate;
            for (const GateLine& g : gate_lines_) line_of_gate.emplace(g.name, &g);
            std::vector<std::string> stack{top.node};
            reached.insert(top.node);
            while (!stack.empty()) {
                const std::string n = std::move(stack.back());
                stack.pop_back();
                auto it = line_of_gate.find(n);
                if (it == line_of_gate.end()) continue;
                for (const std::string& k : it->second->inputs)
                    if (reached.insert(k).second) stack.push_back(k);
            }
        }
        // The top is the last statement: an event or a gate that the top gate
        // reduced to is moved there (its inputs are all written before it).
        std::string last;
        for (int e : event_order_) {
            const EventDef& ev = f_.events[static_cast<size_t>(e)];
            const std::string& name = nodes_[ev.name];
            present.insert(name);
            if (name != ev.name) sys.renamed.push_back({name, printable(ev.name)});
            std::string line = "repeat " + name + " " + event_distribution(ev) + "\n";
            if (top.constant < 0 && name == top.node)
                last = line;
            else
                text_ += line;
        }
        if (top.constant >= 0) {
            // A top that the house events decide: an event that certainly has
            // or has not occurred.
            last = format_string("repeat %s prob(%d)\n", nodes_[top_gate.name].c_str(), top.constant);
            present.insert(nodes_[top_gate.name]);
        }
        for (const auto& [name, line, inputs] : gate_lines_) {
            if (!reached.count(name)) continue;
            present.insert(name);
            if (top.constant < 0 && name == top.node)
                last = line + "\n";
            else
                text_ += line + "\n";
        }
        text_ += last;
        text_ += "end\n";
        for (const GateDef& g : f_.gates) {
            const std::string& name = nodes_[g.name];
            if (name != g.name && present.count(name)) sys.renamed.push_back({name, printable(g.name)});
        }
        out.systems.push_back(std::move(sys));
    }

    const MefFile& f_;
    const MefTakenNames& taken_;
    NameMap trees_{"fault tree"};
    NameMap nodes_{"event"};
    NameMap params_{"parameter"};
    std::unordered_map<std::string, double> value_;
    std::string text_;
    std::vector<MefRename> renamed_parameters_;

    std::string current_;                       // mapped name of the gate being lowered
    std::map<int, Operand> lowered_;            // gate index -> its operand in this system
    std::unordered_set<int> visiting_;
    std::unordered_map<std::string, std::string> negated_;
    struct GateLine {
        std::string name, line;
        std::vector<std::string> inputs;
    };
    std::vector<GateLine> gate_lines_;  // children before parents
    std::vector<int> event_order_;              // events in order of first use
    std::unordered_set<int> used_events_;
};

// The first error the XML parser reports; nothing goes to standard error.
struct FirstXmlError {
    bool set = false;
    int line = 0;
    std::string message;
};

extern "C" void record_xml_error(void* data, xmlErrorPtr e) {
    auto* first = static_cast<FirstXmlError*>(data);
    if (!e || first->set || e->level < XML_ERR_ERROR) return;
    first->set = true;
    first->line = e->line;
    first->message = e->message ? trim(e->message) : "not well-formed XML";
}

}  // namespace

MefTranslation translate_mef(std::string_view xml, const MefTakenNames& taken) {
    MefTranslation result;
    if (xml.size() > static_cast<size_t>(INT32_MAX)) {
        result.error = "the file is too large";
        return result;
    }
    FirstXmlError first;
    xmlSetStructuredErrorFunc(&first, record_xml_error);
    struct Restore {
        ~Restore() { xmlSetStructuredErrorFunc(nullptr, nullptr); }
    } restore;
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    if (!ctxt) {
        result.error = "out of memory";
        return result;
    }
    // No network, no external entities or DTDs.
    const int options = XML_PARSE_NONET | XML_PARSE_NOCDATA;
    xmlDocPtr doc = xmlCtxtReadMemory(ctxt, xml.data(), static_cast<int>(xml.size()), nullptr, nullptr, options);
    if (!doc || !ctxt->wellFormed || first.set) {
        result.error_line = first.line;
        result.error = "malformed XML: " + (first.set ? first.message : std::string("not well-formed XML"));
        if (doc) xmlFreeDoc(doc);
        xmlFreeParserCtxt(ctxt);
        return result;
    }
    try {
        const xmlNode* root = xmlDocGetRootElement(doc);
        if (!root) fault(0, "the file has no root element");
        MefFile file;
        read_file(file, root);
        result = Translator(file, taken).run();
    } catch (const MefFault& f) {
        result = MefTranslation{};
        result.error_line = f.line;
        result.error = f.what;
    }
    xmlFreeDoc(doc);
    xmlFreeParserCtxt(ctxt);
    return result;
}

}  // namespace corvel
