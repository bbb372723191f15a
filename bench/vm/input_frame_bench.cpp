// The input layer's own work per frame, without devices: translating a
// frame of a grabbed mouse and encoding a posted scroll. What the layer adds
// on top of a plain read/write pass-through is this plus the main loop's
// dispatch (see input_latency_bench, run in the VM, for the whole path).
#include "platform/input/FrameTranslator.h"
#include "platform/input/ScrollWheelEncoder.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

using quillmere::Event;
using quillmere::EventType;
using quillmere::ScrollUnit;
using quillmere::input::FrameSink;
using quillmere::input::FrameTranslator;
using quillmere::input::ScrollWheelEncoder;

using quillmere::input::makeEvent;

// Collects what passes, as the virtual pointer's output buffer does; the
// engine's answer is fixed.
class Collect : public FrameSink {
public:
    explicit Collect(bool passOn) : passOn_(passOn) { out.reserve(1024); }
    void pass(const input_event& event) override { out.push_back(event); }
    bool offer(Event& event) override {
        benchmark::DoNotOptimize(event.deltaY);
        return passOn_;
    }
    void endGesture(Event&) override {}
    std::vector<input_event> out;

private:
    bool passOn_;
};

void motionFrame(benchmark::State& state) {
    FrameTranslator translator;
    Collect sink(true);
    const std::vector<input_event> frame = {makeEvent(EV_REL, REL_X, 3),
                                            makeEvent(EV_REL, REL_Y, -1)};
    for (auto _ : state) {
        translator.translate(frame, sink);
        if (sink.out.size() > 512)
            sink.out.clear();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(motionFrame);

void rightDragFrame(benchmark::State& state) {
    FrameTranslator translator;
    Collect sink(true);
    translator.translate(std::vector<input_event>{makeEvent(EV_KEY, BTN_RIGHT, 1)}, sink);
    const std::vector<input_event> frame = {makeEvent(EV_REL, REL_X, 2),
                                            makeEvent(EV_REL, REL_Y, 5),
                                            makeEvent(EV_MSC, MSC_TIMESTAMP, 1000)};
    for (auto _ : state) {
        translator.translate(frame, sink);
        if (sink.out.size() > 512)
            sink.out.clear();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(rightDragFrame);

void scrollEncoding(benchmark::State& state) {
    ScrollWheelEncoder encoder;
    Event scroll;
    scroll.type = EventType::scrollWheel;
    scroll.units = ScrollUnit::pixel;
    scroll.wheelCount = 2;
    scroll.wheel1 = 15;
    scroll.wheel2 = -4;
    std::vector<input_event> out;
    out.reserve(8);
    for (auto _ : state) {
        out.clear();
        encoder.encode(scroll, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(scrollEncoding);

} // namespace

BENCHMARK_MAIN();
