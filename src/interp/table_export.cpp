#include "interp/table_export.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "interp/svg_plot.h"
#include "symbols/output.h"
#include "symbols/progress.h"

namespace corvel {

namespace {

std::string safe_name(std::string_view name) {
    std::string out(name);
    for (char& c : out) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                          c == '_';
        if (!keep) c = '_';
    }
    return out;
}

std::string plot_title(std::string_view system, const std::optional<std::string>& node) {
    std::string title = "system " + std::string(system);
    if (node) title += ", node " + *node;
    return title;
}

}  // namespace

std::string table_file_stem(std::string_view system, std::optional<std::string_view> node, int number) {
    std::string stem = safe_name(system);
    if (node) stem += "_" + safe_name(*node);
    return stem + "_" + std::to_string(number);
}

std::string csv_field(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string csv_text(const TableRecord& table) {
    const std::size_t cols = table.num_columns();
    const bool labelled = !table.labels.empty();
    std::string s = csv_field(table.variable);
    if (labelled) s += "," + csv_field(table.label_title);
    for (std::size_t c = 0; c < cols; ++c) s += "," + csv_field(table.title(c));
    s += "\r\n";
    for (std::size_t r = 0; r < table.num_rows(); ++r) {
        s += format_string("%.17g", table.points[r]);
        if (labelled) s += "," + csv_field(r < table.labels.size() ? table.labels[r] : std::string());
        for (std::size_t c = 0; c < cols; ++c) s += format_string(",%.17g", table.at(c, r));
        s += "\r\n";
    }
    return s;
}

bool TableExport::write_file(const std::string& dir, const std::string& name, const std::string& text) {
    const std::filesystem::path path = std::filesystem::path(dir) / name;
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);  // a failure shows when the file is opened
    errno = 0;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    bool ok = f != nullptr;
    int reason = errno;
    if (ok) {
        ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
        if (!ok) reason = errno;
        if (std::fclose(f) != 0 && ok) {
            ok = false;
            reason = errno;
        }
    }
    if (!ok) {
        progress::clear();
        std::fprintf(stderr, "warning: cannot write table file %s: %s\n", path.c_str(),
                     reason != 0 ? std::strerror(reason) : "write failed");
        std::fflush(stderr);
    }
    return ok;
}

void TableExport::write(const TableRecord& table, std::string_view system, std::optional<std::string_view> node) {
    const std::string stem = table_file_stem(system, node, ++count_);
    if (!csv_dir.empty()) write_file(csv_dir, stem + ".csv", csv_text(table));
    if (!svg_dir.empty()) {
        std::optional<std::string> n;
        if (node) n = std::string(*node);
        // One column: its title names the values; several: they share the
        // distribution's name.
        const std::string y_label =
            table.num_columns() == 1 ? table.title(0) : "F(" + table.variable + ")";
        write_file(svg_dir, stem + ".svg", svg_plot(table, plot_title(system, n), y_label));
    }
}

TableCapture::TableCapture(Output& out, TableExport& exporter, std::string system, std::optional<std::string> node)
    : out_(out), exporter_(exporter), system_(std::move(system)), node_(std::move(node)) {
    if (!exporter_.active()) return;
    previous_ = out_.table_record();
    out_.set_table_record(&record_);
    recording_ = true;
}

TableCapture::~TableCapture() {
    if (recording_) out_.set_table_record(previous_);
}

void TableCapture::finish() {
    if (!recording_) return;
    out_.set_table_record(previous_);
    recording_ = false;
    std::optional<std::string_view> node;
    if (node_) node = *node_;
    exporter_.write(record_, system_, node);
}

}  // namespace corvel
