// The statistical report data file: reading it safely with libxml2, the
// append, the compiler (statistics and sensitivities) and the validator.
// The pages are in ReportPages.cpp.
#include "Reports.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlschemas.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "AtomicFile.h"
#include "PathUtil.h"
#include "TextLines.h"

namespace {

// ---------------------------------------------------------------- libxml2 set-up

// Parse options for every document this host reads: no network, no external
// DTD, no entity substitution. Data files also drop blank text nodes, so that
// a rewritten file is indented evenly; a user's document is read as it is.
constexpr int kParseOptions = XML_PARSE_NONET;
constexpr int kDataFileOptions = XML_PARSE_NONET | XML_PARSE_NOBLANKS;

xmlExternalEntityLoader defaultLoader = nullptr;

// Schemas may import or include other schemas and documents may name a DTD;
// whatever libxml2 would load for them comes from local files only.
xmlParserInputPtr localOnlyLoader(const char* url, const char* id, xmlParserCtxtPtr ctxt) {
    if (url) {
        const char* colon = std::strstr(url, "://");
        if (colon && std::strncmp(url, "file://", 7) != 0) return nullptr;
    }
    return defaultLoader ? defaultLoader(url, id, ctxt) : nullptr;
}

void initXml() {
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        defaultLoader = xmlGetExternalEntityLoader();
        xmlSetExternalEntityLoader(localOnlyLoader);
    });
}

// Collects libxml2's messages during one operation instead of letting them
// reach stderr; restores the previous handler when done.
class ErrorCapture {
public:
    ErrorCapture() {
        initXml();
        xmlSetStructuredErrorFunc(this, &ErrorCapture::onError);
        xmlSetGenericErrorFunc(this, &ErrorCapture::onGeneric);
    }
    ~ErrorCapture() {
        xmlSetStructuredErrorFunc(nullptr, nullptr);
        xmlSetGenericErrorFunc(nullptr, nullptr);
    }
    ErrorCapture(const ErrorCapture&) = delete;
    ErrorCapture& operator=(const ErrorCapture&) = delete;

    static void onError(void* self, xmlErrorPtr e) {
        auto* c = static_cast<ErrorCapture*>(self);
        if (!e || !c->first.empty() || e->level == XML_ERR_WARNING) return;
        std::string text = e->message ? e->message : "error";
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
        c->first = e->line > 0 ? "line " + std::to_string(e->line) + ": " + text : text;
    }
    static void onGeneric(void*, const char*, ...) {}
    std::string first;
};

struct DocFree {
    void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;

bool fail(std::string* why, std::string text) {
    if (why) *why = std::move(text);
    return false;
}

// Reads a whole file of at most kReportMaxFileBytes. errno-like codes in
// `err`: ENOENT when missing, EFBIG when too large.
bool readLimited(std::string_view path, std::string& out, int& err) {
    const std::string p(path);
    const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        err = errno;
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return false;
    }
    if (size_t(st.st_size) > kReportMaxFileBytes) {
        err = EFBIG;
        ::close(fd);
        return false;
    }
    out.clear();
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            err = errno;
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        out.append(buf, size_t(n));
        // The file may grow while it is read.
        if (out.size() > kReportMaxFileBytes) {
            err = EFBIG;
            ::close(fd);
            return false;
        }
    }
    ::close(fd);
    err = 0;
    return true;
}

std::string readError(std::string_view path, int err) {
    if (err == EFBIG) return std::string(path) + ": larger than the limit of 64 MiB";
    return std::string(path) + ": " + std::strerror(err);
}

// A document declaring entities is refused before anything reads its
// content: that is where an expansion bomb would go off.
bool declaresEntities(const xmlDoc* doc) {
    for (const xmlDtd* dtd : {doc->intSubset, doc->extSubset})
        if (dtd && dtd->entities) return true;
    return false;
}

// Parses any XML text with the host's options; null (message in `why`) when
// it is not well-formed or declares entities.
DocPtr parseXml(std::string_view text, const char* url, std::string* why, int options = kParseOptions) {
    ErrorCapture errors;
    if (text.size() > kReportMaxFileBytes) {
        fail(why, "larger than the limit of 64 MiB");
        return nullptr;
    }
    DocPtr doc(xmlReadMemory(text.data(), int(text.size()), url, nullptr, options));
    if (!doc) {
        fail(why, errors.first.empty() ? "not well-formed XML" : errors.first);
        return nullptr;
    }
    if (declaresEntities(doc.get())) {
        fail(why, "the document declares entities, which this host does not expand");
        return nullptr;
    }
    return doc;
}

