// Reading pfqn and mpfqn blocks into their records.

#include "statespace/queue_blocks.h"

#include <gtest/gtest.h>

#include "statespace/run_text.h"

namespace corvel {
namespace {

TEST(QueueBlocks, PfqnRoutingStationsAndCustomers) {
    RunText r(
        "pfqn q(p, n)\n"
        "cpu disk p\ndisk cpu 1\ncpu term 0.25\nterm out 1\nout fifo 1\nfifo cpu 1\n"
        "end\n"
        "cpu ps 2\ndisk ms 2, 1.5\nterm lds 1, loop(i, 2, 4, 1, i*0.5), 3\nout is 4\nfifo FCFS 5\n"
        "end\n"
        "jobs n\n"
        "end\n");
    ASSERT_EQ(r.status, 0) << r.out;
    SystemRecord* sys = r.sys("q");
    ASSERT_NE(sys, nullptr);
    QueueModel* q = queue_model(*sys);
    ASSERT_NE(q, nullptr);
    // A symbolic probability is kept; a constant one is stored as the rate.
    ASSERT_EQ(sys->edges.size(), 6u);
    EXPECT_EQ(sys->names[sys->edges[0].to], "disk");
    EXPECT_NE(sys->edges[0].symrate, nullptr);
    EXPECT_EQ(sys->edges[2].symrate, nullptr);
    EXPECT_DOUBLE_EQ(sys->edges[2].rate, 0.25);

    struct Want {
        const char* name;
        int type;
        size_t rates;
    } want[] = {{"cpu", kStationPs, 1}, {"disk", kStationMs, 1}, {"term", kStationLds, 3},
                {"out", kStationIs, 1}, {"fifo", kStationFcfs, 1}};
    ASSERT_EQ(q->stations.size(), 5u);
    for (const Want& w : want) {
        Station* st = q->station_at(sys->names.find(w.name));
        ASSERT_TRUE(st && st->sym_rates.size() == 1 && st->sym_rates[0]) << w.name;
        EXPECT_EQ(st->type, w.type) << w.name;
        EXPECT_EQ(st->sym_rates[0]->size(), w.rates) << w.name;
    }
    ASSERT_NE(q->station_at(sys->names.find("disk"))->sym_servers, nullptr);

    // The loop item keeps index, bounds and step, and its rate sees the index.
    const Expr& loop = *(*q->station_at(sys->names.find("term"))->sym_rates[0])[1];
    ASSERT_EQ(loop.code, kLoopConstruct);
    ASSERT_EQ(loop.args.size(), 4u);
    EXPECT_DOUBLE_EQ(r.in.eval.bind_expression(*loop.args[1]), 4.0);
    loop.index->value = 3;
    EXPECT_DOUBLE_EQ(r.in.eval.bind_expression(*loop.args[3]), 1.5);
    ASSERT_NE(q->chains[0].sym_customers, nullptr);
    EXPECT_EQ(q->chains[0].sym_customers->code, kParamRef);
}

TEST(QueueBlocks, LoopItemsInRateLists) {
    const std::string routing = "pfqn q\na b 1\nb a 1\nend\n";
    RunText r(routing + "a lds loop(k; 1; 3; k)\nb is 1\nend\nc 2\nend\n");
    ASSERT_EQ(r.status, 0) << r.out;
    const Expr& loop = *(*queue_model(*r.sys("q"))->station_at(0)->sym_rates[0])[0];
    ASSERT_EQ(loop.args.size(), 4u);
    EXPECT_DOUBLE_EQ(r.in.eval.bind_expression(*loop.args[2]), 1.0);  // the default step

    expect_error(routing + "a lds loop(k, 1, k, 1, 2)\n", "cannot use index in boundary value");
    expect_error(routing + "a ps loop(k, 1, 2, 1, 2)\n", "loop construct not allowed");
    expect_error(routing + "a lds 2*loop(k, 1, 2, 1, 2)\n", "loop construct not allowed");
}

TEST(QueueBlocks, MpfqnChainsShareTheStationRateUnlessGivenTheirOwn) {
    RunText r(
        "mpfqn m\n"
        "chain batch\ncpu disk 0.5\ndisk cpu 1\ncpu io 0.5\nio cpu 1\nend\n"
        "chain inter\ncpu term 1\nterm cpu 1\nend\n"
        "end\n"
        "cpu ps 2\ninter 3\nend\n"
        "disk fcfs 1.5\nend\n"
        "io lds\nbatch 1, 2\nend\n"
        "term is 0.1\nend\n"
        "end\n"
        "batch 3\ninter 2\n"
        "end\n");
    ASSERT_EQ(r.status, 0) << r.out;
    SystemRecord* sys = r.sys("m");
    ASSERT_NE(sys, nullptr);
    QueueModel* q = queue_model(*sys);
    ASSERT_EQ(q->chains.size(), 2u);
    EXPECT_EQ(q->chains[0].routing.size(), 4u);
    EXPECT_EQ(q->chains[1].routing.size(), 2u);
    EXPECT_TRUE(sys->edges.empty());
    EXPECT_FALSE(q->chains[0].visits_station(sys->names.find("term")));

    Station* cpu = q->station_at(sys->names.find("cpu"));
    ASSERT_TRUE(cpu->sym_rates[0] && cpu->sym_rates[1]);
    EXPECT_NE(cpu->sym_rates[0], cpu->sym_rates[1]);
    EXPECT_DOUBLE_EQ(r.in.eval.bind_expression(*(*cpu->sym_rates[1])[0]), 3.0);
    Station* disk = q->station_at(sys->names.find("disk"));
    EXPECT_EQ(disk->sym_rates[0], disk->sym_rates[1]);  // the very same list
    Station* io = q->station_at(sys->names.find("io"));
    ASSERT_NE(io->sym_rates[0], nullptr);
    EXPECT_EQ(io->sym_rates[0]->size(), 2u);
    EXPECT_EQ(io->sym_rates[1], nullptr);  // inter never visits io
    EXPECT_DOUBLE_EQ(r.in.eval.bind_expression(*q->chains[q->find_chain("inter")].sym_customers), 2.0);
}

TEST(QueueBlocks, ReadingErrors) {
    const std::string routing = "pfqn q\na b 1\nb a 1\nend\n";
    const std::string chains = "mpfqn m\nchain x\na b 1\nb a 1\nend\nchain y\na c 1\nc a 1\nend\nend\n";
    const std::string stations = chains + "a is 1\nend\nb is 1\nend\nc is 1\nend\nend\n";
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
        {routing + "a is 1\nend\nend\n", "no station information given for station b"},
        {routing + "a is 1\nb is 1\nend\nend\n", "no customer information given for class q"},
        {"mpfqn m\na b 1\n", "expect keyword \"chain\""},
        {"mpfqn m\nchain\n", "expect chain name"},
        {"mpfqn m\nchain x\nend\nchain x\n", "duplicate chain name: x"},
        {chains + "a is 1\nend\na is 1\n", "duplicate station name: a"},
        {chains + "a is\nz 1\n", "can't find chain name: z"},
        {chains + "a fcfs 1\nx 2\n", "cannot specify rates per chain for server type fcfs"},
        {chains + "a is\nx 1\nend\n", "no service rate information for chain y at station a"},
        {chains + "a is 1\nend\nb is 1\nend\nend\nx 1\ny 1\nend\n", "no station information given for station c"},
        {stations + "x 2\nend\n", "no customer information given for class y"},
        {stations + "z 2\n", "can't find chain name: z"},
    };
    for (const Case& c : cases) expect_error(c.text, c.message);
    RunText r("pfqn q\na b\n");  // no probability: the line matches no form
    EXPECT_NE(r.out.find("parse error in file t.crv, line 2"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace corvel
