// One shot through the bridge: framing, parsing and conversion to the
// simulator's message, as it happens for every ball the golfer hits.
#include <benchmark/benchmark.h>

#include <string_view>

#include "bridge/shot/shot_converter.h"
#include "bridge/shot/shot_parser.h"
#include "bridge/shot/shot_pipeline.h"

namespace {

constexpr std::string_view shot =
    "ES16Prt001CS093.0BS131.1CD000.0TD000.0LA13.1SP04217SF1.40CL5IrSPA-01.4DIR-04.8LDA00.0AA+0.0DL00.0"
    "MH000.0SC+000.0ST+000.0CPTH+00.0CFAC+00.0SPL00.0HT00.00BV0.00VER109End\r\n";

class DiscardingOutlet final : public taltrix::SimulatorOutlet {
public:
    std::size_t bytes = 0;
    bool isUp() const override { return true; }
    void send(std::string_view message) override { bytes += message.size(); }
};

void frameParseConvert(benchmark::State& state, taltrix::Simulator simulator) {
    taltrix::SimulatorState simulatorState;
    simulatorState.currentClub = "DR";
    DiscardingOutlet outlet;
    taltrix::ShotPipeline pipeline(simulatorState, {&outlet, &outlet, nullptr});
    pipeline.setSimulator(simulator);
    for (auto _ : state) pipeline.receiveChunk(shot);
    benchmark::DoNotOptimize(outlet.bytes);
    state.SetItemsProcessed(state.iterations());
}

void BM_ShotToTgc(benchmark::State& state) { frameParseConvert(state, taltrix::Simulator::TGC); }
void BM_ShotToHalvexPlay(benchmark::State& state) { frameParseConvert(state, taltrix::Simulator::HalvexPlay); }

void BM_ParseOnly(benchmark::State& state) {
    taltrix::ShotRecord record;
    for (auto _ : state) {
        taltrix::ShotParser::parse(shot.substr(0, shot.size() - 2), record);
        benchmark::DoNotOptimize(record);
    }
}

void BM_ConvertOnly(benchmark::State& state) {
    taltrix::ShotRecord record;
    taltrix::ShotParser::parse(shot, record);
    for (auto _ : state) {
        auto message = taltrix::ShotConverter::convert(record, taltrix::Simulator::TGC, "");
        benchmark::DoNotOptimize(message);
    }
}

BENCHMARK(BM_ShotToTgc);
BENCHMARK(BM_ShotToHalvexPlay);
BENCHMARK(BM_ParseOnly);
BENCHMARK(BM_ConvertOnly);

}  // namespace

BENCHMARK_MAIN();
