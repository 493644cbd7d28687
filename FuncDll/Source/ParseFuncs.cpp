// Tokenising and parsing of text: splitting lines into fields and tokens,
// selecting columns and rows of delimited records, the postfix record query,
// device parameter strings, netlist lines, regular expressions, sorting.
//
// None of these reports an error for unusable text: what cannot be read shows
// as an empty or absent result. The exceptions are a regular expression that
// does not compile or gives up at its backtracking limit: a script that asked
// for a match must learn that it got no answer, not a "no match".
#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "FuncKit.h"
#include "SpiceLines.h"
#include "TextLines.h"
#include "TextMatch.h"
#include "YContainers.h"

namespace {

using namespace cvmod;

const char* const kBadPattern = "Invalid regular expression in function '%s': %s";
const char* const kMatchGaveUp = "The regular expression in function '%s' is too complex: %s";

constexpr std::string_view kUnlabelled = "$unlabelled$";

// ---------------------------------------------------------------- shared readers

// A separator rule, given as text: its first byte separates fields; bytes 2
// and 3, when the text has them and they differ, are an opening and a
// closing quote.
struct SeparatorRule {
    char separator = ';';
    bool quoted = false;
    char open = '\0', close = '\0';
};

SeparatorRule separatorRuleOf(const FuncArgs& a, int i) {
    SeparatorRule rule;
    const std::string_view s = stringOr(a, i, ";");
    if (s.empty()) return rule;   // an empty rule keeps the default rather than splitting at NUL
    rule.separator = s[0];
    if (s.size() >= 3 && s[1] != s[2]) {
        rule.quoted = true;
        rule.open = s[1];
        rule.close = s[2];
    }
    return rule;
}

bool isBlank(std::string_view s) { return s.find_first_not_of(" \t") == std::string_view::npos; }

std::vector<std::string> asStrings(const YArray<YString>& list) {
    std::vector<std::string> out;
    out.reserve(list.size());
    for (const YString& s : list) out.emplace_back(s.view());
    return out;
}

// ---------------------------------------------------------------- Scan, Parse

FUNC_ERROR scan(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const SeparatorRule rule = separatorRuleOf(a, 1);
    const int64_t minimum = std::max<int64_t>(0, toInt64(realOr(a, 2, 0)));
    YArray<YString> fields;
    if (rule.quoted)
        sp_SplitLine(stringOr(a, 0), rule.separator, std::string{rule.open, rule.close}, fields, 0);
    else
        sp_SplitLine(stringOr(a, 0), rule.separator, fields, 0);
    // Sized before anything is copied: a minimum beyond memory ends in the
    // host's not-enough-memory message, not in a failed copy halfway. The
    // padding stays null (read as ""), so it costs one pointer per entry.
    char** out = r.makeStringVector(std::max<int64_t>(fields.count(), minimum));
    for (int64_t k = 0; k < fields.count(); ++k) out[k] = fields.at(k).copy();
    return FuncOk;
}

// Which bytes of a text are delimiters, 64 at a time as the bits of a word:
// tokens are then found by bit scans rather than by a table look-up per byte.
// With SSE2 each block of 16 bytes is compared with every delimiter at once,
// for sets of up to kCompared bytes (a record's few separators); larger sets
// take a look-up table.
class DelimiterBits {
public:
    explicit DelimiterBits(std::string_view delimiters) {
        for (const unsigned char c : delimiters) table_[c] = true;
#if defined(__SSE2__)
        for (int c = 0; c < 256; ++c) {
            if (!table_[c]) continue;
            if (count_ < kCompared) each_[count_] = _mm_set1_epi8(char(c));
            ++count_;
        }
#endif
    }

    // Bit i set when p[i] is part of a token (not a delimiter).
    uint64_t tokenBits(const char* p) const {
#if defined(__SSE2__)
        if (count_ <= kCompared) {
            uint64_t delimiters = 0;
            for (int q = 0; q < 4; ++q) {
                const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * q));
                __m128i hit = _mm_setzero_si128();
                for (int d = 0; d < count_; ++d) hit = _mm_or_si128(hit, _mm_cmpeq_epi8(bytes, each_[d]));
                delimiters |= uint64_t(uint32_t(_mm_movemask_epi8(hit))) << (16 * q);
            }
            return ~delimiters;
        }
#endif
        uint64_t inside = 0;
        for (int i = 0; i < 64; ++i) inside |= uint64_t(!table_[static_cast<unsigned char>(p[i])]) << i;
        return inside;
    }

    // The same for the last n < 64 bytes: the bits from n on are clear.
    uint64_t tokenBitsOfTail(const char* p, size_t n) const {
        char block[64] = {};
        std::memcpy(block, p, n);
        return tokenBits(block) & ((uint64_t(1) << n) - 1);
    }

    uint64_t tokenBitsAt(std::string_view text, size_t at) const {
        return text.size() - at >= 64 ? tokenBits(text.data() + at) : tokenBitsOfTail(text.data() + at, text.size() - at);
    }

