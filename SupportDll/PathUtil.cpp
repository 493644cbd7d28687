// sp_SplitPath: the four parts of a path, both slash kinds separating.
#include "PathUtil.h"

#include <cctype>

PathName sp_SplitPath(std::string_view path) {
    constexpr size_t npos = std::string_view::npos;
    PathName parts;
    if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) {
        parts.drive = path.substr(0, 2);
        path.remove_prefix(2);
    }
    const size_t lastSlash = path.find_last_of("/\\");
    if (lastSlash != npos) {
        parts.dir = path.substr(0, lastSlash + 1);
        path.remove_prefix(lastSlash + 1);
    }
    const size_t nameStart = path.find_first_not_of('.');
    const size_t lastDot = path.rfind('.');
    const bool hasExtension = nameStart != npos && lastDot != npos && lastDot > nameStart;
    parts.fname = path.substr(0, hasExtension ? lastDot : npos);
    if (hasExtension) parts.ext = path.substr(lastDot);
    return parts;
}
