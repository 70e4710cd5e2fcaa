#include "interp/scanner.h"

#include <fstream>
#include <iostream>
#include <istream>

namespace corvel {

namespace {

bool is_blank(unsigned char ch) { return ch == ' ' || ch == '\t' || ch == '\r'; }
bool is_digit(unsigned char ch) { return ch >= '0' && ch <= '9'; }
bool is_letter(unsigned char ch) { return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z'); }
bool is_name_char(unsigned char ch) {
    return is_letter(ch) || is_digit(ch) || ch == '_' || ch == '.' || ch == ':';
}

// Length of the number starting at `p` (0 when none): digits, an optional
// fraction and an optional exponent, with at least one digit before the
// exponent. `is_real` tells whether a point or an exponent was part of it.
std::size_t match_number(const std::string& s, std::size_t p, bool& is_real) {
    is_real = false;
    std::size_t q = p;
    while (is_digit(s[q])) ++q;
    std::size_t int_digits = q - p;
    if (s[q] == '.') {
        std::size_t r = q + 1;
        while (is_digit(s[r])) ++r;
        std::size_t frac_digits = r - q - 1;
        if (int_digits == 0 && frac_digits == 0) return 0;
        q = r;
        is_real = true;
    } else if (int_digits == 0) {
        return 0;
    }
    if (s[q] == 'e' || s[q] == 'E') {
        std::size_t r = q + 1;
        if (s[r] == '+' || s[r] == '-') ++r;
        if (is_digit(s[r])) {
            while (is_digit(s[r])) ++r;
            q = r;
            is_real = true;
        }
    }
    return q - p;
}

Token make_token(Tok kind, std::string text, int line) {
    Token token;
    token.kind = kind;
    token.text = std::move(text);
    token.line = line;
    return token;
}

}  // namespace

Scanner::Scanner(ErrorReporter& err, Output& out) : err_(err), out_(out) { inputs_.reserve(kMaxInputs); }

Scanner::~Scanner() = default;

void Scanner::open_main(std::istream& in, std::string name) {
    inputs_.clear();
    Input main;
    main.in = &in;
    main.name = std::move(name);
    inputs_.push_back(std::move(main));
    awaiting_include_name_ = false;
    finished_ = false;
}

void Scanner::ensure_open() {
    if (inputs_.empty()) open_main(std::cin, "STDIN");
}

SourceLocation Scanner::location() const {
    if (inputs_.empty()) return {"STDIN", 1};
    return {top().name, top().last_line};
}

int Scanner::GetCurrentLineNo() const { return inputs_.empty() ? 1 : top().lineno; }

int Scanner::include_level() const { return inputs_.empty() ? 0 : static_cast<int>(inputs_.size()) - 1; }

// One physical line without its newline; false at the end of the input. A
// line longer than kMaxLineBytes ends the run at once (an endless line, such
// as an included device, would otherwise take all memory), and so does a read
// that fails for another reason than the end of the input.
bool Scanner::read_line(Input& input) {
    std::string& line = input.line;
    line.clear();
    std::streambuf* sb = input.in->rdbuf();
    bool any = false;
    for (;;) {
        int c = sb ? sb->sbumpc() : std::char_traits<char>::eof();
        if (c == std::char_traits<char>::eof()) return any;
        any = true;
        if (c == '\n') return true;
        if (line.size() >= kMaxLineBytes) {
            input.last_line = input.lineno;
            err_.error(26, kFatal, "", true);
        }
        line.push_back(static_cast<char>(c));
    }
}

bool Scanner::fill(Input& input) {
    if (input.pos < input.line.size()) return true;
    if (input.ended) return false;
    // A last line without a newline still gets one, so its final token is
    // followed by an end of line like every other line.
    if (!read_line(input)) {
        input.ended = true;
        input.line.clear();
        input.pos = 0;
        return false;
    }
    input.line.push_back('\n');
    input.pos = 0;
    paren_depth_ = 0;
    return true;
}

bool Scanner::read_raw_line(std::string& line) {
    ensure_open();
    if (finished_) return false;
    Input& input = top();
    if (!fill(input)) return false;
    line.assign(input.line, input.pos, input.line.size() - input.pos - 1);
    input.pos = input.line.size();
    ++input.lineno;
    return true;
}

Token Scanner::finish(Input& input, Token token) {
    input.last_line = token.line;
    token.leading = std::move(leading_);
    leading_.clear();
    return token;
}

void Scanner::scan_include_name(Input& input) {
    const std::string& s = input.line;
    std::size_t p = input.pos;
    while (is_blank(static_cast<unsigned char>(s[p]))) ++p;
    if (s[p] == '\n') {
        // The name may stand on a later line; the line end is shown, not scanned.
        out_.put('\n');
        input.pos = p + 1;
        ++input.lineno;
        return;
    }
    std::size_t end = p;
    while (s[end] != '\n' && !is_blank(static_cast<unsigned char>(s[end]))) ++end;
    input.pos = end;
    awaiting_include_name_ = false;
    input.last_line = input.lineno;
    push_include(s.substr(p, end - p));
}

void Scanner::push_include(const std::string& file) {
    if (static_cast<int>(inputs_.size()) >= kMaxInputs) {
        err_.error(187, kFatal, std::to_string(kMaxInputs), true);
        return;
    }
    auto stream = std::make_unique<std::ifstream>();
    // A name with an embedded NUL byte cannot name a file; opening it would
    // silently open a shorter name instead.
    if (includes_enabled && file.find('\0') == std::string::npos)
        stream->open(file, std::ios::in | std::ios::binary);
    if (!stream->is_open()) {
        err_.error(83, kFatal, file, false);
        return;
    }
    Input input;
    input.in = stream.get();
    input.owned = std::move(stream);
    input.name = file;
    inputs_.push_back(std::move(input));
}

Token Scanner::next() {
    ensure_open();
    for (;;) {
        if (finished_) return make_token(Tok::EndOfInput, {}, inputs_.front().last_line);
        Input& input = top();
        if (!fill(input)) {
            // An include statement cut short by the end of its file is dropped.
            awaiting_include_name_ = false;
            if (inputs_.size() == 1) {
                finished_ = true;
                input.last_line = input.lineno;
                continue;
            }
            inputs_.pop_back();
            paren_depth_ = 0;
            continue;
        }
        if (awaiting_include_name_) {
            scan_include_name(input);
            continue;
        }

        const std::string& s = input.line;
        const std::size_t p = input.pos;
        const unsigned char ch = static_cast<unsigned char>(s[p]);
        const int line = input.lineno;

        if (ch == '*' && p == 0) {
            input.pos = s.size();
            ++input.lineno;
            return finish(input, make_token(Tok::Comment, s.substr(0, s.size() - 1), line));
        }
        if (ch == '\n') {
            input.pos = p + 1;
            ++input.lineno;
            return finish(input, make_token(Tok::Eol, "\n", line));
        }
        if (is_blank(ch)) {
            std::size_t q = p;
            while (is_blank(static_cast<unsigned char>(s[q]))) ++q;
            input.pos = q;
            // Blanks separate fields only outside parentheses.
            if (isArcPair && paren_depth_ == 0)
                return finish(input, make_token(Tok::Blank, s.substr(p, q - p), line));
            // Kept so that the parser can reproduce the text of an expression.
            leading_.append(s, p, q - p);
            continue;
        }
        if (ch == '\\') {
            std::size_t q = p + 1;
            while (is_blank(static_cast<unsigned char>(s[q]))) ++q;
            if (s[q] == '\n') {
                input.pos = q + 1;
                ++input.lineno;
                if (isTuple) return finish(input, make_token(Tok::Comma, ",", line));
                continue;
            }
            input.pos = p + 1;
            return finish(input, make_token(Tok::Other, "\\", line));
        }

        Tok single = Tok::Other;
        switch (ch) {
            case '(':
                single = Tok::LParen;
                ++paren_depth_;
                break;
            case ')':
                single = Tok::RParen;
                if (paren_depth_ > 0) --paren_depth_;
                break;
            case '{': single = Tok::LBrace; break;
            case '}': single = Tok::RBrace; break;
            case ',': single = Tok::Comma; break;
            case ';': single = Tok::Semicolon; break;
            case ':': single = Tok::Colon; break;
            case '^': single = Tok::Power; break;
            case '*': single = Tok::Times; break;
            case '/': single = Tok::Divide; break;
            case '+': single = Tok::Plus; break;
            case '-': single = Tok::Minus; break;
            case '@': single = Tok::At; break;
            case '$': single = Tok::Dollar; break;
            case '#': single = Tok::Hash; break;
            case '?': single = Tok::Question; break;
            case '<':
                if (s[p + 1] == '=' || s[p + 1] == '>') {
                    input.pos = p + 2;
                    return finish(input, make_token(s[p + 1] == '=' ? Tok::LessEq : Tok::NotEqual,
                                                    s.substr(p, 2), line));
                }
                single = Tok::Less;
                break;
            case '>':
                if (s[p + 1] == '=') {
                    input.pos = p + 2;
                    return finish(input, make_token(Tok::GreaterEq, ">=", line));
                }
                single = Tok::Greater;
                break;
            case '=':
                if (s[p + 1] == '=') {
                    input.pos = p + 2;
                    return finish(input, make_token(Tok::Equal, "==", line));
                }
                break;
            default:
                if (is_letter(ch) || is_digit(ch) || ch == '_' || ch == '.') return scan_word(input);
                break;
        }
        input.pos = p + 1;
        return finish(input, make_token(single, std::string(1, static_cast<char>(ch)), line));
    }
}

// Numbers, names, keywords and echo lines, by longest match. The echo rule
// takes the rest of the line, so it wins whenever the word begins with its
// keyword; a number wins over a name of the same length, a keyword over a name.
Token Scanner::scan_word(Input& input) {
    const std::string& s = input.line;
    const std::size_t p = input.pos;
    const int line = input.lineno;

    if (s.compare(p, 4, "echo") == 0 || s.compare(p, 4, "ECHO") == 0) {
        std::size_t end = s.size() - 1;  // the newline stays for the next token
        input.pos = end;
        return finish(input, make_token(Tok::Echo, s.substr(p + 4, end - p - 4), line));
    }

    std::size_t name_end = p;
    while (is_name_char(static_cast<unsigned char>(s[name_end]))) ++name_end;
    const std::size_t name_len = name_end - p;

    bool is_real = false;
    const std::size_t number_len = match_number(s, p, is_real);
    if (number_len > 0 && number_len >= name_len) {
        input.pos = p + number_len;
        return finish(input, make_token(is_real ? Tok::Real : Tok::Integer, s.substr(p, number_len), line));
    }

    input.pos = name_end;
    std::string word = s.substr(p, name_len);
    if (std::optional<Kw> kw = lookup_keyword(word)) {
        Token token = make_token(Tok::Keyword, std::move(word), line);
        token.kw = *kw;
        if (*kw == Kw::Include) awaiting_include_name_ = true;
        return finish(input, std::move(token));
    }
    input.last_line = line;  // the warning names the line the word stands on
    std::string typed;
    if (word.size() > kMaxNameLength) {
        err_.error(220, kWarning, word, true);
        typed = word;
        word.resize(kMaxNameLength);
    }
    Token token = make_token(Tok::Name, std::move(word), line);
    token.typed = std::move(typed);
    return finish(input, std::move(token));
}

}  // namespace corvel
