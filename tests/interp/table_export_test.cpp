// Tables saved with -csv and -svg: each file read back with parsers written
// here (RFC 4180 for the CSV, XML well-formedness for the plot) and compared
// with the table the program printed and with closed forms.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "interp/interpreter.h"
#include "interp/svg_plot.h"
#include "interp/table_export.h"

namespace corvel {
namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------- helpers

struct TempDir {
    fs::path path;
    TempDir() {
        std::string templ = (fs::temp_directory_path() / "corvel_tables_XXXXXX").string();
        char* made = mkdtemp(templ.data());
        EXPECT_NE(made, nullptr);
        path = templ;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

std::string read_file(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

// Runs a program text in batch mode; returns what it printed.
std::string run(const std::string& text, const std::string& csv_dir, const std::string& svg_dir) {
    std::string out;
    Interpreter in(&out);
    in.install_builtins();
    in.err.interactive = false;
    in.tables.csv_dir = csv_dir;
    in.tables.svg_dir = svg_dir;
    std::istringstream s(text);
    try {
        in.parse_stream(s, "t.crv");
    } catch (const ProgramExit& e) {
        ADD_FAILURE() << "run ended with status " << e.status << "\n" << out;
    }
    return out;
}

// RFC 4180: records end with CR LF; a field in quotes may hold commas, line
// breaks and doubled quotes.
std::vector<std::vector<std::string>> parse_csv(const std::string& text) {
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> record;
    std::string field;
    bool quoted = false, was_quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            EXPECT_TRUE(field.empty() && !was_quoted) << "quote inside an unquoted field";
            quoted = was_quoted = true;
        } else if (c == ',') {
            record.push_back(field);
            field.clear();
            was_quoted = false;
        } else if (c == '\r') {
            EXPECT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "CR without LF";
        } else if (c == '\n') {
            record.push_back(field);
            records.push_back(record);
            record.clear();
            field.clear();
            was_quoted = false;
        } else {
            field += c;
        }
    }
    EXPECT_FALSE(quoted) << "unterminated quoted field";
    EXPECT_TRUE(record.empty() && field.empty()) << "last record without line end";
    return records;
}

// A well-formedness check of an XML document without DTD: one root element,
// properly nested tags, quoted attributes without duplicates, known entities.
// Counts the elements by name.
struct XmlCheck {
    bool ok = true;
    std::string problem;
    std::map<std::string, int> elements;
    std::map<std::string, std::string> root_attributes;
};

XmlCheck check_xml(const std::string& s) {
    XmlCheck r;
    auto fail = [&](const std::string& why, std::size_t at) {
        if (r.ok) r.problem = why + " at " + std::to_string(at);
        r.ok = false;
    };
    auto name_char = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == ':' || c == '.'; };
    auto check_text = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) {
            if (s[i] == '<') fail("'<' in text", i);
            if (s[i] == '&') {
                std::size_t semi = s.find(';', i);
                const std::string ent = semi == std::string::npos ? "" : s.substr(i, semi - i + 1);
                if (ent != "&amp;" && ent != "&lt;" && ent != "&gt;" && ent != "&quot;" && ent != "&apos;")
                    fail("unknown entity", i);
            }
        }
    };
    std::vector<std::string> open;
    bool root_seen = false;
    std::size_t i = 0;
    if (s.rfind("<?xml", 0) == 0) {
        i = s.find("?>");
        if (i == std::string::npos) fail("unterminated declaration", 0);
        i += 2;
    }
    while (r.ok && i < s.size()) {
        std::size_t lt = s.find('<', i);
        const std::size_t text_end = lt == std::string::npos ? s.size() : lt;
        check_text(i, text_end);
        if (open.empty())
            for (std::size_t k = i; k < text_end; ++k)
                if (!std::isspace(static_cast<unsigned char>(s[k]))) fail("text outside the root", k);
        if (lt == std::string::npos) break;
        std::size_t gt = s.find('>', lt);
        if (gt == std::string::npos) {
            fail("unterminated tag", lt);
            break;
        }
        std::string tag = s.substr(lt + 1, gt - lt - 1);
        if (tag.rfind("!--", 0) == 0) {
            i = s.find("-->", lt) + 3;
            continue;
        }
        if (!tag.empty() && tag[0] == '/') {
            const std::string name = tag.substr(1);
            if (open.empty() || open.back() != name) fail("mismatched end tag " + name, lt);
            else open.pop_back();
            i = gt + 1;
            continue;
        }
        const bool empty = !tag.empty() && tag.back() == '/';
        if (empty) tag.pop_back();
        std::size_t k = 0;
        while (k < tag.size() && name_char(tag[k])) ++k;
        const std::string name = tag.substr(0, k);
        if (name.empty()) fail("tag without name", lt);
        if (open.empty()) {
            if (root_seen) fail("second root element", lt);
            root_seen = true;
        }
        std::map<std::string, std::string> attrs;
        while (r.ok) {
            while (k < tag.size() && std::isspace(static_cast<unsigned char>(tag[k]))) ++k;
            if (k >= tag.size()) break;
            std::size_t a = k;
            while (k < tag.size() && name_char(tag[k])) ++k;
            const std::string attr = tag.substr(a, k - a);
            if (attr.empty() || k >= tag.size() || tag[k] != '=' || k + 1 >= tag.size() ||
                (tag[k + 1] != '"' && tag[k + 1] != '\'')) {
                fail("bad attribute in <" + name + ">", lt);
                break;
            }
            const char q = tag[k + 1];
            const std::size_t close = tag.find(q, k + 2);
            if (close == std::string::npos) {
                fail("unterminated attribute value", lt);
                break;
            }
            if (attrs.count(attr)) fail("duplicate attribute " + attr, lt);
            attrs[attr] = tag.substr(k + 2, close - k - 2);
            if (attrs[attr].find('<') != std::string::npos) fail("'<' in attribute", lt);
            k = close + 1;
        }
        if (open.empty()) r.root_attributes = attrs;
        ++r.elements[name];
        if (!empty) open.push_back(name);
        i = gt + 1;
    }
    if (!open.empty()) fail("unclosed element " + open.back(), s.size());
    if (!root_seen) fail("no root element", 0);
    return r;
}

