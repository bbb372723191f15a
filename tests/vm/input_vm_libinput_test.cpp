// libinput as the consumer of a virtual pointer, the way a desktop sees it.
#include "Libinput.h"
#include "VmFixture.h"

#include <QProcess>
#include <QRegularExpression>
#include <QString>

#include <iostream>

namespace quillmere::vmtest {
namespace {

using namespace std::chrono_literals;

TEST_F(InputLayerTest, LibinputSeesSmoothWheelScrollingAndOneRightClick) {
    store.setBool("momentumScroll", true); // the shipped settings
    engine->start();
    auto mouse = plug();
    const std::string pointerNode = waitForPointer(*mouse);
    ASSERT_FALSE(pointerNode.empty());
    NodeReader pointer(pointerNode);
    LibinputEvents libinput(pointerNode);
    ASSERT_TRUE(libinput.started()) << libinput.output().toStdString();

    // A drag down: with the shipped settings the content follows the hand,
    // it scrolls up, and a glide follows the release.
    // What the virtual pointer carries is read all along, so that no
    // reader queue overflows.
    std::vector<Frame> written;
    const auto keepReading = [&](const std::function<bool()>& until,
                                 std::chrono::milliseconds limit) {
        return pumpUntil(
            [&] {
                for (Frame& frame : pointer.take())
                    written.push_back(std::move(frame));
                return until();
            },
            limit);
    };
    mouse->button(BTN_RIGHT, true);
    for (int i = 0; i < 10; ++i) {
        mouse->move(0, 4);
        keepReading([] { return false; }, 8ms);
    }
    mouse->button(BTN_RIGHT, false);
    ASSERT_TRUE(
        keepReading([&] { return onInput([&] { return engine->isMomentumRunning(); }); }, 5000ms));
    ASSERT_TRUE(keepReading([&] { return !onInput([&] { return engine->isMomentumRunning(); }); },
                            15000ms));
    // Then a short click.
    mouse->button(BTN_RIGHT, true);
    mouse->button(BTN_RIGHT, false);
    keepReading([] { return false; }, 1000ms);
    const QString output = libinput.output();
    const LibinputLog log = parseLibinput(output);
    const long hiRes = sumOf(written, EV_REL, REL_WHEEL_HI_RES);
    long v120 = 0;
    for (int value : log.verticalV120)
        v120 += value;
    // libinput counts downward scrolling as positive: an upward scroll of
    // hiRes units is -hiRes there, delivered in many small steps.
    EXPECT_GT(hiRes, 0);
    EXPECT_EQ(v120, -hiRes);
    EXPECT_GE(log.verticalV120.size(), 20u) << "not a smooth series";
    for (int value : log.verticalV120)
        EXPECT_LT(value, 0) << "a scroll against the drag";
    EXPECT_TRUE(log.horizontalV120.empty());
    EXPECT_EQ(log.rightPressed, 1) << output.toStdString();
    EXPECT_EQ(log.rightReleased, 1);
    EXPECT_TRUE(log.clickAfterScrolls);

    // For the record: what libinput printed, in short.
    int shown = 0;
    std::cout << "libinput debug-events --device " << pointerNode << " (excerpt):\n";
    for (const QString& line : output.split(QLatin1Char('\n'))) {
        const bool wheel = line.contains(QLatin1String("POINTER_SCROLL_WHEEL"));
        if ((wheel && shown++ < 6) || line.contains(QLatin1String("BTN_RIGHT")) ||
            line.contains(QLatin1String("DEVICE_ADDED")))
            std::cout << "  " << line.trimmed().toStdString() << "\n";
    }
    std::cout << "  ... " << log.verticalV120.size() << " wheel events, v120 sum " << v120
              << " (hi-res written " << hiRes << ")\n";
}

} // namespace
} // namespace quillmere::vmtest