// ---------------------------------------------------------------- schemas

struct SchemaFree {
    void operator()(xmlSchema* s) const { xmlSchemaFree(s); }
};
using SchemaPtr = std::unique_ptr<xmlSchema, SchemaFree>;

// Parses an XSD file: status 0, or 3 (cannot be read) or 2 (not a schema).
int loadSchema(std::string_view path, SchemaPtr& out, std::string* why) {
    std::string text;
    int err = 0;
    if (!readLimited(path, text, err)) return fail(why, readError(path, err)), 3;
    const std::string url(path);
    DocPtr doc = parseXml(text, url.c_str(), why);
    if (!doc) return 2;
    ErrorCapture errors;
    xmlSchemaParserCtxtPtr ctxt = xmlSchemaNewDocParserCtxt(doc.get());
    if (!ctxt) return fail(why, "out of memory"), 2;
    out.reset(xmlSchemaParse(ctxt));
    xmlSchemaFreeParserCtxt(ctxt);
    if (!out) return fail(why, errors.first.empty() ? "not a valid XML schema" : errors.first), 2;
    return 0;
}

// The shipped schema, parsed once per path.
xmlSchema* dataSchema() {
    static std::unordered_map<std::string, SchemaPtr> cache;
    const std::string path = cv::reportSchemaPath();
    if (path.empty()) return nullptr;
    auto it = cache.find(path);
    if (it == cache.end()) {
        SchemaPtr s;
        loadSchema(path, s, nullptr);
        it = cache.emplace(path, std::move(s)).first;
    }
    return it->second.get();
}

// 0 valid, 1 invalid (message in why).
int validateDoc(xmlDoc* doc, xmlSchema* schema, std::string* why) {
    ErrorCapture errors;
    xmlSchemaValidCtxtPtr v = xmlSchemaNewValidCtxt(schema);
    if (!v) return fail(why, "out of memory"), 1;
    const int rc = xmlSchemaValidateDoc(v, doc);
    xmlSchemaFreeValidCtxt(v);
    if (rc == 0) return 0;
    fail(why, errors.first.empty() ? "the document does not match the schema" : errors.first);
    return 1;
}

// ---------------------------------------------------------------- the data file

constexpr const char* kRoot = "statreport";

bool isElement(const xmlNode* n, const char* name) {
    return n && n->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(n->name), name) == 0;
}

std::string attribute(const xmlNode* n, const char* name) {
    xmlChar* v = xmlGetNoNsProp(n, BAD_CAST name);
    std::string out = v ? reinterpret_cast<const char*>(v) : "";
    xmlFree(v);
    return out;
}

std::string textOf(const xmlNode* n) {
    std::string out;
    for (const xmlNode* c = n->children; c; c = c->next)
        if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE)
            out += reinterpret_cast<const char*>(c->content);
    return out;
}

std::string_view trimmed(std::string_view s) { return cv::trimBlanks(s, " \t\n\r"); }

// xs:double: a decimal or exponent form, "INF", "-INF" or "NaN".
bool parseDouble(std::string_view text, double& out) {
    const std::string s(trimmed(text));
    if (s == "INF" || s == "+INF") return out = HUGE_VAL, true;
    if (s == "-INF") return out = -HUGE_VAL, true;
    if (s == "NaN") return out = NAN, true;
    if (s.empty() || s.find_first_not_of("0123456789+-.eE") != std::string::npos) return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtod(s.c_str(), &end);
    return end == s.c_str() + s.size();
}

bool parseRun(std::string_view text, int32_t& out) {
    const std::string s(trimmed(text));
    if (s.empty() || s.size() > 12 || s.find_first_not_of("0123456789+-") != std::string::npos) return false;
    char* end = nullptr;
    const long long v = std::strtoll(s.c_str(), &end, 10);
    if (end != s.c_str() + s.size() || v < INT32_MIN || v > INT32_MAX) return false;
    out = int32_t(v);
    return true;
}

