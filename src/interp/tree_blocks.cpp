// Readers of the block, ftree and mstree blocks: one statement per line, each
// adding one record to the node table in declaration order. Children must be
// declared before the gates that use them; the last statement is the top.
//
// A rejected statement is dropped as a whole: every check runs before its
// record is added, so an interactive retry leaves the model unchanged.

#include "combinatorial/tree.h"
#include "interp/blocks.h"
#include "interp/interpreter.h"
#include "interp/parser.h"

#include <algorithm>

namespace corvel {

namespace {

enum class TreeKind { Block, Ftree, Mstree };

class TreeReader {
public:
    TreeReader(Parser& p, SystemRecord& sys, TreeKind kind)
        : p_(p), in_(p.interp()), sys_(sys), tm_(tree_model(sys)), kind_(kind) {}

    void run() {
        p_.expect_eol();
        for (;;) {
            const Tok kind = p_.peek().kind;
            if (kind == Tok::EndOfInput) p_.syntax_error();
            if (kind == Tok::Eol || kind == Tok::Comment) {
                p_.take();
                continue;
            }
            if (p_.accept_kw(Kw::End)) {
                p_.expect_eol();
                break;
            }
            p_.block_line([&] { statement(); });
        }
        finish();
    }

private:
    bool fault_tree() const { return kind_ != TreeKind::Block; }

    void statement() {
        const Token& t = p_.peek();
        if (t.kind != Tok::Keyword) p_.syntax_error();
        switch (t.kw) {
            case Kw::Comp:
                if (fault_tree()) break;
                component(NT_LEAF);
                return;
            case Kw::Basic:
                if (!fault_tree()) break;
                component(NT_LEAF);
                return;
            case Kw::Repeat:
                if (!fault_tree()) break;
                component(NT_REPEAT);
                return;
            case Kw::Transfer:
                transfer();
                return;
            case Kw::Series:
                if (fault_tree()) break;
                gate(NT_MIN);
                return;
            case Kw::Parallel:
                if (fault_tree()) break;
                gate(NT_MAX);
                return;
            case Kw::And:
                if (!fault_tree()) break;
                gate(NT_MAX);
                return;
            case Kw::Or:
                if (!fault_tree()) break;
                gate(NT_MIN);
                return;
            case Kw::Nand:
                if (!fault_tree()) break;
                gate(NT_NMAX);
                return;
            case Kw::Nor:
                if (!fault_tree()) break;
                gate(NT_NMIN);
                return;
            case Kw::Not:
                if (!fault_tree()) break;
                gate(NT_NOT);
                return;
            case Kw::Kofn:
                kofn(NT_KOFN);
                return;
            case Kw::Nkofn:
                if (!fault_tree()) break;
                kofn(NT_NKOFN);
                return;
            default:
                break;
        }
        p_.syntax_error();
    }

    // The name a statement defines: new in the system.
    std::string new_name() {
        if (!p_.at_word()) p_.syntax_error();
        std::string name = significant_name(p_.word());
        if (sys_.names.find(name) >= 0) in_.err.error(27, kInputError, name, true);
        return name;
    }

    int add_record(const std::string& name, int type) {
        int idx = sys_.node(name, NameTable::kAdd);
        NodeInfo& info = sys_.nodes[static_cast<size_t>(idx)];
        info.entry = type;
        info.defined = true;
        return idx;
    }

    // Multi-state trees take only coherent gates.
    bool refuse_in_mstree(int type) {
        if (kind_ != TreeKind::Mstree) return false;
        if (type != NT_NMIN && type != NT_NMAX && type != NT_NOT && type != NT_NKOFN) return false;
        in_.out.printf("system %s: mstrees can't use not, nor, nand, or nkofn gates.\n", sys_.name.c_str());
        if (!in_.err.interactive) in_.err.exit_program(kExitFailure);
        p_.skip_to_eol();
        return true;
    }

    // comp / basic / repeat name dist [dist2]
    void component(int type) {
        p_.take();
        std::string name = new_name();
        std::shared_ptr<DistSpec> dist = p_.dist();
        std::shared_ptr<DistSpec> repair;
        if (!p_.at_eol()) {
            if (p_.at_kw(Kw::Exp)) {
                repair = p_.dist();
            } else {
                in_.out.write("Currently only exponential distribution is accepted.\n");
                while (!p_.at_eol()) p_.take();
            }
        }
        p_.expect_eol();
        int idx = add_record(name, type);
        NodeInfo& info = sys_.nodes[static_cast<size_t>(idx)];
        info.udist = std::move(dist);
        info.rudist = std::move(repair);
        tm_.map.push_back(idx);
        if (type == NT_REPEAT) repeat_or_transfer_ = true;
    }

