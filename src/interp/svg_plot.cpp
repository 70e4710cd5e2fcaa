#include "interp/svg_plot.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "symbols/output.h"

namespace corvel {

namespace {

// Plot area inside the picture; the legend sits to its right.
constexpr double kLeft = 80, kTop = 50, kRight = 600, kBottom = 440;
constexpr double kLegendX = 620;

// Line colours, distinct on white and for the common colour-blindnesses.
constexpr const char* kColours[] = {"#0072b2", "#d55e00", "#009e73", "#cc79a7",
                                    "#e69f00", "#56b4e9", "#000000", "#f0e442"};

double round_step(double raw) {
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double mantissa = raw / power;
    const double nice = mantissa <= 1.0 ? 1.0 : mantissa <= 2.0 ? 2.0 : mantissa <= 5.0 ? 5.0 : 10.0;
    return nice * power;
}

std::string number(double v) { return format_string("%.2f", v); }

// A tick label: short, and without "-0".
std::string tick_label(double v, double step) {
    if (std::fabs(v) < step * 1e-6) v = 0.0;
    return format_string("%g", v);
}

}  // namespace

std::string xml_escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default:
                // Control characters are not allowed in XML 1.0 text.
                if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r')
                    out += ' ';
                else
                    out += c;
        }
    }
    return out;
}

AxisTicks axis_ticks(double low, double high, int target) {
    if (!std::isfinite(low) || !std::isfinite(high)) low = 0.0, high = 1.0;
    if (low > high) std::swap(low, high);
    if (high - low <= std::max(std::fabs(low), std::fabs(high)) * 1e-12) {
        // One value: a range around it.
        const double half = low == 0.0 ? 1.0 : std::fabs(low) * 0.5;
        low -= half;
        high += half;
    }
    if (target < 1) target = 1;
    AxisTicks a{low, high, round_step((high - low) / target), {}};
    if (!std::isfinite(a.step) || !(a.step > 0)) {
        // A range beyond the doubles (values near the largest double).
        a.step = high - low;
        a.ticks = {low, high};
        return a;
    }
    // The axis runs from the multiple of the step at or below the lowest
    // value to the one at or above the highest.
    const double slack = a.step * 1e-9;
    const double first = std::floor((low + slack) / a.step);
    const double last = std::ceil((high - slack) / a.step);
    a.low = std::min(low, first * a.step);
    a.high = std::max(high, last * a.step);
    for (double k = first; k <= last && a.ticks.size() <= 50; k += 1.0) a.ticks.push_back(k * a.step);
    return a;
}

