// Entry points of the loaders: read the file once, pick the parser, and map
// the names of simulator vectors to the names scripts use.
#include "LoaderSupport.h"

#include <new>

namespace cv::load {

namespace {

template <typename Parse>
DataSet loadWith(const std::string& path, Parse parse, bool populate = true) {
    const detail::FileBuffer file = detail::readWholeFile(path, populate);
    try {
        DataSet data = parse(file.view(), path);
        // Warnings reach the user beside other files' messages: name the file, as errors do.
        for (std::string& warning : data.warnings) warning = path + ": " + warning;
        return data;
    } catch (const std::bad_alloc&) {
        // Sizes are checked against the file before anything is reserved, so
        // this takes a file far larger than the memory left.
        detail::fail(path, 0, "not enough memory to load the file");
    } catch (const std::length_error&) {
        detail::fail(path, 0, "not enough memory to load the file");
    }
}

}  // namespace

DataSet loadFile(const std::string& path) {
    // Touchstone files go by their name first: a version 1 file has no mark
    // of its own, and its name holds its port count.
    if (detail::hasTouchstoneName(path)) return loadTouchstone(path);
    return loadWith(path, [](std::string_view bytes, const std::string& name) {
        if (detail::looksLikeSpiceRaw(bytes)) return detail::parseSpiceRaw(bytes, name);
        if (detail::looksLikeTouchstone(bytes)) return detail::parseTouchstone(bytes, name);
        return detail::parseCsv(bytes, name);
    });
}

DataSet loadCsv(const std::string& path) { return loadWith(path, detail::parseCsv); }

DataSet loadSpiceRaw(const std::string& path) { return loadWith(path, detail::parseSpiceRaw); }

// The Touchstone reader reads the file itself; this pass looks at its header
// alone, so the file's pages are not all read in first.
DataSet loadTouchstone(const std::string& path) { return loadWith(path, detail::parseTouchstone, false); }

std::string scriptName(const std::string& original) {
    // Only the single-node forms "v(node)" and "i(source)" map; "v(a,b)" is a
    // difference and stays as written, like every other name.
    if (original.size() < 4 || original[1] != '(' || original.back() != ')') return original;
    const char kind = original[0];
    if (kind != 'v' && kind != 'V' && kind != 'i' && kind != 'I') return original;
    const std::string_view inner = detail::trim(std::string_view(original).substr(2, original.size() - 3));
    if (inner.empty() || inner.find_first_of(",()") != std::string_view::npos) return original;
    if (kind == 'v' || kind == 'V') return std::string(inner);
    return std::string(inner) + "#branch";
}

}  // namespace cv::load
