// Frame building with masking and frame parsing: the per-message costs of
// the WebSocket road, in bytes per second of payload.
#include <benchmark/benchmark.h>

#include <vector>

#include "control/websocket/frame_reader.h"
#include "control/websocket/frame_writer.h"

namespace {

using namespace morvane::websocket;

// One whole masked message per iteration, keys from the system generator.
void BM_BuildMaskedMessage(benchmark::State& state) {
    const std::vector<std::uint8_t> payload(static_cast<std::size_t>(state.range(0)), 'p');
    FrameBuffer out;
    for (auto _ : state) {
        out.clear();
        appendMessage(out, kOpBinary, payload, 131072, systemRandom());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_BuildMaskedMessage)->Arg(16)->Arg(64)->Arg(1024)->Arg(65536)->Arg(1 << 20);

void BM_ApplyMask(benchmark::State& state) {
    std::vector<std::uint8_t> data(static_cast<std::size_t>(state.range(0)), 'm');
    const MaskKey key = {0x12, 0x34, 0x56, 0x78};
    for (auto _ : state) {
        applyMask(data, key, 1);
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_ApplyMask)->Arg(64)->Arg(65536)->Arg(1 << 20);

// A buffer of server frames parsed the way the layer does: one event per
// call, resuming with the rest. range(0) = payload size, range(1) = masked,
// range(2) = size of the socket reads it arrives in (0: one read), range(3)
// = StrictProtocol's checks on (text checked as UTF-8 as it comes). A whole
// unmasked frame inside one read is handed out without a copy, so large
// frames in small reads are the case that measures collecting.
void BM_ParseFrames(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    const bool masked = state.range(1) != 0;
    const auto readSize = static_cast<std::size_t>(state.range(2));
    const std::size_t count = std::max<std::size_t>(1, (4u << 20) / (size + 14));
    FrameBuffer input;
    const std::vector<std::uint8_t> payload(size, 'f');
    for (std::size_t i = 0; i < count; ++i) {
        FrameHeader header;
        header.opcode = kOpText;
        header.masked = masked;
        header.key = {1, 2, 3, 4};
        appendFrame(input, header, payload);
    }
    FrameReader reader({.strict = state.range(3) != 0});
    std::size_t events = 0;
    for (auto _ : state) {
        for (std::size_t offset = 0; offset < input.size();) {
            const std::size_t length = readSize == 0 ? input.size() : std::min(readSize, input.size() - offset);
            std::span<const std::uint8_t> rest(input.data() + offset, length);
            offset += length;
            while (!rest.empty()) {
                const auto step = reader.feed(rest);
                if (step.event) {
                    benchmark::DoNotOptimize(step.event->payload.data());
                    ++events;
                }
                rest = rest.subspan(step.consumed);
            }
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * count * size));
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(events), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ParseFrames)
    ->Args({16, 0, 0, 0})
    ->Args({16, 0, 0, 1})
    ->Args({64, 0, 0, 0})
    ->Args({1024, 0, 0, 0})
    ->Args({1024, 0, 0, 1})
    ->Args({1 << 20, 0, 0, 0})
    ->Args({1 << 20, 0, 0, 1})
    ->Args({1 << 20, 0, 65536, 0})
    ->Args({1 << 20, 0, 65536, 1})
    ->Args({64, 1, 0, 0})
    ->Args({1 << 20, 1, 65536, 0});

}  // namespace

BENCHMARK_MAIN();
