// The model library's parts tree: a definitions file merged with its
// journal, the parts selector's data file built from the library index, the
// user's models, the categories and the parts with their journals, and the
// flat name list of selector lines.
//
// Both writers read every input before they replace their output, and
// replace it atomically: the natural call that applies a journal to the
// very file it was made for must not lose that file.
#include <algorithm>
#include <cstdlib>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include "FuncKit.h"
#include "Clocks.h"
#include "Options.h"
#include "PartsLibrary.h"
#include "TextLines.h"
#include "Value.h"

namespace {

using namespace cvmod;

constexpr int kPartsActionColumn = 9;
constexpr int kCategoryActionColumn = 2;
constexpr long long kCategoryColumn = 3;
constexpr long long kCategoryPathColumn = 1;
constexpr long long kLabelColumn = 4;
constexpr long long kTypeColumn = 6;
constexpr const char* kDefaultType = "ps_model";

std::vector<std::string> fileNames(const FuncArgs& a) {
    std::vector<std::string> names;
    for (std::string_view s : stringsOf(a, 0)) names.emplace_back(s);
    return names;
}

// Output lines repeat long inputs (a category path for every part in it,
// a tree path for every alias), so their total is counted against the
// memory limit as they are made.
class OutputBudget {
public:
    void add(size_t bytes) {
        total_ += bytes + 32;  // the smallest block malloc hands out, bookkeeping included
        if (total_ > cv::memoryLimitBytes()) throw std::bad_alloc();
    }

private:
    size_t total_ = 0;
};

std::vector<std::string_view> linesOf(const LibraryRecordTable& t) {
    std::vector<std::string_view> lines;
    lines.reserve(t.size());
    for (const LibraryRecord& r : t) lines.push_back(r.line.view());
    return lines;
}

FUNC_ERROR applyJournal(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const std::vector<std::string> files = fileNames(a);
    if (files.size() < 3) {
        setInteger(r, -1);
        return FuncOk;
    }
    const int column = intOr(a, 1, 0);
    LibraryRecordTable base, journal;
    cv::readRecordFile(files[1].c_str(), base);
    cv::readRecordFile(files[2].c_str(), journal);
    const LibraryRecordTable merged = cv::applyLibraryJournal(std::move(base), journal, column);
    // An output that cannot be written gives -1 (the code of too few file
    // names), so that the caller always gets an answer.
    setInteger(r, cv::writeLibraryLines(files[0].c_str(), linesOf(merged)) ? int32_t(merged.size()) : -1);
    return FuncOk;
}

// ---------------------------------------------------------------- the selector data

LibraryRecord withField(const LibraryRecord& r, long long j, std::string_view value) {
    LibraryRecord copy = r;
    copy.setField(j, value);
    return copy;
}

// The user's models under their own two categories (a model added recently,
// or marked "*" in the index, under both), then the whole index, less the
// uncategorised entries of models the user added.
LibraryRecordTable userAndLibraryModels(const LibraryRecordTable& library, const LibraryRecordTable& userModels) {
    // In 64 bits: a lifetime of many years must not wrap the cut-off round.
    const int64_t cutoff = int64_t(sp_GetSystemTime()) - int64_t(sp_GetIntOption("NewModelLifetime")) * 86400;
    LibraryRecordTable models;
    OutputBudget budget;  // a user list may name one long model many times
    for (const LibraryRecord& u : userModels) {
        const LibraryRecord* m = library.find(u.key.view());
        if (!m) continue;
        budget.add(4 * m->line.length());  // two copies, each a line and its fields
        models.insert(withField(*m, kCategoryColumn, "* All User Models *"));
        const int64_t added = std::strtoll(u.field(1).c_str(), nullptr, 10);
        if (added > cutoff || m->field(1) == "*")
            models.insert(withField(*m, kCategoryColumn, "* Recently Added Models *"));
    }
    for (const LibraryRecord& m : library)
        if (!(equalNoCase(m.field(kCategoryColumn).view(), "*** Unknown ***") && userModels.contains(m.key.view())))
            models.insert(m);
    return models;
}

// One "Select from Model Library..." entry per category, named after the
// first model of the category in name order, added to the parts.
void oneEntryPerCategory(const LibraryRecordTable& library, LibraryRecordTable& parts) {
    std::vector<const LibraryRecord*> sorted;
    sorted.reserve(library.size());
    for (const LibraryRecord& m : library) sorted.push_back(&m);
    std::stable_sort(sorted.begin(), sorted.end(), [](const LibraryRecord* x, const LibraryRecord* y) {
        return x->key.compareNoCase(y->key.view()) < 0;
    });
    std::unordered_set<std::string> categories;
    for (const LibraryRecord* m : sorted) {
        const YString& category = m->field(kCategoryColumn);
        if (!categories.insert(lowerAscii(category.view())).second) continue;
        std::string line = category.str();
        line.append(" Model;").append(m->field(1).view()).append(";;").append(category.view());
        line.append(";Select from Model Library...;").append(m->key.view()).append(";ps_model_sel");
        parts.insert(LibraryRecord::fromLine(line));
    }
}

std::string selectorLine(const LibraryRecord& p, const LibraryRecordTable& categories, bool& hidden) {
    const YString& category = p.field(kCategoryColumn);
    YString path;
    hidden = false;
    if (const LibraryRecord* k = categories.find(category.view())) {
        path = k->field(kCategoryPathColumn);
        hidden = path.length() >= 12 && equalNoCase(path.view().substr(0, 12), "** HIDDEN **");
    } else {
        const LibraryRecord* unassigned = categories.find("*** Unassigned ***");
        path = unassigned ? unassigned->field(kCategoryPathColumn) : YString("*** Unassigned ***");
        path += '|';
        path += category;
    }
    if (hidden) return {};
    path.stripTrailing("|");
    const YString& label = p.field(kLabelColumn).empty() ? p.key : p.field(kLabelColumn);
    const YString& type = p.field(kTypeColumn);
    std::string line;
    line.reserve(path.length() + label.length() + p.line.length() + type.length() + 16);
    line.append(path.view()).append("|").append(label.view()).append(";<").append(p.line.view()).append(">;");
    line.append(type.empty() ? std::string_view(kDefaultType) : type.view()).append(";");
    return line;
}

FUNC_ERROR buildPartSelectorData(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    std::vector<std::string> kinds;
    if (given(a, 2)) {
        YArray<YString> words;
        sp_SplitLine(stringOr(a, 2), '|', words);
        for (const YString& w : words) kinds.push_back(w.str());
    }
    const std::vector<std::string> files = fileNames(a);
    if (files.size() < 7) {
        setInteger(r, -2);
        return FuncOk;
    }
    LibraryRecordTable library, userModels, categories0, categories1, parts0, parts1;
    cv::readRecordFile(files[1].c_str(), library);
    cv::readRecordFile(files[2].c_str(), userModels);
    cv::readRecordFile(files[3].c_str(), categories0);
    cv::readRecordFile(files[4].c_str(), categories1);
    cv::readRecordFile(files[5].c_str(), parts0, kinds);
    cv::readRecordFile(files[6].c_str(), parts1, kinds);

    LibraryRecordTable models;
    if (equalNoCase(stringOr(a, 1), "compressmodels"))
        oneEntryPerCategory(library, parts0);
    else
        models = userAndLibraryModels(library, userModels);
    const LibraryRecordTable parts = cv::applyLibraryJournal(std::move(parts0), parts1, kPartsActionColumn);
    const LibraryRecordTable categories = cv::applyLibraryJournal(std::move(categories0), categories1, kCategoryActionColumn);

    // A model takes precedence over a part of the same name.
    std::vector<std::string> lines;
    lines.reserve(models.size() + parts.size());
    bool hidden = false;
    OutputBudget budget;
    auto emit = [&](const LibraryRecord& p) {
        std::string line = selectorLine(p, categories, hidden);
        if (hidden) return;
        budget.add(line.size());
        lines.push_back(std::move(line));
    };
    for (const LibraryRecord& m : models) emit(m);
    for (const LibraryRecord& p : parts)
        if (!models.contains(p.key.view())) emit(p);

    const std::vector<std::string_view> views(lines.begin(), lines.end());
    setInteger(r, cv::writeLibraryLines(files[0].c_str(), views) ? int32_t(lines.size()) : -1);
    return FuncOk;
}

// ---------------------------------------------------------------- the name list

// A tree level without its sort prefix: "[02]Passive" is "Passive".
std::string_view levelName(std::string_view level) {
    if (level.empty() || level[0] != '[') return level;
    const size_t close = level.find(']');
    return close == std::string_view::npos ? level : level.substr(close + 1);
}

FUNC_ERROR extractPartsTreeNameList(const FuncArgs& a, FuncResult& r, MessageHandler&) {
    const std::vector<std::string_view> input = stringsOf(a, 0);
    std::vector<std::string> out;
    std::unordered_set<std::string> seen;
    OutputBudget budget;
    for (size_t position = 0; position < input.size(); ++position) {
        YArray<YString> fields, items;
        sp_SplitLine(input[position], ';', "<>", fields, SplitLineStripQuotes);
        const YString empty;
        const YString& tree = fields.count() > 0 ? fields.at(0) : empty;
        const YString& part = fields.count() > 1 ? fields.at(1) : empty;
        const YString& type = fields.count() > 2 ? fields.at(2) : empty;
        sp_SplitLine(part.view(), ';', items);
        const std::string_view name = items.count() > 0 ? items.at(0).view() : std::string_view();
        if (name.empty() || !seen.insert(lowerAscii(name)).second) continue;

        YArray<YString> levels;
        sp_SplitLine(tree.view(), '|', levels);
        std::string tail = ";";
        for (const YString& level : levels) tail.append(levelName(level.view())).append("|");
        tail.append(";").append(std::to_string(position)).append(";");
        tail.append(equalNoCase(type.view(), "ps_model") ? "model" : "generic");
        budget.add(name.size() + tail.size());
        out.push_back(std::string(name) + tail);

        if (items.count() > 8) {
            YArray<YString> aliases;
            sp_SplitLine(items.at(8).view(), ',', aliases);
            // An empty alias would name nothing: ",," and a trailing "," add no line.
            for (const YString& alias : aliases)
                if (!alias.empty()) {
                    budget.add(alias.length() + tail.size());
                    out.push_back(alias.str() + tail);
                }
        }
    }
    setStrings(r, out);
    return FuncOk;
}

// clang-format off
FunctionRow registrations[] = {
    {"ApplyJournal",             {String, Real},           {}, 2, 2, handler<applyJournal>,             "", PyInteger,    Plain},
    {"ExtractPartsTreeNameList", {String},                 {}, 1, 1, handler<extractPartsTreeNameList>, "", PyStringList, Plain},
    {"_BuildPartSelectorData",   {String, String, String}, {}, 1, 3, handler<buildPartSelectorData>,    "", PyInteger,    Plain},
};
// clang-format on

}  // namespace