    // transfer new_name old_name
    void transfer() {
        p_.take();
        if (!fault_tree()) in_.err.error(141, kInputError, sys_.name, true);
        std::string name = new_name();
        if (!p_.at_word()) p_.syntax_error();
        std::string old = significant_name(p_.word());
        int target = sys_.names.find(old);
        if (target < 0) in_.err.error(35, kInputError, old, true);
        int type = sys_.nodes[static_cast<size_t>(target)].entry;
        if (type != NT_LEAF && type != NT_REPEAT && type != NT_TRANSFER) {
            in_.out.write("Transferring to a gate is not allowed.\n");
            in_.out.write("To get a \"repeated gate\", use repeated events \n");
            in_.out.write("beneath the gate.\n");
            in_.err.error(152, kInputError, old, true);
        }
        p_.expect_eol();
        int idx = add_record(name, NT_TRANSFER);
        sys_.nodes[static_cast<size_t>(idx)].transfer_index = target;
        sys_.nodes[static_cast<size_t>(target)].transferred_to = true;
        repeat_or_transfer_ = true;
    }

    // The inputs of a gate: existing names other than the gate's own.
    std::vector<int> members(const std::string& gate) {
        std::vector<std::string> words;
        while (!p_.at_eol()) {
            if (p_.accept(Tok::Comma)) continue;
            if (!p_.at_word()) p_.syntax_error();
            words.push_back(significant_name(p_.word()));
        }
        std::vector<int> kids;
        kids.reserve(words.size());
        for (const std::string& w : words) {
            if (w == gate) in_.err.error(30, kInputError, "", true);
            int i = sys_.names.find(w);
            if (i < 0) in_.err.error(35, kInputError, w, true);
            kids.push_back(i);
        }
        return kids;
    }

    void set_gate(int idx, int type, std::vector<int> kids) {
        sys_.nodes[static_cast<size_t>(idx)].succ = std::move(kids);
        if (type == NT_NMIN || type == NT_NMAX || type == NT_NOT || type == NT_NKOFN) sys_.coherent = false;
    }

    // series / parallel / and / or / nand / nor / not name x1 x2 ...
    void gate(int type) {
        p_.take();
        if (refuse_in_mstree(type)) return;
        std::string name = new_name();
        std::vector<int> kids = members(name);
        // These forms take at least two inputs: fewer is a parse error. A not
        // takes one; more is refused as too many components for it.
        if (kids.empty() || (type != NT_NOT && kids.size() < 2)) p_.syntax_error();
        if (type == NT_NOT && kids.size() > 1) in_.err.error(40, kInputError, "", true);
        p_.expect_eol();
        set_gate(add_record(name, type), type, std::move(kids));
    }

    // kofn / nkofn name k, n, x1 x2 ...
    void kofn(int type) {
        p_.take();
        if (refuse_in_mstree(type)) return;
        std::string name = new_name();
        std::unique_ptr<Expr> k = p_.expr();
        if (!p_.accept(Tok::Comma)) p_.syntax_error();
        std::unique_ptr<Expr> n = p_.expr();
        p_.accept(Tok::Comma);
        std::vector<int> kids = members(name);
        if (kids.empty()) in_.err.error(40, kInputError, "", true);
        int kv = 0, nv = 0;
        const bool k_const = k->is_constant(), n_const = n->is_constant();
        if (k_const) kv = kofn_count(in_, in_.eval.bind_expression(*k), "k", name, kInputError);
        if (n_const) nv = kofn_count(in_, in_.eval.bind_expression(*n), "n", name, kInputError);
        if (k_const && kv < 1) in_.err.ERR(46, kInputError, name, "");
        if (k_const && n_const && kv > nv) in_.err.ERR(47, kInputError, name, "");
        p_.expect_eol();
        int idx = add_record(name, type);
        NodeInfo& info = sys_.nodes[static_cast<size_t>(idx)];
        info.k = kv;
        info.n = nv;
        if (!k_const) info.k_sym = std::move(k);
        if (!n_const) info.n_sym = std::move(n);
        if (!k_const || !n_const) tm_.symbolic_kn++;
        set_gate(idx, type, std::move(kids));
    }

    void finish() {
        if (sys_.nodes.empty()) {
            in_.err.error(80, kWarning, sys_.name, true);
            sys_.discarded = true;  // the store drops it when the block ends
            return;
        }
        tm_.has_repeat_or_transfer = repeat_or_transfer_;
        if (kind_ == TreeKind::Ftree) sys_.type = repeat_or_transfer_ ? kSysFtreeRepeated : kSysFtreeNoRepeat;
        if (kind_ != TreeKind::Mstree) tm_.root = make_btree(in_, sys_, static_cast<int>(sys_.nodes.size()) - 1);
        // What later k-of-n rewrites of the tree are undone back to.
        tm_.save_last_in_map = static_cast<int>(tm_.map.size());
        tm_.save_lastnode = static_cast<int>(sys_.nodes.size());
        for (NodeInfo& info : sys_.nodes) info.save_num_copies = info.num_copies;
    }

    Parser& p_;
    Interpreter& in_;
    SystemRecord& sys_;
    TreeModel& tm_;
    TreeKind kind_;
    bool repeat_or_transfer_ = false;
};

}  // namespace

void read_block_block(Parser& parser, SystemRecord& sys) { TreeReader(parser, sys, TreeKind::Block).run(); }

void read_ftree_block(Parser& parser, SystemRecord& sys) { TreeReader(parser, sys, TreeKind::Ftree).run(); }

void read_mstree_block(Parser& parser, SystemRecord& sys) { TreeReader(parser, sys, TreeKind::Mstree).run(); }

}  // namespace corvel
