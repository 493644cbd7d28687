// Pattern matching of text: shell-style wildcards and regular expressions.
#pragma once
#include <string>
#include <string_view>
#include <vector>

// Flag of sp_FilterString: compare bytes exactly. Without it letters match
// ignoring ASCII case, as the record queries compare their exact columns.
constexpr int FilterCaseSensitive = 1;

// Whether all of `text` matches the wildcard `pattern`:
//  - '*' matches any run of bytes, the empty run included;
//  - '?' matches any one byte;
//  - '\' makes the byte after it literal ("\*" is a star, "\\" a backslash);
//    a '\' at the very end of the pattern is a literal backslash;
//  - every other byte matches itself.
// The match backtracks only to the last star seen, so it takes at most
// O(|text| x |pattern|) steps whatever the pattern ("*a*a*a*...b" included).
bool sp_FilterString(std::string_view text, std::string_view pattern, int flags);

// Regular expressions (PCRE2, Perl syntax, bytes: no UTF-8 checking, so any
// bytes are a valid subject).
enum class RegExpVerdict {
    Complete,     // every subject matches the whole pattern
    Incomplete,   // at least one subject does not
    BadPattern,   // the pattern does not compile; `error` says why
    TooComplex,   // the match gave up at its backtracking limit; `error` says so
};

// Matches every subject, as a whole (anchored at both ends), against
// `pattern`. The pattern is the one string; the subjects are the list.
//
// For each subject, in order, `pieces` receives exactly max(1, number of
// capture groups) strings, so that piece j of subject s sits at
// s * that count + j:
//  - a complete match gives its capture groups (an unset group gives ""), or
//    the whole subject when the pattern has no groups;
//  - otherwise, when the subject is the beginning of a text that could still
//    match (PCRE2's hard partial matching: "12" against "\d{3}-\d{4}"), the
//    first piece is that subject as far as it matches and the rest are "".
//    Alternatives are tried in order and the first that matches a beginning
//    of the subject decides: "ab" against "a|abc" is no partial match, as
//    "a" already matched;
//  - a subject that cannot match gives "" for every piece.
// The backtracking of one match is limited (a few million steps), so no
// pattern makes the call hang. On BadPattern and TooComplex `pieces` is
// left empty.
RegExpVerdict sp_RegExpMatches(const std::vector<std::string_view>& subjects, std::string_view pattern,
                               std::vector<std::string>& pieces, std::string& error);
