// The record of a relgraph block.

#include "combinatorial/relgraph_blocks.h"

namespace corvel {

RelgraphModel* relgraph_model(SystemRecord& sys) { return dynamic_cast<RelgraphModel*>(sys.model.get()); }

}  // namespace corvel
