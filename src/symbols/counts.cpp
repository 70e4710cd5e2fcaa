#include "symbols/counts.h"

#include <cmath>

namespace corvel {

std::string count_fault_text(std::string_view place, double value) {
    // NaN is shown without the sign the C library may give it.
    if (std::isnan(value)) return format_string(": %.*s is nan", static_cast<int>(place.size()), place.data());
    return format_string(": %.*s is %g", static_cast<int>(place.size()), place.data(), value);
}

long long checked_count(ErrorReporter& err, double value, CountRounding how, std::string_view place, int level,
                        long long limit, CountBeyond beyond) {
    if (!std::isfinite(value)) {
        err.error(116, level, count_fault_text(place, value), true);
        return -limit - 1;  // only reached for levels that go on
    }
    const double r = how == CountRounding::Nearest ? std::floor(value + 0.5) : std::trunc(value);
    if (r > static_cast<double>(limit)) {
        if (beyond == CountBeyond::Refuse) err.error(169, level, count_fault_text(place, value), true);
        return beyond == CountBeyond::Refuse ? limit : limit + 1;
    }
    if (r < -static_cast<double>(limit)) return -limit - 1;
    return static_cast<long long>(r);
}

long long checked_loop_passes(ErrorReporter& err, double low, double high, double step, std::string_view place,
                              int level, long long limit) {
    for (double v : {low, high, step})
        if (!std::isfinite(v)) {
            err.error(116, level, count_fault_text("bound of " + std::string(place), v), true);
            return 0;
        }
    if (high < low) return 0;
    const double passes = std::floor((high - low) / step + 1e-9) + 1.0;
    return checked_count(err, passes, CountRounding::Truncate, "passes of " + std::string(place), level, limit);
}

bool check_finite(ErrorReporter& err, double value, std::string_view place, int level, std::string_view suffix) {
    if (std::isfinite(value)) return true;
    err.error(116, level, count_fault_text(place, value) + std::string(suffix), level != kInputError);
    return false;
}

std::string substitution_text(ErrorReporter& err, double v) {
    return std::to_string(checked_count(err, v, CountRounding::Truncate, "index substitution", kFatal, kMaxExactCount));
}

}  // namespace corvel
