// Cost of one right-drag event through the engine's tap callback, with the
// settings in memory, and the heap allocations it makes.
#include "engine/GrabScrollManager.h"
#include "engine/Log.h"
#include "engine/MemorySettingsStore.h"
#include "engine/ScrollConfig.h"
#include "support/ManualTimerFactory.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long> allocations{0};
}

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace quillmere {
namespace {

// An event service that builds events the way the real one does but posts
// them nowhere, so only the engine's own work is measured.
class NullServices : public EventServices {
public:
    class Tap : public EventTap {
    public:
        void enable(bool on) override { on_ = on; }
        bool isEnabled() const override { return on_; }

    private:
        bool on_ = false;
    };
    std::unique_ptr<EventTap> tapCreate(TapLocation, TapPlacement, TapOptions, std::uint64_t,
                                        TapCallback, void*) override {
        return std::make_unique<Tap>();
    }
    std::optional<Event> createEvent() override { return Event{}; }
    std::optional<Event> createMouseEvent(EventType type, Point at, MouseButton button) override {
        return makeMouseEvent(type, at, button);
    }
    std::optional<Event> createScrollWheelEvent(ScrollUnit units, std::int32_t count,
                                                std::int32_t w1, std::int32_t w2,
                                                std::int32_t w3) override {
        return makeScrollWheelEvent(units, count, w1, w2, w3);
    }
    void post(TapLocation, const Event& event) override {
        benchmark::DoNotOptimize(event);
        ++posted;
    }
    long posted = 0;
};

// A started engine on the null services and a manual clock, with the
// settings in memory and the log silenced for the rig's lifetime.
struct EngineRig {
    EngineRig() : old(Log::setSink([](std::string_view) {})) {
        ScrollConfig::setDefaults(&store);
        manager.start();
    }
    ~EngineRig() {
        ScrollConfig::setDefaults(nullptr);
        Log::setSink(old);
    }
    Log::Sink old;
    MemorySettingsStore store;
    NullServices services;
    testing::ManualTimerFactory timers;
    GrabScrollManager manager{services, timers};
};

void BM_DragEvent(benchmark::State& state) {
    EngineRig rig;
    MemorySettingsStore& store = rig.store;
    GrabScrollManager& manager = rig.manager;
    store.setObject("scrollSpeed", 3.0);
    store.setBool("diagonalScroll", state.range(0) == 1);
    store.setBool("reverseScroll", true);
    store.setBool("momentumScroll", true);

    Event down;
    down.type = EventType::rightMouseDown;
    GrabScrollManager::eventTapCallback({}, down.type, &down, &manager);
    Event drag;
    drag.type = EventType::rightMouseDragged;
    drag.deltaX = 3.0;
    drag.deltaY = 4.0;
    // Warm up past the threshold so every measured event scrolls.
    for (int i = 0; i < 16; ++i)
        GrabScrollManager::eventTapCallback({}, drag.type, &drag, &manager);

    const long allocationsBefore = allocations.load();
    long events = 0;
    for (auto _ : state) {
        Event* result = GrabScrollManager::eventTapCallback({}, drag.type, &drag, &manager);
        benchmark::DoNotOptimize(result);
        ++events;
    }
    state.counters["allocs_per_event"] =
        static_cast<double>(allocations.load() - allocationsBefore) / static_cast<double>(events);
    state.counters["posted"] = static_cast<double>(rig.services.posted);
}
BENCHMARK(BM_DragEvent)->Arg(0)->Arg(1)->ArgNames({"diagonal"});

// A whole grab: press, 32 drags, release and the glide to its end.
void BM_GrabWithGlide(benchmark::State& state) {
    EngineRig rig;
    GrabScrollManager& manager = rig.manager;
    testing::ManualTimerFactory& timers = rig.timers;
    for (auto _ : state) {
        Event e;
        e.type = EventType::rightMouseDown;
        GrabScrollManager::eventTapCallback({}, e.type, &e, &manager);
        e.type = EventType::rightMouseDragged;
        e.deltaY = 6.0;
        for (int i = 0; i < 32; ++i)
            GrabScrollManager::eventTapCallback({}, e.type, &e, &manager);
        e.type = EventType::rightMouseUp;
        GrabScrollManager::eventTapCallback({}, e.type, &e, &manager);
        timers.runUntilIdle();
    }
}
BENCHMARK(BM_GrabWithGlide);

} // namespace
} // namespace quillmere

BENCHMARK_MAIN();
