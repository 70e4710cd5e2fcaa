#pragma once
// Saving the tables that eval prints: with -csv DIR each table is also
// written to DIR as a CSV file, with -svg DIR as an SVG plot. The files are
// named after the system, the node if any and a running number over the run
// (plant_1.csv, net_q_2.svg). Printed output does not change. A file that
// cannot be written is a warning on standard error naming the path, and the
// run goes on.

#include <optional>
#include <string>
#include <string_view>

#include "symbols/table_record.h"

namespace corvel {

class Output;

// The file name of the n-th table without its extension. Characters other
// than letters, digits, '-' and '_' become '_' so that every name stays
// inside its folder.
std::string table_file_stem(std::string_view system, std::optional<std::string_view> node, int number);

// One CSV field (RFC 4180): quoted when it holds a comma, a quote or a line
// break, with quotes doubled.
std::string csv_field(std::string_view text);

// The table as CSV: a header row with the column titles, then one row per
// point; numbers with %.17g; lines end with CR LF.
std::string csv_text(const TableRecord& table);

class TableExport {
public:
    std::string csv_dir;  // empty: no CSV files
    std::string svg_dir;  // empty: no plots

    bool active() const { return !csv_dir.empty() || !svg_dir.empty(); }

    // Writes the files of the next table.
    void write(const TableRecord& table, std::string_view system, std::optional<std::string_view> node);

    int tables_written() const { return count_; }

private:
    bool write_file(const std::string& dir, const std::string& name, const std::string& text);
    int count_ = 0;
};

// Records the table printed through `out` while it lives, when `exporter`
// is active; finish() writes the files. A table left unfinished (the run
// ended in the middle) writes nothing.
class TableCapture {
public:
    TableCapture(Output& out, TableExport& exporter, std::string system, std::optional<std::string> node);
    ~TableCapture();
    TableCapture(const TableCapture&) = delete;
    TableCapture& operator=(const TableCapture&) = delete;

    void finish();

private:
    Output& out_;
    TableExport& exporter_;
    std::string system_;
    std::optional<std::string> node_;
    TableRecord record_;
    TableRecord* previous_ = nullptr;
    bool recording_ = false;
};

}  // namespace corvel
