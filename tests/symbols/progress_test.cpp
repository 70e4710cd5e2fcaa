// The progress line: silent unless turned on, rewritten in place no more
// often than its interval, and taken away without a trace.

#include <gtest/gtest.h>

#include <string>

#include "symbols/output.h"
#include "symbols/progress.h"

namespace corvel {
namespace {

// Collects what the line writes, with a clock the test moves.
struct Terminal {
    std::string text;
    int writes = 0;
    double now = 100.0;
    Terminal() {
        progress::set_writer([this](std::string_view s) {
            text += s;
            ++writes;
        });
        progress::set_clock([this] { return now; });
    }
    ~Terminal() {
        progress::enable(false);
        progress::set_writer({});
        progress::set_clock({});
    }
};

TEST(Progress, NothingIsWrittenWhileTheLineIsOff) {
    Terminal term;
    progress::enable(false);
    for (int i = 0; i < 1000; ++i) progress::update("SOR", "sweeps", static_cast<std::uint64_t>(i));
    progress::clear();
    EXPECT_EQ(term.writes, 0);
    EXPECT_EQ(term.text, "");
}

TEST(Progress, UpdatesAreLimitedToAFewPerSecond) {
    Terminal term;
    progress::enable(true);
    // The first report shows at once; a flood within the interval adds nothing.
    for (int i = 1; i <= 100000; ++i) progress::update("reachability graph", "markings", static_cast<std::uint64_t>(i), 7);
    EXPECT_EQ(term.writes, 1);
    EXPECT_EQ(term.text, "\rreachability graph: 1 of 7 markings");
    term.now += progress::kMinInterval / 2;
    progress::update("reachability graph", "markings", 5);
    EXPECT_EQ(term.writes, 1);
    term.now += progress::kMinInterval;
    progress::update("SOR", "sweeps", 12);
    EXPECT_EQ(term.writes, 2);
    // The shorter line blanks out what is left of the longer one.
    const std::string second = "\rSOR: 12 sweeps";
    const std::string previous_length(std::string("reachability graph: 1 of 7 markings").size() - (second.size() - 1), ' ');
    EXPECT_EQ(term.text.substr(term.text.size() - second.size() - previous_length.size()), second + previous_length);
    // Ten simulated seconds of steady updates: at most one per interval.
    const int before = term.writes;
    for (int i = 0; i < 10000; ++i) {
        term.now += 0.001;
        progress::update("uniformization", "steps", static_cast<std::uint64_t>(i));
    }
    EXPECT_LE(term.writes - before, static_cast<int>(10.0 / progress::kMinInterval) + 1);
    EXPECT_GE(term.writes - before, static_cast<int>(10.0 / progress::kMinInterval) - 1);
}

TEST(Progress, ClearingLeavesAnEmptyLine) {
    Terminal term;
    progress::enable(true);
    progress::update("BDD construction", "nodes", 4096);
    const std::size_t shown = std::string("BDD construction: 4096 nodes").size();
    term.text.clear();
    progress::clear();
    EXPECT_EQ(term.text, "\r" + std::string(shown, ' ') + "\r");
    // Nothing to take away a second time.
    progress::clear();
    EXPECT_EQ(term.writes, 2);
    // Turning the line off takes a shown line away.
    term.now += 1;
    progress::update("path enumeration", "paths", 3);
    term.text.clear();
    progress::enable(false);
    EXPECT_EQ(term.text, "\r" + std::string(std::string("path enumeration: 3 paths").size(), ' ') + "\r");
}

TEST(Progress, ResultsOnTheTerminalStartOnACleanLine) {
    Terminal term;
    progress::enable(true);
    progress::update("SOR", "sweeps", 3);
    // Output captured in memory leaves the line alone; output to standard
    // output takes it away first (an empty write puts nothing there itself).
    std::string captured;
    Output memory(&captured);
    memory.write("x");
    EXPECT_TRUE(progress::detail::shown);
    Output console;
    console.write("");
    EXPECT_FALSE(progress::detail::shown);
    EXPECT_EQ(term.text, "\rSOR: 3 sweeps\r" + std::string(std::string("SOR: 3 sweeps").size(), ' ') + "\r");
}

}  // namespace
}  // namespace corvel
