// Binding, checking and solving pfqn and mpfqn systems, and their measures.

#include "statespace/queue_analysis.h"

#include <cmath>

#include "model/context.h"
#include "statespace/mva.h"
#include "statespace/queue_blocks.h"
#include "statespace/routing_chain.h"
#include "symbols/counts.h"

namespace corvel {

bool is_queue_system(int type) { return type == kSysPfqn || type == kSysMpfqn; }

namespace {

// Tables beyond this many doubles are refused rather than allocated.
constexpr double kMaxTableEntries = 5e7;
// Customer and server counts are read as doubles and kept as int.
constexpr double kMaxCustomers = 1e7;

class QueueBinder {
public:
    QueueBinder(AnalysisContext& in, SystemRecord& sys, QueueModel& q) : in_(in), sys_(sys), q_(q) {}

    void run() {
        for (size_t k = 0; k < q_.chains.size(); ++k) bind_routing(arcs_of(k));
        for (size_t k = 0; k < q_.chains.size(); ++k) check_irreducible(k);
        for (Station& st : q_.stations) st.visit_count.assign(q_.chains.size(), 0.0);
        for (size_t k = 0; k < q_.chains.size(); ++k) load_visit_counts(k);
        bind_customers();
        for (Station& st : q_.stations) bind_station(st);
    }

    const std::vector<int>& customers() const { return customers_; }

private:
    std::vector<EdgeRecord>& arcs_of(size_t k) {
        return sys_.type == kSysPfqn ? sys_.edges : q_.chains[k].routing;
    }

    // Routing probabilities for the current parameter values.
    void bind_routing(std::vector<EdgeRecord>& arcs) {
        const double eps = in_.settings.tol.epsilon;
        for (EdgeRecord& arc : arcs) {
            if (!arc.symrate) continue;
            double v = in_.eval.bind_expression(*arc.symrate);
            const std::string& from = sys_.names[arc.from];
            const std::string& to = sys_.names[arc.to];
            if (!(v >= -eps)) in_.err.ERR(52, kFatal, from, to);
            if (v > 1.0 + eps) in_.err.ERR(118, kFatal, from, to);
            arc.rate = v;
        }
    }

    // The chain's arcs over its own stations, numbered in order of mention.
    std::vector<RoutingArc> routing_arcs(size_t k, std::vector<int>& local) {
        const QueueChain& c = q_.chains[k];
        local.assign(static_cast<size_t>(sys_.names.size()), -1);
        for (size_t i = 0; i < c.stations.size(); ++i) local[static_cast<size_t>(c.stations[i])] = static_cast<int>(i);
        std::vector<RoutingArc> arcs;
        for (const EdgeRecord& e : arcs_of(k))
            arcs.push_back({local[static_cast<size_t>(e.from)], local[static_cast<size_t>(e.to)], e.rate});
        return arcs;
    }

    void check_irreducible(size_t k) {
        std::vector<int> local;
        std::vector<RoutingArc> arcs = routing_arcs(k, local);
        int n = static_cast<int>(q_.chains[k].stations.size());
        if (routing_irreducible(n, arcs, in_.settings.tol.epsilon)) return;
        std::string text = sys_.type == kSysPfqn
                               ? sys_.name
                               : format_string("network %s, chain %s", sys_.name.c_str(), q_.chains[k].name.c_str());
        in_.err.error(114, kFatal, text, true);
    }

    void load_visit_counts(size_t k) {
        std::vector<int> local;
        std::vector<RoutingArc> arcs = routing_arcs(k, local);
        const QueueChain& c = q_.chains[k];
        std::vector<double> v = routing_visit_ratios(in_, static_cast<int>(c.stations.size()), arcs);
        for (size_t i = 0; i < c.stations.size(); ++i) q_.station_at(c.stations[i])->visit_count[k] = v[i];
    }

    // A count written as an expression: rounded to the nearest integer once it
    // is known to be a finite number.
    double rounded(double x, const std::string& place) const {
        return static_cast<double>(
            checked_count(in_.err, x, CountRounding::Nearest, place, kFatal, kMaxExactCount, CountBeyond::Clamp));
    }

    void bind_customers() {
        customers_.clear();
        total_ = 0;
        for (QueueChain& c : q_.chains) {
            double n = rounded(in_.eval.bind_expression(*c.sym_customers), c.name.empty() ? "customers of " + sys_.name : "customers of chain " + c.name);
            if (!(n > 0.0)) in_.err.error(160, kFatal, ": system " + sys_.name, true);
            if (n > kMaxCustomers || total_ + n > kMaxCustomers) in_.err.error(162, kFatal, ": system " + sys_.name, true);
            c.customers = static_cast<int>(n);
            customers_.push_back(c.customers);
            total_ += c.customers;
        }
    }

    void bind_station(Station& st) {
        const std::string& name = sys_.names[st.name];
        st.servers = 1;
        if (st.type == kStationMs) {
            const double written = in_.eval.bind_expression(*st.sym_servers);
            double s = rounded(written, "servers of station " + name);
            if (!(s > 0.0)) in_.err.error(163, kFatal, ": station " + name, true);
            if (s > total_) {
                in_.err.error(199, kWarning, "", true);
                in_.out.printf("changing number of servers for station %s\n", name.c_str());
                in_.out.printf("   from %.0f to number of customers (%d)\n", std::floor(written + 0.5), total_);
                s = total_;
            }
            st.servers = static_cast<int>(s);
        }
        st.rates.assign(q_.chains.size(), {});
        for (size_t k = 0; k < q_.chains.size(); ++k) {
            const std::shared_ptr<RateList>& list = st.sym_rates[k];
            if (!list) continue;
            if (k > 0 && list == st.sym_rates[0]) {
                st.rates[k] = st.rates[0];
                continue;
            }
            st.rates[k] = st.type == kStationLds ? lds_rates(*list, name) : std::vector<double>{rate(*(*list)[0], name)};
        }
    }

