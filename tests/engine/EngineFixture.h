#pragma once
// A started engine on a scripted event stream, a manual clock and an
// in-memory settings store, with the log captured.
//
// Scripts are words: "d" a right press, "m:DX,DY" a right drag ("m:DX,DY*N"
// N of them), "u" the release, "t:MS" time passing, "i:US" the time between
// drag events from now on, "s:N" the mouse the next events come from,
// "k:KEY=VALUE" a setting (true, false, "-" to remove it, 'TEXT' a string,
// anything else a number). run() gives back, per press, drag and release,
// "s" (swallowed) or "p" (passed), and what the engine posted meanwhile: "D"
// and "U" a right button press and release, "S:V,H/P" a scroll of wheel 1
// (vertical) V and wheel 2 (horizontal) H with scroll phase P (0 when none),
// "L:V,H" the same in lines, "G:V,H/M" a glide event with momentum phase M;
// each followed by "@N" when it goes to a mouse other than mouse 1.

#include "engine/GrabScrollManager.h"
#include "support/FakeEventServices.h"
#include "support/ManualTimerFactory.h"
#include "support/StoreTest.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

namespace quillmere::testing {

class EngineTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        manager.start();
    }
    // The next case from idle, on mouse 1, with a drag event per 16 ms.
    void reset() {
        timers.runUntilIdle();
        EXPECT_EQ(manager.state(), GrabScrollManager::State::idle);
        store.clear();
        services.source = 1;
        services.dragInterval = 16'000'000;
        services.posted.clear();
    }

    struct Outcome {
        std::string answers; // "s" or "p" per event, space-separated
        std::string posted;
    };

    Outcome run(const std::string& script) {
        const std::size_t before = services.posted.size();
        std::istringstream words(script);
        std::string word;
        Outcome out;
        while (words >> word) {
            const std::string arg = word.size() > 2 ? word.substr(2) : "";
            if (word == "d" || word == "u" || word[0] == 'm') {
                double dx = 0, dy = 0;
                int times = 1;
                if (word[0] == 'm')
                    std::sscanf(arg.c_str(), "%lf,%lf*%d", &dx, &dy, &times);
                for (int i = 0; i < times; ++i) {
                    const bool passed = word == "d"   ? services.rightDown()
                                        : word == "u" ? services.rightUp()
                                                      : services.rightDrag(dx, dy);
                    out.answers +=
                        std::string(out.answers.empty() ? "" : " ") + (passed ? "p" : "s");
                }
            } else if (word[0] == 't') {
                timers.advance(std::chrono::milliseconds(std::stol(arg)));
            } else if (word[0] == 'i') {
                services.dragInterval = std::stoll(arg) * 1000;
            } else if (word[0] == 's') {
                services.source = std::stoull(arg);
            } else if (word[0] == 'k') {
                const std::string key = arg.substr(0, arg.find('='));
                const std::string value = arg.substr(arg.find('=') + 1);
                if (value == "-")
                    store.setObject(key, SettingsValue{});
                else if (value.front() == '\'')
                    store.setObject(key, value.substr(1, value.size() - 2));
                else if (value == "true" || value == "false")
                    store.setBool(key, value == "true");
                else
                    store.setObject(key, SettingsValue{std::strtod(value.c_str(), nullptr)});
            }
        }
        for (std::size_t i = before; i < services.posted.size(); ++i)
            out.posted += (out.posted.empty() ? "" : " ") + describe(services.posted[i]);
        return out;
    }

    static std::string describe(const Event& e) {
        std::ostringstream text;
        if (e.type == EventType::rightMouseDown || e.type == EventType::rightMouseUp)
            text << (e.type == EventType::rightMouseDown ? "D" : "U");
        else if (e.momentumPhase != 0)
            text << "G:" << e.wheel1 << "," << e.wheel2 << "/" << e.momentumPhase;
        else
            text << (e.units == ScrollUnit::line ? "L:" : "S:") << e.wheel1 << "," << e.wheel2
                 << "/" << e.scrollPhase;
        if (e.sourceDevice != 1)
            text << "@" << e.sourceDevice;
        return text.str();
    }

    FakeEventServices services;
    ManualTimerFactory timers;
    GrabScrollManager manager{services, timers};
};

} // namespace quillmere::testing
