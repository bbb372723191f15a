// The single-instance rule against real processes, on a manual clock.
#include "app/SingleInstance.h"
#include "support/Child.h"
#include "support/LogCapture.h"

#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <limits>
#include <poll.h>
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

// The real rule on the real process list, seeing only the given processes
// (tests running at the same time, this binary among them, must not be
// asked to quit), as if launched after them.
SingleInstance::Environment among(std::function<bool(pid_t)> seen) {
    SingleInstance::Environment env = SingleInstance::systemEnvironment();
    env.self.startTime = std::numeric_limits<std::uint64_t>::max();
    env.runningProcesses = [seen] {
        std::vector<Processes::ProcessInfo> list = Processes::sameUserProcesses();
        std::erase_if(list, [&](const Processes::ProcessInfo& p) { return !seen(p.pid); });
        return list;
    };
    return env;
}

// A forked copy of this binary counts as an instance. One that blocks the quit
// request from its start never quits; the start waits for it for 3 s on its
// own clock, and kills nothing. One that quits ends the wait at once.
TEST(SingleInstance, OlderInstanceIsAskedToQuitAndWaitedForUpToThreeSeconds) {
    for (bool ignoresQuit : {false, true}) {
        SCOPED_TRACE(ignoresQuit);
        testing::LogCapture log;
        sigset_t term, before;
        sigemptyset(&term);
        sigaddset(&term, SIGTERM);
        ::pthread_sigmask(ignoresQuit ? SIG_BLOCK : SIG_UNBLOCK, &term, &before);
        testing::Child older([] { return ::pause(); });
        ::pthread_sigmask(SIG_SETMASK, &before, nullptr);

        SingleInstance::Environment env = among([&](pid_t pid) { return pid == older.pid(); });
        std::chrono::milliseconds waited{0};
        env.now = [&] { return std::chrono::steady_clock::time_point(waited); };
        env.sleep = [&](std::chrono::milliseconds step) {
            waited += step;
            older.waitForExit(ignoresQuit ? 0s : 10s); // waits for the quit, if one comes
        };
        EXPECT_EQ(SingleInstance::enforce(env), 1);
        EXPECT_EQ(older.waitForExit(0s).has_value(), !ignoresQuit);
        if (ignoresQuit) {
            EXPECT_EQ(waited, 3s);
        } else {
            EXPECT_LT(waited, 3s);
        }
        EXPECT_EQ(log.lines, (std::vector<std::string>{"[Quillmere] 기존 프로세스 종료 중...",
                                                       "[Quillmere] 기존 프로세스 종료 완료"}));
        // With it gone, or without it in sight, nothing is asked and nothing waited for.
        log.lines.clear();
        EXPECT_EQ(SingleInstance::enforce(among([](pid_t) { return false; })), 0);
        EXPECT_TRUE(log.lines.empty());
    }
}

// The parent process id from /proc/<pid>/stat, 0 when it cannot be read.
pid_t parentOf(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // After the name in parentheses: the state, then the parent.
    return text.mid(text.lastIndexOf(')') + 2).split(' ').value(1).toInt();
}

// Two launches that look for other instances at once: only the older is
// asked to quit, so the newer runs on. Each holds a quit request back until
// its own rule has run, so requests that cross are both seen rather than won
// by whichever lands first.
TEST(SingleInstance, OfTwoLaunchesAtOnceTheNewerSurvives) {
    int start[2], report[2];
    ASSERT_TRUE(::pipe(start) == 0 && ::pipe(report) == 0);
    const pid_t test = ::getpid();
    const auto launch = [&] {
        return std::make_unique<testing::Child>([&] {
            sigset_t term;
            sigemptyset(&term);
            sigaddset(&term, SIGTERM);
            ::sigprocmask(SIG_BLOCK, &term, nullptr);
            char go = 0;
            (void)!::read(start[0], &go, 1);
            SingleInstance::Environment env = SingleInstance::systemEnvironment(); // siblings only
            const auto runningProcesses = env.runningProcesses;
            env.runningProcesses = [&] {
                std::vector<Processes::ProcessInfo> list = runningProcesses();
                std::erase_if(list, [&](const auto& p) { return parentOf(p.pid) != test; });
                return list;
            };
            SingleInstance::enforce(env);
            ::sigprocmask(SIG_UNBLOCK, &term, nullptr); // a request held back ends it here
            const pid_t self = ::getpid();
            (void)!::write(report[1], &self, sizeof self);
            return ::pause();
        });
    };
    const auto older = launch();
    const auto newer = launch();
    ::close(report[1]);
    ASSERT_EQ(::write(start[1], "gg", 2), 2);

    // Until the newer has run its rule, or has gone without doing so.
    pid_t done = 0;
    while (done != newer->pid()) {
        pollfd events[] = {{report[0], POLLIN, 0}, {newer->exitFd(), POLLIN, 0}};
        ::poll(events, 2, 30'000);
        if (!(events[0].revents & POLLIN) || ::read(report[0], &done, sizeof done) != sizeof done)
            break;
    }
    EXPECT_EQ(done, newer->pid());
    EXPECT_TRUE(older->waitForExit(30s)) << "the older instance is asked to quit";
    EXPECT_FALSE(newer->waitForExit(0s)) << "the newer instance runs on";
    for (int fd : {start[0], start[1], report[0]})
        ::close(fd);
}

} // namespace
} // namespace quillmere
