// The lexical path services: splitting gives the path back, cleaning is
// idempotent and never leaves "//", "/./" or a trailing '/', and a relative
// path between two absolute paths leads from the one to the other.
#include "FuzzSupport.h"
#include "PathUtil.h"

namespace {
[[noreturn]] void fail(const char* what, std::string_view a, std::string_view b = {}) {
    std::fprintf(stderr, "%s: '%.*s' '%.*s'\n", what, int(a.size()), a.data(), int(b.size()), b.data());
    std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Bytes in(data, size);
    const std::string base = in.str();
    const std::string path = in.rest();

    for (const PathName& p : {sp_SplitPath(path), sp_SplitPath_Old(path)})
        if (p.drive.str() + p.dir.str() + p.fname.str() + p.ext.str() != path) fail("split lost bytes", path);

    const std::string clean = sp_CleanPath(path);
    if (sp_CleanPath(clean) != clean) fail("cleaning is not idempotent", path, clean);
    if (clean.find("//") != std::string::npos || clean.find("/./") != std::string::npos ||
        (clean.size() > 1 && clean.back() == '/'))
        fail("cleaned path not clean", path, clean);

    // Absolute forms of both, so that nothing depends on the current directory.
    const std::string to = sp_CleanPath("/" + path), from = sp_CleanPath("/" + base);
    const std::string rel = sp_RelativePath(to, from);
    if (sp_GetFullPath(rel, from) != to) fail("relative path does not lead back", to, from);
    return 0;
}