// The printed tables: for each block of columns, the titles found in its
// header line (from the titles a CSV file names) and its rows of entries.
// An entry " 1.2345 e-01 " is read as the text "1.2345e-01".
struct PrintedBlock {
    std::vector<std::string> titles;
    std::vector<std::vector<std::string>> rows;  // entries, the point first
};

std::vector<std::string> entries_of(const std::string& line) {
    std::vector<std::string> words, joined;
    std::istringstream s(line);
    for (std::string w; s >> w;) words.push_back(w);
    for (const std::string& w : words) {
        if (!joined.empty() && (w.rfind("e+", 0) == 0 || w.rfind("e-", 0) == 0))
            joined.back() += w;
        else
            joined.push_back(w);
    }
    return joined;
}

bool is_number_row(const std::string& line) {
    std::vector<std::string> e = entries_of(line);
    if (e.empty()) return false;
    for (const std::string& x : e) {
        char* end = nullptr;
        std::strtod(x.c_str(), &end);
        if (end == x.c_str() || *end != '\0') return false;
    }
    return true;
}

// The blocks after the `nth` "      system NAME" title of the output.
std::vector<PrintedBlock> printed_blocks(const std::string& out, const std::string& system, int nth,
                                         const std::vector<std::string>& csv_header) {
    std::istringstream s(out);
    std::vector<std::string> lines;
    for (std::string l; std::getline(s, l);) lines.push_back(l);
    std::size_t at = 0;
    int seen = 0;
    for (; at < lines.size(); ++at)
        if (lines[at] == "      system " + system && ++seen == nth) break;
    std::vector<PrintedBlock> blocks;
    for (std::size_t i = at + 1; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        if (l.rfind("------", 0) == 0 || l.rfind("      system ", 0) == 0) break;
        if (is_number_row(l)) {
            if (!blocks.empty()) blocks.back().rows.push_back(entries_of(l));
            continue;
        }
        // A header: the variable first, then the titles in order.
        std::size_t pos = l.find(csv_header[0]);
        if (pos == std::string::npos || l.find_first_not_of(' ') != pos) continue;
        PrintedBlock b;
        pos += csv_header[0].size();
        for (std::size_t c = 1; c < csv_header.size(); ++c) {
            std::size_t found = l.find(csv_header[c], pos);
            if (found == std::string::npos) continue;
            b.titles.push_back(csv_header[c]);
            pos = found + csv_header[c].size();
        }
        if (!b.titles.empty()) blocks.push_back(b);
    }
    return blocks;
}

