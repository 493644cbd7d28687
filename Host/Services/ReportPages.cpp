// The pages and CSV lines of the statistical reports, built from a compiled
// data file (Reports.cpp). Pages are single HTML5 files: the style sheets are
// inlined and the charts are inline SVG, so a page can be mailed or archived
// on its own. Every text that comes from a data file is escaped.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "AtomicFile.h"
#include "PathUtil.h"
#include "Reports.h"
#include "TextEscape.h"

namespace {

std::string escape(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

// Shortest text that reads back to the same double; "" for NaN (an empty
// cell), "INF"/"-INF" for the infinities.
std::string exact(double v) {
    if (std::isnan(v)) return {};
    if (std::isinf(v)) return v > 0 ? "INF" : "-INF";
    return YString(v).str();
}

// Six significant digits for people; an en dash for "no value".
std::string shown(double v) {
    if (std::isnan(v)) return "\u2013";
    if (std::isinf(v)) return v > 0 ? "\u221E" : "\u2212\u221E";
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.6g", v);
    return buf;
}

// A table cell with the number for people and the exact value for programs.
std::string numberCell(double v) {
    return "<td class=\"num\" data-value=\"" + exact(v) + "\">" + shown(v) + "</td>";
}

// Style sheets larger than this are linked rather than inlined.
constexpr off_t kMaxInlineCss = 1 << 20;

bool isFile(const std::string& p) {
    struct stat st {};
    return !p.empty() && ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxInlineCss;
}

std::string slurp(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    std::string s((std::istreambuf_iterator<char>(in)), {});
    // A style sheet cannot end the <style> element it is inlined in.
    for (size_t at = 0; (at = s.find("</", at)) != std::string::npos; at += 3) s.replace(at, 2, "<\\/");
    return s;
}

// Where a style sheet named by a script is: as given (logical paths
// translated, relative to the current directory), beside the page, or in the
// share tree's html/css.
std::string findStyleSheet(std::string_view name, std::string_view htmlPath) {
    if (name.empty()) return {};
    std::string p;
    sp_TranslateLogicalPath(name, p);
    if (isFile(p)) return p;
    if (sp_IsRelativePath(p)) {
        const std::string beside = sp_GetDirFromPath(htmlPath) + p;
        if (isFile(beside)) return beside;
        const std::string share = cv::shareDir();
        if (!share.empty() && isFile(share + "/html/css/" + p)) return share + "/html/css/" + p;
    }
    return {};
}

struct Page {
    std::ostringstream html;

    Page(const char* kind, const char* heading, std::string_view styleSheet, std::string_view htmlPath,
         const XMLReportHeader& h) {
        const std::string title = h.string1.empty() ? std::string(heading) : std::string(heading) + ": " + h.string1.str();
        html << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
             << "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
             << "<meta name=\"generator\" content=\"cvfunc\">\n"
             << "<title>" << escape(title) << "</title>\n";
        const std::string share = cv::shareDir();
        const std::string base = share.empty() ? std::string() : share + "/html/css/msw.css";
        const std::string named = findStyleSheet(styleSheet, htmlPath);
        if (isFile(base) && !sp_ComparePaths(base, named)) html << "<style>\n" << slurp(base) << "</style>\n";
        if (!named.empty()) html << "<style>\n" << slurp(named) << "</style>\n";
        else if (!styleSheet.empty())
            html << "<link rel=\"stylesheet\" href=\"" << escape(styleSheet) << "\">\n";
        html << "</head>\n<body class=\"" << kind << "\">\n<header>\n<h1>" << escape(title) << "</h1>\n"
             << "<dl class=\"report-header\">\n";
        const auto item = [&](const char* label, const YString& value) {
            if (!value.empty()) html << "<dt>" << label << "</dt><dd>" << escape(value.view()) << "</dd>\n";
        };
        item("Design", h.string2);
        item("Analysis", h.string4);
        item("Created", h.string3);
        html << "<dt>Runs</dt><dd>" << h.runs << "</dd>\n";
        for (const auto& [name, value] : h.properties)
            html << "<dt>" << escape(name.view()) << "</dt><dd>" << escape(value.view()) << "</dd>\n";
        html << "</dl>\n</header>\n<main>\n";
    }

    bool write(std::string_view path) {
        html << "</main>\n<footer>Written by cvfunc.</footer>\n</body>\n</html>\n";
        return cv::writeFileAtomic(path, html.str());
    }
};

std::vector<const XMLReportInfo*> measurements(const XMLReportTable& t) {
    std::vector<const XMLReportInfo*> out;
    for (const auto& [key, info] : t)
        if (!info.parameter) out.push_back(&info);
    return out;
}

std::vector<const XMLReportInfo*> parameters(const XMLReportTable& t) {
    std::vector<const XMLReportInfo*> out;
    // Their keys count down from -1 in file order.
    for (auto it = t.find(-1); it != t.end() && it->first < 0; it = t.find(it->first - 1)) out.push_back(&it->second);
    return out;
}

std::string meritLabel(const XMLReportInfo& m) {
    std::string s = "<span class=\"merit\">" + escape(m.name.view()) + "</span>";
    if (!m.analysis.empty() && !m.parameter) s += " <span class=\"analysis\">(" + escape(m.analysis.view()) + ")</span>";
    return s;
}

void statsTable(std::ostringstream& o, const std::vector<const XMLReportInfo*>& merits, const char* what) {
    o << "<table class=\"stats\">\n<thead><tr><th>" << what
      << "</th><th>Runs</th><th>Mean</th><th>Std. deviation</th><th>Minimum</th><th>Run at minimum</th>"
         "<th>Maximum</th><th>Run at maximum</th><th>Failed runs</th></tr></thead>\n<tbody>\n";
    for (const XMLReportInfo* m : merits) {
        const ReportStats s = cv::reportStats(*m);
        o << "<tr data-name=\"" << escape(m->name.view()) << "\"><th scope=\"row\">" << meritLabel(*m) << "</th>"
          << "<td class=\"num\">" << s.count << "</td>" << numberCell(s.mean) << numberCell(s.stddev)
          << numberCell(s.minimum) << "<td class=\"num\">" << (s.count ? std::to_string(s.runAtMinimum) : "\u2013")
          << "</td>" << numberCell(s.maximum) << "<td class=\"num\">"
          << (s.count ? std::to_string(s.runAtMaximum) : "\u2013") << "</td><td class=\"num\">" << s.failed
          << "</td></tr>\n";
    }
    o << "</tbody>\n</table>\n";
}

// An inline SVG histogram of the finite values (Sturges' rule for the bins).
void histogram(std::ostringstream& o, const XMLReportInfo& m) {
    std::vector<double> v;
    for (double x : m.values)
        if (std::isfinite(x)) v.push_back(x);
    const std::string name = escape(m.name.view());
    o << "<figure class=\"histogram\">\n<figcaption>" << meritLabel(m) << "</figcaption>\n";
    if (v.empty()) {
        o << "<p class=\"note\">No run gave a value.</p>\n</figure>\n";
        return;
    }
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    const double a = *lo, b = *hi;
    const size_t bins = a == b ? 1 : std::clamp<size_t>(size_t(std::ceil(std::log2(double(v.size())))) + 1, 1, 40);
    std::vector<int64_t> count(bins, 0);
    // The width is computed as the difference of two finite values halved,
    // so that values near the limits of a double cannot overflow it.
    const double width = bins == 1 ? 0 : (b / 2 - a / 2) * 2 / double(bins);
    for (double x : v) {
        size_t k = width > 0 ? size_t(std::clamp((x / 2 - a / 2) * 2 / width, 0.0, double(bins - 1))) : 0;
        ++count[k];
    }
    const int64_t top = *std::max_element(count.begin(), count.end());
    constexpr double W = 480, H = 220, left = 40, right = 12, upper = 12, lower = 40;
    const double plotW = W - left - right, plotH = H - upper - lower, barW = plotW / double(bins);
    o << "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " << W << ' ' << H << "\" width=\"" << W
      << "\" height=\"" << H << "\" role=\"img\" aria-label=\"Histogram of " << name << "\">\n";
    o << "<line class=\"axis\" x1=\"" << left << "\" y1=\"" << upper + plotH << "\" x2=\"" << left + plotW
      << "\" y2=\"" << upper + plotH << "\"/>\n";
    o << "<line class=\"axis\" x1=\"" << left << "\" y1=\"" << upper << "\" x2=\"" << left << "\" y2=\""
      << upper + plotH << "\"/>\n";
    for (size_t k = 0; k < bins; ++k) {
        const double h = top ? plotH * double(count[k]) / double(top) : 0;
        const double from = a + width * double(k), to = bins == 1 ? b : a + width * double(k + 1);
        o << "<rect class=\"bar\" x=\"" << left + barW * double(k) + 1 << "\" y=\"" << upper + plotH - h
          << "\" width=\"" << std::max(barW - 2, 1.0) << "\" height=\"" << h << "\"><title>" << shown(from)
          << " to " << shown(to) << ": " << count[k] << "</title></rect>\n";
    }
    o << "<text class=\"tick\" x=\"" << left << "\" y=\"" << H - lower + 16 << "\" text-anchor=\"start\">"
      << shown(a) << "</text>\n";
    o << "<text class=\"tick\" x=\"" << left + plotW << "\" y=\"" << H - lower + 16 << "\" text-anchor=\"end\">"
      << shown(b) << "</text>\n";
    o << "<text class=\"tick\" x=\"" << left - 6 << "\" y=\"" << upper + 10 << "\" text-anchor=\"end\">" << top
      << "</text>\n";
    o << "<text class=\"tick\" x=\"" << left - 6 << "\" y=\"" << upper + plotH << "\" text-anchor=\"end\">0</text>\n";
    o << "<text class=\"label\" x=\"" << left + plotW / 2 << "\" y=\"" << H - 6
      << "\" text-anchor=\"middle\">runs per bin, " << bins << " bins</text>\n";
    o << "</svg>\n</figure>\n";
}

// The records of a measurement, largest normalised sensitivity first;
// undetermined ones last, in file order.
std::vector<const XMLReportRecord*> byMagnitude(const XMLReportInfo& m) {
    std::vector<const XMLReportRecord*> r;
    for (const XMLReportRecord& rec : m.records) r.push_back(&rec);
    const auto magnitude = [](const XMLReportRecord* x) {
        if (!x->flag) return -2.0;
        return std::isnan(x->value1) ? -1.0 : std::fabs(x->value1);
    };
    std::stable_sort(r.begin(), r.end(), [&](auto* x, auto* y) { return magnitude(x) > magnitude(y); });
    return r;
}

// A horizontal bar chart of normalised sensitivities around a zero line.
void barChart(std::ostringstream& o, const XMLReportInfo& m, const std::vector<const XMLReportRecord*>& recs) {
    double top = 0;
    size_t rows = 0;
    for (auto* r : recs)
        if (r->flag && std::isfinite(r->value1)) top = std::max(top, std::fabs(r->value1)), ++rows;
    if (rows == 0) return;
    constexpr double W = 560, rowH = 24, labelW = 140, pad = 8;
    const double H = rowH * double(rows) + 2 * pad, half = (W - labelW - 2 * pad) / 2, zero = labelW + pad + half;
    o << "<svg class=\"bars\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " << W << ' ' << H
      << "\" width=\"" << W << "\" height=\"" << H << "\" role=\"img\" aria-label=\"Sensitivities of "
      << escape(m.name.view()) << "\">\n";
    double y = pad;
    for (auto* r : recs) {
        if (!r->flag || !std::isfinite(r->value1)) continue;
        // The longest bar leaves room for its value beside it.
        const double w = top > 0 ? (half - 76) * std::fabs(r->value1) / top : 0;
        const bool negative = r->value1 < 0;
        o << "<text class=\"label\" x=\"" << labelW << "\" y=\"" << y + rowH * 0.65 << "\" text-anchor=\"end\">"
          << escape(r->name.view()) << "</text>\n";
        o << "<rect class=\"" << (negative ? "bar negative" : "bar positive") << "\" x=\""
          << (negative ? zero - w : zero) << "\" y=\"" << y + 3 << "\" width=\"" << w << "\" height=\""
          << rowH - 6 << "\"><title>" << escape(r->name.view()) << ": " << shown(r->value1) << "</title></rect>\n";
        o << "<text class=\"tick\" x=\"" << (negative ? zero - w - 4 : zero + w + 4) << "\" y=\"" << y + rowH * 0.65
          << "\" text-anchor=\"" << (negative ? "end" : "start") << "\">" << shown(r->value1) << "</text>\n";
        y += rowH;
    }
    o << "<line class=\"axis\" x1=\"" << zero << "\" y1=\"" << pad / 2 << "\" x2=\"" << zero << "\" y2=\""
      << H - pad / 2 << "\"/>\n</svg>\n";
}

// The measurements a selector names: 0 all, k the k-th; none when k is past them.
std::vector<const XMLReportInfo*> selected(const XMLReportTable& t, int32_t selector) {
    std::vector<const XMLReportInfo*> all = measurements(t);
    if (selector <= 0) return all;
    if (size_t(selector) > all.size()) return {};
    return {all[size_t(selector) - 1]};
}

const char* kNoParameters =
    "<p class=\"note\">The data file holds no parameter values (merits of analysis \"parameter\"), "
    "so no sensitivity can be estimated.</p>\n";

}  // namespace

bool sp_BuildMonteCarloHTMLReport(std::string_view htmlPath, std::string_view styleSheet,
                                  const XMLReportTable& table, const XMLReportHeader& header) {
    if (htmlPath.empty()) return false;
    Page page("mclog", "Monte Carlo report", styleSheet, htmlPath, header);
    std::ostringstream& o = page.html;
    const auto ms = measurements(table), ps = parameters(table);
    o << "<section class=\"measurements\">\n<h2>Measurements</h2>\n";
    if (ms.empty()) o << "<p class=\"note\">The data file holds no measurements.</p>\n";
    else statsTable(o, ms, "Measurement");
    o << "<p class=\"note\">Standard deviation: sample (n \u2212 1). Runs whose measurement failed (NaN) are "
         "counted as failed and left out of the statistics.</p>\n</section>\n";
    if (!ps.empty()) {
        o << "<section class=\"parameters\">\n<h2>Parameters</h2>\n";
        statsTable(o, ps, "Parameter");
        o << "</section>\n";
    }
    if (!ms.empty()) {
        o << "<section class=\"distributions\">\n<h2>Distributions</h2>\n";
        for (const XMLReportInfo* m : ms) histogram(o, *m);
        o << "</section>\n";
    }
    return page.write(htmlPath);
}

bool sp_BuildHTMLSensitivityReport(std::string_view htmlPath, std::string_view styleSheet,
                                   const XMLReportTable& table, const XMLReportHeader& header, int32_t selector) {
    if (htmlPath.empty()) return false;
    const auto ms = selected(table, selector);
    if (ms.empty() && selector > 0) return false;
    Page page("sensitivity", "Sensitivity report", styleSheet, htmlPath, header);
    std::ostringstream& o = page.html;
    if (ms.empty()) o << "<p class=\"note\">The data file holds no measurements.</p>\n";
    else if (parameters(table).empty()) o << kNoParameters;
    else
        o << "<p class=\"note\">Normalised sensitivity: the relative change of the measurement per relative "
             "change of the parameter, at the means, from a least-squares linear model over the runs. "
             "Contribution: the absolute sensitivity times the parameter's standard deviation.</p>\n";
    for (const XMLReportInfo* m : ms) {
        const ReportStats s = cv::reportStats(*m);
        o << "<section class=\"measurement\">\n<h2>" << meritLabel(*m) << "</h2>\n<p>Mean " << shown(s.mean)
          << ", standard deviation " << shown(s.stddev) << ", " << s.count << " runs.</p>\n";
        if (m->records.empty()) {
            o << "</section>\n";
            continue;
        }
        const auto recs = byMagnitude(*m);
        barChart(o, *m, recs);
        o << "<table class=\"sensitivities\">\n<thead><tr><th>Parameter</th><th>Normalised sensitivity</th>"
             "<th>Absolute sensitivity</th><th>Contribution</th></tr></thead>\n<tbody>\n";
        for (auto* r : recs)
            o << "<tr data-name=\"" << escape(r->name.view()) << "\"><th scope=\"row\">" << escape(r->name.view())
              << "</th>" << numberCell(r->flag ? r->value1 : NAN) << numberCell(r->flag ? r->value2 : NAN)
              << numberCell(r->flag ? r->value3 : NAN) << "</tr>\n";
        o << "</tbody>\n</table>\n</section>\n";
    }
    return page.write(htmlPath);
}

bool sp_BuildWorstCaseHTMLReport(std::string_view htmlPath, std::string_view styleSheet,
                                 const XMLReportTable& table, const XMLReportHeader& header) {
    if (htmlPath.empty()) return false;
    Page page("worstcase", "Worst-case report", styleSheet, htmlPath, header);
    std::ostringstream& o = page.html;
    const auto ms = measurements(table), ps = parameters(table);
    o << "<section class=\"extremes\">\n<h2>Extremes</h2>\n";
    if (ms.empty()) {
        o << "<p class=\"note\">The data file holds no measurements.</p>\n</section>\n";
        return page.write(htmlPath);
    }
    o << "<table class=\"worstcase\">\n<thead><tr><th>Measurement</th><th>Nominal</th><th>Minimum</th><th>Run</th>"
         "<th>Change</th><th>Maximum</th><th>Run</th><th>Change</th><th>Spread</th></tr></thead>\n<tbody>\n";
    const auto percent = [](double v, double nominal) {
        if (!(nominal != 0) || !std::isfinite(v)) return std::string("<td class=\"num\">\u2013</td>");
        return "<td class=\"num\">" + shown(100 * (v - nominal) / std::fabs(nominal)) + " %</td>";
    };
    for (const XMLReportInfo* m : ms) {
        const ReportStats s = cv::reportStats(*m);
        // Run 0 is the nominal run when the file has it; the mean stands in otherwise.
        double nominal = s.mean;
        bool fromRun0 = false;
        for (size_t k = 0; k < m->runs.size(); ++k)
            if (m->runs[k] == 0 && std::isfinite(m->values[k])) nominal = m->values[k], fromRun0 = true;
        o << "<tr data-name=\"" << escape(m->name.view()) << "\"><th scope=\"row\">" << meritLabel(*m) << "</th>"
          << numberCell(nominal).insert(3, fromRun0 ? "" : " title=\"mean of the runs\"") << numberCell(s.minimum)
          << "<td class=\"num\">" << (s.count ? std::to_string(s.runAtMinimum) : "\u2013") << "</td>"
          << percent(s.minimum, nominal) << numberCell(s.maximum) << "<td class=\"num\">"
          << (s.count ? std::to_string(s.runAtMaximum) : "\u2013") << "</td>" << percent(s.maximum, nominal)
          << numberCell(s.maximum - s.minimum) << "</tr>\n";
    }
    o << "</tbody>\n</table>\n<p class=\"note\">Nominal: the value of run 0 where the file has one, else the mean "
         "of the runs. Change: relative to the nominal.</p>\n</section>\n";
    if (!ps.empty()) {
        o << "<section class=\"extreme-runs\">\n<h2>Parameters in the extreme runs</h2>\n"
             "<table class=\"extreme-runs\">\n<thead><tr><th>Measurement</th><th>Extreme</th><th>Run</th>";
        for (const XMLReportInfo* p : ps) o << "<th>" << escape(p->name.view()) << "</th>";
        o << "</tr></thead>\n<tbody>\n";
        for (const XMLReportInfo* m : ms) {
            const ReportStats s = cv::reportStats(*m);
            if (!s.count) continue;
            for (int side = 0; side < 2; ++side) {
                const int32_t run = side ? s.runAtMaximum : s.runAtMinimum;
                o << "<tr><th scope=\"row\">" << meritLabel(*m) << "</th><td>" << (side ? "maximum" : "minimum")
                  << "</td><td class=\"num\">" << run << "</td>";
                for (const XMLReportInfo* p : ps) {
                    double v = NAN;
                    for (size_t k = 0; k < p->runs.size(); ++k)
                        if (p->runs[k] == run) v = p->values[k];
                    o << numberCell(v);
                }
                o << "</tr>\n";
            }
        }
        o << "</tbody>\n</table>\n</section>\n";
    }
    return page.write(htmlPath);
}

bool sp_BuildCsvSensitivityReport(std::vector<YString>* lines, const XMLReportTable& table,
                                  const XMLReportHeader&, int32_t selector) {
    if (!lines) return false;
    const auto ms = selected(table, selector);
    if (ms.empty() && selector > 0) return false;
    lines->emplace_back("measurement,analysis,parameter,normalised sensitivity,absolute sensitivity,contribution");
    for (const XMLReportInfo* m : ms)
        for (auto* r : byMagnitude(*m)) {
            std::string line = cv::csvField(m->name.view()) + ',' + cv::csvField(m->analysis.view()) + ',' +
                               cv::csvField(r->name.view());
            for (double v : {r->value1, r->value2, r->value3}) line += ',' + (r->flag ? exact(v) : std::string());
            lines->emplace_back(line);
        }
    return true;
}
