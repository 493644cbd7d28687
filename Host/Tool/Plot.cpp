#include "Plot.h"

#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <cairo.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "AtomicFile.h"
#include "EngNumber.h"

namespace cvtool {

namespace {

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = char(std::tolower((unsigned char)c));
    return out;
}

// A statement whose outermost call is Histogram(...) gives bin centres and
// counts; its 'step' form is already a stepped curve and draws as a line.
bool isHistogramStatement(std::string_view text) {
    std::string t = lower(text);
    const size_t b = t.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return false;
    t.erase(0, b);
    t.erase(t.find_last_not_of(" \t\r\n;") + 1);
    if (t.rfind("histogram", 0) != 0 || t.back() != ')') return false;
    const size_t open = t.find_first_not_of(" \t", 9);
    if (open == std::string::npos || t[open] != '(') return false;
    // The opening bracket must close at the very end: "Histogram(a)+Histogram(b)" is no histogram.
    int depth = 0;
    for (size_t i = open; i < t.size(); ++i) {
        if (t[i] == '(') ++depth;
        else if (t[i] == ')' && --depth == 0 && i + 1 != t.size()) return false;
    }
    return t.find("step") == std::string::npos;
}

// The x-values that belong to division d (their start in *r), or null when
// the reference does not line up with it.
const cv::Value* xValuesOf(const cv::Value& v, int64_t d, int64_t& offset) {
    const cv::Value* r = v.ref().get();
    if (!r || !r->isNumeric()) return nullptr;
    if (r->numDivisions() == v.numDivisions() && r->divisionLength(d) == v.divisionLength(d)) {
        offset = r->divisionOffset(d);
        return r;
    }
    offset = 0;
    return r->size() == v.divisionLength(d) ? r : nullptr;
}

// Complex values are drawn as their magnitude.
double yAt(const cv::Value& v, int64_t i) {
    return v.kind() == cv::Kind::Complex ? std::abs(v.complexAt(i)) : v.realAt(i);
}

std::string axisLabel(PhysType t, const std::string& name, const char* fallback, const char* suffix = "") {
    const char* phys = sp_GetPhysTypeName(t);
    const char* unit = sp_GetPhysTypeUnit(t);
    std::string label = (phys && *phys ? phys : name.empty() ? fallback : name) + std::string(suffix);
    if (unit && *unit && (!phys || std::strcmp(phys, unit) != 0)) label += std::string(" (") + unit + ")";
    return label;
}

// Ten colours that stay apart on white and for the common colour blindnesses.
constexpr double kPalette[][3] = {
    {0.12, 0.47, 0.71}, {1.00, 0.50, 0.05}, {0.17, 0.63, 0.17}, {0.84, 0.15, 0.16}, {0.58, 0.40, 0.74},
    {0.55, 0.34, 0.29}, {0.89, 0.47, 0.76}, {0.50, 0.50, 0.50}, {0.74, 0.74, 0.13}, {0.09, 0.75, 0.81},
};

struct Range {
    double lo = DBL_MAX, hi = -DBL_MAX;
    void take(double x) {
        if (std::isfinite(x)) lo = std::min(lo, x), hi = std::max(hi, x);
    }
    bool valid() const { return lo <= hi; }
    // A range of one value, or none, still needs a width to draw in.
    void widen() {
        if (!valid()) lo = 0, hi = 1;
        if (hi == lo) {
            const double pad = lo == 0 ? 1 : std::fabs(lo) * 0.1;
            lo -= pad, hi += pad;
        }
    }
};

class Panel {
public:
    Panel(cairo_t* cr, const Plot::Item& item, double top) : cr_(cr), item_(item), v_(*item.value), top_(top) {}
    void draw();

private:
    double px(double x) const {
        if (logX_) x = x > 0 ? std::log10(x) : -HUGE_VAL;
        return left_ + (x - xr_.lo) / (xr_.hi - xr_.lo) * (right_ - left_);
    }
    double py(double y) const { return bottom_ - (y - yr_.lo) / (yr_.hi - yr_.lo) * (bottom_ - plotTop_); }
    void ranges();
    void axes();
    void lines();
    void bars();
    void legend();
    // s with its top at y, and its left end, middle or right end (alignX 0, 0.5, 1) at x.
    void text(const std::string& s, double x, double y, double alignX, double size = 11);
    std::string fit(std::string s, double width, double size);
    void colour(int64_t d, double alpha = 1) {
        const auto& c = kPalette[d % 10];
        cairo_set_source_rgba(cr_, c[0], c[1], c[2], alpha);
    }

