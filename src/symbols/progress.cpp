#include "symbols/progress.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <string>

namespace corvel::progress {

namespace detail {
bool enabled = false;
bool shown = false;
}  // namespace detail

namespace {

std::function<void(std::string_view)> g_writer;
std::function<double()> g_clock;
bool g_ever_written = false;
double g_last = 0.0;
std::size_t g_width = 0;  // characters of the line on the terminal

void write(std::string_view text) {
    if (g_writer) {
        g_writer(text);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

double now() {
    if (g_clock) return g_clock();
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

void detail::update(const char* activity, const char* unit, std::uint64_t done, std::uint64_t total) {
    const double t = now();
    if (g_ever_written && t - g_last < kMinInterval) return;
    g_ever_written = true;
    g_last = t;
    char numbers[64];
    if (total > 0)
        std::snprintf(numbers, sizeof numbers, "%" PRIu64 " of %" PRIu64, done, total);
    else
        std::snprintf(numbers, sizeof numbers, "%" PRIu64, done);
    std::string line = std::string(activity) + ": " + numbers + " " + unit;
    // Blanks over the rest of a longer previous line.
    const std::size_t width = line.size();
    if (line.size() < g_width) line.append(g_width - line.size(), ' ');
    write("\r" + line);
    g_width = width;
    shown = true;
}

void detail::clear() {
    write("\r" + std::string(g_width, ' ') + "\r");
    g_width = 0;
    shown = false;
}

void enable(bool on) {
    if (!on) clear();
    detail::enabled = on;
}

void set_writer(std::function<void(std::string_view)> writer) { g_writer = std::move(writer); }

void set_clock(std::function<double()> clock) {
    g_clock = std::move(clock);
    g_ever_written = false;
}

}  // namespace corvel::progress