    double rate(const Expr& e, const std::string& station) {
        double r = in_.eval.bind_expression(e);
        if (!(r > 0.0)) in_.err.error(161, kFatal, ": station " + station, true);
        return r;
    }

    // Rates for 1 .. N customers present (index 0 unused): the list as
    // written, loop items expanded, the last rate repeated up to N.
    std::vector<double> lds_rates(const RateList& list, const std::string& station) {
        std::vector<double> r{0.0};
        const size_t want = static_cast<size_t>(total_) + 1;
        for (const std::shared_ptr<Expr>& item : list) {
            if (item->code != kLoopConstruct) {
                r.push_back(rate(*item, station));
                continue;
            }
            double low = in_.eval.bind_expression(*item->args[0]);
            double high = in_.eval.bind_expression(*item->args[1]);
            double step = in_.eval.bind_expression(*item->args[2]);
            if (!(low <= high) || !std::isfinite(low) || !std::isfinite(high)) in_.err.error(53, kFatal, "", true);
            if (!(step >= in_.settings.tol.epsilon)) in_.err.error(151, kFatal, "", true);
            // Rates past the population are never used.
            for (long i = 0; r.size() < want; ++i) {
                double x = low + static_cast<double>(i) * step;
                if (x > high + 1e-9 * step) break;
                in_.eval.count_pass();
                item->index->value = x;
                r.push_back(rate(*item->args[3], station));
            }
        }
        if (r.size() < 2) in_.err.error(161, kFatal, ": station " + station, true);
        r.resize(std::max(want, size_t{2}), r.back());
        if (in_.settings.debug[kDebugPfqn])
            for (size_t j = 1; j < want; ++j) in_.out.printf("service rate %zu: %f\n", j, r[j]);
        r[0] = r[1];
        return r;
    }

    AnalysisContext& in_;
    SystemRecord& sys_;
    QueueModel& q_;
    std::vector<int> customers_;
    int total_ = 0;
};

}  // namespace

void analyze_queue_system(AnalysisContext& in, SystemRecord& sys, bool unchanged) {
    if (unchanged && sys.s_vbound && sys.s_ibound) {
        if (in.settings.verbose) in.out.printf("  using previous analysis for %s\n", sys.name.c_str());
        return;
    }
    QueueModel* q = queue_model(sys);
    if (q == nullptr) in.err.error(94, kInternal, "", false);
    QueueBinder binder(in, sys, *q);
    binder.run();
    double entries = mva_table_entries(q->stations, binder.customers());
    // Under a work cap the recursion's steps count too: one per customer and
    // station, even where the table is only linear in the population.
    double steps = static_cast<double>(q->stations.size());
    for (int n : binder.customers()) steps *= 1.0 + n;
    if (entries < 0.0 || entries > kMaxTableEntries || beyond_work_limit(in.settings, std::max(entries, steps)))
        in.err.error(162, kFatal, ": system " + sys.name, true);

    MvaOptions opt;
    opt.single_chain = sys.type == kSysPfqn;
    opt.debug = in.settings.debug[kDebugPfqn] ? &in.out : nullptr;
    opt.tolerance = in.settings.tol.epsilon;
    opt.lost_precision = [&](const Station& st, double empty, int level) {
        in.err.error(122, kWarning,
                     format_string(": system %s station %s, probability of an empty station %.6e at %d customers",
                                   sys.name.c_str(), sys.names[st.name].c_str(), empty, level),
                     true);
    };
    solve_mva(q->stations, binder.customers(), opt);
    sys.s_vbound = true;
    sys.s_ibound = true;
    sys.s_reward = false;
}

double queue_measure_value(AnalysisContext& in, SystemRecord& sys, const MeasureCall& call, const AnalysisRequest& req) {
    QueueModel* q = queue_model(sys);
    if (q == nullptr) in.err.error(94, kInternal, "", false);
    Station* st = q->station_at(req.node);
    if (st == nullptr) in.err.error(181, kFatal, call.node, true);
    // One chain, or all of them together.
    size_t first = 0, last = q->chains.size();
    if (sys.type == kSysPfqn) {
        last = 1;
    } else if (call.has_second) {
        int k = q->find_chain(call.second);
        if (k < 0) in.err.error(191, kFatal, call.second, true);
        first = static_cast<size_t>(k);
        last = first + 1;
    }
    double tput = 0.0, qlength = 0.0, util = 0.0;
    for (size_t k = first; k < last; ++k) {
        tput += st->tput[k];
        qlength += st->qlength[k];
        util += st->util[k];
    }
    switch (call.kw) {
        case Kw::Tput:
        case Kw::Mtput: return tput;
        case Kw::Qlength:
        case Kw::Mqlength: return qlength;
        case Kw::Util:
        case Kw::Mutil: return util;
        case Kw::Rtime:
        case Kw::Mrtime:
            if (last == first + 1) return st->rtime[first];
            return tput > 0.0 ? qlength / tput : 0.0;
        default:
            in.err.error(21, kFatal, sys.name, true);
            return 0.0;
    }
}

}  // namespace corvel
