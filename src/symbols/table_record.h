#pragma once
// The values of one printed table, gathered at full precision while the
// table printers write it, so that the table can also be saved as a file.
// Column 0 is the variable (the time or reward points); the value columns
// follow in printed order, however the printer splits them into blocks.

#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

namespace corvel {

struct TableRecord {
    std::string variable;             // title of the point column: "t" or "r"
    std::vector<std::string> titles;  // titles of the value columns
    std::vector<double> points;       // one per row
    std::vector<std::vector<double>> values;  // [column][row]; NaN where never set
    // A text column after the point column (the names of a ranking), when not empty.
    std::string label_title;
    std::vector<std::string> labels;  // one per row

    void set_variable(std::string title) { variable = std::move(title); }

    void set_title(std::size_t column, std::string title) {
        if (titles.size() <= column) titles.resize(column + 1);
        titles[column] = std::move(title);
    }

    void set_value(std::size_t column, std::size_t row, double point, double value) {
        if (points.size() <= row) points.resize(row + 1, std::nan(""));
        points[row] = point;
        if (values.size() <= column) values.resize(column + 1);
        std::vector<double>& col = values[column];
        if (col.size() <= row) col.resize(row + 1, std::nan(""));
        col[row] = value;
    }

    std::size_t num_columns() const { return titles.size() > values.size() ? titles.size() : values.size(); }
    std::size_t num_rows() const { return points.size(); }

    // The value of a cell; NaN for one that was never set.
    double at(std::size_t column, std::size_t row) const {
        if (column >= values.size() || row >= values[column].size()) return std::nan("");
        return values[column][row];
    }
    // The title of a value column; empty for one without a title.
    std::string title(std::size_t column) const { return column < titles.size() ? titles[column] : std::string(); }
};

}  // namespace corvel