private:
    bool table_[256] = {};
#if defined(__SSE2__)
    static constexpr int kCompared = 8;
    int count_ = 0;
    __m128i each_[kCompared];
#endif
};

// The number of tokens of a text and of their characters: a token starts at
// each set bit whose predecessor (the last bit of the block before, for the
// first) is clear.
std::pair<int64_t, size_t> tokenCount(std::string_view text, const DelimiterBits& bits) {
    int64_t count = 0;
    size_t chars = 0;
    uint64_t before = 0;
    for (size_t at = 0; at < text.size(); at += 64) {
        const uint64_t inside = bits.tokenBitsAt(text, at);
        count += std::popcount(inside & ~(inside << 1 | before));
        chars += size_t(std::popcount(inside));
        before = inside >> 63;
    }
    return {count, chars};
}

// Calls take(begin, end) for each token of the text, in order: the bits that
// differ from their predecessor are where tokens start and end, in turn.
template <class Take>
void forEachToken(std::string_view text, const DelimiterBits& bits, Take take) {
    size_t begin = 0;
    bool inToken = false;
    for (size_t at = 0; at < text.size(); at += 64) {
        const uint64_t inside = bits.tokenBitsAt(text, at);
        for (uint64_t edges = inside ^ (inside << 1 | uint64_t(inToken)); edges; edges &= edges - 1) {
            const size_t i = at + size_t(std::countr_zero(edges));
            if (inToken) take(begin, i);
            begin = i;
            inToken = !inToken;
        }
    }
    if (inToken) take(begin, text.size());
}

FUNC_ERROR parse(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    std::string delimiters = given(a, 1) ? stringOr(a, 1) : " \t,";
    if (delimiters.find(' ') != std::string::npos && delimiters.find('\t') == std::string::npos) delimiters += '\t';
    const bool quoted = sameWord(stringOr(a, 2), "quoted");
    std::string_view rest = stringOr(a, 0);
    if (quoted) {
        // Quoted tokens lose their quotes, so each is a text of its own.
        std::vector<YString> tokens;
        YString token;
        while (sp_StrTok(rest, delimiters, token)) tokens.push_back(std::move(token));
        setStrings(r, tokens);
    } else {
        // Two passes, counting and then copying: a second scan of the text
        // costs less than a list of its tokens, which for a long text is
        // fresh memory the size of the result.
        const DelimiterBits bits(delimiters);
        const auto [count, chars] = tokenCount(rest, bits);
        char* block = nullptr;
        int64_t k = 0;
        if (count > 0 && chars >= rest.size() / 2) {
            // Mostly tokens (records with single separators): the text is
            // copied whole and each token ended in place by a NUL over the
            // delimiter after it, one copy instead of one per token.
            char** slots = r.makeStringBlock(count, rest.size() + 1, block);
            std::memcpy(block, rest.data(), rest.size());
            block[rest.size()] = '\0';
            forEachToken(rest, bits, [&](size_t begin, size_t end) {
                slots[k++] = block + begin;
                block[end] = '\0';
            });
        } else {
            char** slots = r.makeStringBlock(count, chars + size_t(count), block);
            forEachToken(rest, bits, [&](size_t begin, size_t end) {
                std::memcpy(block, rest.data() + begin, end - begin);
                block[end - begin] = '\0';
                slots[k++] = block;
                block += end - begin + 1;
            });
        }
    }
    return FuncOk;
}

// ---------------------------------------------------------------- SelectColumns, SelectRows

// Field `column` of a record, read by the quote-aware state machine. Only the
// wanted field is kept, so a record of any length costs one field's memory.
std::string quotedField(std::string_view record, int64_t column, const SeparatorRule& rule) {
    if (column < 0) return {};
    // Without quotes a field is the text between two separators, which
    // memchr finds many bytes at a time.
    if (!rule.quoted) {
        for (int64_t i = 0; i < column; ++i) {
            const size_t at = record.find(rule.separator);
            if (at == std::string_view::npos) return {};
            record.remove_prefix(at + 1);
        }
        return std::string(record.substr(0, record.find(rule.separator)));
    }
    enum class State { FieldStart, InQuotes, Plain, AfterQuote } state = State::FieldStart;
    std::string field;
    int64_t index = 0;
    int64_t depth = 0;
    const bool quotes = rule.quoted;
    for (size_t k = 0; k <= record.size(); ++k) {
        const bool end = k == record.size();
        const char c = end ? '\0' : record[k];
        const bool separator = !end && c == rule.separator;
        switch (state) {
        case State::FieldStart:
            if (!end && !separator) {
                if (quotes && c == rule.open) {
                    depth = 1;
                    state = State::InQuotes;
                } else {
                    if (index == column) field += c;
                    state = State::Plain;
                }
                continue;
            }
            break;   // an empty field ends here
        case State::InQuotes:
            if (end) return {};   // the record ended inside quotes
            if (c == rule.open) {
                ++depth;
            } else if (c == rule.close && --depth == 0) {
                state = State::AfterQuote;
                continue;
            }
            if (index == column) field += c;
            continue;
        case State::Plain:
            if (!end && !separator) {
                if (index == column) field += c;
                continue;
            }
            break;
        case State::AfterQuote:
            if (!end && !separator) continue;
            break;
        }
        // The field ends at a separator or at the end of the record.
        if (index == column) return field;
        if (end) break;
        ++index;
        state = State::FieldStart;
    }
    return {};
}