std::string svg_plot(const TableRecord& table, std::string_view title, std::string_view y_label) {
    const std::size_t rows = table.num_rows();
    const std::size_t cols = table.num_columns();
    double xmin = std::numeric_limits<double>::infinity(), xmax = -xmin;
    double ymin = xmin, ymax = -xmin;
    for (std::size_t r = 0; r < rows; ++r) {
        const double x = table.points[r];
        if (!std::isfinite(x)) continue;
        xmin = std::min(xmin, x);
        xmax = std::max(xmax, x);
        for (std::size_t c = 0; c < cols; ++c) {
            const double y = table.at(c, r);
            if (!std::isfinite(y)) continue;
            ymin = std::min(ymin, y);
            ymax = std::max(ymax, y);
        }
    }
    if (!(xmin <= xmax)) xmin = 0.0, xmax = 1.0;
    if (!(ymin <= ymax)) ymin = 0.0, ymax = 1.0;
    const AxisTicks xa = axis_ticks(xmin, xmax, 8);
    const AxisTicks ya = axis_ticks(ymin, ymax, 5);
    auto px = [&](double x) { return kLeft + (x - xa.low) / (xa.high - xa.low) * (kRight - kLeft); };
    auto py = [&](double y) { return kBottom - (y - ya.low) / (ya.high - ya.low) * (kBottom - kTop); };

    std::string s;
    s += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    s += format_string(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" "
        "font-family=\"sans-serif\" font-size=\"12\">\n",
        kPlotWidth, kPlotHeight, kPlotWidth, kPlotHeight);
    s += "<title>" + xml_escape(title) + "</title>\n";
    s += "<rect x=\"0\" y=\"0\" width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    s += "<text x=\"" + number((kLeft + kRight) / 2) + "\" y=\"28\" text-anchor=\"middle\" font-size=\"16\">" +
         xml_escape(title) + "</text>\n";

    // Grid lines and ticks with their labels.
    s += "<g stroke=\"#dddddd\" stroke-width=\"1\">\n";
    for (double v : xa.ticks)
        s += "<line x1=\"" + number(px(v)) + "\" y1=\"" + number(kTop) + "\" x2=\"" + number(px(v)) + "\" y2=\"" +
             number(kBottom) + "\"/>\n";
    for (double v : ya.ticks)
        s += "<line x1=\"" + number(kLeft) + "\" y1=\"" + number(py(v)) + "\" x2=\"" + number(kRight) + "\" y2=\"" +
             number(py(v)) + "\"/>\n";
    s += "</g>\n<g stroke=\"#000000\" stroke-width=\"1\">\n";
    for (double v : xa.ticks)
        s += "<line x1=\"" + number(px(v)) + "\" y1=\"" + number(kBottom) + "\" x2=\"" + number(px(v)) + "\" y2=\"" +
             number(kBottom + 5) + "\"/>\n";
    for (double v : ya.ticks)
        s += "<line x1=\"" + number(kLeft - 5) + "\" y1=\"" + number(py(v)) + "\" x2=\"" + number(kLeft) +
             "\" y2=\"" + number(py(v)) + "\"/>\n";
    s += "</g>\n<g fill=\"#000000\">\n";
    for (double v : xa.ticks)
        s += "<text x=\"" + number(px(v)) + "\" y=\"" + number(kBottom + 19) + "\" text-anchor=\"middle\">" +
             xml_escape(tick_label(v, xa.step)) + "</text>\n";
    for (double v : ya.ticks)
        s += "<text x=\"" + number(kLeft - 8) + "\" y=\"" + number(py(v) + 4) + "\" text-anchor=\"end\">" +
             xml_escape(tick_label(v, ya.step)) + "</text>\n";
    s += "</g>\n";
    // Axis labels.
    s += "<text x=\"" + number((kLeft + kRight) / 2) + "\" y=\"" + number(kBottom + 42) +
         "\" text-anchor=\"middle\" font-size=\"14\">" + xml_escape(table.variable) + "</text>\n";
    s += "<text x=\"18\" y=\"" + number((kTop + kBottom) / 2) + "\" text-anchor=\"middle\" font-size=\"14\" " +
         "transform=\"rotate(-90 18 " + number((kTop + kBottom) / 2) + ")\">" + xml_escape(y_label) + "</text>\n";
    // The frame of the plot area.
    s += "<rect x=\"" + number(kLeft) + "\" y=\"" + number(kTop) + "\" width=\"" + number(kRight - kLeft) +
         "\" height=\"" + number(kBottom - kTop) + "\" fill=\"none\" stroke=\"#000000\"/>\n";

    // One polyline per column; points without a finite value are left out.
    const double spacing = cols > 0 ? std::min(20.0, (kBottom - kTop) / static_cast<double>(cols)) : 20.0;
    for (std::size_t c = 0; c < cols; ++c) {
        const char* colour = kColours[c % (sizeof kColours / sizeof kColours[0])];
        std::string pts;
        std::size_t shown = 0;
        for (std::size_t r = 0; r < rows; ++r) {
            const double x = table.points[r], y = table.at(c, r);
            if (!std::isfinite(x) || !std::isfinite(y)) continue;
            if (!pts.empty()) pts += ' ';
            pts += number(px(x)) + "," + number(py(y));
            ++shown;
        }
        s += format_string("<polyline fill=\"none\" stroke=\"%s\" stroke-width=\"2\" points=\"", colour) + pts +
             "\"/>\n";
        // A single point makes no line: mark it.
        if (shown == 1) {
            const std::size_t comma = pts.find(',');
            s += format_string("<circle r=\"4\" fill=\"%s\" cx=\"", colour) + pts.substr(0, comma) + "\" cy=\"" +
                 pts.substr(comma + 1) + "\"/>\n";
        }
        const double ly = kTop + 10 + spacing * static_cast<double>(c);
        s += format_string("<line stroke=\"%s\" stroke-width=\"2\" x1=\"", colour) + number(kLegendX) +
             "\" y1=\"" + number(ly) + "\" x2=\"" + number(kLegendX + 24) + "\" y2=\"" + number(ly) + "\"/>\n";
        s += "<text x=\"" + number(kLegendX + 30) + "\" y=\"" + number(ly + 4) + "\">" +
             xml_escape(table.title(c)) + "</text>\n";
    }
    s += "</svg>\n";
    return s;
}

}  // namespace corvel
