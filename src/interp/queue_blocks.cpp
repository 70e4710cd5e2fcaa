// Reading the pfqn and mpfqn blocks: routing, stations and customers.

#include "statespace/queue_blocks.h"

#include "interp/blocks.h"
#include "interp/interpreter.h"
#include "interp/parser.h"
#include "interp/block_lines.h"

namespace corvel {

namespace {

// Does `e` use the parameter `p` anywhere?
bool refers_to(const Expr& e, const Param* p) {
    if (e.code == kParamRef && e.param == p) return true;
    for (const auto& a : e.args)
        if (a && refers_to(*a, p)) return true;
    return false;
}

class QueueReader {
public:
    QueueReader(Parser& p, SystemRecord& sys) : p_(p), sys_(sys), in_(p.interp()) {
        auto model = std::make_unique<QueueModel>();
        q_ = model.get();
        sys_.model = std::move(model);
    }

    void read_pfqn() {
        p_.expect_eol();
        q_->chains.emplace_back();
        p_.block_section([&] { routing_line(sys_.edges, q_->chains[0]); });
        p_.block_section([&] { pfqn_station_line(); });
        // name count: the name labels the one class; a later line replaces
        // an earlier one.
        p_.block_section([&] {
            std::string name = element_name(p_, 190);
            std::shared_ptr<Expr> count = p_.expr();
            p_.expect_eol();
            q_->chains[0].name = std::move(name);
            q_->chains[0].sym_customers = std::move(count);
        });
        // Checks of the whole model come after its last line, so that a
        // refused model leaves no lines of its own behind.
        check_stations_declared();
        if (!q_->chains[0].sym_customers) in_.err.error(194, kInputError, sys_.name, true);
    }

    void read_mpfqn() {
        p_.expect_eol();
        p_.block_section([&] {
            int k = -1;
            // A dropped chain line takes its routing lines with it.
            p_.construct_header([&] {
                if (!p_.accept_kw(Kw::Chain)) in_.err.error(203, kFatal, "", true);
                if (!p_.at_word()) in_.err.error(190, kFatal, "", true);
                std::string name = significant_name(p_.word());
                p_.expect_eol();
                k = q_->add_chain(name);
                if (k < 0) in_.err.error(192, kInputError, name, true);
            });
            QueueChain& chain = q_->chains[static_cast<size_t>(k)];
            p_.block_section([&] { routing_line(chain.routing, chain); });
        });
        p_.block_section([&] { mpfqn_station(); });
        p_.block_section([&] {
            int k = chain_of_line();
            std::shared_ptr<Expr> count = p_.expr();
            p_.expect_eol();
            q_->chains[static_cast<size_t>(k)].sym_customers = std::move(count);
        });
        check_stations_declared();
        for (const QueueChain& c : q_->chains)
            if (!c.sym_customers) in_.err.error(194, kInputError, c.name, true);
    }

private:
    // station station probability
    void routing_line(std::vector<EdgeRecord>& arcs, QueueChain& chain) {
        std::string from = element_name(p_, 179);
        std::string to = element_name(p_, 179);
        // Checked before the names are entered, so a refused line leaves the
        // name table as it was.
        if (from == to) in_.err.error(79, kInputError, sys_.name, true);
        std::shared_ptr<Expr> prob = p_.expr();
        p_.expect_eol();
        EdgeRecord arc;
        if (prob->is_constant()) {
            double v = constant_value(p_, *prob);
            if (!(v >= -in_.settings.tol.epsilon)) in_.err.ERR(117, kInputError, from, to);
            if (v > 1.0) in_.err.ERR(118, kInputError, from, to);
            arc.rate = v;
        } else {
            arc.symrate = std::move(prob);
        }
        arc.from = sys_.names.find(from, NameTable::kFindOrAdd);
        arc.to = sys_.names.find(to, NameTable::kFindOrAdd);
        arcs.push_back(std::move(arc));
        chain.visits.resize(static_cast<size_t>(sys_.names.size()), 0);
        routed_.resize(static_cast<size_t>(sys_.names.size()), 0);
        for (int s : {arcs.back().from, arcs.back().to}) {
            routed_[static_cast<size_t>(s)] = 1;
            if (chain.visits[static_cast<size_t>(s)]) continue;
            chain.visits[static_cast<size_t>(s)] = 1;
            chain.stations.push_back(s);
        }
    }

    bool routed(int name) const {
        return name >= 0 && name < static_cast<int>(routed_.size()) && routed_[static_cast<size_t>(name)] != 0;
    }

    // The station of a station line: a routed station without a line yet.
    int station_name(int duplicate_error) {
        std::string name = element_name(p_, 179);
        int pos = sys_.names.find(name);
        if (!routed(pos)) in_.err.error(181, kInputError, name, true);
        if (q_->station_at(pos) != nullptr) in_.err.error(duplicate_error, kInputError, name, true);
        return pos;
    }

    int server_type() {
        if (p_.at_eol()) in_.err.error(180, kInputError, "", true);
        static const struct {
            Kw kw;
            int type;
        } kTypes[] = {{Kw::Is, kStationIs},         {Kw::Fcfs, kStationFcfs}, {Kw::Ps, kStationPs},
                      {Kw::Lcfspr, kStationLcfspr}, {Kw::Ms, kStationMs},     {Kw::Lds, kStationLds}};
        for (const auto& t : kTypes)
            if (p_.accept_kw(t.kw)) return t.type;
        in_.err.error(158, kInputError, p_.peek().text, true);
        return 0;
    }

    std::shared_ptr<RateList> single_rate() {
        auto list = std::make_shared<RateList>();
        list->push_back(p_.expr());
        return list;
    }