// Fields at ascending column numbers, joined by the separator. A column number
// that is not above the last one taken is never matched: the fields are read
// once, front to back.
std::string plainColumns(const char* record, const std::vector<int64_t>& columns, char separator) {
    std::string out;
    size_t next = 0;
    int64_t index = 0;
    bool first = true;
    YString field;
    const char* cursor = record;
    while (next < columns.size() && sp_ScanLine(cursor, separator, field)) {
        if (index == columns[next]) {
            if (!first) out += separator;
            out += field.view();
            first = false;
            ++next;
        }
        ++index;
    }
    return out;
}

FUNC_ERROR selectColumns(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const std::vector<std::string_view> records = stringsOf(a, 0);
    std::vector<int64_t> columns;
    if (givenReal(a, 1)) {
        const double* c = a.realData(1);
        for (int64_t k = 0; k < a.totalLength(1); ++k) columns.push_back(toInt64(c[k]));
    }
    const SeparatorRule rule = separatorRuleOf(a, 2);
    char** out = r.makeStringVector(int64_t(records.size()));
    for (size_t k = 0; k < records.size(); ++k) {
        // The string views end at a NUL, so the cursor reader stays inside them.
        out[k] = copyString(columns.size() == 1 ? quotedField(records[k], columns[0], rule)
                                                : plainColumns(records[k].data(), columns, rule.separator));
    }
    return FuncOk;
}

FUNC_ERROR selectRows(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const std::vector<std::string_view> records = stringsOf(a, 0);
    const std::string_view value = stringOr(a, 1);
    const int64_t column = toInt64(realOr(a, 2, 0));
    const std::string_view sep = stringOr(a, 3, ";");
    const char separator = sep.empty() ? ';' : sep[0];   // as Scan and SelectColumns read an empty one
    std::vector<std::string> kept;
    YString field;
    if (column < 0) return FuncOk;   // no record has such a field
    for (std::string_view record : records) {
        const char* cursor = record.data();
        for (int64_t index = 0; sp_ScanLine(cursor, separator, field); ++index) {
            if (index < column) continue;
            if (sameWord(field.view(), value)) kept.emplace_back(record);
            break;
        }
    }
    if (!kept.empty()) setStrings(r, kept);
    return FuncOk;
}

// ---------------------------------------------------------------- QueryData

struct QueryTerm {
    enum Kind { Pattern, And, Or, Xor, Not, Invalid } kind = Pattern;
    std::vector<std::string> columns;   // column patterns of a Pattern term
    bool wildcard = false;
};

QueryTerm queryTermOf(std::string_view text) {
    QueryTerm term;
    if (!text.empty() && text[0] == '\\') {
        const std::string_view rest = text.substr(1);
        if (sameWord(rest, "AND")) return {QueryTerm::And, {}, false};
        if (sameWord(rest, "OR")) return {QueryTerm::Or, {}, false};
        if (sameWord(rest, "XOR")) return {QueryTerm::Xor, {}, false};
        if (sameWord(rest, "NOT")) return {QueryTerm::Not, {}, false};
        if (rest.empty() || (rest[0] != '*' && rest[0] != '?' && rest[0] != '\\')) return {QueryTerm::Invalid, {}, false};
    }
    YArray<YString> columns;
    sp_SplitLine(text, ';', columns, 0);
    term.columns = asStrings(columns);
    // An empty term still asks something: that the first field is empty.
    if (term.columns.empty()) term.columns.emplace_back();
    for (const std::string& c : term.columns)
        if (c != "*" && c.find_first_of("*?\\") != std::string::npos) term.wildcard = true;
    return term;
}

bool termMatches(const QueryTerm& term, const std::vector<std::string_view>& fields) {
    const size_t n = term.columns.size();
    for (size_t k = n; k-- > 0;) {
        const std::string& pattern = term.columns[k];
        const std::string_view field = k < fields.size() ? fields[k] : std::string_view();
        if (term.wildcard ? !sp_FilterString(field, pattern, 0) : pattern != "*" && !sameWord(field, pattern))
            return false;
    }
    return true;
}