std::string doubleText(double v) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v > 0 ? "INF" : "-INF";
    return YString(v).str();
}

// A data file: well-formed, no DTD, the right root, and (when the shipped
// schema is there) valid against it.
DocPtr parseDataFile(std::string_view text, std::string* why) {
    DocPtr doc = parseXml(text, nullptr, why, kDataFileOptions);
    if (!doc) return nullptr;
    if (doc->intSubset || doc->extSubset) return fail(why, "a report data file carries no DTD"), nullptr;
    const xmlNode* root = xmlDocGetRootElement(doc.get());
    if (!isElement(root, kRoot) || root->ns)
        return fail(why, std::string("the root element is not <") + kRoot + ">"), nullptr;
    if (xmlSchema* schema = dataSchema())
        if (validateDoc(doc.get(), schema, why) != 0) return nullptr;
    return doc;
}

// ---------------------------------------------------------------- statistics and sensitivities

double meanOf(const std::vector<double>& v) {
    double s = 0;
    for (double x : v) s += x;
    return s / double(v.size());
}

double sdOf(const std::vector<double>& v, double mean) {
    if (v.size() < 2) return NAN;
    double s = 0;
    for (double x : v) s += (x - mean) * (x - mean);
    return std::sqrt(s / double(v.size() - 1));
}

// The finite value of `merit` at `run`, if any.
const double* valueAt(const XMLReportInfo& merit, int32_t run) {
    auto it = std::lower_bound(merit.runs.begin(), merit.runs.end(), run);
    if (it == merit.runs.end() || *it != run) return nullptr;
    const double* v = &merit.values[size_t(it - merit.runs.begin())];
    return std::isfinite(*v) ? v : nullptr;
}

// Solves A x = b (n x n, row-major) by Gaussian elimination with partial
// pivoting; false when A is singular to working precision.
bool solve(std::vector<double> a, std::vector<double>& b, size_t n) {
    for (size_t c = 0; c < n; ++c) {
        size_t p = c;
        for (size_t r = c + 1; r < n; ++r)
            if (std::fabs(a[r * n + c]) > std::fabs(a[p * n + c])) p = r;
        if (!(std::fabs(a[p * n + c]) > 1e-9)) return false;
        if (p != c) {
            for (size_t k = 0; k < n; ++k) std::swap(a[c * n + k], a[p * n + k]);
            std::swap(b[c], b[p]);
        }
        for (size_t r = c + 1; r < n; ++r) {
            const double f = a[r * n + c] / a[c * n + c];
            for (size_t k = c; k < n; ++k) a[r * n + k] -= f * a[c * n + k];
            b[r] -= f * b[c];
        }
    }
    for (size_t c = n; c-- > 0;) {
        double s = b[c];
        for (size_t k = c + 1; k < n; ++k) s -= a[c * n + k] * b[k];
        b[c] = s / a[c * n + c];
    }
    return true;
}

