#pragma once
// Token kinds delivered by the scanner and the keyword set of the language.

#include <optional>
#include <string>
#include <string_view>

#include "model/keywords.h"

namespace corvel {

// The lower-case spelling of a keyword ("Rate" for the rate keyword).
const char* keyword_spelling(Kw kw);

// Looks a word up in the keyword table; mixed-case spellings are not keywords.
std::optional<Kw> lookup_keyword(std::string_view word);

enum class Tok {
    EndOfInput,   // end of the main input
    Eol,          // newline
    Comment,      // a line whose first column is '*'
    Blank,        // a run of blanks, only while blanks are significant
    LParen, RParen, LBrace, RBrace, Comma, Semicolon, Colon,
    Power, Times, Divide, Plus, Minus, At,
    Less, Greater, LessEq, GreaterEq, Equal, NotEqual,
    Dollar,       // index substitution
    Hash,         // token count of a place
    Question,     // enabling test of a transition
    Integer, Real, Name,
    Echo,         // echo statement; text is the rest of the line
    Other,        // any character that forms no other token
    Keyword,
};

struct Token {
    Tok kind = Tok::EndOfInput;
    Kw kw = Kw::End;      // meaningful when kind == Tok::Keyword
    std::string text;     // the characters of the token (echo: the rest of the line)
    int line = 0;         // physical line on which the token stands
    std::string leading;  // blanks skipped just before the token on its line
    std::string typed;    // the characters as typed when `text` differs (a truncated name)
};

const char* token_kind_name(Tok kind);

}  // namespace corvel