// Drops the terms an evaluation never reaches and says whether it then
// holds a single value. Neither depends on the record: the stack's depth
// after each term is fixed by the terms alone. Evaluation stops at an
// invalid term or an operator short of operands; what is on the stack then
// decides.
bool settleQuery(std::vector<QueryTerm>& terms) {
    size_t depth = 0, reached = 0;
    for (; reached < terms.size(); ++reached) {
        const QueryTerm::Kind kind = terms[reached].kind;
        if (kind == QueryTerm::Pattern) {
            ++depth;
            continue;
        }
        if (kind == QueryTerm::Invalid || depth < (kind == QueryTerm::Not ? 1u : 2u)) break;
        if (kind != QueryTerm::Not) --depth;
    }
    terms.resize(reached);
    return depth == 1;
}

// The verdict of settled terms on one record's fields.
bool queryVerdict(const std::vector<QueryTerm>& terms, const std::vector<std::string_view>& fields,
                  std::vector<char>& stack) {
    stack.clear();
    for (const QueryTerm& term : terms) {
        if (term.kind == QueryTerm::Pattern) {
            stack.push_back(termMatches(term, fields));
            continue;
        }
        const bool right = stack.back();
        if (term.kind == QueryTerm::Not) {
            stack.back() = !right;
            continue;
        }
        stack.pop_back();
        const bool left = stack.back();
        stack.back() = term.kind == QueryTerm::And ? left && right : term.kind == QueryTerm::Or ? left || right : left != right;
    }
    return stack[0];
}

FUNC_ERROR queryData(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    std::vector<QueryTerm> terms;
    for (std::string_view t : stringsOf(a, 1)) terms.push_back(queryTermOf(t));
    // A query that cannot end with one value matches nothing, whatever the
    // records say; reading them would cost records x terms comparisons.
    if (!settleQuery(terms)) return FuncOk;
    size_t widest = 0;
    for (const QueryTerm& term : terms) widest = std::max(widest, term.columns.size());
    std::vector<std::string> kept;
    std::vector<std::string_view> fields;
    std::vector<char> stack;
    for (std::string_view record : stringsOf(a, 0)) {
        // Fields are views into the record: no copy and no buffer of a fixed
        // size, whatever the record's length. A ';' at the very end opens no
        // further field.
        fields.clear();
        std::string_view rest = record;
        while (!rest.empty() && fields.size() < widest) {
            const size_t at = rest.find(';');
            fields.push_back(rest.substr(0, at));
            rest.remove_prefix(at == std::string_view::npos ? rest.size() : at + 1);
        }
        if (queryVerdict(terms, fields, stack)) kept.emplace_back(record);
    }
    if (!kept.empty()) setStrings(r, kept);
    return FuncOk;
}

// ---------------------------------------------------------------- parameter strings

struct ParameterTokens {
    std::vector<std::string> tokens;
    int64_t positional = 0;   // n, clamped to the token count
    bool quoted = false;
    ScanSpec scanRule;

    // A value as it is written back into the string. With quoting on, a
    // value that holds a delimiter, or is empty, goes back inside the first
    // quote pair it does not contain: unquoted, "L='1 u'" would come back as
    // "L=1 u" and read as L=1 next time.
    std::string written(std::string_view value) const {
        if (!quoted || (!value.empty() && value.find_first_of(scanRule.delimiters) == std::string_view::npos))
            return std::string(value);
        for (size_t q = 0; q < scanRule.openQuotes.size(); ++q) {
            const char open = scanRule.openQuotes[q];
            const char close = q < scanRule.closeQuotes.size() ? scanRule.closeQuotes[q] : open;
            if (value.find(close) == std::string_view::npos) return open + std::string(value) + close;
        }
        return std::string(value);
    }
};

// Tokens of the parameter string (argument 0) by the options (argument 4),
// with the positional count from the mode list (argument 2).
ParameterTokens parameterTokens(const FuncArgs& a) {
    const std::vector<std::string_view> options = stringsOf(a, 4);
    const bool quoted = !options.empty() && sameWord(options[0], "allowquoted");
    ScanSpec scanRule;
    scanRule.delimiters = options.size() > 1 ? std::string(options[1]) : " \t=,";
    scanRule.openQuotes = options.size() > 2 ? std::string(options[2]) : "\"'";
    scanRule.closeQuotes = options.size() > 3 ? std::string(options[3]) : "\"'";
    YArray<YString> tokens;
    if (quoted)
        sp_ScanLine(stringOr(a, 0), scanRule, tokens, INT_MAX);
    else
        sp_ScanLine(stringOr(a, 0), scanRule.delimiters, tokens, INT_MAX);
    ParameterTokens p;
    p.tokens = asStrings(tokens);
    p.quoted = quoted;
    p.scanRule = std::move(scanRule);
    const std::vector<std::string_view> mode = stringsOf(a, 2);
    if (mode.size() > 1) {
        const std::string count(mode[1]);
        p.positional = std::clamp<long long>(std::strtoll(count.c_str(), nullptr, 10), 0, (long long)p.tokens.size());
    }
    return p;
}

