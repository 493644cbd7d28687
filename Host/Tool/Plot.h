// Pictures of printed results (`cvfunc ... --plot FILE`), drawn with cairo.
//
// Every printed waveform (a numeric value with x-values and at least two
// points in a division) becomes one panel: a line per division (run), a
// legend of the run labels when there are several, the axes labelled with
// the physical types and their units and ticked in engineering notation
// (0, 200n, 400n). A statement whose outermost call is Histogram(...) without
// 'step' draws as bars, its count axis ticked at whole numbers and labelled
// as plain integers. Plain numbers and lists without x-values are not
// drawn. Several results make several panels, stacked in the one file, each
// kPanelHeight high and kWidth wide (pixels for PNG, points for SVG and PDF).
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Value.h"

namespace cvtool {

enum class PlotFormat { Png, Svg, Pdf };

constexpr int kPlotWidth = 800;
constexpr int kPlotPanelHeight = 360;

// The format named by the file's extension (case-insensitive), if any.
std::optional<PlotFormat> plotFormatFor(std::string_view path);

class Plot {
public:
    // Keeps a printed value when it can be drawn; false when it cannot.
    bool add(const cv::ValuePtr& v, std::string_view statement);
    bool empty() const noexcept { return items_.empty(); }
    size_t panels() const noexcept { return items_.size(); }
    // Writes the panels to `path` (through a temporary file renamed into
    // place, so an old picture is never left half-written); false with a message.
    bool write(const std::string& path, PlotFormat format, std::string& error) const;

    struct Item {
        cv::ValuePtr value;
        std::string title;
        bool bars = false;
    };

private:
    std::vector<Item> items_;
};

// Tick positions for [lo, hi]: multiples of 1, 2 or 5 times a power of ten,
// about `target` of them, all inside the range, never closer than `minStep`
// (a nice number itself: 1 keeps the ticks of a count on whole numbers).
std::vector<double> niceTicks(double lo, double hi, int target = 6, double minStep = 0);

}  // namespace cvtool
