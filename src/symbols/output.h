#pragma once
// The program's one output channel. Everything the interpreter prints goes
// through an Output so that the bytes are formatted with the C formats of the
// message texts and so that tests can capture them in memory.

#include <cstdarg>
#include <cstdio>
#include <string>
#include <string_view>

namespace corvel {

struct TableRecord;

class Output {
public:
    // Writes to standard output.
    Output() = default;
    // Collects everything in *capture (unit tests).
    explicit Output(std::string* capture) : capture_(capture) {}

    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    void printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void vprintf(const char* format, va_list args);
    void write(std::string_view text);
    void put(char ch) { write(std::string_view(&ch, 1)); }
    void flush();

    // While set, the table printers also hand every value they print to
    // this record (see TableRecord); null when no table is being recorded.
    TableRecord* table_record() const { return table_; }
    void set_table_record(TableRecord* record) { table_ = record; }

private:
    std::string* capture_ = nullptr;
    TableRecord* table_ = nullptr;
};

// snprintf into a std::string.
std::string format_string(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace corvel