// The k of "$unlabelled$k" (any letter case), or 0 when the name is no such name.
int64_t unlabelledIndex(std::string_view name) {
    if (name.size() <= kUnlabelled.size() || !sameWord(name.substr(0, kUnlabelled.size()), kUnlabelled)) return 0;
    const std::string_view digits = name.substr(kUnlabelled.size());
    int64_t k = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return 0;
        k = std::min<int64_t>(k * 10 + (c - '0'), INT64_MAX / 16);
    }
    return k;
}

bool isUnlabelledName(std::string_view name) {
    return name.size() >= kUnlabelled.size() && sameWord(name.substr(0, kUnlabelled.size()), kUnlabelled);
}

std::string unlabelledName(int64_t k) { return std::string(kUnlabelled) + std::to_string(k); }

// The new values of a write, keyed by name ignoring case: (name, value) pairs
// of the two lists, skipping blank names and values. A name given twice keeps
// its first place and spelling in the table and takes its last value.
struct NewValue {
    YString name, value;
};

YHashTable<NewValue> newValues(const FuncArgs& a) {
    YHashTable<NewValue> table(true);
    const std::vector<std::string_view> names = stringsOf(a, 1), values = stringsOf(a, 3);
    for (size_t k = 0; k < std::min(names.size(), values.size()); ++k) {
        if (isBlank(names[k]) || isBlank(values[k])) continue;
        const YString name(names[k]);
        if (NewValue* old = table.find(name)) old->value = YString(values[k]);
        else table.add(name, {name, YString(values[k])});
    }
    return table;
}

YHashTable<bool> nameSet(const FuncArgs& a) {
    YHashTable<bool> set(true);
    for (std::string_view name : stringsOf(a, 1)) set.add(YString(name), true);
    return set;
}

// Parts joined by one space each, empty parts included: an empty value
// written first still has its separator, so positions read back the same.
struct SpacedParts {
    std::string text;
    bool any = false;
};

void appendPart(SpacedParts& out, std::string_view part) {
    if (out.any) out.text += ' ';
    out.any = true;
    out.text += part;
}

std::string joinedPair(std::string_view name, std::string_view value) {
    std::string s(name);
    s += '=';
    s += value;
    return s;
}

enum class ParameterMode { Read, Write, Delete, Unknown };

ParameterMode parameterModeOf(const FuncArgs& a) {
    switch (wordOf(a, 2, {"read", "write", "delete"}, 3, 3)) {
    case 0: return ParameterMode::Read;
    case 1: return ParameterMode::Write;
    case 2: return ParameterMode::Delete;
    default: return ParameterMode::Unknown;
    }
}

FUNC_ERROR parseParameterString(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const ParameterMode mode = parameterModeOf(a);
    if (mode == ParameterMode::Unknown || (mode == ParameterMode::Write && a.numArgs() < 4)) return FuncOk;
    const ParameterTokens p = parameterTokens(a);
    const std::vector<std::string>& t = p.tokens;
    const int64_t T = int64_t(t.size()), n = p.positional;

    if (mode == ParameterMode::Read) {
        // The last occurrence of a name that has a token after it wins: a
        // later setting overrides an earlier one. One pass over the tokens,
        // so many names against a long string stay linear.
        std::unordered_map<std::string, int64_t> lastAt;
        for (int64_t j = 0; j < T - 1; ++j) lastAt[lowerAscii(t[size_t(j)])] = j;
        std::vector<std::string> values;
        for (std::string_view name : stringsOf(a, 1)) {
            std::string value;
            if (auto it = lastAt.find(lowerAscii(name)); it != lastAt.end()) {
                value = t[size_t(it->second + 1)];
            } else {
                const int64_t k = unlabelledIndex(name);
                if (k >= 1 && k <= n) value = t[size_t(k - 1)];
            }
            values.push_back(std::move(value));
        }
        setStrings(r, values);
        return FuncOk;
    }

    SpacedParts out;
    if (mode == ParameterMode::Write) {
        YHashTable<NewValue> table = newValues(a);
        for (int64_t k = 1; k <= n; ++k) {
            const YString key(unlabelledName(k));
            if (const NewValue* v = table.find(key)) {
                appendPart(out, p.written(v->value.view()));
                table.remove(key);
            } else {
                appendPart(out, p.written(t[size_t(k - 1)]));
            }
        }
        for (int64_t i = n; i < T - 1; i += 2) {
            const YString key(t[size_t(i)]);
            if (const NewValue* v = table.find(key)) {
                appendPart(out, joinedPair(v->name.view(), p.written(v->value.view())));   // the table's spelling
                table.remove(key);
            } else {
                appendPart(out, joinedPair(t[size_t(i)], p.written(t[size_t(i + 1)])));
            }
        }
        for (const auto& entry : table) appendPart(out, joinedPair(entry.second.name.view(), p.written(entry.second.value.view())));
    } else {
        const YHashTable<bool> drop = nameSet(a);
        for (int64_t k = 1; k <= n; ++k)
            if (!drop.contains(YString(unlabelledName(k)))) appendPart(out, p.written(t[size_t(k - 1)]));
        for (int64_t i = n; i < T - 1; i += 2)
            if (!drop.contains(YString(t[size_t(i)]))) appendPart(out, joinedPair(t[size_t(i)], p.written(t[size_t(i + 1)])));
    }
    setString(r, out.text);
    return FuncOk;
}

