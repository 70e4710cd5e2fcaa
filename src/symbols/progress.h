#pragma once
// One updating line on standard error that shows a long analysis is alive:
// "reachability graph: 120000 markings", rewritten in place at most a few
// times per second. It is off unless the program turns it on (only when
// standard error is a terminal), so piped and batch output never sees it.
// Solvers report with one call per step; while the line is off that call
// costs one test of a flag.

#include <cstdint>
#include <functional>
#include <string_view>

namespace corvel::progress {

namespace detail {
extern bool enabled;
extern bool shown;
void update(const char* activity, const char* unit, std::uint64_t done, std::uint64_t total);
void clear();
}  // namespace detail

// Turns the line on or off (off takes a shown line away).
void enable(bool on);
inline bool enabled() { return detail::enabled; }

// `activity` has reached `done` of `total` (0: unknown) `unit`s.
inline void update(const char* activity, const char* unit, std::uint64_t done, std::uint64_t total = 0) {
    if (detail::enabled) detail::update(activity, unit, done, total);
}

// Takes the line away if it is shown, so that other output starts on a clean
// line; the next update shows it again.
inline void clear() {
    if (detail::shown) detail::clear();
}

// The shortest time between two updates of the line, in seconds.
constexpr double kMinInterval = 0.25;

// Where the line goes and what time it is (seconds of a steady clock);
// standard error and the steady clock unless replaced. An empty function
// restores the default.
void set_writer(std::function<void(std::string_view)> writer);
void set_clock(std::function<double()> clock);

}  // namespace corvel::progress
