#pragma once
// A line plot of a recorded table as a self-contained SVG document (no
// scripts, no external fonts or images): white background, framed axes with
// ticks and tick labels, the point column along x, one polyline per value
// column, a legend naming the columns and a title. 800 by 500 pixels.

#include <string>
#include <string_view>
#include <vector>

#include "symbols/table_record.h"

namespace corvel {

constexpr int kPlotWidth = 800;
constexpr int kPlotHeight = 500;

// Ticks of an axis over the values from `low` to `high`: a round step (1, 2
// or 5 times a power of ten) giving about `target` intervals, and its
// multiples from the one at or below `low` to the one at or above `high`,
// which are also the ends of the axis. A degenerate or non-finite range is
// widened first, so there are always at least two ticks.
struct AxisTicks {
    double low, high;  // the range the axis shows
    double step;
    std::vector<double> ticks;
};
AxisTicks axis_ticks(double low, double high, int target = 5);

// The plot; `title` heads it, `y_label` names the vertical axis.
std::string svg_plot(const TableRecord& table, std::string_view title, std::string_view y_label);

// Text with &, <, >, " and ' written as XML entities.
std::string xml_escape(std::string_view text);

}  // namespace corvel