FUNC_ERROR parseParameterString2(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const ParameterMode mode = parameterModeOf(a);
    if (mode == ParameterMode::Unknown || (mode == ParameterMode::Write && a.numArgs() < 4)) return FuncOk;
    const ParameterTokens p = parameterTokens(a);
    const std::vector<std::string>& t = p.tokens;
    const int64_t T = int64_t(t.size()), n = p.positional;

    // The entries in the order they stand; a last name without a value keeps
    // an empty one.
    std::vector<std::pair<std::string, std::string>> entries;
    for (int64_t k = 1; k <= n; ++k) entries.emplace_back(unlabelledName(k), t[size_t(k - 1)]);
    for (int64_t i = n; i < T; i += 2) entries.emplace_back(t[size_t(i)], i + 1 < T ? t[size_t(i + 1)] : std::string());

    if (mode == ParameterMode::Read) {
        std::unordered_map<std::string, size_t> firstAt;
        for (size_t k = 0; k < entries.size(); ++k) firstAt.try_emplace(lowerAscii(entries[k].first), k);
        std::vector<std::string> values;
        for (std::string_view name : stringsOf(a, 1)) {
            auto it = firstAt.find(lowerAscii(name));
            values.push_back(it == firstAt.end() ? std::string() : entries[it->second].second);
        }
        setStrings(r, values);
        return FuncOk;
    }

    SpacedParts out;
    auto write = [&](std::string_view name, std::string_view value) {
        appendPart(out, isUnlabelledName(name) ? p.written(value) : joinedPair(name, p.written(value)));
    };
    if (mode == ParameterMode::Write) {
        YHashTable<NewValue> table = newValues(a);
        for (const auto& [name, value] : entries) {
            const YString key(name);
            if (const NewValue* v = table.find(key)) {
                write(name, v->value.view());
                table.remove(key);
            } else {
                write(name, value);
            }
        }
        // New positional values first, so that they stay in front of the pairs.
        for (const auto& entry : table)
            if (isUnlabelledName(entry.second.name.view())) write(entry.second.name.view(), entry.second.value.view());
        for (const auto& entry : table)
            if (!isUnlabelledName(entry.second.name.view())) write(entry.second.name.view(), entry.second.value.view());
    } else {
        const YHashTable<bool> drop = nameSet(a);
        for (const auto& [name, value] : entries)
            if (!drop.contains(YString(name))) write(name, value);
    }
    setString(r, out.text);
    return FuncOk;
}

FUNC_ERROR buildParameterString(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const std::vector<std::string_view> names = stringsOf(a, 0), values = stringsOf(a, 1);
    const std::string_view triggers = given(a, 2) ? std::string_view(stringOr(a, 2)) : std::string_view(" \t");
    const size_t pairs = std::min(names.size(), values.size());
    if (pairs == 0) return FuncOk;
    SpacedParts out;
    for (size_t k = 0; k < pairs; ++k) {
        if (values[k].empty()) continue;
        const bool quote = values[k].find_first_of(triggers) != std::string_view::npos;
        // A value that holds a double quote goes inside single quotes (when it
        // holds none), which the parameter-string readers take as well:
        // nothing inside is escaped, so double quotes would end it early.
        const char mark = values[k].find('"') != std::string_view::npos && values[k].find('\'') == std::string_view::npos
                              ? '\''
                              : '"';
        appendPart(out, quote ? joinedPair(names[k], mark + std::string(values[k]) + mark)
                              : joinedPair(names[k], values[k]));
    }
    setString(r, out.text);
    return FuncOk;
}

// ---------------------------------------------------------------- ParseSpiceLines, RegExp

FUNC_ERROR parseSpiceLines(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    setStrings(r, sp_ParseSpiceLines(stringOr(a, 0)));
    return FuncOk;
}