// The sensitivities of one measurement to the parameters: a least-squares
// linear model over the runs in which the measurement and every varying
// parameter have values. With one parameter perturbed per run and a nominal
// run this is the finite difference exactly; over Monte Carlo runs it is the
// regression of the measurement on all parameters together. When there are
// too few runs for that (or the parameters vary together), each parameter is
// taken alone.
void sensitivities(XMLReportInfo& m, const std::vector<const XMLReportInfo*>& params) {
    const size_t np = params.size();
    m.records.assign(np, {});
    for (size_t j = 0; j < np; ++j) {
        m.records[j].name = params[j]->name;
        m.records[j].value1 = m.records[j].value2 = m.records[j].value3 = NAN;
    }
    if (np == 0) return;

    // Rows: runs where the measurement and all parameters are finite.
    std::vector<double> y;
    std::vector<std::vector<double>> x(np);
    for (size_t k = 0; k < m.runs.size(); ++k) {
        if (!std::isfinite(m.values[k])) continue;
        std::vector<double> row(np);
        bool all = true;
        for (size_t j = 0; j < np && all; ++j) {
            const double* v = valueAt(*params[j], m.runs[k]);
            if (v) row[j] = *v;
            else all = false;
        }
        if (!all) continue;
        y.push_back(m.values[k]);
        for (size_t j = 0; j < np; ++j) x[j].push_back(row[j]);
    }

    // Parameters that vary over those rows, standardised.
    const size_t n = y.size();
    std::vector<size_t> varying;
    std::vector<double> pm(np, NAN), ps(np, NAN);
    for (size_t j = 0; j < np; ++j) {
        if (n < 2) break;
        pm[j] = meanOf(x[j]);
        ps[j] = sdOf(x[j], pm[j]);
        if (ps[j] > 0 && std::isfinite(ps[j]) && ps[j] > 1e-12 * std::fabs(pm[j])) varying.push_back(j);
    }
    const double ym = n ? meanOf(y) : NAN;
    const size_t q = varying.size();
    std::vector<double> slope(np, NAN);
    bool joint = false;
    if (q > 0 && n >= q + 1 && q <= 64) {
        std::vector<double> a(q * q, 0.0), b(q, 0.0);
        for (size_t r = 0; r < n; ++r)
            for (size_t i = 0; i < q; ++i) {
                const double zi = (x[varying[i]][r] - pm[varying[i]]) / ps[varying[i]];
                b[i] += zi * (y[r] - ym);
                for (size_t k = 0; k < q; ++k)
                    a[i * q + k] += zi * (x[varying[k]][r] - pm[varying[k]]) / ps[varying[k]];
            }
        // Singularity is judged against the scale of the standardised columns.
        for (double& v : a) v /= double(n);
        for (double& v : b) v /= double(n);
        if (solve(a, b, q)) {
            joint = true;
            for (size_t i = 0; i < q; ++i) slope[varying[i]] = b[i] / ps[varying[i]];
        }
    }
    if (!joint) {
        // Each varying parameter alone, over the runs where it and the
        // measurement have values.
        for (size_t j : varying) {
            double sxy = 0, sxx = 0;
            for (size_t r = 0; r < n; ++r) {
                sxy += (x[j][r] - pm[j]) * (y[r] - ym);
                sxx += (x[j][r] - pm[j]) * (x[j][r] - pm[j]);
            }
            if (sxx > 0) slope[j] = sxy / sxx;
        }
    }
    for (size_t j = 0; j < np; ++j) {
        XMLReportRecord& rec = m.records[j];
        if (!std::isfinite(slope[j])) continue;
        rec.flag = true;
        rec.value2 = slope[j];
        rec.value1 = ym != 0 ? slope[j] * pm[j] / ym : NAN;
        rec.value3 = slope[j] * ps[j];
    }
}

std::string nowIso() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

// Texts that XML 1.0 can carry: valid UTF-8 without C0 controls other than
// tab, CR and LF.
bool xmlSafe(std::string_view s) {
    for (unsigned char c : s)
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
    return xmlCheckUTF8(reinterpret_cast<const xmlChar*>(std::string(s).c_str())) != 0;
}

}  // namespace

// ---------------------------------------------------------------- public services

std::string cv::reportSchemaPath() {
    const std::string share = cv::shareDir();
    if (share.empty()) return {};
    const std::string p = share + "/schema/statreport.xsd";
    return ::access(p.c_str(), R_OK) == 0 ? p : std::string();
}

ReportStats cv::reportStats(const XMLReportInfo& merit) {
    ReportStats s;
    std::vector<double> v;
    for (size_t k = 0; k < merit.values.size(); ++k) {
        const double x = merit.values[k];
        if (!std::isfinite(x)) {
            ++s.failed;
            continue;
        }
        if (v.empty() || x < s.minimum) s.minimum = x, s.runAtMinimum = merit.runs[k];
        if (v.empty() || x > s.maximum) s.maximum = x, s.runAtMaximum = merit.runs[k];
        v.push_back(x);
    }
    s.count = int64_t(v.size());
    if (v.empty()) {
        s.mean = s.stddev = s.minimum = s.maximum = NAN;
        return s;
    }
    s.mean = meanOf(v);
    s.stddev = sdOf(v, s.mean);
    return s;
}

