// The single-instance rule: which processes count as older instances, and
// the rule against real processes on a manual clock.
#include "app/SingleInstance.h"
#include "support/Child.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <csignal>
#include <limits>
#include <unistd.h>

namespace quillmere {
namespace {

using namespace std::chrono_literals;

TEST(SingleInstanceFilter, MatchesOlderInstancesByExecutableOrNameButNeverItself) {
    using Processes::ProcessInfo;
    const ProcessInfo self{10, "/usr/bin/quillmere", "quillmere", 500};
    const std::vector<ProcessInfo> list = {
        self,
        {11, "/usr/bin/quillmere", "renamed", 400},     // same binary, other name
        {12, "/opt/other/quillmere", "quillmere", 499}, // other binary, same name
        {13, "/usr/bin/bash", "bash", 1},
        {14, "", "", 1},                              // nothing known: never kept
        {15, "", "Quillmere", 1},                     // names compare case-sensitively
        {16, "/usr/bin/quillmere", "quillmere", 501}, // started later
        {17, "/usr/bin/quillmere", "quillmere", 500}, // the same tick, a later pid
        {9, "/usr/bin/quillmere", "quillmere", 500},  // the same tick, an earlier pid
    };
    std::vector<pid_t> found;
    for (const ProcessInfo& p : Processes::olderInstances(list, self, "quillmere"))
        found.push_back(p.pid);
    EXPECT_EQ(found, (std::vector<pid_t>{11, 12, 9}));
}

// The real rule on the real process list, seeing only this test and its
// child (tests running at the same time, this binary among them, must not be
// asked to quit), the wait measured on a manual clock.
TEST(SingleInstance, OnlyAnOlderInstanceIsAskedToQuitAndWaitedForUpToThreeSeconds) {
    // A forked copy of this binary counts as an instance. One that blocks the
    // quit request from its start never quits.
    for (bool ignoresQuit : {false, true}) {
        SCOPED_TRACE(ignoresQuit);
        testing::LogCapture log;
        sigset_t term, before;
        sigemptyset(&term);
        sigaddset(&term, SIGTERM);
        ::pthread_sigmask(ignoresQuit ? SIG_BLOCK : SIG_UNBLOCK, &term, &before);
        testing::Child child([] { return ::pause(); });
        ::pthread_sigmask(SIG_SETMASK, &before, nullptr);

        SingleInstance::Environment env = SingleInstance::systemEnvironment();
        env.runningProcesses = [&] {
            std::vector<Processes::ProcessInfo> list = Processes::sameUserProcesses();
            std::erase_if(
                list, [&](const auto& p) { return p.pid != child.pid() && p.pid != env.self.pid; });
            return list;
        };
        std::chrono::milliseconds waited{0};
        env.now = [&] { return std::chrono::steady_clock::time_point(waited); };
        env.sleep = [&](std::chrono::milliseconds step) {
            waited += step;
            child.waitForExit(ignoresQuit ? 0s : 10s); // waits for the quit, if one comes
        };
        // Started after this test, the child is the newer one: left alone.
        EXPECT_EQ(SingleInstance::enforce(env), 0);
        EXPECT_TRUE(log.lines.empty());
        // Launched after it, this test finds the child older: asked, never killed.
        env.self.startTime = std::numeric_limits<std::uint64_t>::max();
        EXPECT_EQ(SingleInstance::enforce(env), 1);
        EXPECT_EQ(child.waitForExit(0s).has_value(), !ignoresQuit);
        if (ignoresQuit) {
            EXPECT_EQ(waited, 3s);
        } else {
            EXPECT_LT(waited, 3s);
        }
        EXPECT_EQ(log.lines, (std::vector<std::string>{"[Quillmere] 기존 프로세스 종료 중...",
                                                       "[Quillmere] 기존 프로세스 종료 완료"}));
    }
}

} // namespace
} // namespace quillmere
