// The grab state machine (what is swallowed, what passes, what is posted)
// and the glide after a release.
#include "EngineFixture.h"

#include <cmath>

namespace quillmere::testing {
namespace {

class GrabTest : public EngineTest {};

TEST_F(GrabTest, Scripts) {
    struct Case {
        const char* what;
        const char* script;
        const char* answers;
        const char* posted;
    };
    const Case cases[] = {
        {"a click without a drag", "d m:2,1 m:1,1 u", "s s s s", "D U"},
        {"the path adds up; the crossing event scrolls by its own delta",
         "k:scrollSpeed=1 d m:0,3 m:0,2 m:0,1 u", "s s p p s", "S:2,0/1 S:1,0/2 S:0,0/8"},
        {"an axis locks when a sum reaches 10, for the rest of the grab",
         "k:scrollSpeed=1 d m:3,4 m:3,5 m:2,1 m:50,0 u", "s p p p p s",
         "S:4,3/1 S:5,3/2 S:1,0/2 S:0,0/8"},
        {"a tie locks vertically", "k:scrollSpeed=1 d m:5,5 m:5,5 u", "s p p s",
         "S:5,5/1 S:5,0/2 S:0,0/8"},
        {"more travel across locks horizontally", "k:scrollSpeed=1 d m:-8,1 m:-3,1 u", "s p p s",
         "S:1,-8/1 S:0,-3/2 S:0,0/8"},
        {"diagonal scrolling never locks, and fractions carry across too",
         "k:scrollSpeed=1 k:diagonalScroll=true d m:4,3 m:4.5,3 m:4.5,3 u", "s p p p s",
         "S:3,4/1 S:3,4/2 S:3,5/2 S:0,0/8"},
        {"fractions carry within a drag; phase 1 waits for a whole unit",
         "k:scrollSpeed=1 d m:0,4.9 m:0,0.2 m:0,0.6 m:0,0.6 m:0,-1.7 m:0,2 u", "s s p p p p p s",
         "S:1,0/1 S:-1,0/2 S:1,0/2 S:0,0/8"},
        {"a press starts from nothing carried", "k:scrollSpeed=1 d m:0,5.2 u d m:0,5.9 u",
         "s p s s p s", "S:5,0/1 S:0,0/8 S:5,0/1 S:0,0/8"},
        {"the axis switches, even mid-grab",
         "k:scrollSpeed=1 k:diagonalScroll=true k:enableVerticalScroll=false d m:6,8 "
         "k:enableHorizontalScroll=false m:6,8 u",
         "s p p s", "S:0,6/1 S:0,0/8"},
        {"a setting that is no Boolean reads as its default; reverse acts at once",
         "k:scrollSpeed=1 k:diagonalScroll=true k:enableHorizontalScroll='no' d m:0,8 "
         "k:reverseScroll=false m:-2,8 u",
         "s p p s", "S:8,0/1 S:-8,2/2 S:0,0/8"},
        {"with momentum: pixels and phases whatever the unit setting",
         "k:usePixelScrolling=false d m:0,6 m:0,1 u", "s p p s", "S:18,0/1 S:3,0/2 S:0,0/8"},
        {"without momentum: plain lines, nothing at release",
         "k:momentumScroll=false k:usePixelScrolling=false d m:0,6 m:0,1 u", "s p p s",
         "L:18,0/0 L:3,0/0"},
        {"without momentum, in pixels", "k:momentumScroll=false d m:0,6 u", "s p s", "S:18,0/0"},
        {"drags and releases outside a grab pass", "m:10,10 u", "p p", ""},
        {"a gesture and its glide belong to its mouse; another's button passes meanwhile",
         "k:scrollSpeed=1 s:2 d m:0,10 s:3 d m:0,50 u s:2 u t:16 s:3 d u t:16", "s p p p p s p p",
         "S:10,0/1@2 S:0,0/8@2 G:9,0/1@2 G:9,0/2@2"},
        {"a click goes back to its mouse", "s:3 d u", "s s", "D@3 U@3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        reset();
        const Outcome out = run(c.script);
        EXPECT_EQ(out.answers, c.answers);
        EXPECT_EQ(out.posted, c.posted);
    }
}

TEST_F(GrabTest, SpeedRule) {
    const std::pair<const char*, const char*> speeds[] = {
        {"- 0 -4 'fast' nan inf", "S:30,0/1"}, // the default, 3
        {"0.5", "S:5,0/1"},
        {"80", "S:800,0/1"}, // outside the slider's range too
        {"'2.5'", "S:25,0/1"},
        {"true", "S:10,0/1"},
        // A huge speed clamps to the wheel's range instead of overflowing;
        // an amount that is not finite is dropped.
        {"1e12", "S:2147483647,0/1"},
        {"1e308", "S:0,0/8"},
    };
    for (auto [list, first] : speeds) {
        std::istringstream words(list);
        for (std::string speed; words >> speed;) {
            reset();
            const Outcome out = run("k:scrollSpeed=" + speed + " d m:0,10 u");
            EXPECT_EQ(out.posted.substr(0, out.posted.find(' ')), first) << speed;
        }
    }
}

TEST_F(GrabTest, TheSwitchStartAndStop) {
    manager.isEnabled = false; // switched off: everything passes
    EXPECT_EQ(run("d m:10,0 u").answers, "p p p");
    manager.isEnabled = true;
    manager.start(); // already started: no second tap
    EXPECT_EQ(services.tapsCreated, 1);
    run("d m:0,20");
    manager.stop(); // mid-grab: the release reaches the system
    EXPECT_EQ(run("u").answers, "p");
    services.refuseTap = true;
    manager.start();
    services.refuseTap = false; // a later start tries again, from idle
    manager.start();
    EXPECT_EQ(run("m:0,20 u").answers, "p p");
}

// The glide starts from the drag's movement per 16 ms over its last 128 ms,
// whatever the report rate and the time stamps, and loses 3% a tick until
// both speeds are below 0.3: "how many events, the first".
TEST_F(GrabTest, Glides) {
    struct Case {
        const char* script;
        double vx, vy;
        const char* glide;
    };
    const Case cases[] = {
        {"d m:0,30*8 u", 0, 30, "152 G:29,0/1"},
        {"d m:0,5 m:0,1*8 u", 0, 1, "40 G:0,0/1"}, // the 5 is 128 ms before the last: out
        {"k:scrollSpeed=0.99 k:diagonalScroll=true d m:0,6 m:1,1*8 u", 0.99, 0.99, ""},
        {"k:diagonalScroll=true d m:-20,-10 u", -20, -10, "138 G:-9,-19/1"},
        {"d m:0,6 m:0,3 m:0,0 u", 0, 3, "76 G:2,0/1"}, // shorter than 128 ms
        {"d m:0,10 m:0,20 m:0,30 m:0,40 m:0,50 m:0,60 m:0,70 m:0,80 m:0,90 m:0,100 m:0,110 "
         "m:0,120 u",
         0, 85, "186 G:82,0/1"},
        // The same hand movement at 125, 500, 1000 and 8000 reports a second.
        {"i:8000 d m:0,4*50 u", 0, 8, "108 G:7,0/1"},
        {"i:2000 d m:0,1*200 u", 0, 8, "108 G:7,0/1"},
        {"i:1000 d m:0,0.5*400 u", 0, 8, "108 G:7,0/1"},
        {"i:125 d m:0,0.0625*3200 u", 0, 8, "108 G:7,0/1"},
        // Stamps that repeat, go back (no time passed), jump an hour ahead or
        // come in a burst (a drag shorter than a tick counts as one).
        {"i:0 d m:0,10*30 u", 0, 300, "227 G:291,0/1"},
        {"d m:0,10 i:-5000000 m:0,10 i:1000 m:0,10 i:-1 m:0,10 i:16000 m:0,10 i:-16000 m:0,10 u", 0,
         60, "174 G:58,0/1"},
        {"d m:0,10*2 i:3600000000 m:0,10 i:16000 m:0,10 u", 0, 2.5, "70 G:2,0/1"},
        {"d m:0,10 i:1 m:0,10*7 u", 0, 80, "184 G:77,0/1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        reset();
        run(std::string("k:scrollSpeed=1 ") + c.script);
        // Within one 1 ms slot's share of the 128 ms.
        EXPECT_NEAR(manager.averageVelocity().first, c.vx, 0.01 * std::abs(c.vx) + 1e-9);
        EXPECT_NEAR(manager.averageVelocity().second, c.vy, 0.01 * std::abs(c.vy) + 1e-9);
        services.posted.clear();
        timers.runUntilIdle();
        const auto& glide = services.posted;
        const std::string seen =
            glide.empty() ? "" : std::to_string(glide.size()) + " " + describe(glide[0]);
        EXPECT_EQ(seen, c.glide);
    }
}

} // namespace
} // namespace quillmere::testing
