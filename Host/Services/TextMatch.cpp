// Wildcards and regular expressions (see TextMatch.h).
#define PCRE2_CODE_UNIT_WIDTH 8
#include "TextMatch.h"

#include <pcre2.h>

#include <memory>
#include <new>

namespace {

unsigned char folded(char c, bool caseSensitive) {
    const auto u = static_cast<unsigned char>(c);
    return caseSensitive || u < 'A' || u > 'Z' ? u : static_cast<unsigned char>(u - 'A' + 'a');
}

// Limits of one match: far beyond any pattern a script needs, well short of
// a hang on a catastrophic one ("(a+)+b" against forty a's).
constexpr uint32_t kMatchLimit = 5'000'000;
constexpr uint32_t kDepthLimit = 100'000;   // in KiB of backtracking memory

struct CodeDeleter {
    void operator()(pcre2_code* p) const { pcre2_code_free(p); }
};
struct MatchDataDeleter {
    void operator()(pcre2_match_data* p) const { pcre2_match_data_free(p); }
};
struct MatchContextDeleter {
    void operator()(pcre2_match_context* p) const { pcre2_match_context_free(p); }
};

std::string pcreMessage(int code) {
    PCRE2_UCHAR buffer[256];
    if (pcre2_get_error_message(code, buffer, sizeof buffer) < 0) return "unknown error";
    return reinterpret_cast<const char*>(buffer);
}

}  // namespace

bool sp_FilterString(std::string_view text, std::string_view pattern, int flags) {
    const bool exact = (flags & FilterCaseSensitive) != 0;
    constexpr size_t none = std::string_view::npos;
    size_t t = 0, p = 0;
    size_t starP = none, starT = 0;   // just after the last star, and the text it resumes from
    while (t < text.size()) {
        if (p < pattern.size()) {
            const char c = pattern[p];
            if (c == '*') {
                starP = ++p;
                starT = t;
                continue;
            }
            size_t width = 1;
            char want = c;
            bool literal = false;
            if (c == '\\') {
                literal = true;
                if (p + 1 < pattern.size()) {
                    want = pattern[p + 1];
                    width = 2;
                }
            }
            if ((c == '?' && !literal) || folded(want, exact) == folded(text[t], exact)) {
                p += width;
                ++t;
                continue;
            }
        }
        // A mismatch: let the last star take one more byte and try again.
        if (starP == none) return false;
        p = starP;
        t = ++starT;
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

RegExpVerdict sp_RegExpMatches(const std::vector<std::string_view>& subjects, std::string_view pattern,
                               std::vector<std::string>& pieces, std::string& error) {
    pieces.clear();
    error.clear();
    int code = 0;
    PCRE2_SIZE offset = 0;
    std::unique_ptr<pcre2_code, CodeDeleter> re(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()),
                                                              pattern.size(), 0, &code, &offset, nullptr));
    if (!re) {
        error = pcreMessage(code) + " at offset " + std::to_string(offset);
        return RegExpVerdict::BadPattern;
    }
    std::unique_ptr<pcre2_match_data, MatchDataDeleter> match(pcre2_match_data_create_from_pattern(re.get(), nullptr));
    std::unique_ptr<pcre2_match_context, MatchContextDeleter> context(pcre2_match_context_create(nullptr));
    if (!match || !context) throw std::bad_alloc();
    pcre2_set_match_limit(context.get(), kMatchLimit);
    pcre2_set_depth_limit(context.get(), kDepthLimit);

    uint32_t groups = 0;
    pcre2_pattern_info(re.get(), PCRE2_INFO_CAPTURECOUNT, &groups);
    const size_t perSubject = groups == 0 ? 1 : groups;

    bool allComplete = true;
    std::vector<std::string> found;
    found.reserve(subjects.size() * perSubject);
    for (std::string_view subject : subjects) {
        const auto text = reinterpret_cast<PCRE2_SPTR>(subject.data());
        auto run = [&](uint32_t options) {
            return pcre2_match(re.get(), text, subject.size(), 0, PCRE2_ANCHORED | options, match.get(), context.get());
        };
        int rc = run(PCRE2_ENDANCHORED);
        if (rc == PCRE2_ERROR_NOMATCH) {
            // Only a subject that is no complete match is asked whether it
            // could become one: a hard partial match would stop at "could
            // take more" even where the subject already matches. PCRE2 refuses
            // end-anchoring with partial matching, so a match found here that
            // stops short of the end is no match at all.
            allComplete = false;
            rc = run(PCRE2_PARTIAL_HARD);
            if (rc >= 0) rc = PCRE2_ERROR_NOMATCH;
        }
        if (rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT || rc == PCRE2_ERROR_HEAPLIMIT) {
            error = "the match gave up at its backtracking limit";
            return RegExpVerdict::TooComplex;
        }
        const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(match.get());
        if (rc == PCRE2_ERROR_PARTIAL) {
            found.emplace_back(subject.substr(ov[0], ov[1] - ov[0]));
            found.resize(found.size() + perSubject - 1);
        } else if (rc >= 0) {
            if (groups == 0) {
                found.emplace_back(subject);
            } else {
                for (uint32_t g = 1; g <= groups; ++g) {
                    // Unset groups (and those beyond rc) have PCRE2_UNSET in both slots.
                    const PCRE2_SIZE b = ov[2 * g], e = ov[2 * g + 1];
                    if (int(g) < rc && b != PCRE2_UNSET && e >= b) found.emplace_back(subject.substr(b, e - b));
                    else found.emplace_back();
                }
            }
        } else {
            allComplete = false;
            found.resize(found.size() + perSubject);
        }
    }
    pieces = std::move(found);
    return allComplete ? RegExpVerdict::Complete : RegExpVerdict::Incomplete;
}