// The first argument is the list of subjects, the second the pattern: a
// script matches many names against one expression.
FUNC_ERROR regExp(const FuncArgs& a, FuncResult& r, MessageHandler& m) {
    const std::vector<std::string_view> subjects = stringsOf(a, 0);
    if (subjects.empty()) return FuncOk;
    std::vector<std::string> pieces;
    std::string error;
    const RegExpVerdict verdict = sp_RegExpMatches(subjects, stringOr(a, 1), pieces, error);
    if (verdict == RegExpVerdict::BadPattern || verdict == RegExpVerdict::TooComplex) {
        m.error(verdict == RegExpVerdict::BadPattern ? kBadPattern : kMatchGaveUp, a.functionName(), error.c_str());
        return FuncFailed;
    }
    pieces.insert(pieces.begin(), verdict == RegExpVerdict::Complete ? "CompleteMatch" : "IncompleteMatch");
    setStrings(r, pieces);
    return FuncOk;
}

// ---------------------------------------------------------------- Sort, SortIdx, MapArray

// The C runtime's case-insensitive order in the C locale: bytes compared
// after folding ASCII capitals to small letters.
int compareNoCase(std::string_view x, std::string_view y) {
    const size_t n = std::min(x.size(), y.size());
    for (size_t k = 0; k < n; ++k) {
        unsigned char cx = static_cast<unsigned char>(x[k]), cy = static_cast<unsigned char>(y[k]);
        if (cx >= 'A' && cx <= 'Z') cx = static_cast<unsigned char>(cx - 'A' + 'a');
        if (cy >= 'A' && cy <= 'Z') cy = static_cast<unsigned char>(cy - 'A' + 'a');
        if (cx != cy) return cx < cy ? -1 : 1;
    }
    return x.size() == y.size() ? 0 : x.size() < y.size() ? -1 : 1;
}

// The stable permutation that orders texts case-insensitively (descending
// when `reverse`; equal texts keep their input order either way). Each text's
// first sixteen folded bytes, read as two big-endian numbers, sit beside its
// index, so that most comparisons are integer compares in a compact array
// instead of walks through texts scattered over memory; only texts longer
// than that whose starts agree are read further. Texts hold no NUL byte, so
// the zero padding of a short text orders it before every longer text with
// the same start.
std::vector<uint32_t> orderNoCase(const std::vector<std::string_view>& s, bool reverse) {
    constexpr size_t kPrefix = 16;
    struct Key {
        uint64_t high, low;
        uint32_t index;
        bool longer;  // more than kPrefix bytes
    };
    auto folded = [](std::string_view t, size_t from) {
        uint64_t part = 0;
        for (size_t j = from; j < from + 8; ++j) {
            unsigned char c = j < t.size() ? static_cast<unsigned char>(t[j]) : 0;
            if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
            part = part << 8 | c;
        }
        return part;
    };
    std::vector<Key> keys(s.size());
    for (size_t k = 0; k < s.size(); ++k)
        keys[k] = {folded(s[k], 0), folded(s[k], 8), uint32_t(k), s[k].size() > kPrefix};
    std::sort(keys.begin(), keys.end(), [&](const Key& x, const Key& y) {
        int c = x.high != y.high ? (x.high < y.high ? -1 : 1)
              : x.low != y.low   ? (x.low < y.low ? -1 : 1)
              : x.longer && y.longer ? compareNoCase(s[x.index].substr(kPrefix), s[y.index].substr(kPrefix))
                                     : int(x.longer) - int(y.longer);
        if (reverse) c = -c;
        return c != 0 ? c < 0 : x.index < y.index;
    });
    std::vector<uint32_t> order(s.size());
    for (size_t k = 0; k < s.size(); ++k) order[k] = keys[k].index;
    return order;
}

// Sort is stable although only the order of unequal texts is promised: texts
// equal but for case then keep their input order, the same on every run.
FUNC_ERROR sort(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    std::vector<std::string_view> list = stringsOf(a, 0);
    if (list.size() > UINT32_MAX) throw std::bad_alloc();
    if (sameWord(stringOr(a, 1), "unique")) {
        YHashTable<bool> seen(true, 1001);
        std::vector<std::string_view> distinct;
        for (std::string_view s : list) {
            const YString key(s);
            if (seen.contains(key)) continue;
            seen.add(key, true);
            distinct.push_back(s);
        }
        list = std::move(distinct);
    }
    const std::vector<uint32_t> order = orderNoCase(list, false);
    char** out = r.makeStringVector(int64_t(list.size()));
    for (size_t k = 0; k < list.size(); ++k) out[k] = copyString(list[order[k]]);
    return FuncOk;
}

