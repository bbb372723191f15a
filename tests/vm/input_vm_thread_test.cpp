// The pointer never waits for the interface: while the main (interface)
// thread of a process running the input layer is blocked, every frame still
// comes out of the virtual pointer, in order and at once. A plain read/write
// forwarder carries the same stream in the same boot as the yardstick.
#include "StreamSupport.h"
#include "VmFixture.h"

#include <fcntl.h>
#include <iostream>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace quillmere::vmtest {
namespace {

using namespace std::chrono_literals;

// The layer and the plain forwarder side by side, each with a fake mouse.
struct SideBySide {
    ChildProcess host{{hostProgram}};
    int layerMouse = makeStreamMouse("stream layer mouse", "stream/layer", true);
    int plainMouse = makeStreamMouse("stream plain mouse", "stream/plain", false);
    pid_t plain = startPlainForwarder(waitForNode("stream/plain", 5s), "stream/plain-out");
    int layerOut = openOutput("quillmere/stream/layer");
    int plainOut = openOutput("stream/plain-out");

    ~SideBySide() {
        ::kill(plain, SIGKILL);
        waitpid(plain, nullptr, 0);
        for (int fd : {layerMouse, plainMouse, layerOut, plainOut})
            ::close(fd);
    }
    static int openOutput(const std::string& phys) {
        const std::string node = waitForNode(phys, 20s);
        return node.empty() ? -1 : ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    }
};

TEST(InterfaceBlockedTest, EveryFrameStillPassesInOrderAndAtOnce) {
    SideBySide rig;
    ASSERT_GE(rig.layerOut, 0) << "the layer did not take its mouse over\n" << listInputDevices();
    ASSERT_GE(rig.plainOut, 0) << "the plain forwarder did not come up";
    std::this_thread::sleep_for(200ms);

    // 1000 Hz for 2 s; the main thread is blocked for 300 ms half a second
    // in, then, in a second stream, for the whole 2 s.
    struct Case {
        int blockMs;
        long atFrame;
    };
    for (const Case& c : {Case{300, 500}, Case{2000, 0}}) {
        const auto results =
            streamNumbered({{rig.layerMouse, rig.layerOut}, {rig.plainMouse, rig.plainOut}}, 1000,
                           2.0, [&](long frame) {
                               if (frame == c.atFrame)
                                   rig.host.send("block " + std::to_string(c.blockMs));
                           });
        const StreamResult& layer = results[0];
        const StreamResult& plain = results[1];
        std::cout << "main thread blocked " << c.blockMs << " ms: layer received "
                  << layer.received << "/" << layer.sent << ", lost " << layer.dropped
                  << ", reordered " << layer.reordered << ", SYN_DROPPED " << layer.synDropped
                  << ", delay p50/p99/max " << layer.percentileDelayMs(50) << "/"
                  << layer.percentileDelayMs(99) << "/" << layer.maxDelayMs()
                  << " ms; plain forwarder lost " << plain.dropped << ", delay p50/p99/max "
                  << plain.percentileDelayMs(50) << "/" << plain.percentileDelayMs(99) << "/"
                  << plain.maxDelayMs() << " ms\n";
        SCOPED_TRACE("main thread blocked " + std::to_string(c.blockMs) + " ms");
        EXPECT_EQ(layer.dropped, 0);
        EXPECT_EQ(layer.reordered + layer.duplicated, 0);
        EXPECT_EQ(layer.synDropped, 0);
        EXPECT_LE(layer.maxDelayMs(), plain.maxDelayMs() + 5.0);
        // Let a block that outlasts the stream end before the next one.
        std::this_thread::sleep_for(std::chrono::milliseconds(c.blockMs));
    }
}

} // namespace
} // namespace quillmere::vmtest
