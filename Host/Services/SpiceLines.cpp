// The netlist line reader (see SpiceLines.h).
#include "SpiceLines.h"
#include "TextLines.h"

namespace {

constexpr std::string_view Blanks = " \t\r\f\v";

std::string_view trimmed(std::string_view s) { return cv::trimBlanks(s, Blanks); }

// The line up to its end-of-line comment.
std::string_view withoutComment(std::string_view line) {
    for (size_t k = 0; k < line.size(); ++k) {
        if (line[k] == ';') return line.substr(0, k);
        if (line[k] == '$' && (k == 0 || line[k - 1] == ' ' || line[k - 1] == '\t')) return line.substr(0, k);
    }
    return line;
}

}  // namespace

std::vector<YString> sp_ParseSpiceLines(std::string_view text) {
    std::vector<YString> lines;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);

        line = trimmed(line);
        if (line.empty() || line.front() == '*') continue;
        line = trimmed(withoutComment(line));
        if (line.empty()) continue;
        if (line.front() == '+') {
            const std::string_view more = trimmed(line.substr(1));
            if (more.empty()) continue;
            if (lines.empty()) {
                lines.emplace_back(more);
            } else {
                lines.back() += ' ';
                lines.back() += more;
            }
            continue;
        }
        lines.emplace_back(line);
    }
    return lines;
}