bool sp_CompileSensReportText(std::string_view text, XMLReportTable* table, XMLReportHeader* header,
                              std::string* why) {
    if (!table || !header) return fail(why, "no table to fill");
    table->clear();
    *header = XMLReportHeader{};
    DocPtr doc = parseDataFile(text, why);
    if (!doc) return false;

    XMLReportTable out;
    XMLReportHeader head;
    int32_t measurementKey = 0, parameterKey = 0;
    const xmlNode* root = xmlDocGetRootElement(doc.get());
    for (const xmlNode* n = root->children; n; n = n->next) {
        if (n->type != XML_ELEMENT_NODE) continue;
        if (isElement(n, "header")) {
            for (const xmlNode* h = n->children; h; h = h->next) {
                if (isElement(h, "title")) head.string1 = textOf(h);
                else if (isElement(h, "design")) head.string2 = textOf(h);
                else if (isElement(h, "created")) head.string3 = textOf(h);
                else if (isElement(h, "analysis")) head.string4 = textOf(h);
                else if (isElement(h, "property"))
                    head.properties.emplace_back(attribute(h, "name"), attribute(h, "value"));
            }
            continue;
        }
        if (!isElement(n, "merit")) return fail(why, "unexpected element <" + std::string((const char*)n->name) + ">");
        XMLReportInfo info;
        info.name = attribute(n, "name");
        info.analysis = attribute(n, "analysis");
        info.parameter = info.analysis.view() == "parameter";
        if (info.name.empty()) return fail(why, "a merit without a name");
        std::map<int32_t, double> byRun;  // a run given twice keeps its last value
        for (const xmlNode* v = n->children; v; v = v->next) {
            if (v->type != XML_ELEMENT_NODE) continue;
            int32_t run = 0;
            double value = 0;
            if (!isElement(v, "value") || !parseRun(attribute(v, "run"), run) || !parseDouble(textOf(v), value))
                return fail(why, "merit '" + info.name.str() + "': a value that is not <value run=\"N\">number</value>");
            byRun[run] = value;
        }
        for (const auto& [run, value] : byRun) {
            info.runs.push_back(run);
            info.values.push_back(value);
        }
        if (measurementKey == INT32_MAX || parameterKey == -INT32_MAX) return fail(why, "too many merits");
        const int32_t key = info.parameter ? --parameterKey : ++measurementKey;
        out.emplace(key, std::move(info));
    }

    std::vector<const XMLReportInfo*> params;
    std::vector<int32_t> allRuns;
    // Parameters in file order: their keys count down from -1.
    for (int32_t k = -1; k >= parameterKey; --k) params.push_back(&out.at(k));
    for (const auto& [k, info] : out) {
        allRuns.insert(allRuns.end(), info.runs.begin(), info.runs.end());
    }
    std::sort(allRuns.begin(), allRuns.end());
    head.runs = int32_t(std::unique(allRuns.begin(), allRuns.end()) - allRuns.begin());
    // One record per measurement and parameter: a file of thousands of each
    // would need more memory than any report is worth, and gets none.
    const size_t measurementCount = size_t(measurementKey), recordLimit = size_t(1) << 22;
    if (params.empty() || measurementCount <= recordLimit / params.size())
        for (auto& [k, info] : out)
            if (!info.parameter) sensitivities(info, params);

    *table = std::move(out);
    *header = std::move(head);
    return true;
}

bool sp_CompileSensReportData(std::string_view path, XMLReportTable* table, XMLReportHeader* header,
                              std::string* why) {
    if (table) table->clear();
    if (header) *header = XMLReportHeader{};
    std::string text;
    int err = 0;
    if (!readLimited(path, text, err)) return fail(why, readError(path, err));
    return sp_CompileSensReportText(text, table, header, why);
}

