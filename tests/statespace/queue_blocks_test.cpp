// Reading pfqn and mpfqn blocks into their records.

#include "statespace/queue_blocks.h"

#include <gtest/gtest.h>

#include "statespace/run_text.h"

namespace corvel {
namespace {

const char* const kPfqn =
    "pfqn q(p, n)\n"
    "cpu disk p\n"
    "disk cpu 1\n"
    "cpu term 0.25\n"
    "term cpu 1\n"
    "cpu out 0.1\n"
    "out cpu 1\n"
    "cpu2 cpu 1\n"
    "cpu cpu2 0.05\n"
    "end\n"
    "cpu ps 2\n"
    "disk ms 2, 1.5\n"
    "term lds 1, loop(i, 2, 4, 1, i*0.5), 3\n"
    "out is 4\n"
    "cpu2 FCFS 5\n"
    "end\n"
    "jobs n\n"
    "end\n";

TEST(QueueBlocks, PfqnFillsRoutingStationsAndCustomers) {
    RunText r(kPfqn);
    ASSERT_EQ(r.status, 0) << r.out;
    SystemRecord* sys = r.sys("q");
    ASSERT_NE(sys, nullptr);
    QueueModel* q = queue_model(*sys);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(sys->type, kSysPfqn);

    // Routing: system edges between name-table positions; the symbolic
    // probability is kept, the constant one is stored as the rate.
    ASSERT_EQ(sys->edges.size(), 8u);
    EXPECT_EQ(sys->names[sys->edges[0].from], "cpu");
    EXPECT_EQ(sys->names[sys->edges[0].to], "disk");
    EXPECT_NE(sys->edges[0].symrate, nullptr);
    EXPECT_EQ(sys->edges[2].symrate, nullptr);
    EXPECT_DOUBLE_EQ(sys->edges[2].rate, 0.25);
    ASSERT_EQ(q->chains.size(), 1u);
    EXPECT_EQ(q->chains[0].stations.size(), 5u);

    struct Want {
        const char* name;
        int type;
        size_t rates;
    } want[] = {{"cpu", kStationPs, 1},   {"disk", kStationMs, 1},  {"term", kStationLds, 3},
                {"out", kStationIs, 1},   {"cpu2", kStationFcfs, 1}};
    ASSERT_EQ(q->stations.size(), 5u);
    for (const Want& w : want) {
        Station* st = q->station_at(sys->names.find(w.name));
        ASSERT_NE(st, nullptr) << w.name;
        EXPECT_EQ(st->type, w.type) << w.name;
        ASSERT_EQ(st->sym_rates.size(), 1u);
        ASSERT_NE(st->sym_rates[0], nullptr);
        EXPECT_EQ(st->sym_rates[0]->size(), w.rates) << w.name;
    }
    Station* disk = q->station_at(sys->names.find("disk"));
    ASSERT_NE(disk->sym_servers, nullptr);
    EXPECT_DOUBLE_EQ(r.in.eval.bind_expression(*disk->sym_servers), 2.0);

    // The loop item keeps its index, bounds and step; its body sees the index.
    const Expr& loop = *(*q->station_at(sys->names.find("term"))->sym_rates[0])[1];
    ASSERT_EQ(loop.code, kLoopConstruct);
    ASSERT_NE(loop.index, nullptr);
    ASSERT_EQ(loop.args.size(), 4u);
    EXPECT_DOUBLE_EQ(r.in.eval.bind_expression(*loop.args[1]), 4.0);
    loop.index->value = 3;
    EXPECT_DOUBLE_EQ(r.in.eval.bind_expression(*loop.args[3]), 1.5);

    ASSERT_NE(q->chains[0].sym_customers, nullptr);
    EXPECT_EQ(q->chains[0].sym_customers->code, kParamRef);
}

TEST(QueueBlocks, LoopItemStepIsOptionalAndIndexStaysOutOfBounds) {
    RunText r("pfqn q\na b 1\nb a 1\nend\na lds loop(k; 1; 3; k)\nb is 1\nend\nc 2\nend\n");
    ASSERT_EQ(r.status, 0) << r.out;
    QueueModel* q = queue_model(*r.sys("q"));
    const Expr& loop = *(*q->station_at(0)->sym_rates[0])[0];
    ASSERT_EQ(loop.args.size(), 4u);
    EXPECT_DOUBLE_EQ(r.in.eval.bind_expression(*loop.args[2]), 1.0);

    expect_error("pfqn q\na b 1\nb a 1\nend\na lds loop(k, 1, k, 1, 2)\n", "cannot use index in boundary value");
    // Outside an lds rate list a loop is refused.
    expect_error("pfqn q\na b 1\nb a 1\nend\na ps loop(k, 1, 2, 1, 2)\n", "loop construct not allowed");
    expect_error("pfqn q\na b 1\nb a 1\nend\na lds 2*loop(k, 1, 2, 1, 2)\n", "loop construct not allowed");
}

const char* const kMpfqn =
    "mpfqn m\n"
    "chain batch\n"
    "cpu disk 0.5\n"
    "disk cpu 1\n"
    "cpu io 0.5\n"
    "io cpu 1\n"
    "end\n"
    "chain inter\n"
    "cpu term 1\n"
    "term cpu 1\n"
    "end\n"
    "end\n"
    "cpu ps 2\n"
    "inter 3\n"
    "end\n"
    "disk fcfs 1.5\n"
    "end\n"
    "io lds\n"
    "batch 1, 2\n"
    "end\n"
    "term is 0.1\n"
    "end\n"
    "end\n"
    "batch 3\n"
    "inter 2\n"
    "end\n";

TEST(QueueBlocks, MpfqnChainsShareTheStationRateUnlessGivenTheirOwn) {
    RunText r(kMpfqn);
    ASSERT_EQ(r.status, 0) << r.out;
    SystemRecord* sys = r.sys("m");
    ASSERT_NE(sys, nullptr);
    QueueModel* q = queue_model(*sys);
    ASSERT_NE(q, nullptr);
    EXPECT_TRUE(sys->edges.empty());
    ASSERT_EQ(q->chains.size(), 2u);
    EXPECT_EQ(q->find_chain("inter"), 1);
    EXPECT_EQ(q->chains[0].routing.size(), 4u);
    EXPECT_EQ(q->chains[1].routing.size(), 2u);
    int cpu = sys->names.find("cpu"), term = sys->names.find("term");
    EXPECT_TRUE(q->chains[1].visits_station(term));
    EXPECT_FALSE(q->chains[0].visits_station(term));
    EXPECT_TRUE(q->chains[0].visits_station(cpu) && q->chains[1].visits_station(cpu));

    Station* st = q->station_at(cpu);
    ASSERT_EQ(st->sym_rates.size(), 2u);
    ASSERT_NE(st->sym_rates[0], nullptr);
    ASSERT_NE(st->sym_rates[1], nullptr);
    EXPECT_NE(st->sym_rates[0], st->sym_rates[1]);
    EXPECT_DOUBLE_EQ(r.in.eval.bind_expression(*(*st->sym_rates[1])[0]), 3.0);

    Station* disk = q->station_at(sys->names.find("disk"));
    EXPECT_EQ(disk->sym_rates[0], disk->sym_rates[1]);  // the very same list
    Station* io = q->station_at(sys->names.find("io"));
    ASSERT_NE(io->sym_rates[0], nullptr);
    EXPECT_EQ(io->sym_rates[0]->size(), 2u);
    EXPECT_EQ(io->sym_rates[1], nullptr);  // chain inter never visits io

    EXPECT_DOUBLE_EQ(r.in.eval.bind_expression(*q->chains[0].sym_customers), 3.0);
    EXPECT_DOUBLE_EQ(r.in.eval.bind_expression(*q->chains[1].sym_customers), 2.0);
}

TEST(QueueBlocks, PfqnReadingErrors) {
    const std::string routing = "pfqn q\na b 1\nb a 1\nend\n";
    struct Case {
        std::string text;
        const char* message;
    } cases[] = {
        {"pfqn q\na\n", "station name expected"},
        {"pfqn q\na a 1\n", "self-loops are not allowed: system q"},
        {"pfqn q\na b 1.5\n", "probability is greater than one: edge a to b"},
        {"pfqn q\na b -0.5\n", "probability is less than zero: edge a to b"},
        {routing + "a\n", "server type expected"},
        {routing + "a foo 1\n", "illegal server type: foo"},
        {routing + "a ms\n", "number of servers expected"},
        {routing + "a is 1\na ps 1\n", "a server type has already been given for station a"},
        {routing + "c is 1\n", "can't find station name: c"},
        {routing + "a is 1\nend\n", "no station information given for station b"},
        {routing + "a is 1\nb is 1\nend\nend\n", "no customer information given for class q"},
    };
    for (const Case& c : cases) expect_error(c.text, c.message);
    // A routing line without its probability matches no form.
    RunText r("pfqn q\na b\n");
    EXPECT_NE(r.out.find("parse error in file t.crv, line 2"), std::string::npos) << r.out;
}

TEST(QueueBlocks, MpfqnReadingErrors) {
    const std::string chains = "mpfqn m\nchain x\na b 1\nb a 1\nend\nchain y\na c 1\nc a 1\nend\nend\n";
    struct Case {
        std::string text;
        const char* message;
    } cases[] = {
        {"mpfqn m\na b 1\n", "expect keyword \"chain\""},
        {"mpfqn m\nchain\n", "expect chain name"},
        {"mpfqn m\nchain x\nend\nchain x\n", "duplicate chain name: x"},
        {chains + "a is 1\nend\na is 1\n", "duplicate station name: a"},
        {chains + "a is\nz 1\n", "can't find chain name: z"},
        {chains + "a fcfs 1\nx 2\n", "cannot specify rates per chain for server type fcfs"},
        {chains + "a is\nx 1\nend\n", "no service rate information for chain y at station a"},
        {chains + "a is 1\nend\nb is 1\nend\nend\n", "no station information given for station c"},
        {chains + "a is 1\nend\nb is 1\nend\nc is 1\nend\nend\nx 2\nend\n",
         "no customer information given for class y"},
        {chains + "a is 1\nend\nb is 1\nend\nc is 1\nend\nend\nz 2\n", "can't find chain name: z"},
    };
    for (const Case& c : cases) expect_error(c.text, c.message);
}

}  // namespace
}  // namespace corvel
