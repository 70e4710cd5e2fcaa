#pragma once
// The records of closed product-form queueing networks, as the pfqn and mpfqn
// blocks fill them.
//
// Stations are the states of the routing chains and live in the system's
// name table. A pfqn has one unnamed chain whose routing arcs are the
// system's own edges (the chain is classified like a Markov chain, with the
// routing probability in place of the rate); each chain of an mpfqn keeps its
// routing arcs in its chain record. In both, an arc's from/to are name-table
// positions, and a constant probability is in `rate` with `symrate` null.

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/system_store.h"

namespace corvel {

enum StationType {
    kStationIs = 1,      // infinite server (delay)
    kStationFcfs = 2,
    kStationPs = 3,
    kStationLcfspr = 4,
    kStationMs = 5,      // several servers
    kStationLds = 6,     // load-dependent rate, one per number of customers present
};

// A rate list as written. For lds, item j is the rate with j + 1 customers
// present; an item may be a loop construct (code kLoopConstruct: `index`, and
// args low, high, step, body) that stands for one rate per index value. Other
// types have a single item.
using RateList = std::vector<std::shared_ptr<Expr>>;

struct Station {
    int name = -1;                      // position in the system's name table
    int type = 0;                       // StationType
    std::shared_ptr<Expr> sym_servers;  // ms: number of servers as written
    int servers = 0;                    // ... as bound

    // Per chain, the rate list as written. Chains that got no line of their
    // own share the station line's list (the very same object), so a binder
    // can tell shared rates by pointer identity. Null: no rate for that chain.
    std::vector<std::shared_ptr<RateList>> sym_rates;
    // Per chain, the bound rates (lds: index 1..N by number of customers).
    std::vector<std::vector<double>> rates;

    // Results, per chain.
    std::vector<double> visit_count, tput, qlength, rtime, util, aqlength;
    // ms and lds: marginal probability of j customers at the station.
    std::vector<double> prblty;
};

struct QueueChain {
    std::string name;                  // pfqn: the name on its customers line
    std::vector<EdgeRecord> routing;   // mpfqn only; a pfqn routes through the system's edges
    std::vector<int> stations;         // stations the routing visits, in order of first mention
    std::vector<char> visits;          // per name-table position: the routing visits it
    std::shared_ptr<Expr> sym_customers;
    int customers = 0;

    bool visits_station(int name) const {
        return name >= 0 && name < static_cast<int>(visits.size()) && visits[static_cast<size_t>(name)] != 0;
    }
};

struct QueueModel : ModelData {
    std::vector<QueueChain> chains;
    std::vector<Station> stations;       // in declaration order
    std::vector<int> station_of_name;    // per name-table position: index into stations, or -1

    // Index of the chain named `name`, or -1.
    int find_chain(std::string_view name) const;
    // Adds a chain; -1 when the name is taken.
    int add_chain(std::string_view name);
    // The station declared for a name-table position, or null.
    Station* station_at(int name);

private:
    std::unordered_map<std::string, int> chain_index_;
};

// The model record of a queueing system (null for other kinds).
QueueModel* queue_model(SystemRecord& sys);

}  // namespace corvel