    cairo_t* cr_;
    const Plot::Item& item_;
    const cv::Value& v_;
    double top_;
    double left_ = 0, right_ = 0, plotTop_ = 0, bottom_ = 0;
    Range xr_, yr_;  // the x range in decades when logX_
    double binWidth_ = 0;
    bool logX_ = false;
    bool wholeCounts_ = false;  // bars of whole numbers: the y-axis counts
};

void Panel::text(const std::string& s, double x, double y, double alignX, double size) {
    cairo_set_font_size(cr_, size);
    cairo_text_extents_t e;
    cairo_text_extents(cr_, s.c_str(), &e);
    cairo_move_to(cr_, x - e.x_advance * alignX, y + size * 0.8);
    cairo_show_text(cr_, s.c_str());
}

// Shortens s with an ellipsis until it fits in `width`.
std::string Panel::fit(std::string s, double width, double size) {
    cairo_set_font_size(cr_, size);
    cairo_text_extents_t e;
    cairo_text_extents(cr_, s.c_str(), &e);
    if (e.x_advance <= width) return s;
    while (!s.empty()) {
        // Cut whole UTF-8 characters only.
        do s.pop_back();
        while (!s.empty() && (static_cast<unsigned char>(s.back()) & 0xC0) == 0x80);
        if (!s.empty()) s.pop_back();
        cairo_text_extents(cr_, (s + "…").c_str(), &e);
        if (e.x_advance <= width) return s + "…";
    }
    return s;
}

void Panel::ranges() {
    const int64_t nd = v_.numDivisions();
    std::vector<double> centres;
    for (int64_t d = 0; d < nd; ++d) {
        int64_t roff = 0;
        const cv::Value* r = xValuesOf(v_, d, roff);
        if (!r) continue;
        const int64_t off = v_.divisionOffset(d), n = v_.divisionLength(d);
        for (int64_t i = 0; i < n; ++i) {
            const double x = r->realAt(roff + i), y = yAt(v_, off + i);
            if (!std::isfinite(x) || !std::isfinite(y)) continue;
            xr_.take(x);
            yr_.take(y);
            if (item_.bars) centres.push_back(x);
        }
    }
    if (item_.bars) {
        wholeCounts_ = true;
        for (int64_t i = 0; i < v_.size() && wholeCounts_; ++i) {
            const double y = yAt(v_, i);
            wholeCounts_ = !std::isfinite(y) || (y == std::floor(y) && std::fabs(y) < 1e15);
        }
        // Bars are as wide as the closest two centres lie apart, and rise from zero.
        std::sort(centres.begin(), centres.end());
        binWidth_ = 0;
        for (size_t i = 1; i < centres.size(); ++i)
            if (const double w = centres[i] - centres[i - 1]; w > 0 && (binWidth_ == 0 || w < binWidth_)) binWidth_ = w;
        if (binWidth_ == 0) binWidth_ = xr_.valid() && xr_.lo != 0 ? std::fabs(xr_.lo) * 0.1 : 1;
        if (xr_.valid()) xr_.lo -= binWidth_ * 0.6, xr_.hi += binWidth_ * 0.6;
        yr_.take(0);
        xr_.widen();
        yr_.widen();
        yr_.hi += (yr_.hi - yr_.lo) * 0.05;
        return;
    }
    // A frequency sweep over decades reads on a logarithmic axis.
    if (v_.refPhysType() == PhysType::Frequency && xr_.valid() && xr_.lo > 0 && xr_.hi / xr_.lo >= 100) {
        logX_ = true;
        xr_.lo = std::log10(xr_.lo), xr_.hi = std::log10(xr_.hi);
    }
    xr_.widen();
    yr_.widen();
    const double pad = (yr_.hi - yr_.lo) * 0.04;
    yr_.lo -= pad, yr_.hi += pad;
}

void Panel::axes() {
    cairo_set_line_width(cr_, 1);
    // Counts tick at whole numbers only, written out: "2", never "1.5" or "500m".
    std::vector<double> xt = niceTicks(xr_.lo, xr_.hi), yt = niceTicks(yr_.lo, yr_.hi, 5, wholeCounts_ ? 1 : 0);
    auto yText = [&](double t) {
        if (!wholeCounts_) return sp_ConvertRealToJSEng(t, 6);
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.0f", t);
        return std::string(buf);
    };
    if (logX_) {
        xt.clear();
        for (double k = std::ceil(xr_.lo - 1e-9); k <= xr_.hi + 1e-9; ++k) xt.push_back(std::pow(10.0, k));
    }
    // Grid first, so the data draws over it.
    cairo_set_source_rgb(cr_, 0.88, 0.88, 0.88);
    for (double t : xt) {
        cairo_move_to(cr_, std::round(px(t)) + 0.5, plotTop_);
        cairo_line_to(cr_, std::round(px(t)) + 0.5, bottom_);
    }
    for (double t : yt) {
        cairo_move_to(cr_, left_, std::round(py(t)) + 0.5);
        cairo_line_to(cr_, right_, std::round(py(t)) + 0.5);
    }
    cairo_stroke(cr_);
    cairo_set_source_rgb(cr_, 0, 0, 0);
    cairo_rectangle(cr_, left_ + 0.5, plotTop_ + 0.5, right_ - left_, bottom_ - plotTop_);
    cairo_stroke(cr_);
    for (double t : xt) {
        cairo_move_to(cr_, std::round(px(t)) + 0.5, bottom_);
        cairo_line_to(cr_, std::round(px(t)) + 0.5, bottom_ + 4);
        cairo_stroke(cr_);
        text(sp_ConvertRealToJSEng(t, 6), px(t), bottom_ + 6, 0.5);
    }
    for (double t : yt) {
        cairo_move_to(cr_, left_ - 4, std::round(py(t)) + 0.5);
        cairo_line_to(cr_, left_, std::round(py(t)) + 0.5);
        cairo_stroke(cr_);
        text(yText(t), left_ - 6, py(t) - 5.5, 1);
    }
    const cv::Value* ref = v_.ref().get();
    text(axisLabel(v_.refPhysType(), v_.refName().empty() && ref ? ref->name() : v_.refName(), "x"),
         (left_ + right_) / 2, bottom_ + 24, 0.5, 12);
    const std::string ylabel =
        item_.bars ? std::string("Count")
                   : axisLabel(v_.physType(), v_.name(), "value", v_.kind() == cv::Kind::Complex ? " magnitude" : "");
    cairo_save(cr_);
    cairo_translate(cr_, 16, (plotTop_ + bottom_) / 2);
    cairo_rotate(cr_, -M_PI / 2);
    text(ylabel, 0, -6, 0.5, 12);
    cairo_restore(cr_);
    text(fit(item_.title, right_ - left_ + 60, 12), left_, top_ + 8, 0, 12);
}

void Panel::lines() {
    cairo_save(cr_);
    cairo_rectangle(cr_, left_, plotTop_, right_ - left_, bottom_ - plotTop_);
    cairo_clip(cr_);
    cairo_set_line_width(cr_, 1.4);
    cairo_set_line_join(cr_, CAIRO_LINE_JOIN_ROUND);
    for (int64_t d = 0; d < v_.numDivisions(); ++d) {
        int64_t roff = 0;
        const cv::Value* r = xValuesOf(v_, d, roff);
        if (!r) continue;
        const int64_t off = v_.divisionOffset(d), n = v_.divisionLength(d);
        // Many points to a pixel column are drawn as that column's lowest
        // and highest point: the same picture, and a file of bounded size.
        bool pen = false;
        double col = NAN, lo = 0, hi = 0;
        auto flush = [&] {
            if (std::isnan(col)) return;
            cairo_line_to(cr_, col, py(lo));
            if (hi != lo) cairo_line_to(cr_, col, py(hi));
            col = NAN;
        };
        for (int64_t i = 0; i < n; ++i) {
            const double x = r->realAt(roff + i), y = yAt(v_, off + i);
            if (!std::isfinite(x) || !std::isfinite(y)) {  // a gap in the line
                flush();
                pen = false;
                continue;
            }
            const double X = px(x), c = std::floor(X) + 0.5;
            if (!pen) {
                cairo_move_to(cr_, X, py(y));
                pen = true;
                continue;
            }
            if (c == col) {
                lo = std::min(lo, y), hi = std::max(hi, y);
                continue;
            }
            flush();
            if (n > 4 * (right_ - left_)) {
                col = c, lo = hi = y;
            } else {
                cairo_line_to(cr_, X, py(y));
            }
        }
        flush();
        colour(d);
        cairo_stroke(cr_);
        // A division of one point shows as a dot.
        if (n == 1 && std::isfinite(yAt(v_, off)) && std::isfinite(r->realAt(roff))) {
            cairo_arc(cr_, px(r->realAt(roff)), py(yAt(v_, off)), 2.5, 0, 2 * M_PI);
            cairo_fill(cr_);
        }
    }
    cairo_restore(cr_);
}

void Panel::bars() {
    cairo_save(cr_);
    cairo_rectangle(cr_, left_, plotTop_, right_ - left_, bottom_ - plotTop_);
    cairo_clip(cr_);
    const int64_t nd = v_.numDivisions();
    for (int64_t d = 0; d < nd; ++d) {
        int64_t roff = 0;
        const cv::Value* r = xValuesOf(v_, d, roff);
        if (!r) continue;
        const int64_t off = v_.divisionOffset(d);
        for (int64_t i = 0; i < v_.divisionLength(d); ++i) {
            const double x = r->realAt(roff + i), y = yAt(v_, off + i);
            if (!std::isfinite(x) || !std::isfinite(y)) continue;
            const double x0 = px(x - binWidth_ / 2), x1 = px(x + binWidth_ / 2);
            cairo_rectangle(cr_, x0 + 0.5, py(y), std::max(x1 - x0 - 1, 1.0), py(0) - py(y));
            colour(d, nd > 1 ? 0.45 : 0.8);
            cairo_fill_preserve(cr_);
            colour(d);
            cairo_set_line_width(cr_, 1);
            cairo_stroke(cr_);
        }
    }
    cairo_restore(cr_);
}

void Panel::legend() {
    const int64_t nd = v_.numDivisions();
    const double x = right_ + 14, row = 16;
    const int64_t room = std::max<int64_t>(1, int64_t((bottom_ - plotTop_) / row) - 1);
    const int64_t shown = nd > room ? room - 1 : nd;
    for (int64_t d = 0; d < shown; ++d) {
        const double y = plotTop_ + 4 + double(d) * row;
        colour(d);
        cairo_rectangle(cr_, x, y + 3, 14, 4);
        cairo_fill(cr_);
        cairo_set_source_rgb(cr_, 0, 0, 0);
        // Runs a file numbers only read better with the word.
        std::string label = size_t(d) < v_.divisionLabels().size() ? v_.divisionLabels()[size_t(d)] : std::to_string(d + 1);
        if (!label.empty() && std::all_of(label.begin(), label.end(), [](char c) { return std::isdigit((unsigned char)c); }))
            label = "run " + label;
        text(fit(label, kPlotWidth - x - 26, 10), x + 20, y, 0, 10);
    }
    if (shown < nd) {
        cairo_set_source_rgb(cr_, 0, 0, 0);
        text("… " + std::to_string(nd - shown) + " more", x + 20, plotTop_ + 4 + double(shown) * row, 0, 10);
    }
}

void Panel::draw() {
    const bool withLegend = v_.numDivisions() > 1;
    left_ = 78, right_ = kPlotWidth - (withLegend ? 160 : 32);
    plotTop_ = top_ + 32, bottom_ = top_ + kPlotPanelHeight - 50;
    cairo_select_font_face(cr_, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    ranges();
    axes();
    if (item_.bars) bars();
    else lines();
    if (withLegend) legend();
}

cairo_status_t writeToFile(void* closure, const unsigned char* data, unsigned int length) {
    return std::fwrite(data, 1, length, static_cast<FILE*>(closure)) == length ? CAIRO_STATUS_SUCCESS
                                                                               : CAIRO_STATUS_WRITE_ERROR;
}

}  // namespace

std::optional<PlotFormat> plotFormatFor(std::string_view path) {
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('/');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return std::nullopt;
    const std::string ext = lower(path.substr(dot + 1));
    if (ext == "png") return PlotFormat::Png;
    if (ext == "svg") return PlotFormat::Svg;
    if (ext == "pdf") return PlotFormat::Pdf;
    return std::nullopt;
}

std::vector<double> niceTicks(double lo, double hi, int target, double minStep) {
    std::vector<double> ticks;
    if (!std::isfinite(lo) || !std::isfinite(hi) || !(hi > lo) || target < 1) return ticks;
    const double raw = (hi - lo) / target;
    if (!std::isfinite(raw) || raw <= 0) return ticks;
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    const double f = raw / mag;
    const double step = std::max((f < 1.5 ? 1 : f < 3.5 ? 2 : f < 7.5 ? 5 : 10) * mag, minStep);
    if (!(step > 0) || !std::isfinite(step)) return ticks;
    const double first = std::ceil(lo / step - 1e-9), last = std::floor(hi / step + 1e-9);
    if (!(last - first < 1000)) return ticks;  // huge offsets over a tiny span: no readable ticks
    for (double k = first; k <= last; ++k) {
        const double t = k * step;
        ticks.push_back(std::fabs(t) < step * 1e-9 ? 0.0 : t);
    }
    return ticks;
}

bool Plot::add(const cv::ValuePtr& v, std::string_view statement) {
    if (!v || !v->isNumeric() || !v->ref()) return false;
    bool drawable = false;
    for (int64_t d = 0; d < v->numDivisions() && !drawable; ++d) {
        int64_t roff = 0;
        drawable = v->divisionLength(d) >= 2 && xValuesOf(*v, d, roff);
    }
    const bool bars = isHistogramStatement(statement);
    if (!drawable && !(bars && v->size() >= 1)) return false;
    std::string title(statement);
    const size_t b = title.find_first_not_of(" \t\r\n");
    title = b == std::string::npos ? std::string() : title.substr(b, title.find_last_not_of(" \t\r\n") - b + 1);
    for (char& c : title)
        if (c == '\n' || c == '\t' || c == '\r') c = ' ';
    items_.push_back({v, title, bars});
    return true;
}

bool Plot::write(const std::string& path, PlotFormat format, std::string& error) const {
    if (items_.empty()) {
        error = "nothing to plot";
        return false;
    }
    const int height = kPlotPanelHeight * int(items_.size());
    AtomicFileWriter out(path.c_str());
    FILE* f = out.file();
    if (!f) {
        error = "cannot write '" + path + "': " + std::strerror(errno);
        return false;
    }
    cairo_surface_t* surface = nullptr;
    switch (format) {
        case PlotFormat::Png: surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kPlotWidth, height); break;
        case PlotFormat::Svg: surface = cairo_svg_surface_create_for_stream(writeToFile, f, kPlotWidth, height); break;
        case PlotFormat::Pdf: surface = cairo_pdf_surface_create_for_stream(writeToFile, f, kPlotWidth, height); break;
    }
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    for (size_t i = 0; i < items_.size(); ++i) Panel(cr, items_[i], double(i) * kPlotPanelHeight).draw();
    cairo_status_t status = cairo_status(cr);
    cairo_destroy(cr);
    if (status == CAIRO_STATUS_SUCCESS && format == PlotFormat::Png)
        status = cairo_surface_write_to_png_stream(surface, writeToFile, f);
    cairo_surface_finish(surface);
    if (status == CAIRO_STATUS_SUCCESS) status = cairo_surface_status(surface);
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS || !out.commit()) {
        error = "cannot write '" + path + "': " +
                (status != CAIRO_STATUS_SUCCESS ? cairo_status_to_string(status) : std::strerror(errno));
        return false;
    }
    return true;
}

}  // namespace cvtool
