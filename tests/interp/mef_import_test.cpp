// The model exchange reader: random formulas of every gate kind (with house
// events and constants) translated, read and solved against enumeration;
// the refusals and their lines; the mapping of names.

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "../combinatorial/tree_run.h"
#include "interp/measures.h"
#include "interp/mef_import.h"

namespace corvel {

namespace {

// value(t; sys): the system solved the way every request solves it.
double value_at(TreeRun& r, const std::string& sys, double t) {
    MeasureCall call;
    call.kw = Kw::Value;
    call.keyword = "value";
    call.sys_name = sys;
    call.system = r.in.systems.find(sys);
    call.time = Expr::constant(t);
    try {
        return evaluate_measure(r.in, call);
    } catch (const ProgramExit& e) {
        r.status = e.status;
        return -1.0;
    }
}

MefTranslation translate(const std::string& body, const MefTakenNames& taken = {}) {
    return translate_mef("<?xml version=\"1.0\"?>\n<opsa-mef>\n" + body + "</opsa-mef>\n", taken);
}

// A random formula over events e0..e3 and two house events; `eval` mirrors it.
struct RandomFormula {
    std::mt19937& rng;
    std::string xml(int depth, std::string& kinds) {
        const int pick = static_cast<int>(rng() % (depth > 2 ? 3 : 12));
        if (pick == 0) return "<basic-event name=\"e" + std::to_string(rng() % 4) + "\"/>";
        if (pick == 1) return rng() % 2 ? "<house-event name=\"on\"/>" : "<house-event name=\"off\"/>";
        if (pick == 2) return rng() % 4 ? "<event name=\"e" + std::to_string(rng() % 4) + "\"/>"
                                        : std::string("<constant value=\"") + (rng() % 2 ? "true" : "false") + "\"/>";
        static const char* ops[] = {"and", "or", "not", "nand", "nor", "xor", "iff", "imply", "atleast"};
        const std::string op = ops[rng() % 9];
        kinds += op + " ";
        int n = op == "not" ? 1 : op == "iff" || op == "imply" ? 2 : 1 + static_cast<int>(rng() % 4);
        std::string head = "<" + op;
        if (op == "atleast") head += " min=\"" + std::to_string(1 + rng() % (n + 1)) + "\"";
        std::string s = head + ">";
        for (int i = 0; i < n; ++i) s += xml(depth + 1, kinds);
        return s + "</" + op + ">";
    }
};

// Evaluates the formula text of RandomFormula for one state of e0..e3.
struct Eval {
    const std::string& s;
    size_t pos = 0;
    unsigned state;
    std::string word() {
        size_t b = pos;
        while (pos < s.size() && (std::isalnum(static_cast<unsigned char>(s[pos])) || s[pos] == '-')) ++pos;
        return s.substr(b, pos - b);
    }
    std::string attr() {
        pos = s.find('"', pos) + 1;
        size_t e = s.find('"', pos);
        std::string v = s.substr(pos, e - pos);
        pos = e + 1;
        return v;
    }
    bool node() {
        ++pos;  // '<'
        const std::string tag = word();
        if (tag == "basic-event" || tag == "event") {
            const std::string n = attr();
            pos = s.find('>', pos) + 1;
            return (state >> (n[1] - '0')) & 1u;
        }
        if (tag == "house-event") {
            const std::string n = attr();
            pos = s.find('>', pos) + 1;
            return n == "on";
        }
        if (tag == "constant") {
            const std::string v = attr();
            pos = s.find('>', pos) + 1;
            return v == "true";
        }
        int k = 0;
        if (tag == "atleast") k = std::stoi(attr());
        pos = s.find('>', pos) + 1;
        std::vector<bool> v;
        while (s.compare(pos, 2, "</") != 0) v.push_back(node());
        pos = s.find('>', pos) + 1;
        int count = 0;
        for (bool b : v) count += b;
        const int n = static_cast<int>(v.size());
        if (tag == "and") return count == n;
        if (tag == "or") return count > 0;
        if (tag == "not") return !v[0];
        if (tag == "nand") return count != n;
        if (tag == "nor") return count == 0;
        if (tag == "xor") return count % 2 == 1;
        if (tag == "iff") return v[0] == v[1];
        if (tag == "imply") return !v[0] || v[1];
        return count >= k;
    }
};

}  // namespace

TEST(MefImport, RandomFormulasOfEveryKindEqualEnumeration) {
    std::mt19937 rng(7);
    const double p[4] = {0.1, 0.35, 0.5, 0.8};
    std::set<std::string> kinds_seen;
    int solved = 0;
    for (int trial = 0; trial < 120; ++trial) {
        std::string kinds;
        RandomFormula gen{rng};
        const std::string f = gen.xml(0, kinds);
        // A gate between the top and the formula so that the tree always has one.
        const std::string body = "<define-fault-tree name=\"t\">\n<define-gate name=\"top\"><or>" + f +
                                 "<constant value=\"false\"/></or></define-gate>\n</define-fault-tree>\n"
                                 "<model-data>\n<define-house-event name=\"on\"><constant value=\"true\"/>"
                                 "</define-house-event>\n<define-house-event name=\"off\"/>\n"
                                 "<define-basic-event name=\"e0\"><float value=\"0.1\"/></define-basic-event>\n"
                                 "<define-basic-event name=\"e1\"><float value=\"0.35\"/></define-basic-event>\n"
                                 "<define-basic-event name=\"e2\"><float value=\"0.5\"/></define-basic-event>\n"
                                 "<define-basic-event name=\"e3\"><float value=\"0.8\"/></define-basic-event>\n"
                                 "</model-data>\n";
        MefTranslation t = translate(body);
        ASSERT_TRUE(t.ok) << t.error << " line " << t.error_line << "\n" << body;
        double expected = 0.0;
        for (unsigned s = 0; s < 16; ++s) {
            double w = 1.0;
            for (int i = 0; i < 4; ++i) w *= (s >> i) & 1u ? p[i] : 1 - p[i];
            Eval e{f, 0, s};
            if (e.node()) expected += w;
        }
        TreeRun r(t.crv);
        ASSERT_EQ(r.status, 0) << t.crv << r.out;
        EXPECT_NEAR(value_at(r, "t", 1.0), expected, 1e-12) << f << "\n" << t.crv << r.out;
        for (size_t a = 0, b; (b = kinds.find(' ', a)) != std::string::npos; a = b + 1)
            kinds_seen.insert(kinds.substr(a, b - a));
        ++solved;
    }
    EXPECT_EQ(kinds_seen.size(), 9u);
    EXPECT_EQ(solved, 120);
}

TEST(MefImport, SharedGatesStaySharedAndEventsRepeat) {
    // Two parents name one gate; the gate is written once, and the shared
    // event makes the tree one with repeated events.
    MefTranslation t = translate(
        "<define-fault-tree name=\"t\">\n"
        "<define-gate name=\"top\"><and><gate name=\"g1\"/><gate name=\"g2\"/></and></define-gate>\n"
        "<define-gate name=\"g1\"><or><gate name=\"s\"/><basic-event name=\"a\"/></or></define-gate>\n"
        "<define-gate name=\"g2\"><or><gate name=\"s\"/><basic-event name=\"b\"/></or></define-gate>\n"
        "<define-gate name=\"s\"><and><basic-event name=\"a\"/><basic-event name=\"c\"/></and></define-gate>\n"
        "</define-fault-tree>\n<model-data>\n"
        "<define-basic-event name=\"a\"><float value=\"0.5\"/></define-basic-event>\n"
        "<define-basic-event name=\"b\"><float value=\"0.5\"/></define-basic-event>\n"
        "<define-basic-event name=\"c\"><float value=\"0.5\"/></define-basic-event>\n</model-data>\n");
    ASSERT_TRUE(t.ok) << t.error;
    size_t first = t.crv.find("and s ");
    ASSERT_NE(first, std::string::npos) << t.crv;
    EXPECT_EQ(t.crv.find("and s ", first + 1), std::string::npos) << t.crv;
    TreeRun r(t.crv);
    EXPECT_EQ(r.sys("t").type, kSysFtreeRepeated);
    // top = (a c + a)(a c + b) = a(ac + b) = a(b + c - bc): 0.5 * 0.75.
    EXPECT_NEAR(value_at(r, "t", 1.0), 0.375, 1e-12);
}

TEST(MefImport, RefusalsNameTheElementAndItsLine) {
    struct Case {
        std::string body;
        int line;
        std::string text;
    };
    const std::string tree = "<define-fault-tree name=\"t\">\n<define-gate name=\"g\"><or><basic-event name=\"a\"/>"
                             "<basic-event name=\"b\"/></or></define-gate>\n</define-fault-tree>\n";
    const std::string events = "<model-data>\n<define-basic-event name=\"a\"><float value=\"0.1\"/></define-basic-event>\n"
                               "<define-basic-event name=\"b\"><float value=\"0.2\"/></define-basic-event>\n</model-data>\n";
    const std::string b = "<define-basic-event name=\"b\"><float value=\"0.2\"/></define-basic-event>\n";
    const std::vector<Case> cases = {
        {"<define-initiating-event name=\"ie\"/>\n", 3, "element <define-initiating-event> is not supported (event trees"},
        {tree + "<model-data>\n<define-basic-event name=\"a\"><GLM/></define-basic-event>\n</model-data>\n", 7,
         "element <GLM> is not supported"},
        {"<define-fault-tree name=\"t\">\n<define-gate name=\"g\"><cardinality min=\"1\" max=\"2\"/></define-gate>\n"
         "</define-fault-tree>\n", 4, "element <cardinality> is not supported (cardinality gates"},
        {"<define-fault-tree name=\"t\">\n<define-component name=\"c\"/>\n</define-fault-tree>\n", 4,
         "element <define-component> is not supported"},
        {"<define-fault-tree>\n</define-fault-tree>\n", 3, "element <define-fault-tree> needs the attribute \"name\""},
        {"<define-fault-tree name=\"t\">\n<define-gate name=\"g\"><not><basic-event name=\"a\"/>"
         "<basic-event name=\"b\"/></not></define-gate>\n</define-fault-tree>\n" + events, 4,
         "<not> takes exactly one argument"},
        {"<define-fault-tree name=\"t\">\n<define-gate name=\"g\"><atleast min=\"x\"><basic-event name=\"a\"/>"
         "</atleast></define-gate>\n</define-fault-tree>\n", 4, "\"x\" is not a valid minimum of <atleast>"},
        {tree + "<model-data>\n<define-basic-event name=\"a\"><parameter name=\"q\"/></define-basic-event>\n"
                "<define-basic-event name=\"b\"><float value=\"0.2\"/></define-basic-event>\n</model-data>\n",
         7, "undefined parameter \"q\""},
        {"<model-data>\n<define-parameter name=\"p\"><parameter name=\"q\"/></define-parameter>\n"
         "<define-parameter name=\"q\"><mul><parameter name=\"p\"/><float value=\"2\"/></mul></define-parameter>\n"
         "</model-data>\n" + tree + events, 4, "parameter \"p\" depends on itself"},
        {"<model-data>\n<define-parameter name=\"p\"><div><float value=\"1\"/><int value=\"0\"/></div>"
         "</define-parameter>\n</model-data>\n" + tree + events, 4, "division by zero"},
        {tree + "<model-data>\n<define-basic-event name=\"a\"><mul><float value=\"0.1\"/><system-mission-time/></mul>"
                "</define-basic-event>\n" + b + "</model-data>\n", 7, "<system-mission-time> is accepted only as the time"},
        {tree + "<model-data>\n<define-basic-event name=\"a\"><Weibull><float value=\"1\"/><float value=\"2\"/>"
                "<float value=\"3\"/><system-mission-time/></Weibull></define-basic-event>\n" + b + "</model-data>\n",
         7, "a Weibull time shift is not supported"},
        {tree + "<model-data>\n<define-basic-event name=\"a\"><exponential><float value=\"-1\"/>"
                "<system-mission-time/></exponential></define-basic-event>\n" + b + "</model-data>\n", 7,
         "the failure rate is negative"},
        {tree + "<model-data>\n<define-basic-event name=\"a\"/>\n" + b + "</model-data>\n", 7, "basic event \"a\" has no probability"},
        {tree + events + "<model-data>\n<define-basic-event name=\"a\"><float value=\"0.3\"/></define-basic-event>\n"
                         "</model-data>\n", 11, "\"a\" is defined twice (first on line 7)"},
        {"<model-data>\n<define-gate name=\"g\"><or><basic-event name=\"a\"/></or></define-gate>\n</model-data>\n", 4,
         "element <define-gate> outside a fault tree"},
        {"<model-data/>\n", 2, "the file defines no fault tree"},
        {"<define-fault-tree name=\"t\">\n<define-basic-event name=\"a\"><float value=\"0.1\"/></define-basic-event>\n"
         "</define-fault-tree>\n", 3, "fault tree \"t\" has no gate"},
        {"<define-fault-tree name=\"t\">\n<define-gate name=\"g\">text<or><basic-event name=\"a\"/></or></define-gate>\n"
         "</define-fault-tree>\n", 4, "unexpected text inside <define-gate>"},
        {tree + "<model-data>\n<define-basic-event name=\"a\"><float value=\"1e999\"/></define-basic-event>\n"
                "</model-data>\n", 7, "\"1e999\" is not a valid float value"},
    };
    for (const Case& c : cases) {
        MefTranslation t = translate(c.body);
        EXPECT_FALSE(t.ok) << c.body;
        EXPECT_EQ(t.error_line, c.line) << c.body << t.error;
        EXPECT_NE(t.error.find(c.text), std::string::npos) << t.error;
    }
    MefTranslation root = translate_mef("<?xml version=\"1.0\"?>\n<model>\n</model>\n", {});
    EXPECT_FALSE(root.ok);
    EXPECT_EQ(root.error, "the root element is <model>, not <opsa-mef>");
    MefTranslation empty = translate_mef("", {});
    EXPECT_FALSE(empty.ok);
    EXPECT_EQ(empty.error.rfind("malformed XML: ", 0), 0u) << empty.error;
}

TEST(MefImport, NamesInUseOutsideTheFileAreRefused) {
    const std::string body = "<define-fault-tree name=\"plant\">\n<define-gate name=\"g\"><or><basic-event name=\"a\"/>"
                             "<basic-event name=\"b\"/></or></define-gate>\n</define-fault-tree>\n<model-data>\n"
                             "<define-parameter name=\"rate\"><float value=\"0.1\"/></define-parameter>\n"
                             "<define-basic-event name=\"a\"><parameter name=\"rate\"/></define-basic-event>\n"
                             "<define-basic-event name=\"b\"><float value=\"0.2\"/></define-basic-event>\n</model-data>\n";
    MefTakenNames system_taken;
    system_taken.system = [](const std::string& n) { return n == "plant"; };
    MefTranslation a = translate(body, system_taken);
    EXPECT_FALSE(a.ok);
    EXPECT_EQ(a.error, "a system named \"plant\" exists already");
    EXPECT_EQ(a.error_line, 3);
    MefTakenNames symbol_taken;
    symbol_taken.symbol = [](const std::string& n) { return n == "rate"; };
    MefTranslation b = translate(body, symbol_taken);
    EXPECT_FALSE(b.ok);
    EXPECT_EQ(b.error, "the parameter name \"rate\" is in use already");
    EXPECT_EQ(b.error_line, 7);
    // Loaded twice into one session: the second file clashes with the first.
    TreeRun r;
    MefTakenNames live;
    live.system = [&](const std::string& n) { return r.in.systems.find(n) >= 0; };
    live.symbol = [&](const std::string& n) { return r.in.symbols.find_symbol(n, SymbolTable::kLookup) >= 0; };
    MefTranslation first = translate(body, live);
    ASSERT_TRUE(first.ok) << first.error;
    r.run(first.crv);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_FALSE(translate(body, live).ok);
}

TEST(MefImport, MappedNamesAreValidDistinctAndStable) {
    EXPECT_EQ(mef_mapped_name("pump_1"), "pump_1");
    EXPECT_EQ(mef_mapped_name("g1.a"), "g1.a");
    EXPECT_EQ(mef_mapped_name("valve-A"), "valve_A");
    EXPECT_EQ(mef_mapped_name("2nd"), "n2nd");
    EXPECT_EQ(mef_mapped_name("_x"), "n_x");
    EXPECT_EQ(mef_mapped_name("or"), "or_");
    EXPECT_EQ(mef_mapped_name("END"), "END_");
    EXPECT_EQ(mef_mapped_name(""), "n");
    // Words that begin with echo read as echo statements in our language.
    EXPECT_EQ(mef_mapped_name("ECHOloss-of-cooling"), "nECHOloss_of_cooling");
    EXPECT_EQ(mef_mapped_name("echoes"), "nechoes");
    EXPECT_EQ(mef_mapped_name("Echo"), "Echo");
    const std::string a = "a-very-long-name-of-a-basic-event-one", b = "a-very-long-name-of-a-basic-event-two";
    EXPECT_LE(mef_mapped_name(a).size(), 29u);
    EXPECT_NE(mef_mapped_name(a), mef_mapped_name(b));
    EXPECT_EQ(mef_mapped_name(a), mef_mapped_name(a));
    EXPECT_EQ(mef_mapped_name(std::string(29, 'x')), std::string(29, 'x'));
    EXPECT_EQ(mef_mapped_name("p\xc3\xa9"), "p__");
}

}  // namespace corvel
