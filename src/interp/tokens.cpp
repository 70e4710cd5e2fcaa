#include "interp/tokens.h"

#include <cctype>
#include <unordered_map>

namespace corvel {

namespace {

const char* const kSpellings[] = {
    "end",
    "graph",
    "markov",
    "semimark",
    "block",
    "ftree",
    "relgraph",
    "pfqn",
    "mpfqn",
    "gspn",
    "srn",
    "pms",
    "mstree",
    "mrgp",
    "var",
    "func",
    "poly",
    "bind",
    "format",
    "imag",
    "verbose",
    "bdd",
    "ltimep",
    "rtimep",
    "help",
    "echo",
    "analyze",
    "loop",
    "while",
    "epsilon",
    "type",
    "phnew",
    "phold",
    "info",
    "include",
    "debug",
    "factor",
    "factorlimit",
    "default",
    "on",
    "off",
    "true",
    "false",
    "steadystate",
    "cdf",
    "lcdf",
    "mttf",
    "reward",
    "eval",
    "expr",
    "pqcdf",
    "mincuts",
    "minpaths",
    "fprempty",
    "fetok",
    "futil",
    "ftput",
    "if",
    "elseif",
    "else",
    "not",
    "and",
    "nand",
    "or",
    "nor",
    "exp",
    "sreward",
    "prob",
    "pcont",
    "pzero",
    "pinf",
    "mean",
    "variance",
    "value",
    "tvalue",
    "rmean",
    "rvariance",
    "exrss",
    "rvalue",
    "exrt",
    "cexrt",
    "tput",
    "rtime",
    "qlength",
    "util",
    "mtput",
    "mrtime",
    "mqlength",
    "mutil",
    "etok",
    "prempty",
    "premptyu",
    "etoku",
    "tputu",
    "utilu",
    "etokt",
    "premptyt",
    "tputt",
    "utilt",
    "tavetokt",
    "tavtputt",
    "sum",
    "sysprob",
    "ss_unavail",
    "simpt",
    "bimpt",
    "cimpt",
    "fastmttf",
    "lbound",
    "ubound",
    "transenabled",
    "is",
    "fcfs",
    "ps",
    "lcfspr",
    "ms",
    "lds",
    "chain",
    "ind",
    "dep",
    "gendep",
    "placedep",
    "Rate",
    "guard",
    "priority",
    "srn_exrss",
    "srn_exrt",
    "srn_cexrt",
    "srn_ave_cexrt",
    "srn_cexrinf",
    "mtta",
    "comp",
    "parallel",
    "series",
    "basic",
    "repeat",
    "transfer",
    "kofn",
    "nkofn",
    "bidirect",
    "dist",
    "exit",
    "multpath",
    "max",
    "min",
    "gen",
    "cgen",
    "tgen",
    "weibull",
    "zero",
    "inf",
    "cos",
    "sin",
    "none",
    "readprobs",
    "cond",
    "uncond",
    "fabs",
    "floor",
    "ceil",
    "ln",
    "sqrt",
    "tan",
    "asin",
    "acos",
    "atan",
    "epsilons",
    "constants",
    "uniform",
    "findeigen",
    "sorteigen",
    "results",
    "petri",
    "cube",
    "expo",
    "sor",
    "corth",
    "eigen",
    "alloc",
    "etrack",
    "ptrack",
    "eigen1",
    "eigen2",
    "voronoi",
    "reada",
    "readf",
    "truncate",
    "pathnum",
    "cutsetnum",
    "alpha",
    "beta",
    "runtime",
    "fvimpt",
    "rawimpt",
    "rrwimpt",
    "rankimpt",
};

std::unordered_map<std::string, Kw> build_table() {
    std::unordered_map<std::string, Kw> table;
    constexpr int count = sizeof(kSpellings) / sizeof(kSpellings[0]);
    for (int i = 0; i < count; ++i) {
        std::string lower = kSpellings[i];
        std::string upper = lower;
        for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        table.emplace(lower, static_cast<Kw>(i));
        table.emplace(upper, static_cast<Kw>(i));
    }
    // The rate keyword is capitalised; its all-lower spelling is an ordinary name.
    table.erase("rate");
    table.emplace("spgraph", Kw::Graph);
    table.emplace("SPGRAPH", Kw::Graph);
    return table;
}

}  // namespace

const char* keyword_spelling(Kw kw) { return kSpellings[static_cast<int>(kw)]; }

std::optional<Kw> lookup_keyword(std::string_view word) {
    static const std::unordered_map<std::string, Kw> table = build_table();
    auto it = table.find(std::string(word));
    if (it == table.end()) return std::nullopt;
    return it->second;
}

const char* token_kind_name(Tok kind) {
    switch (kind) {
        case Tok::EndOfInput: return "end of input";
        case Tok::Eol: return "end of line";
        case Tok::Comment: return "comment";
        case Tok::Blank: return "blank";
        case Tok::LParen: return "(";
        case Tok::RParen: return ")";
        case Tok::LBrace: return "{";
        case Tok::RBrace: return "}";
        case Tok::Comma: return ",";
        case Tok::Semicolon: return ";";
        case Tok::Colon: return ":";
        case Tok::Power: return "^";
        case Tok::Times: return "*";
        case Tok::Divide: return "/";
        case Tok::Plus: return "+";
        case Tok::Minus: return "-";
        case Tok::At: return "@";
        case Tok::Less: return "<";
        case Tok::Greater: return ">";
        case Tok::LessEq: return "<=";
        case Tok::GreaterEq: return ">=";
        case Tok::Equal: return "==";
        case Tok::NotEqual: return "<>";
        case Tok::Dollar: return "$";
        case Tok::Hash: return "#";
        case Tok::Question: return "?";
        case Tok::Integer: return "integer";
        case Tok::Real: return "real";
        case Tok::Name: return "name";
        case Tok::Echo: return "echo";
        case Tok::Other: return "character";
        case Tok::Keyword: return "keyword";
    }
    return "token";
}

}  // namespace corvel