// The permutation that sorts the values; stable, so equal keys keep their
// input order in either direction. NaN has no place among numbers: NaN values
// (and complex values with a NaN part) go after all others, in input order,
// also when sorting in reverse. An order that called NaN equal to everything
// would not be an order at all, and the sort could then read past its range.
FUNC_ERROR sortIdx(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const bool reverse = sameWord(stringOr(a, 1), "reverse");
    const int64_t n = given(a, 0) ? a.totalLength(0) : 0;
    // An index list is 32-bit; a list longer than that has no such result.
    if (n > INT32_MAX) throw std::bad_alloc();
    int32_t* out = r.makeIntegerVector(n);
    if (n > 0 && a.type(0) == VD_String) {
        const std::vector<uint32_t> order = orderNoCase(stringsOf(a, 0), reverse);
        std::copy(order.begin(), order.end(), out);
        return FuncOk;
    }
    // Numbers sort as (key, index) pairs side by side, for the same reason
    // as the texts above; the index breaks ties, which keeps the order stable.
    struct Key {
        double value;
        int32_t index;
    };
    std::vector<Key> keys;
    keys.reserve(size_t(n));
    std::vector<int32_t> nans;
    const double* d = n > 0 ? a.realData(0) : nullptr;
    const cplx* z = n > 0 && !d ? a.complexData(0) : nullptr;
    for (int64_t k = 0; k < n; ++k) {
        const double v = d ? d[k] : z ? std::hypot(z[k].real(), z[k].imag()) : 0.0;
        if (std::isnan(v))
            nans.push_back(int32_t(k));
        else
            keys.push_back({v, int32_t(k)});
    }
    std::sort(keys.begin(), keys.end(), [reverse](const Key& x, const Key& y) {
        if (x.value != y.value) return reverse ? x.value > y.value : x.value < y.value;
        return x.index < y.index;
    });
    for (const Key& key : keys) *out++ = key.index;
    std::copy(nans.begin(), nans.end(), out);
    return FuncOk;
}

FUNC_ERROR mapArray(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const VD_type kind = given(a, 0) ? a.type(0) : VD_Real;
    if (kind != VD_Real && kind != VD_String) return FuncOk;
    const int64_t nIndex = givenReal(a, 1) ? a.totalLength(1) : 0;
    const double* index = nIndex > 0 ? a.realData(1) : nullptr;
    // Entries are whole numbers at or above 0: NaN and negative indices place
    // nothing, and an index beyond memory saturates so that the allocation
    // below refuses it before touching anything.
    auto entryOf = [](double x) { return std::isnan(x) ? int64_t(-1) : toInt64(std::floor(x)); };
    int64_t last = 0;
    for (int64_t k = 0; k < nIndex; ++k) last = std::max(last, entryOf(index[k]));
    const int64_t pairs = std::min(nIndex, given(a, 0) ? a.totalLength(0) : 0);
    if (kind == VD_Real) {
        double* out = r.makeRealVector(last + 1);
        std::fill(out, out + last + 1, -1.0);
        const double* v = a.realData(0);
        for (int64_t k = 0; k < pairs; ++k)
            if (const int64_t e = entryOf(index[k]); e >= 0) out[e] = v[k];
    } else {
        char** out = r.makeStringVector(last + 1);
        const char* const* v = a.stringData(0);
        for (int64_t k = 0; k < pairs; ++k)
            if (const int64_t e = entryOf(index[k]); e >= 0) {
                std::free(out[e]);
                out[e] = copyString(v[k]);
            }
        // Entries no pair fills stay null, which reads as "".
    }
    return FuncOk;
}

// clang-format off
FunctionRow registrations[] = {
    {"BuildParameterString",  {String, String, String},                 {}, 2, 3, handler<buildParameterString>,  "", PyString2,       Plain},
    {"MapArray",              {Any, Real},                              {}, 2, 2, handler<mapArray>,              "", PyVector,        Plain},
    {"Parse",                 {String, String, String},                 {}, 1, 3, handler<parse>,                 "", PyStringList,    Plain},
    {"ParseParameterString",  {String, String, String, String, String}, {}, 3, 5, handler<parseParameterString>,  "", PyStringList,    Plain},
    {"ParseParameterString2", {String, String, String, String, String}, {}, 3, 5, handler<parseParameterString2>, "", PyStringList,    Plain},
    {"ParseSpiceLines",       {String},                                 {}, 1, 1, handler<parseSpiceLines>,       "", PyStringList,    Plain},
    {"QueryData",             {String, String},                         {}, 2, 2, handler<queryData>,             "", PyStringList,    Plain},
    {"RegExp",                {String, String},                         {}, 2, 2, handler<regExp>,                "", PyStringList,    Plain},
    {"Scan",                  {String, String, Real},                   {}, 1, 3, handler<scan>,                  "", PyStringList,    Plain},
    {"SelectColumns",         {String, Real, String},                   {}, 2, 3, handler<selectColumns>,         "", PyStringList,    Plain},
    {"SelectRows",            {String, String, Real, String},           {}, 2, 4, handler<selectRows>,            "", PyStringList,    Plain},
    {"Sort",                  {String, String},                         {}, 1, 2, handler<sort>,                  "", PyStringList,    Plain},
    {"SortIdx",               {Any, String},                            {}, 1, 2, handler<sortIdx>,               "", PyIntegerVector, Plain},
    {"SortIdx2",              {Any, String},                            {}, 1, 2, handler<sortIdx>,               "", PyIntegerVector, Plain},
};
// clang-format on

}  // namespace
