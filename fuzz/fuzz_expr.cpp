// The expression language: the parser, the printer round trip (printing a
// parsed program and parsing the text again gives the same tree), and the
// evaluation of what parses. Programs that assign are parsed and printed but
// not run, so that no input leaves values behind for the next one.
#include "Expr/Parser.h"
#include "ExprFixture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cv::Session& s = fuzz::exprSession();
    std::string_view text(reinterpret_cast<const char*>(data), size);
    cv::expr::Program program;
    try {
        program = cv::expr::parseProgram(text);
    } catch (const cv::expr::ParseError&) {
        return 0;
    }
    std::string printed = cv::expr::serialise(program);
    cv::expr::Program again;
    try {
        again = cv::expr::parseProgram(printed);
    } catch (const cv::expr::ParseError& e) {
        std::fprintf(stderr, "printed text does not parse: %s\n%s\n", e.what(), printed.c_str());
        std::abort();
    }
    if (!cv::expr::sameTree(program, again)) {
        std::fprintf(stderr, "printed text parses to another tree:\n%s\n", printed.c_str());
        std::abort();
    }
    for (const auto& st : program.statements)
        if (st->kind == cv::expr::NodeKind::Assign) return 0;
    std::string error;
    s.run(text, [](const cv::ValuePtr&) {}, error);
    return 0;
}