// Every printed entry equals the CSV value printed with the same digits, and
// every column of the CSV was printed.
void expect_csv_matches_print(const std::string& out, const std::string& system, int nth,
                              const std::vector<std::vector<std::string>>& csv, int precision = 4) {
    ASSERT_GE(csv.size(), 2u);
    const std::vector<std::string>& header = csv[0];
    std::vector<PrintedBlock> blocks = printed_blocks(out, system, nth, header);
    ASSERT_FALSE(blocks.empty()) << out;
    std::vector<int> printed_columns(header.size(), 0);
    for (const PrintedBlock& b : blocks) {
        ASSERT_EQ(b.rows.size(), csv.size() - 1) << "rows of a block";
        for (std::size_t r = 0; r < b.rows.size(); ++r) {
            const std::vector<std::string>& row = b.rows[r];
            ASSERT_EQ(row.size(), b.titles.size() + 1) << out;
            const std::vector<std::string>& rec = csv[r + 1];
            ASSERT_EQ(rec.size(), header.size());
            char text[64];
            std::snprintf(text, sizeof text, "%.*e", precision, std::strtod(rec[0].c_str(), nullptr));
            EXPECT_EQ(row[0], text) << "point of row " << r;
            for (std::size_t c = 0; c < b.titles.size(); ++c) {
                std::size_t col = 0;
                while (header[col] != b.titles[c]) ++col;
                std::snprintf(text, sizeof text, "%.*e", precision, std::strtod(rec[col].c_str(), nullptr));
                EXPECT_EQ(row[c + 1], text) << b.titles[c] << " row " << r;
                if (r == 0) ++printed_columns[col];
            }
        }
    }
    for (std::size_t c = 1; c < header.size(); ++c) EXPECT_EQ(printed_columns[c], 1) << header[c];
}

double csv_value(const std::vector<std::vector<std::string>>& csv, std::size_t row, std::size_t col) {
    return std::strtod(csv.at(row + 1).at(col).c_str(), nullptr);
}

const char* const kBlock =
    "block plant\ncomp a exp(1)\ncomp b exp(2)\nseries top a b\nend\n";

const char* const kMultpath =
    "graph g\na b\na c\nb d\nc d\nend\n"
    "dist a exp(1)\ndist b exp(2)\ndist c exp(3)\ndist d zero\n"
    "exit a prob\nprob a b 0.3\nprob a c 0.7\nmultpath\nend\n";

// Two-state availability net: P(up at t) = 2/3 + e^(-3t)/3.
const char* const kNet =
    "gspn av\nup 1\ndown 0\nend\nfail ind 1\nrepair ind 2\nend\nend\n"
    "fail down 1\nrepair up 1\nend\nup fail 1\ndown repair 1\nend\nend\n";

// ----------------------------------------------------------------- tests

