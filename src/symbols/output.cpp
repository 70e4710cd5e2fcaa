#include "symbols/output.h"

#include <vector>

#include "symbols/progress.h"

namespace corvel {

namespace {

std::string vformat(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    char small[512];
    int needed = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (needed < 0) return {};
    if (static_cast<size_t>(needed) < sizeof small) return std::string(small, static_cast<size_t>(needed));
    std::vector<char> big(static_cast<size_t>(needed) + 1);
    std::vsnprintf(big.data(), big.size(), format, args);
    return std::string(big.data(), static_cast<size_t>(needed));
}

}  // namespace

void Output::vprintf(const char* format, va_list args) { write(vformat(format, args)); }

void Output::printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
}

void Output::write(std::string_view text) {
    if (capture_ != nullptr) {
        capture_->append(text);
        return;
    }
    // A progress line on the terminal is taken away before results appear.
    progress::clear();
    std::fwrite(text.data(), 1, text.size(), stdout);
}

void Output::flush() {
    if (capture_ == nullptr) std::fflush(stdout);
}

std::string format_string(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = vformat(format, args);
    va_end(args);
    return text;
}

}  // namespace corvel
