// The host's line splitters and line reader.
#pragma once
#include <cstdio>
#include <string>
#include <string_view>

#include "YContainers.h"
#include "YString.h"

// Mode bit of sp_SplitLine: the outermost quote characters of a field are
// removed ("<a;b>" arrives as "a;b"). In mode 0 they are kept.
constexpr int SplitLineStripQuotes = 2;

// Appends to `out` the fields of `text` split at `separator`:
//  - an empty text gives no field; a separator at the very end opens no
//    further field ("a;b;" gives "a", "b"), so a line written as fields each
//    followed by the separator splits back into the same fields;
//  - empty fields elsewhere are kept: ";a;;b" gives "", "a", "", "b".
// Returns true (the plain form cannot fail).
bool sp_SplitLine(std::string_view text, char separator, YArray<YString>& out, int mode = 0);

// The same with a quote pair (opening and closing character) inside which the
// separator does not split. Distinct characters nest ("<a<b>;c>" is one field);
// equal characters toggle. A one-character pair uses that character for both;
// an empty pair turns quoting off. Returns false when the text ends inside
// quotes (the last field then runs to the end of the text), else true.
bool sp_SplitLine(std::string_view text, char separator, std::string_view quotePair,
                  YArray<YString>& out, int mode = 0);

// Tokeniser settings of the quoting sp_ScanLine. openQuotes[k] is closed by
// closeQuotes[k] (by itself when closeQuotes is shorter). `extra` and `flag`
// are carried for callers that set them and change nothing here.
struct ScanSpec {
    std::string delimiters, openQuotes, closeQuotes, extra;
    int flag = 0;
};

// Appends the tokens of `text` and returns how many were appended:
//  - runs of delimiter characters separate tokens; leading and trailing
//    delimiters give no empty token;
//  - a token that begins with an opening quote runs to its closing quote,
//    delimiters included, and arrives without the quotes ("" gives an empty
//    token); without a closing quote it runs to the end of the text. Quote
//    characters inside a token are ordinary, and text right after a closing
//    quote begins the next token;
//  - at most `max` tokens are taken; the rest of the text is then ignored
//    (max <= 0 takes none).
int sp_ScanLine(std::string_view text, std::string_view delimiters, YArray<YString>& out, int max);
int sp_ScanLine(std::string_view text, const ScanSpec& scan, YArray<YString>& out, int max);

// Cursor form: puts the field at `cursor` (up to the next separator or the end)
// into `field` and advances the cursor past the separator. False, with the
// field untouched, when the text is exhausted (null cursor or at its NUL).
// Empty fields between two separators are fields; a separator at the very end
// opens no further field, as for sp_SplitLine.
bool sp_ScanLine(const char*& cursor, char separator, YString& field);

// Cursor tokenisers over `rest`, which each call shortens past the token it
// gives. Both return false, with `token` untouched, when only delimiters (or
// nothing) are left, so an empty quoted token is still a token and a scan
// ends only when the text does.
//
// sp_GetToken: runs of delimiter characters separate tokens; no empty token
// is ever produced (the rule of the C runtime's re-entrant tokeniser, without
// writing into the text).
bool sp_GetToken(std::string_view& rest, std::string_view delimiters, YString& token);
// The same, giving the token as a view into the text rather than a copy.
bool sp_GetToken(std::string_view& rest, std::string_view delimiters, std::string_view& token);

// sp_GetToken with its delimiter set read once, for a caller that takes many
// tokens with the same delimiters.
class TokenScanner {
public:
    explicit TokenScanner(std::string_view delimiters) noexcept;
    bool next(std::string_view& rest, std::string_view& token) const noexcept;

private:
    bool delimiter_[256] = {};
};

// sp_StrTok, the quote-aware form: a token runs up to the next delimiter that
// is outside quotes. A double or a single quote opens a quoted stretch that
// the same character closes; delimiters inside it are ordinary bytes and the
// two quote characters are not part of the token ('a "b c"d' gives a, b cd).
// A quote that is never closed runs to the end of the text. `""` on its own
// is an empty token.
bool sp_StrTok(std::string_view& rest, std::string_view delimiters, YString& token);

// Reads lines of any length until one holds more than blanks (space, tab,
// CR, FF, VT); gives it without its "\n" or "\r\n". Every physical line read
// is counted into *lineCounter when it is not null. At end of file (or a read
// error) returns false and leaves `line` empty; a line that does not fit in
// memory throws std::bad_alloc.
bool sp_ReadNextNonBlankLine(FILE* f, YString& line, long long* lineCounter);

// Fills slots[0 .. count-1] with malloc'd copies of the list's strings, in
// order; the slots take ownership. `slots` must have room for list.count().
void sp_FillString(const YList<YString>& list, char** slots);
