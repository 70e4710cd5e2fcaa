// The reporter's exact texts and what each level does afterwards.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "symbols/errors.h"

namespace corvel {
namespace {

struct Reporter {
    std::string text;
    Output out{&text};
    ErrorReporter err{out};
    explicit Reporter(bool interactive, std::string file = "m.txt", int line = 12) {
        err.interactive = interactive;
        err.location_source = [file, line] { return SourceLocation{file, line}; };
    }
};

int exit_status_of(Reporter& r, int number, int level, const char* text, bool loc) {
    try {
        r.err.error(number, level, text, loc);
    } catch (const ProgramExit& e) {
        return e.status;
    }
    return -1000;
}

TEST(MessageTable, HasEveryEntryInOrder) {
    EXPECT_STREQ(brisk_errlist[0], "no error");
    EXPECT_STREQ(brisk_errlist[7], "cannot calloc ");
    EXPECT_STREQ(brisk_errlist[64], "division by zero");
    EXPECT_STREQ(brisk_errlist[116], "floating point exception");
    EXPECT_STREQ(brisk_errlist[203], "expect keyword \"chain\"");
    EXPECT_STREQ(brisk_errlist[210], "can't use not, nor, nand or nkofn without a repeated event\nand bdd: system ");
    EXPECT_STREQ(brisk_errlist[220], "name too long, truncated ");
    EXPECT_STREQ(brisk_errlist[unknown_error_index], "unknown error");
    for (int i = 0; i <= max_error_index; ++i) EXPECT_GT(std::strlen(brisk_errlist[i]), 0u) << i;
}

TEST(Levels, WarningContinuesWithLocation) {
    Reporter r(false);
    r.err.error(19, kWarning, "", true);
    EXPECT_EQ(r.text, "warning: expect non-negative value (m.txt: line   12).\n");
}

TEST(Levels, FatalWithoutLocationEndsWithFailure) {
    Reporter r(false);
    EXPECT_EQ(exit_status_of(r, 64, kFatal, "", false), 255);
    EXPECT_EQ(r.text, "error: division by zero.\n");
}

TEST(Levels, BatchStatementsNameTheirLineAtLevelsOneTwoAndFive) {
    Reporter r(false);
    r.err.statement_locations = true;
    r.err.error(19, kWarning, "", false);
    r.err.error(121, kConsistency, "", false);
    EXPECT_EQ(exit_status_of(r, 64, kFatal, "", false), 255);
    EXPECT_EQ(r.text,
              "warning: expect non-negative value (m.txt: line   12).\n"
              "**** internal consistency check failed:\n    steady-state probabilities don't add to one (m.txt: line   12).\n"
              "error: division by zero (m.txt: line   12).\n");
    // Input errors keep the caller's choice; internal errors, the start-up
    // file errors and the floating-point trap never name a line.
    for (auto [number, level] : {std::pair{44, kInputError}, {7, kInternal}, {81, kFatal}, {85, kFatal}, {116, kFatal}}) {
        Reporter q(false);
        q.err.statement_locations = true;
        exit_status_of(q, number, level, "", false);
        EXPECT_EQ(q.text.find("line"), std::string::npos) << q.text;
    }
    // At the console nothing names a line.
    Reporter console(true);
    console.err.statement_locations = true;
    console.err.error(19, kWarning, "", false);
    EXPECT_EQ(console.text, "warning: expect non-negative value.\n");
}

TEST(Levels, InputErrorInBatchEndsTheRun) {
    Reporter r(false);
    EXPECT_EQ(exit_status_of(r, 23, kInputError, "", true), 255);
    EXPECT_EQ(r.text, "error: expect expression (m.txt: line   12).\n");
}

TEST(Levels, InputErrorInteractiveAsksAgain) {
    Reporter r(true);
    EXPECT_THROW(r.err.error(23, kInputError, "", true), CommandAbandoned);
    EXPECT_EQ(r.text, "error: expect expression.  Try again.\n");
}

TEST(Levels, InternalErrorHasNoLocation) {
    Reporter r(false);
    EXPECT_EQ(exit_status_of(r, 7, kInternal, "expression nodes", true), 255);
    EXPECT_EQ(r.text, "internal error: cannot calloc expression nodes\n");
}

TEST(Levels, ConsistencyCheckContinues) {
    Reporter r(false);
    r.err.error(124, kConsistency, "", true);
    r.err.error(125, kConsistency, "", false);
    EXPECT_EQ(r.text,
              "**** internal consistency check failed:\n    mean less than zero (m.txt: line   12).\n"
              "**** internal consistency check failed:\n    variance less than zero.\n");
}

TEST(Levels, OutOfRangeLevelPrintsNothing) {
    Reporter r(false);
    r.err.error(64, 0, "", true);
    r.err.error(64, 6, "", true);
    EXPECT_EQ(r.text, "");
}

TEST(Levels, UnknownNumberReportsLastEntry) {
    Reporter r(false);
    r.err.error(300, kWarning, "", false);
    EXPECT_EQ(r.text, "unknown error number: 300\nwarning: unknown error.\n");
}

TEST(Levels, LongLineNumbersAreNotCut) {
    Reporter r(false, "big.crv", 123456);
    r.err.error(19, kWarning, "", true);
    EXPECT_EQ(r.text, "warning: expect non-negative value (big.crv: line 123456).\n");
}

TEST(ElementReports, NodeAndEdgeTexts) {
    EXPECT_EQ(make_msg("", "B"), "");
    EXPECT_EQ(make_msg("A", ""), ": node A");
    EXPECT_EQ(make_msg("A", "B"), ": edge A to B");

    Reporter batch(false);
    try {
        batch.err.ERR(44, kInputError, "A", "");
    } catch (const ProgramExit&) {
    }
    // Level 3 reports about an element carry no location.
    EXPECT_EQ(batch.text, "error: no distribution specified for node : node A.\n");

    Reporter warn(false);
    warn.err.ERR(51, kWarning, "x", "y");
    EXPECT_EQ(warn.text, "warning: probabilities don't add up to one : edge x to y (m.txt: line   12).\n");
}

TEST(Assertions, FailedAssertionExitsWithTwo) {
    Reporter r(false);
    r.err.InternalAssert(true, "fine");
    try {
        r.err.InternalAssert(false, "matrix is singular");
        FAIL() << "assertion did not end the run";
    } catch (const ProgramExit& e) {
        EXPECT_EQ(e.status, 2);
    }
}

}  // namespace
}  // namespace corvel
