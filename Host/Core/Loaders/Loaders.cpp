// Entry points of the loaders: read the file once, pick the parser, and map
// the names of simulator vectors to the names scripts use.
#include "LoaderSupport.h"

#include <algorithm>
#include <new>
#include <stdexcept>

namespace cv::load {

namespace {

// Every column read now: for loadFile, and for a file read into memory (a
// pipe), whose columns could not be read later from the file.
void readEverything(DataSet& data, const detail::FileBuffer& file) {
    LazyColumns& lazy = *data.lazy;
    std::vector<std::size_t> all(lazy.count());
    for (std::size_t k = 0; k < all.size(); ++k) all[k] = k;
    lazy.read(all, file.view(), file.mapped());
    auto take = [&](Signal& signal, std::size_t k) {
        signal.values = lazy.column(k);
        signal.divisionLengths = signal.values->divisionLengths();
    };
    take(data.reference, 0);
    for (std::size_t k = 1; k < all.size(); ++k) take(data.signals[k - 1], k);
    if (data.divisionLabels.empty()) data.divisionLabels = data.reference.values->divisionLabels();
    data.lazy.reset();
}

template <typename Parse>
DataSet loadWith(const std::string& path, Parse parse, bool readNow) {
    const detail::FileBuffer file = detail::readWholeFile(path, false);
    try {
        DataSet data = parse(file, path);
        if (data.lazy && (readNow || !file.mapped())) readEverything(data, file);
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

DataSet openAny(const std::string& path, bool readNow) {
    // Touchstone files go by their name first: a version 1 file has no mark
    // of its own, and its name holds its port count.
    if (detail::hasTouchstoneName(path)) return loadTouchstone(path);
    return loadWith(
        path,
        [](const detail::FileBuffer& file, const std::string& name) {
            const std::string_view bytes = file.view();
            if (detail::looksLikeSpiceRaw(bytes)) return detail::openSpiceRaw(file, name);
            if (detail::looksLikeTouchstone(bytes)) return detail::parseTouchstone(bytes, name);
            return detail::openCsv(file, name);
        },
        readNow);
}

// What differs between the file opened and the file found now, for the message.
std::string whatChanged(const FileIdentity& before, const FileIdentity& now) {
    if (before.device != now.device || before.inode != now.inode) return "it was replaced by another file";
    if (before.size != now.size)
        return "its size changed from " + std::to_string(before.size) + " to " + std::to_string(now.size) + " bytes";
    return "it was written again";
}

}  // namespace

LazyColumns::LazyColumns(std::string path, FileIdentity identity, std::unique_ptr<Reader> reader, std::size_t count)
    : path_(std::move(path)), identity_(identity), reader_(std::move(reader)), values_(count) {}

MutableValuePtr LazyColumns::column(std::size_t k) {
    if (!values_.at(k)) read({k});
    return values_[k];
}

std::vector<std::size_t> LazyColumns::unread(std::vector<std::size_t> columns) const {
    std::erase_if(columns, [&](std::size_t k) { return values_.at(k) != nullptr; });
    std::sort(columns.begin(), columns.end());
    columns.erase(std::unique(columns.begin(), columns.end()), columns.end());
    return columns;
}

void LazyColumns::read(std::vector<std::size_t> columns) {
    columns = unread(std::move(columns));
    if (columns.empty()) return;  // the file is not even opened
    const detail::FileBuffer file = detail::readWholeFile(path_, false);
    if (!(file.identity() == identity_))
        detail::fail(path_, 0,
                     "the file changed on disk after it was loaded (" + whatChanged(identity_, file.identity()) +
                         "): load it again");
    read(std::move(columns), file.view(), file.mapped());
}

void LazyColumns::read(std::vector<std::size_t> columns, std::string_view bytes, bool mapped) {
    columns = unread(std::move(columns));
    if (columns.empty()) return;
    std::vector<MutableValuePtr> out(values_.size());
    {
        const FaultHandlers handlers;  // for the readers' readGuarded
        reader_->read(bytes, mapped, columns, out);
    }
    ++passes_;
    for (const std::size_t k : columns) values_[k] = std::move(out[k]);
}

void LazyColumns::prefetch(std::vector<std::size_t> columns) noexcept {
    try {
        read(std::move(columns));
    } catch (...) {
    }
}

DataSet loadFile(const std::string& path) { return openAny(path, true); }

DataSet openFile(const std::string& path) { return openAny(path, false); }

DataSet loadCsv(const std::string& path) { return loadWith(path, detail::openCsv, true); }

DataSet loadSpiceRaw(const std::string& path) { return loadWith(path, detail::openSpiceRaw, true); }

// The Touchstone reader reads the file itself; this looks at its header alone.
DataSet loadTouchstone(const std::string& path) {
    return loadWith(
        path, [](const detail::FileBuffer& file, const std::string& name) { return detail::parseTouchstone(file.view(), name); },
        true);
}

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