bool sp_AppendMeritData(std::string_view path, std::string_view name, std::string_view analysis,
                        const std::vector<double>& values, const std::vector<int32_t>& runs, std::string* why) {
    if (values.size() != runs.size()) return fail(why, "values and runs differ in length");
    if (path.empty()) return fail(why, "no data file named");
    if (name.empty()) return fail(why, "a merit needs a name");
    if (!xmlSafe(name) || !xmlSafe(analysis)) return fail(why, "a name that XML cannot carry");
    // Each value takes at least 26 bytes of the file: a file past the limit
    // could not be read again, so it is refused before anything is built.
    if (values.size() > kReportMaxFileBytes / 26) return fail(why, "more values than a data file may hold");

    DirectoryUpdateLock lock(path);
    if (!lock.locked()) return fail(why, std::string(path) + ": cannot lock its directory");

    std::string text;
    int err = 0;
    DocPtr doc;
    if (readLimited(path, text, err)) {
        // Only a file of this format is rewritten: anything else is left as it is.
        XMLReportTable table;
        XMLReportHeader header;
        if (!sp_CompileSensReportText(text, &table, &header, why)) return false;
        doc = parseDataFile(text, why);
        if (!doc) return false;
    } else if (err == ENOENT) {
        initXml();
        doc.reset(xmlNewDoc(BAD_CAST "1.0"));
        xmlNode* root = xmlNewDocNode(doc.get(), nullptr, BAD_CAST kRoot, nullptr);
        xmlDocSetRootElement(doc.get(), root);
        xmlNewProp(root, BAD_CAST "version", BAD_CAST "1");
        xmlNode* head = xmlNewChild(root, nullptr, BAD_CAST "header", nullptr);
        const PathName parts = sp_SplitPath(path);
        xmlNewTextChild(head, nullptr, BAD_CAST "title", BAD_CAST parts.fname.c_str());
        xmlNewTextChild(head, nullptr, BAD_CAST "created", BAD_CAST nowIso().c_str());
    } else {
        return fail(why, readError(path, err));
    }

    xmlNode* root = xmlDocGetRootElement(doc.get());
    xmlNode* merit = nullptr;
    for (xmlNode* n = root->children; n && !merit; n = n->next)
        if (isElement(n, "merit") && attribute(n, "name") == name && attribute(n, "analysis") == analysis) merit = n;
    const std::string nameZ(name), analysisZ(analysis);
    if (!merit) {
        merit = xmlNewChild(root, nullptr, BAD_CAST "merit", nullptr);
        xmlNewProp(merit, BAD_CAST "name", BAD_CAST nameZ.c_str());
        xmlNewProp(merit, BAD_CAST "analysis", BAD_CAST analysisZ.c_str());
    }
    std::unordered_map<int32_t, xmlNode*> byRun;
    for (xmlNode* v = merit->children; v; v = v->next) {
        int32_t run = 0;
        if (isElement(v, "value") && parseRun(attribute(v, "run"), run)) byRun[run] = v;
    }
    for (size_t k = 0; k < values.size(); ++k) {
        const std::string t = doubleText(values[k]);
        auto it = byRun.find(runs[k]);
        if (it != byRun.end()) {
            xmlNodeSetContent(it->second, BAD_CAST t.c_str());
            continue;
        }
        xmlNode* v = xmlNewChild(merit, nullptr, BAD_CAST "value", BAD_CAST t.c_str());
        xmlNewProp(v, BAD_CAST "run", BAD_CAST std::to_string(runs[k]).c_str());
        byRun[runs[k]] = v;
    }

    xmlChar* buf = nullptr;
    int size = 0;
    xmlDocDumpFormatMemoryEnc(doc.get(), &buf, &size, "UTF-8", 1);
    if (!buf) return fail(why, "out of memory");
    const std::string out(reinterpret_cast<const char*>(buf), size_t(size));
    xmlFree(buf);
    // What is written must read back: a file this host cannot read again
    // would lose every merit in it.
    XMLReportTable table;
    XMLReportHeader header;
    if (!sp_CompileSensReportText(out, &table, &header, why)) return false;
    return cv::writeFileAtomic(path, out, why);
}

int sp_ValidateXml(std::string_view document, std::string_view schema, std::string* message) {
    std::string why;
    const auto done = [&](int status) {
        if (message) *message = status == 0 ? std::string() : why;
        return status;
    };
    SchemaPtr owned;
    xmlSchema* xsd = nullptr;
    if (schema.empty()) {
        const std::string shipped = cv::reportSchemaPath();
        if (shipped.empty()) return why = "the data-file schema is not installed", done(3);
        if (const int rc = loadSchema(shipped, owned, &why)) return done(rc);
    } else if (const int rc = loadSchema(schema, owned, &why)) {
        return done(rc);
    }
    xsd = owned.get();
    std::string text;
    int err = 0;
    if (!readLimited(document, text, err)) return why = readError(document, err), done(4);
    const std::string url(document);
    DocPtr doc = parseXml(text, url.c_str(), &why);
    if (!doc) return done(4);
    return done(validateDoc(doc.get(), xsd, &why));
}
