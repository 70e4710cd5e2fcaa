#pragma once
// Which measures a model type accepts.

#include <cstdint>
#include <optional>

#include "model/system_store.h"
#include "interp/tokens.h"

namespace corvel {

enum class NodeRule { None, Optional, Required };

struct FuncSysEntry {
    NodeRule rule;
    bool uses_time;
};

// The entry for a measure keyword and a system type; nothing when the type
// does not accept the measure.
std::optional<FuncSysEntry> func_sys(Kw measure, int type);

}  // namespace corvel