    // exprs of an lds station; an item may be a loop construct.
    std::shared_ptr<RateList> rate_list() {
        auto list = std::make_shared<RateList>();
        do {
            if (p_.at_kw(Kw::Loop))
                list->push_back(loop_item());
            else
                list->push_back(p_.expr());
        } while (p_.accept(Tok::Comma));
        return list;
    }

    // loop ( index , low , high [, step] , rate ): one rate per index value.
    // The separators may also be ";".
    std::shared_ptr<Expr> loop_item() {
        p_.take();
        p_.expect(Tok::LParen);
        auto sep = [this] {
            if (!p_.accept(Tok::Comma) && !p_.accept(Tok::Semicolon)) p_.syntax_error();
        };
        if (!p_.at_word() || p_.at(Tok::Dollar) || p_.at(Tok::Integer) || p_.at(Tok::Real))
            in_.err.error(143, kInputError, "", true);
        ParamList index;
        index.push_back(std::make_unique<Param>());
        index[0]->name = significant_name(p_.word());
        std::vector<std::unique_ptr<Expr>> parts;
        {
            // The index is visible from the bounds on, so that a bound using
            // it is caught below rather than read as some outer name.
            p_.push_scope(index);
            struct Pop {
                Parser& p;
                ParamList& l;
                ~Pop() { p.pop_scope(l); }
            } pop{p_, index};
            for (int i = 0; i < 3; ++i) {
                sep();
                parts.push_back(p_.expr());
            }
            if (!p_.at(Tok::RParen)) {
                sep();
                parts.push_back(p_.expr());
            }
            p_.expect(Tok::RParen);
        }
        if (parts.size() == 3) parts.insert(parts.begin() + 2, Expr::constant(1.0));
        for (int i = 0; i < 3; ++i)
            if (refers_to(*parts[static_cast<size_t>(i)], index[0].get()))
                in_.err.error(157, kInputError, "", true);
        auto node = std::make_shared<Expr>();
        node->code = kLoopConstruct;
        node->index = std::move(index[0]);
        node->args = std::move(parts);
        return node;
    }

    void add_station(Station st) {
        q_->station_of_name.resize(static_cast<size_t>(sys_.names.size()), -1);
        q_->station_of_name[static_cast<size_t>(st.name)] = static_cast<int>(q_->stations.size());
        q_->stations.push_back(std::move(st));
    }

    // station type rate
    void pfqn_station_line() {
        Station st;
        st.name = station_name(168);
        st.type = server_type();
        std::shared_ptr<RateList> rates;
        switch (st.type) {
            case kStationMs:
                if (p_.at_eol()) in_.err.error(183, kInputError, "", true);
                st.sym_servers = p_.expr();
                p_.expect(Tok::Comma);
                rates = single_rate();
                break;
            case kStationLds:
                rates = rate_list();
                break;
            default:
                rates = single_rate();
                break;
        }
        p_.expect_eol();
        st.sym_rates.push_back(std::move(rates));
        add_station(std::move(st));
    }

    // The chain named at the start of a line.
    int chain_of_line() {
        std::string name = element_name(p_, 190);
        int k = q_->find_chain(name);
        if (k < 0) in_.err.error(191, kInputError, name, true);
        return k;
    }

    // station type [arguments] eol, then per-chain rate lines, then end.
    void mpfqn_station() {
        Station st;
        std::shared_ptr<RateList> common;
        // A dropped station line takes its per-chain lines with it.
        p_.construct_header([&] { mpfqn_station_header(st, common); });
        st.sym_rates.assign(q_->chains.size(), common);
        p_.block_section([&] {
            int k = chain_of_line();
            if (st.type == kStationFcfs) in_.err.error(198, kInputError, "", true);
            std::shared_ptr<RateList> own = st.type == kStationLds ? rate_list() : single_rate();
            p_.expect_eol();
            st.sym_rates[static_cast<size_t>(k)] = std::move(own);
        });
        const std::string& station = sys_.names[st.name];
        for (size_t k = 0; k < q_->chains.size(); ++k) {
            if (st.sym_rates[k] || !q_->chains[k].visits_station(st.name)) continue;
            in_.err.error(195, kInputError, "chain " + q_->chains[k].name + " at station " + station, true);
        }
        add_station(std::move(st));
    }

    void mpfqn_station_header(Station& st, std::shared_ptr<RateList>& common) {
        st.name = station_name(193);
        st.type = server_type();
        switch (st.type) {
            case kStationFcfs:
                common = single_rate();
                break;
            case kStationMs:
                if (p_.at_eol()) in_.err.error(183, kInputError, "", true);
                st.sym_servers = p_.expr();
                if (p_.accept(Tok::Comma) && !p_.at_eol()) common = single_rate();
                break;
            case kStationLds:
                if (!p_.at_eol()) common = rate_list();
                break;
            default:
                if (!p_.at_eol()) common = single_rate();
                break;
        }
        p_.expect_eol();
    }

    // Every routed station needs a station line.
    void check_stations_declared() {
        for (const QueueChain& c : q_->chains)
            for (int s : c.stations)
                if (q_->station_at(s) == nullptr) in_.err.error(182, kInputError, sys_.names[s], true);
    }

    Parser& p_;
    SystemRecord& sys_;
    Interpreter& in_;
    QueueModel* q_ = nullptr;
    std::vector<char> routed_;  // per name-table position: some chain routes through it
};

}  // namespace

void read_pfqn_block(Parser& parser, SystemRecord& sys) { QueueReader(parser, sys).read_pfqn(); }

void read_mpfqn_block(Parser& parser, SystemRecord& sys) { QueueReader(parser, sys).read_mpfqn(); }

}  // namespace corvel