TEST(TableCsv, EveryKindOfTableIsSavedWithThePrintedValuesAndTitles) {
    TempDir dir;
    const std::string text = std::string(kBlock) + kMultpath + kNet +
                             "eval(plant) 0 2 0.25\n"
                             "eval(g) 0 1 0.5\n"
                             "eval(av, up) 0 2 0.5 etokt\n"
                             "eval(plant) 1 1.5 0.5\n";
    const std::string out = run(text, dir.path.string(), "");
    // One running number over the run; the node is part of the name.
    for (const char* name : {"plant_1.csv", "g_2.csv", "av_up_3.csv", "plant_4.csv"})
        EXPECT_TRUE(fs::exists(dir.path / name)) << name;

    // Series of exp(1) and exp(2): F(t) = 1 - e^(-3t).
    auto plant = parse_csv(read_file(dir.path / "plant_1.csv"));
    ASSERT_EQ(plant.size(), 10u);
    EXPECT_EQ(plant[0], (std::vector<std::string>{"t", "F(t)"}));
    for (std::size_t r = 0; r < 9; ++r) {
        const double t = 0.25 * static_cast<double>(r);
        EXPECT_NEAR(csv_value(plant, r, 0), t, 1e-15);
        EXPECT_NEAR(csv_value(plant, r, 1), 1 - std::exp(-3 * t), 1e-12);
    }
    expect_csv_matches_print(out, "plant", 1, plant);

    // Path columns: a then b (rates 1, 2) with probability 0.3, a then c
    // (rates 1, 3) with 0.7; each path's CDF is that of the sum of two
    // exponentials, 1 - (m e^(-l t) - l e^(-m t))/(m - l).
    auto g = parse_csv(read_file(dir.path / "g_2.csv"));
    ASSERT_EQ(g.size(), 4u);
    EXPECT_EQ(g[0], (std::vector<std::string>{"t", "path   1", "path   2", "overall"}));
    auto hypo = [](double l, double m, double t) { return 1 - (m * std::exp(-l * t) - l * std::exp(-m * t)) / (m - l); };
    for (std::size_t r = 0; r < 3; ++r) {
        const double t = 0.5 * static_cast<double>(r);
        EXPECT_NEAR(csv_value(g, r, 1), hypo(1, 2, t), 1e-12);
        EXPECT_NEAR(csv_value(g, r, 2), hypo(1, 3, t), 1e-12);
        EXPECT_NEAR(csv_value(g, r, 3), 0.3 * hypo(1, 2, t) + 0.7 * hypo(1, 3, t), 1e-12);
    }
    expect_csv_matches_print(out, "g", 1, g);

    auto av = parse_csv(read_file(dir.path / "av_up_3.csv"));
    ASSERT_EQ(av.size(), 6u);
    EXPECT_EQ(av[0], (std::vector<std::string>{"t", "expected number of tokens at t"}));
    for (std::size_t r = 0; r < 5; ++r) {
        const double t = 0.5 * static_cast<double>(r);
        EXPECT_NEAR(csv_value(av, r, 1), 2.0 / 3 + std::exp(-3 * t) / 3, 1e-9);
    }
    expect_csv_matches_print(out, "av", 1, av);

    auto again = parse_csv(read_file(dir.path / "plant_4.csv"));
    ASSERT_EQ(again.size(), 3u);
    EXPECT_NEAR(csv_value(again, 1, 1), 1 - std::exp(-4.5), 1e-12);
    expect_csv_matches_print(out, "plant", 2, again);

    // Saving the tables changes nothing that is printed.
    EXPECT_EQ(out, run(text, "", ""));
}

TEST(TableCsv, ChainTablesOfRewardsAndStatesAreSavedToo) {
    TempDir dir;
    // a -> b at rate 1, b -> c at rate 2, reward rates 1 in a and 2 in b:
    // P(a, t) = e^(-t), P(b, t) = e^(-t) - e^(-2t); the reward until
    // absorption is the sum of two unit exponentials, F(r) = 1 - e^(-r)(1 + r);
    // the expected reward rate at t is 3e^(-t) - 2e^(-2t).
    const std::string text =
        "markov acyc\na b 1\nb c 2\nreward\na 1\nb 2\nend\na 1\nend\n"
        "eval(acyc) 0 2 0.5 reward\neval(acyc, b) 0 2 0.5\neval(acyc) 0 2 0.5 exrt\n";
    const std::string out = run(text, dir.path.string(), "");
    auto reward = parse_csv(read_file(dir.path / "acyc_1.csv"));
    auto state = parse_csv(read_file(dir.path / "acyc_b_2.csv"));
    auto rate = parse_csv(read_file(dir.path / "acyc_3.csv"));
    ASSERT_EQ(reward.size(), 6u);
    ASSERT_EQ(state.size(), 6u);
    ASSERT_EQ(rate.size(), 6u);
    EXPECT_EQ(reward[0], (std::vector<std::string>{"r", "F(r)"}));
    EXPECT_EQ(state[0], (std::vector<std::string>{"t", "F(t)"}));
    EXPECT_EQ(rate[0], (std::vector<std::string>{"t", "expected reward at t"}));
    for (std::size_t r = 0; r < 5; ++r) {
        const double x = 0.5 * static_cast<double>(r);
        EXPECT_NEAR(csv_value(reward, r, 1), 1 - std::exp(-x) * (1 + x), 1e-10);
        EXPECT_NEAR(csv_value(state, r, 1), std::exp(-x) - std::exp(-2 * x), 1e-10);
        EXPECT_NEAR(csv_value(rate, r, 1), 3 * std::exp(-x) - 2 * std::exp(-2 * x), 1e-9);
    }
    expect_csv_matches_print(out, "acyc", 1, reward);
    expect_csv_matches_print(out, "acyc", 2, state);
    expect_csv_matches_print(out, "acyc", 3, rate);
}

