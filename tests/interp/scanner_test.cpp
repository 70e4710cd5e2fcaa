#include "interp/scanner.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace corvel {
namespace {

namespace fs = std::filesystem;

struct Scan {
    std::string captured;
    Output out{&captured};
    ErrorReporter err{out};
    Scanner scanner{err, out};
    std::istringstream in;

    explicit Scan(const std::string& text, std::string name = "STDIN") : in(text) {
        scanner.open_main(in, std::move(name));
        err.location_source = [this] { return scanner.location(); };
    }

    // The tokens up to the end of the main input, one word each: "N:x" for a
    // name, K keyword, I integer, R real, E echo, O other character, C comment,
    // B blank, "$" end of line, and the bare text of punctuation. With `lines`
    // each word is followed by "@" and the token's line.
    std::string all(bool lines = false) {
        std::string result;
        for (Token t = scanner.next(); t.kind != Tok::EndOfInput; t = scanner.next()) {
            static const std::pair<Tok, const char*> tags[] = {
                {Tok::Name, "N:"}, {Tok::Keyword, "K:"}, {Tok::Integer, "I:"}, {Tok::Real, "R:"},
                {Tok::Echo, "E:"}, {Tok::Other, "O:"},   {Tok::Comment, "C:"}, {Tok::Blank, "B:"}};
            std::string word = t.kind == Tok::Eol ? "$" : t.text;
            for (const auto& [kind, tag] : tags)
                if (t.kind == kind) word = tag + t.text;
            if (lines) word += "@" + std::to_string(t.line);
            result += (result.empty() ? "" : " ") + word;
        }
        return result;
    }
};

int exit_status(Scan& s) {
    try {
        s.all();
    } catch (const ProgramExit& exit) {
        return exit.status;
    }
    return 0;
}

class TempDir {
public:
    TempDir() : path_(fs::temp_directory_path() / ("corvel_scan_" + std::to_string(std::random_device{}()))) {
        fs::create_directories(path_);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string write(const std::string& name, const std::string& text) const {
        std::ofstream(path_ / name, std::ios::binary) << text;
        return (path_ / name).string();
    }

    // d1 .. d<depth>, each including the next; the last holds "deep". Returns d1.
    std::string chain(int depth) const {
        std::string next = write("d" + std::to_string(depth), "deep\n");
        for (int k = depth - 1; k >= 1; --k) next = write("d" + std::to_string(k), "include " + next + "\n");
        return next;
    }

private:
    fs::path path_;
};

TEST(Scanner, WordsKeywordsAndNumbers) {
    Scan kw("Markov x markov MARKOV markov2 markov: rate Rate RATE spgraph ss_unavail");
    EXPECT_EQ(kw.all(), "N:Markov N:x K:markov K:MARKOV N:markov2 N:markov: N:rate K:Rate K:RATE K:spgraph "
                        "K:ss_unavail $");
    Scan again("RATE SPGRAPH");
    EXPECT_EQ(again.scanner.next().kw, Kw::Rate);
    EXPECT_EQ(again.scanner.next().kw, Kw::Graph);

    Scan num("2x 2 x 1e5 1E+5 12 5. .5 0.x . .5e-3 1e 1e+ x.y:z a_b.c :x 1.5.3 5.e2");
    EXPECT_EQ(num.all(), "N:2x I:2 N:x R:1e5 R:1E+5 I:12 R:5. R:.5 N:0.x N:. R:.5e-3 N:1e N:1e + N:x.y:z "
                         "N:a_b.c : N:x N:1.5.3 R:5.e2 $");
}

TEST(Scanner, EchoTakesTheRestOfTheLine) {
    Scan s("echo  hello\nechoes\nx ECHO(1) * y\nEcho z\necho");
    EXPECT_EQ(s.all(true), "E:  hello@1 $@1 E:es@2 $@2 N:x@3 E:(1) * y@3 $@3 N:Echo@4 N:z@4 $@4 E:@5 $@5");
}

TEST(Scanner, PunctuationAndOtherCharacters) {
    Scan s("(){},;:^*/+-@ < > <= >= == <> $#?= a=b!\"%&'[]`|~\\x");
    EXPECT_EQ(s.all(), "( ) { } , ; : ^ * / + - @ < > <= >= == <> $ # ? O:= N:a O:= N:b O:! O:\" O:% O:& O:' "
                       "O:[ O:] O:` O:| O:~ O:\\ N:x $");
}

TEST(Scanner, LinesCommentsAndContinuations) {
    Scan comment("* any text\n * any text\n*\n");
    EXPECT_EQ(comment.all(true), "C:* any text@1 *@2 N:any@2 N:text@2 $@2 C:*@3");

    Scan cont("a \\  \t\r\nb\nc \\\n\\\nd\n\\ e");
    EXPECT_EQ(cont.all(true), "N:a@1 N:b@2 $@2 N:c@3 N:d@5 $@5 O:\\@6 N:e@6 $@6");

    Scan tuple("1, 2 \\\n 3\n");
    tuple.scanner.isTuple = true;
    EXPECT_EQ(tuple.all(true), "I:1@1 ,@1 I:2@1 ,@1 I:3@2 $@2");

    Scan arcs("a  b\tc\r\n");
    arcs.scanner.isArcPair = true;
    EXPECT_EQ(arcs.all(), "N:a B:   N:b B:\t N:c B:\r $");

    Scan end("x\ny");
    EXPECT_EQ(end.all(), "N:x $ N:y $");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(end.scanner.next().kind, Tok::EndOfInput);
}

TEST(Scanner, LongNamesAreCutWithAWarning) {
    const std::string word = "abcdefghijklmnopqrstuvwxyz0123456789";
    Scan s("x\n" + word.substr(0, 29) + " " + word + "\n", "model.crv");
    s.err.interactive = false;
    EXPECT_EQ(s.all(), "N:x $ N:" + word.substr(0, 29) + " N:" + word.substr(0, 29) + " $");
    EXPECT_EQ(s.captured, "warning: name too long, truncated " + word + " (model.crv: line    2).\n");
}

TEST(Scanner, ReadsNoFurtherThanTheCurrentLine) {
    const std::string first = "bind x 2\n";
    Scan s(first + "raw  value \nnext\n");
    for (Tok kind = Tok::Keyword; kind != Tok::Eol;) kind = s.scanner.next().kind;
    EXPECT_EQ(s.in.tellg(), static_cast<std::streamoff>(first.size()));
    EXPECT_EQ(s.scanner.location().line, 1);
    EXPECT_EQ(s.scanner.GetCurrentLineNo(), 2);

    std::string raw;
    ASSERT_TRUE(s.scanner.read_raw_line(raw));
    EXPECT_EQ(raw, "raw  value ");
    EXPECT_EQ(s.all(true), "N:next@3 $@3");
    EXPECT_FALSE(s.scanner.read_raw_line(raw));
}

TEST(Scanner, IncludeSwitchesInputWithLinesPerFile) {
    TempDir dir;
    std::string inner = dir.write("inner", "a\n\nb");
    Scan s("x\ninclude   " + inner + "  tail\ny\n", "main.crv");
    std::string trace;
    for (Token t = s.scanner.next(); t.kind != Tok::EndOfInput; t = s.scanner.next()) {
        SourceLocation where = s.scanner.location();
        trace += (where.file == inner ? "I" : where.file) + ":" + std::to_string(where.line) + ":" +
                 std::to_string(s.scanner.include_level()) + " ";
    }
    EXPECT_EQ(trace, "main.crv:1:0 main.crv:1:0 main.crv:2:0 I:1:1 I:1:1 I:2:1 I:3:1 I:3:1 main.crv:2:0 "
                     "main.crv:2:0 main.crv:3:0 main.crv:3:0 ");

    // The name may follow on a later line; the newlines before it are shown.
    Scan later("INCLUDE\n\n   " + inner + "\nw\n");
    EXPECT_EQ(later.all(true), "K:INCLUDE@1 N:a@1 $@1 $@2 N:b@3 $@3 $@3 N:w@4 $@4");
    EXPECT_EQ(later.captured, "\n\n");
}

TEST(Scanner, IncludeNestingAndMissingFiles) {
    TempDir dir;
    Scan ok("include " + dir.chain(19) + "\n");
    int deep_level = -1;
    for (Token t = ok.scanner.next(); t.kind != Tok::EndOfInput; t = ok.scanner.next())
        if (t.text == "deep") deep_level = ok.scanner.include_level();
    EXPECT_EQ(deep_level, 19);

    Scan too_deep("include " + dir.chain(20) + "\n");
    EXPECT_EQ(exit_status(too_deep), 255);
    EXPECT_EQ(too_deep.captured, "error: exceeded maximum nesting of includes: 20.\n");

    Scan missing("x\ninclude /nonexistent/none.crv\n", "main.crv");
    missing.err.interactive = false;
    EXPECT_EQ(exit_status(missing), 255);
    EXPECT_EQ(missing.scanner.include_level(), 0);
    EXPECT_EQ(missing.captured, "error: cannot open input file /nonexistent/none.crv.\n");
}

TEST(Scanner, HostileInputEndsCleanly) {
    for (char fill : {'a', '7', ' ', '(', '\\', '\0', '\xff'}) {
        Scan s(std::string(100000, fill) + "\nlast");
        std::string tokens = s.all();
        EXPECT_TRUE(tokens.ends_with("N:last $")) << "filled with byte " << int(fill);
    }
    Scan nul(std::string("a\0b", 3));
    EXPECT_EQ(nul.all(), std::string("N:a O:\0 N:b $", 13));

    std::mt19937 rng(12345);
    for (int round = 0; round < 200; ++round) {
        std::string text(1 + rng() % 2000, '\0');
        for (char& ch : text) ch = static_cast<char>(rng());
        Scan s(text);
        s.scanner.isTuple = round % 2 == 0;
        s.scanner.isArcPair = round % 3 == 0;
        std::size_t count = 0;
        for (Token t = s.scanner.next(); t.kind != Tok::EndOfInput; t = s.scanner.next())
            ASSERT_LE(++count, text.size() + 1) << "a token consumed no input";
    }
}

TEST(Scanner, LineLongerThanTheLimitEndsTheRunAtOnce) {
    const std::size_t limit = Scanner::kMaxLineBytes;
    // A line of exactly the limit is read whole; one byte more is error 26
    // before anything of the line is scanned.
    Scan fits(std::string(limit, 'a') + "\nb\n", "m.crv");
    fits.err.interactive = false;
    EXPECT_EQ(exit_status(fits), 0);

    Scan longer("x\n" + std::string(limit + 1, 'a') + "\nb\n", "m.crv");
    longer.err.interactive = false;
    longer.err.location_source = [&longer] { return longer.scanner.location(); };
    EXPECT_EQ(longer.scanner.next().text, "x");
    EXPECT_EQ(exit_status(longer), 255);
    EXPECT_EQ(longer.captured, "error: line too long (m.crv: line    2).\n");

    // Without any newline (an endless device reads like this) the same.
    Scan endless(std::string(limit + 10, '\0'));
    endless.err.interactive = false;
    EXPECT_EQ(exit_status(endless), 255);
}

}  // namespace
}  // namespace corvel
