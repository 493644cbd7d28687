#include "Dialogs.h"

#include <strings.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "PathUtil.h"

namespace {

bool onTerminal() { return ::isatty(STDIN_FILENO) && ::isatty(STDERR_FILENO); }

// One line from standard input, without its end; nothing at end of input or
// when a signal (Ctrl-C) interrupts the read. Reads byte by byte so that
// nothing after the line is taken from a caller that reads on.
std::optional<std::string> readAnswer() {
    std::string line;
    for (char c;;) {
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n <= 0) return n == 0 && !line.empty() ? std::optional(line) : std::nullopt;
        if (c == '\n') return line;
        if (line.size() < 4096) line += c;
    }
}

std::string trimmed(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

std::vector<const char*> buttonsOf(const char* word) {
    static const struct {
        const char* word;
        std::vector<const char*> answers;
    } kSets[] = {{"Ok", {"Ok"}},
                 {"OkCancel", {"Ok", "Cancel"}},
                 {"YesNo", {"Yes", "No"}},
                 {"YesNoCancel", {"Yes", "No", "Cancel"}},
                 {"RetryCancel", {"Retry", "Cancel"}},
                 {"AbortRetryIgnore", {"Abort", "Retry", "Ignore"}}};
    for (const auto& set : kSets)
        if (word && ::strcasecmp(word, set.word) == 0) return set.answers;
    return kSets[0].answers;
}

// The button an answer names: its number, its word or a unique start of it.
const char* buttonNamed(const std::vector<const char*>& buttons, const std::string& answer) {
    char* end = nullptr;
    const long k = std::strtol(answer.c_str(), &end, 10);
    if (end != answer.c_str() && *end == '\0') return k >= 1 && size_t(k) <= buttons.size() ? buttons[k - 1] : nullptr;
    const char* match = nullptr;
    for (const char* b : buttons) {
        if (::strcasecmp(b, answer.c_str()) == 0) return b;
        if (::strncasecmp(b, answer.c_str(), answer.size()) == 0) {
            if (match) return nullptr;  // ambiguous
            match = b;
        }
    }
    return match;
}

}  // namespace

YString sp_ChooseDirectory(const char* initial) {
    const std::string start = initial ? initial : "";
    if (!onTerminal()) return YString(start);
    std::fprintf(stderr, "Choose a directory [%s]: ", start.c_str());
    std::fflush(stderr);
    const std::optional<std::string> answer = readAnswer();
    if (!answer) std::fputc('\n', stderr);
    const std::string chosen = answer ? trimmed(*answer) : std::string();
    return YString(chosen.empty() ? start : sp_GetFullPath(chosen));
}

YString sp_OpenMessageBox(const char* text, const char* title, const char* kind, const char* buttons,
                          MessageBoxCheckBox) {
    const std::vector<const char*> answers = buttonsOf(buttons);
    if (!onTerminal()) return YString(answers.front());
    std::string kindWord = kind && *kind ? kind : "info";
    kindWord[0] = char(std::toupper(static_cast<unsigned char>(kindWord[0])));
    std::string choices;
    for (size_t i = 0; i < answers.size(); ++i)
        choices += (i ? " / " : "") + std::to_string(i + 1) + " " + answers[i];
    std::fprintf(stderr, "%s: %s\n%s\n", kindWord.c_str(), title ? title : "", text ? text : "");
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::fprintf(stderr, "%s [%s]: ", choices.c_str(), answers.front());
        std::fflush(stderr);
        const std::optional<std::string> answer = readAnswer();
        if (!answer) {
            std::fputc('\n', stderr);
            break;
        }
        const std::string a = trimmed(*answer);
        if (a.empty()) break;
        if (const char* b = buttonNamed(answers, a)) return YString(b);
    }
    return YString(answers.front());
}