TEST(TableCsv, ColumnsSplitIntoSeveralPrintedBlocksStayInOneFile) {
    TempDir dir;
    // Three paths at 8 digits: two path columns fit beside t, so the table is
    // printed in two blocks.
    const std::string text =
        "format 8\n"
        "graph h\na b\na c\na e\nb d\nc d\ne d\nend\n"
        "dist a exp(1)\ndist b exp(2)\ndist c exp(3)\ndist e exp(5)\ndist d zero\n"
        "exit a prob\nprob a b 0.2\nprob a c 0.3\nprob a e 0.5\nmultpath\nend\n"
        "eval(h) 0 1 0.25\n";
    const std::string out = run(text, dir.path.string(), "");
    auto h = parse_csv(read_file(dir.path / "h_1.csv"));
    ASSERT_EQ(h.size(), 6u);
    ASSERT_EQ(h[0], (std::vector<std::string>{"t", "path   1", "path   2", "path   3", "overall"}));
    std::vector<PrintedBlock> blocks = printed_blocks(out, "h", 1, h[0]);
    EXPECT_EQ(blocks.size(), 2u) << out;
    expect_csv_matches_print(out, "h", 1, h, 8);
    // %.17g keeps every digit: the overall column is the weighted sum of the
    // path columns to rounding.
    for (std::size_t r = 0; r < 5; ++r)
        EXPECT_NEAR(csv_value(h, r, 4),
                    0.2 * csv_value(h, r, 1) + 0.3 * csv_value(h, r, 2) + 0.5 * csv_value(h, r, 3), 1e-14);
}

TEST(TableCsv, FieldsAreQuotedAndNumbersKeepFullPrecision) {
    TableRecord t;
    t.set_variable("t");
    t.set_title(0, "a, \"b\"");
    t.set_title(1, "line\nbreak");
    t.set_value(0, 0, 0.1, 1.0 / 3.0);
    t.set_value(1, 0, 0.1, -2.5e-300);
    t.set_value(0, 1, 0.2, 0.0);  // column 1 of row 1 never set
    const std::string text = csv_text(t);
    auto rec = parse_csv(text);
    ASSERT_EQ(rec.size(), 3u);
    EXPECT_EQ(rec[0], (std::vector<std::string>{"t", "a, \"b\"", "line\nbreak"}));
    // The numbers read back bit for bit.
    EXPECT_EQ(std::strtod(rec[1][0].c_str(), nullptr), 0.1);
    EXPECT_EQ(std::strtod(rec[1][1].c_str(), nullptr), 1.0 / 3.0);
    EXPECT_EQ(std::strtod(rec[1][2].c_str(), nullptr), -2.5e-300);
    EXPECT_TRUE(std::isnan(std::strtod(rec[2][2].c_str(), nullptr)));
    EXPECT_EQ(csv_field("plain"), "plain");
}

TEST(TableFiles, NamesStayInsideTheirFolder) {
    EXPECT_EQ(table_file_stem("plant", std::nullopt, 1), "plant_1");
    EXPECT_EQ(table_file_stem("net", std::string_view("q"), 2), "net_q_2");
    EXPECT_EQ(table_file_stem("../up", std::string_view("a/b c"), 3), "___up_a_b_c_3");
}

TEST(TableFiles, AFileThatCannotBeWrittenIsAWarningAndTheRunGoesOn) {
    TempDir dir;
    const fs::path blocker = dir.path / "not_a_folder";
    std::ofstream(blocker) << "x";
    const std::string bad = (blocker / "tables").string();
    const std::string text = std::string(kBlock) + "eval(plant) 0 1 0.5\nexpr mean(plant)\n";
    testing::internal::CaptureStderr();
    const std::string out = run(text, bad, (dir.path / "svg").string());
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("warning: cannot write table file " + (blocker / "tables" / "plant_1.csv").string()),
              std::string::npos)
        << err;
    // The plot folder works; the statement after the table still runs and
    // nothing printed changes.
    EXPECT_TRUE(fs::exists(dir.path / "svg" / "plant_1.svg"));
    EXPECT_EQ(out, run(text, "", ""));
    EXPECT_NE(out.find("mean(plant):"), std::string::npos);
}

