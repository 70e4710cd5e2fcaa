// The record of a pms block.

#include "combinatorial/pms_blocks.h"

namespace corvel {

PmsModel* pms_model(SystemRecord& sys) { return dynamic_cast<PmsModel*>(sys.model.get()); }

}  // namespace corvel
