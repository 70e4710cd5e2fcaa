#pragma once
// The scanner: turns the input text into tokens for the statement parser.
//
// Input is read one physical line at a time and never ahead of the line being
// scanned, so an interactive session sees the effect of a statement (and any
// prompt it prints) before the next line is requested. Include files are kept
// on a stack of at most 20 open inputs, the main input counting as the first;
// each input has its own line counter, so messages name the file and line the
// offending text stands in.

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "interp/tokens.h"
#include "symbols/errors.h"
#include "symbols/output.h"

namespace corvel {

class Scanner {
public:
    // Inputs that may be open at once, the main input included.
    static constexpr int kMaxInputs = 20;
    // The longest physical line read (error 26 beyond).
    static constexpr std::size_t kMaxLineBytes = 16u << 20;
    // Longest name kept; longer names are cut with a warning.
    static constexpr std::size_t kMaxNameLength = 29;

    Scanner(ErrorReporter& err, Output& out);
    ~Scanner();
    Scanner(const Scanner&) = delete;
    Scanner& operator=(const Scanner&) = delete;

    // Makes `in` (not owned) the main input, recorded under `name` ("STDIN" for
    // the console). Any include files still open are closed. Without a call,
    // the first token request reads standard input.
    void open_main(std::istream& in, std::string name);

    // The next token. At the end of the main input, and on every call after it,
    // Tok::EndOfInput.
    Token next();

    // Set by the parser: a line continuation yields a Comma token.
    bool isTuple = false;
    // Set by the parser: a run of blanks outside parentheses yields a Blank
    // token instead of being skipped. Parentheses are counted per physical line.
    bool isArcPair = false;
    // When off, every include file counts as one that cannot be opened (the
    // fuzzing harness must not read the machine's files).
    bool includes_enabled = true;

    // File name of the current include level and the line of the last token
    // returned from it.
    SourceLocation location() const;
    // The line counter of the current include level (the line being scanned).
    int GetCurrentLineNo() const;
    // 0 for the main input, 1 inside a file included from it, and so on.
    int include_level() const;

    // Reads the rest of the current physical line (after an end-of-line token:
    // the whole next line) without tokenising it, for the interactive value
    // prompt. The newline is not stored. False at the end of the current input.
    bool read_raw_line(std::string& line);

private:
    struct Input {
        std::istream* in = nullptr;
        std::unique_ptr<std::istream> owned;  // include files
        std::string name;
        int lineno = 1;      // line being scanned
        int last_line = 1;   // line of the last token returned from this input
        std::string line;    // current physical line, always ending in '\n'
        std::size_t pos = 0; // next unread byte of `line`
        bool ended = false;  // the stream has delivered its last line
    };

    void ensure_open();
    Input& top() { return inputs_.back(); }
    const Input& top() const { return inputs_.back(); }
    // Makes sure unread text is buffered, reading the next line if needed.
    // False when the current input has nothing left.
    bool fill(Input& input);
    bool read_line(Input& input);
    // Reads the include file name (or copies a newline that precedes it);
    // returns after consuming one piece so the caller re-checks the buffer.
    void scan_include_name(Input& input);
    void push_include(const std::string& file);
    Token scan_word(Input& input);
    Token finish(Input& input, Token token);
    std::string leading_;  // blanks skipped since the last token

    ErrorReporter& err_;
    Output& out_;
    std::vector<Input> inputs_;
    bool awaiting_include_name_ = false;
    bool finished_ = false;
    int paren_depth_ = 0;  // parentheses open on the current line
};

}  // namespace corvel
