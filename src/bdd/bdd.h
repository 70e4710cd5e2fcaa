#pragma once
// Reduced ordered binary decision diagrams with complement edges.
//
// Every BDD-based solver creates one manager per analysis with `bdd_init`,
// declares its variables, builds functions with the logical operations,
// evaluates them through the per-node value slots and parent counters, and
// releases everything with `bdd_quit`.
//
// Handles
//   A `bdd` is a 32-bit handle: (node index << 1) | complement bit. Node 0 is
//   the terminal; `bdd_one` is handle 0 and `bdd_zero` handle 1 (the
//   complemented terminal). A node's then-edge is never stored complemented,
//   so every function has exactly one handle and f == g compares functions.
//   `kBddNull` is the null handle: operations given a null handle return null,
//   and every building operation returns null when the node limit is reached
//   (the manager's overflow flag is then set; the manager stays usable).
//
// References
//   Results of the building operations (and, or, not, identity, cofactor,
//   minsol, without_p1/p0, ms_or/ms_and, dor) carry one new reference, which
//   the caller drops with `bdd_free`. Building operations refuse arguments
//   whose node holds no reference (fatal). `bdd_then`/`bdd_else` return
//   borrowed handles: valid while the parent is referenced, accepted by the
//   read-only calls (if_index, then/else, values, prefs, size, satisfying
//   fraction, printing) and by `bdd_identity`, which is how a borrowed handle
//   becomes an owned one. Counts are 8-bit and saturate: a node reaching 255
//   references becomes permanent. Variables and the constants are permanent.
//
// Variables and order
//   Variables are identified by their creation number (1, 2, ...); each has an
//   order position (0 = top). `bdd_new_var_last` places a new variable at the
//   bottom, `bdd_new_var_first` at the top (the positions of the others shift
//   by one; their relative order never changes). `bdd_if_index` returns the
//   order position of a function's top variable, -1 for a constant or null.
//   At most 65534 variables; creating one more is fatal.
//
// Garbage collection
//   Nodes without references that no referenced node reaches are reclaimed
//   by `bdd_gc`, and automatically at the start of a building operation once
//   the live nodes exceed the collection limit (twice the live nodes after
//   the last collection, at least 10000, at most the node limit).
//
// Fatal errors print "BDD library: error: %s\n" to standard error and end the
// run with exit status 1 (by throwing ProgramExit{1}).

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace corvel {

using bdd = std::uint32_t;
constexpr bdd kBddNull = 0xFFFFFFFFu;

struct BddManager;

// ------------------------------------------------------------------ manager
BddManager* bdd_init();
void bdd_quit(BddManager* m);

bdd bdd_one(BddManager* m);
bdd bdd_zero(BddManager* m);

// ------------------------------------------------------------------ variables
bdd bdd_new_var_first(BddManager* m);
bdd bdd_new_var_last(BddManager* m);
bdd bdd_var_with_index(BddManager* m, long position);  // null when out of range
long bdd_vars(BddManager* m);
long bdd_if_index(BddManager* m, bdd f);  // order position of the top variable
long bdd_if_id(BddManager* m, bdd f);     // identifier of the top variable, -1 for constants

// ------------------------------------------------------------------ structure
// Cofactors of f for its top variable set to 1 / 0, complement applied.
// Borrowed handles. A constant argument is fatal.
bdd bdd_then(BddManager* m, bdd f);
bdd bdd_else(BddManager* m, bdd f);
inline bool bdd_is_complemented(bdd f) { return (f & 1u) != 0; }
inline bdd bdd_regular(bdd f) { return f & ~1u; }
bool bdd_is_constant(BddManager* m, bdd f);

// ------------------------------------------------------------------ operations
bdd bdd_and(BddManager* m, bdd f, bdd g);
bdd bdd_or(BddManager* m, bdd f, bdd g);
bdd bdd_not(BddManager* m, bdd f);
bdd bdd_identity(BddManager* m, bdd f);
// f restricted by c: for a cube c (a conjunction of literals) the cofactor of
// f by those literals; for any other c the generalized cofactor (constrain).
// A false c is fatal.
bdd bdd_cofactor(BddManager* m, bdd f, bdd c);
// Fraction of all assignments satisfying f, each variable weighing one half.
double bdd_satisfying_fraction(BddManager* m, bdd f);

// Paths of f not covered by g (minimal-solution helpers).
bdd bdd_without_p1(BddManager* m, bdd f, bdd g);
bdd bdd_without_p0(BddManager* m, bdd f, bdd g);
// Minimal solutions of f. Mode 1: minimal cut sets of a coherent failure
// function (the paths to 1 ending on a then-edge; the variables on then-edges
// form the set). Mode 0: minimal path sets (the paths to 0 ending on an
// else-edge; the variables on else-edges form the set).
bdd bdd_minsol(BddManager* m, bdd f, int mode);
// Group operations: the group of a node is its top variable's order position
// divided by n.
// OR / AND for components encoded by n consecutive variables of which at
// most one is true.
bdd bdd_ms_or(BddManager* m, bdd f, bdd g, int n);
bdd bdd_ms_and(BddManager* m, bdd f, bdd g, int n);
// Group-aware OR for phase groups of n consecutive positions; dir selects
// which cofactor of the operand without the split variable is kept.
bdd bdd_dor(BddManager* m, bdd f, bdd g, int n, int dir);

void bdd_free(BddManager* m, bdd f);
void bdd_gc(BddManager* m);

// Number of nodes of f, the terminal included. With negout non-zero a node
// reached with both polarities counts twice (the size without complement
// edges, up to sharing).
long bdd_size(BddManager* m, bdd f, int negout);
// Sets the node limit (negative = 0 = none) and returns the old one. An
// operation that reaches the limit collects the garbage and is tried once
// more; only when that fails too does it return null.
long bdd_node_limit(BddManager* m, long limit);
bool bdd_overflow(BddManager* m);
// Besides the caller's node limit every manager stops at the number of live
// nodes the memory available when it was created can hold: the least of the
// physical memory, the memory the system reports available, the control
// group's limit and the process's address-space and data limits, over the
// bytes a node costs with its tables and evaluation arrays. Reaching it is
// an overflow like the node limit. The ceiling is no node limit of the
// caller's: the statistics report "Node limit: ---" unless one was set.
long bdd_memory_node_ceiling();
long bdd_memory_limit(BddManager* m);
long bdd_set_memory_limit(BddManager* m, long nodes);  // returns the old ceiling; 0 = none
long bdd_total_nodes(BddManager* m);  // live node records, terminal included
long bdd_nodes_created(BddManager* m);  // every node record ever allocated

// ------------------------------------------------------------------ value slots and parent counters
// Slots live on the regular node: f and !f share one slot and one counter.
void bdd_set_value(BddManager* m, bdd f, void* p);  // no effect on a terminal
void* bdd_get_value(BddManager* m, bdd f);         // null on a terminal
// Walks the graph below f through the nodes whose slot is set, passing each
// value to free_fn (when not null) and nulling the slots.
void bdd_clear_value(BddManager* m, bdd f, void (*free_fn)(void*));

void bdd_set_prefs(BddManager* m, bdd f, unsigned n);
unsigned bdd_get_prefs(BddManager* m, bdd f);  // 65535 on a terminal
void bdd_inc_prefs(BddManager* m, bdd f);      // saturates at 65535 (then sticks)
void bdd_dec_prefs(BddManager* m, bdd f);      // never below 0; a saturated count sticks
void bdd_clear_prefs(BddManager* m, bdd f);    // zeroes the counters below f
// Adds one to every node below f, descending into a node's children only on
// its first visit: from zeroed counters, each node's counter becomes its
// number of parents within f (the root counts one).
void bdd_set_all_prefs(BddManager* m, bdd f);

// ------------------------------------------------------------------ walks
// The regular internal nodes below root (root included), each after both of
// its children, without recursion.
void bdd_postorder(BddManager* m, bdd root, std::vector<bdd>& out);
// One more than the largest node index in use: flat per-node arrays indexed
// by `bdd_node_index` have this size.
long bdd_node_capacity(BddManager* m);
inline std::uint32_t bdd_node_index(bdd f) { return f >> 1; }

// The postorder of a diagram with a dense number per node, for evaluations
// that keep one value per node in flat arrays: `nodes[k]` is the node
// numbered k, and `of(h)` the number of h's regular node. `kids[k]` holds
// node k's children as references (a constant, or a number with the
// complement mark in bit 0) and its variable's order position, so that an
// evaluation reads them in sequence instead of visiting node records.
class BddPostorder {
public:
    static constexpr std::uint32_t kRefOne = 0xFFFFFFFEu, kRefZero = 0xFFFFFFFFu;
    static bool is_node(std::uint32_t ref) { return ref < kRefOne; }
    struct Kids {
        std::uint32_t then_ref, else_ref;
        std::uint32_t position;
    };

    BddPostorder(BddManager* m, bdd root);
    std::vector<bdd> nodes;
    std::vector<Kids> kids;
    std::uint32_t of(bdd h) const { return number_[h >> 1] - 1; }
    bool contains(bdd h) const { return (h >> 1) < number_.size() && number_[h >> 1] != 0; }
    // The reference to h as a child.
    std::uint32_t ref(bdd h) const {
        if ((h >> 1) == 0) return h == 0 ? kRefOne : kRefZero;
        return (of(h) << 1) | (h & 1u);
    }

private:
    std::vector<std::uint32_t> number_;  // node index -> number + 1, 0 when absent
};

// ------------------------------------------------------------------ reports
// The statistics report, one item per line.
std::string bdd_stats(BddManager* m);
// Names a variable given its order position.
using BddNamingFn = std::function<std::string(long position)>;
// Receives printed text a line at a time.
using BddTextSink = std::function<void(const std::string& text)>;
// The graph of f as nested if/else text, streamed to `sink`. Without a
// naming function variables print as "var.%d" with their identifier. A null
// f prints "overflow\n".
void bdd_print_bdd(BddManager* m, bdd f, const BddNamingFn& names, const BddTextSink& sink);
// The same text collected in a string (small diagrams).
std::string bdd_print_bdd(BddManager* m, bdd f, const BddNamingFn& names = nullptr);

}  // namespace corvel