TEST(TableSvg, EachPlotIsWellFormedWithALinePerColumn) {
    TempDir dir;
    const std::string text = std::string(kBlock) + kMultpath + kNet +
                             "eval(plant) 0 2 0.25\neval(g) 0 1 0.5\neval(av, up) 0 2 0.5 etokt\n"
                             "eval(plant) 1 1 0\n";
    run(text, "", dir.path.string());
    struct Expected {
        const char* file;
        int lines;
        const char* title;
    };
    for (const Expected& e : {Expected{"plant_1.svg", 1, "system plant"}, Expected{"g_2.svg", 3, "system g"},
                              Expected{"av_up_3.svg", 1, "system av, node up"},
                              Expected{"plant_4.svg", 1, "system plant"}}) {
        const std::string svg = read_file(dir.path / e.file);
        XmlCheck x = check_xml(svg);
        EXPECT_TRUE(x.ok) << e.file << ": " << x.problem;
        EXPECT_EQ(x.elements["svg"], 1) << e.file;
        EXPECT_EQ(x.elements["polyline"], e.lines) << e.file;
        EXPECT_EQ(x.root_attributes["width"], "800");
        EXPECT_EQ(x.root_attributes["height"], "500");
        EXPECT_NE(svg.find(std::string("<title>") + e.title + "</title>"), std::string::npos) << e.file;
        // Self-contained: nothing loaded from elsewhere, no scripts.
        EXPECT_EQ(svg.find("<script"), std::string::npos);
        EXPECT_EQ(svg.find("href"), std::string::npos);
        EXPECT_EQ(svg.find("@import"), std::string::npos);
    }
    // The one-point table marks its point, as a line needs two.
    EXPECT_EQ(check_xml(read_file(dir.path / "plant_4.svg")).elements["circle"], 1);
}

TEST(TableSvg, TitlesAreEscapedAndOddValuesStayOutOfThePlot) {
    TableRecord t;
    t.set_variable("t");
    t.set_title(0, "a<b & \"c\"");
    t.set_title(1, "no values");
    for (std::size_t r = 0; r < 4; ++r) {
        t.set_value(0, r, static_cast<double>(r), r == 2 ? std::nan("") : static_cast<double>(r * r));
        t.set_value(1, r, static_cast<double>(r), std::nan(""));
    }
    const std::string svg = svg_plot(t, "system <x>", "F(t)");
    XmlCheck x = check_xml(svg);
    EXPECT_TRUE(x.ok) << x.problem;
    EXPECT_EQ(x.elements["polyline"], 2);
    EXPECT_NE(svg.find("a&lt;b &amp; &quot;c&quot;"), std::string::npos);
    EXPECT_EQ(svg.find("nan"), std::string::npos);
    EXPECT_EQ(svg.find("inf"), std::string::npos);
}

TEST(TableSvg, AxisTicksAreRoundAndCoverTheRange) {
    struct Case {
        double low, high;
    };
    for (Case c : {Case{0, 1}, Case{0, 5000}, Case{0.2, 0.2}, Case{-3e-7, 4e-7}, Case{0, 0}, Case{1e6, 1e6 + 1},
                   Case{std::nan(""), 1}, Case{5, 1}}) {
        AxisTicks a = axis_ticks(c.low, c.high, 5);
        ASSERT_GE(a.ticks.size(), 2u) << c.low << " " << c.high;
        EXPECT_LT(a.low, a.high);
        EXPECT_LE(a.ticks.size(), 12u);
        // The step is 1, 2 or 5 times a power of ten.
        const double m = a.step / std::pow(10.0, std::floor(std::log10(a.step)));
        EXPECT_TRUE(std::fabs(m - 1) < 1e-9 || std::fabs(m - 2) < 1e-9 || std::fabs(m - 5) < 1e-9) << a.step;
        for (double v : a.ticks) {
            EXPECT_GE(v, a.low - a.step * 1e-6);
            EXPECT_LE(v, a.high + a.step * 1e-6);
            EXPECT_NEAR(v / a.step, std::round(v / a.step), 1e-6);
        }
        if (std::isfinite(c.low) && c.low <= c.high) {
            EXPECT_LE(a.low, c.low);
            EXPECT_GE(a.high, c.high);
        }
    }
}

}  // namespace
}  // namespace corvel
