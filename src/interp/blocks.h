#pragma once
// Model definition blocks. The statement parser reads a block's header (the
// keyword, the system's name and its optional parameter list), creates the
// system record and hands the rest of the block — from the remainder of the
// header line through the block's final "end" and its line end — to the
// reader of the model kind. While the reader runs, the block's parameters
// are visible in its expressions.

#include "interp/tokens.h"

namespace corvel {

class Parser;
struct SystemRecord;

using BlockReader = void (*)(Parser& parser, SystemRecord& sys);

// Block readers of the model kinds.
void read_graph_block(Parser& parser, SystemRecord& sys);
void read_block_block(Parser& parser, SystemRecord& sys);
void read_ftree_block(Parser& parser, SystemRecord& sys);
void read_mstree_block(Parser& parser, SystemRecord& sys);
void read_relgraph_block(Parser& parser, SystemRecord& sys);
void read_pms_block(Parser& parser, SystemRecord& sys);
void read_markov_block(Parser& parser, SystemRecord& sys);
void read_semimark_block(Parser& parser, SystemRecord& sys);
void read_mrgp_block(Parser& parser, SystemRecord& sys);
void read_pfqn_block(Parser& parser, SystemRecord& sys);
void read_mpfqn_block(Parser& parser, SystemRecord& sys);
void read_gspn_block(Parser& parser, SystemRecord& sys);
void read_srn_block(Parser& parser, SystemRecord& sys);

// The system type code of a block keyword, or 0 when the keyword starts no block.
int block_type_of(Kw kw);
// The reader of a block keyword (null while a kind has none).
BlockReader block_reader_of(Kw kw);

}  // namespace corvel
