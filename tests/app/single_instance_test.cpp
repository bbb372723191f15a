// The single-instance rule against real processes named like Quillmere.
#include "app/SingleInstance.h"
#include "engine/Log.h"
#include "support/LogCapture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <limits>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace quillmere {
namespace {

using Clock = std::chrono::steady_clock;

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    void TearDown() override {
        for (pid_t pid : children) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }

    // Starts a script called "quillmere" that quits on SIGTERM or ignores it.
    pid_t startFakeInstance(bool ignoresTerm) {
        const QString path =
            dir.path() + (ignoresTerm ? "/stubborn/quillmere" : "/polite/quillmere");
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile script(path);
        EXPECT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(ignoresTerm ? "#!/bin/sh\ntrap '' TERM\nwhile :; do sleep 0.05; done\n"
                                 : "#!/bin/sh\nwhile :; do sleep 0.05; done\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QByteArray file = QFile::encodeName(path);
        const pid_t pid = ::fork();
        if (pid == 0) {
            // Dies with the test, and keeps no pipe of the test runner open.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execl(file.constData(), file.constData(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        children.push_back(pid);
        // Wait until the kernel shows the new name.
        for (int i = 0; i < 200; ++i) {
            QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
            if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "quillmere")
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return pid;
    }

    // The real rule on the real process list, seeing only this test's own
    // children: tests running in parallel (the same test binary among them)
    // must not be asked to quit. The rule runs as if launched after them.
    SingleInstance::Environment environment() const {
        SingleInstance::Environment env = SingleInstance::systemEnvironment();
        env.self.startTime = std::numeric_limits<std::uint64_t>::max();
        env.runningProcesses = [this] {
            std::vector<Processes::ProcessInfo> mine;
            for (const auto& p : Processes::sameUserProcesses())
                if (std::find(children.begin(), children.end(), p.pid) != children.end())
                    mine.push_back(p);
            return mine;
        };
        return env;
    }

    // Reaps exited children so that they leave the process list.
    void reapInBackground() {
        reaper = std::thread([this] {
            for (pid_t pid : children)
                ::waitpid(pid, nullptr, 0);
        });
    }

    QTemporaryDir dir;
    std::vector<pid_t> children;
    std::thread reaper;
    testing::LogCapture log;
};

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

// The parent process id from /proc/<pid>/stat, 0 when it cannot be read.
pid_t parentOf(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // After the name in parentheses: the state, then the parent.
    return text.mid(text.lastIndexOf(')') + 2).split(' ').value(1).toInt();
}

// Two launches 10 ms apart that both look for other instances at once:
// only the older is asked to quit, so the newer runs on. Each holds a quit
// request back until its own rule has run, so requests that cross are both
// seen rather than won by whichever lands first.
TEST_F(SingleInstanceTest, OfTwoLaunchesAtOnceTheNewerSurvives) {
    // Both exist before either looks; each reports its pid once its rule has
    // run and it is still there.
    int start[2], report[2];
    ASSERT_TRUE(::pipe(start) == 0 && ::pipe(report) == 0);
    const pid_t test = ::getpid();
    const auto launch = [&] {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            sigset_t term;
            sigemptyset(&term);
            sigaddset(&term, SIGTERM);
            ::sigprocmask(SIG_BLOCK, &term, nullptr);
            char go = 0;
            (void)!::read(start[0], &go, 1);
            SingleInstance::Environment env = SingleInstance::systemEnvironment();
            env.runningProcesses = [test] { // this test's children only
                std::vector<Processes::ProcessInfo> siblings;
                for (const auto& p : Processes::sameUserProcesses())
                    if (parentOf(p.pid) == test)
                        siblings.push_back(p);
                return siblings;
            };
            SingleInstance::enforce(env);
            ::sigprocmask(SIG_UNBLOCK, &term, nullptr); // a request held back ends it here
            const pid_t self = ::getpid();
            (void)!::write(report[1], &self, sizeof self);
            ::pause(); // running, until asked to quit
            ::_exit(0);
        }
        children.push_back(pid);
        return pid;
    };
    const pid_t older = launch();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const pid_t newer = launch();
    ::close(report[1]);
    ASSERT_EQ(::write(start[1], "gg", 2), 2);

    // Until the newer has run its rule, or has gone without doing so.
    const int newerGone = static_cast<int>(::syscall(SYS_pidfd_open, newer, 0));
    ASSERT_GE(newerGone, 0);
    pid_t done = 0;
    while (done != newer) {
        pollfd events[] = {{report[0], POLLIN, 0}, {newerGone, POLLIN, 0}};
        ::poll(events, 2, -1);
        if (!(events[0].revents & POLLIN) || ::read(report[0], &done, sizeof done) != sizeof done)
            break;
    }
    EXPECT_EQ(done, newer);
    int status = 0;
    EXPECT_EQ(::waitpid(older, &status, 0), older); // asked to quit
    EXPECT_EQ(::waitpid(newer, &status, WNOHANG), 0) << "the newer instance runs on";
    for (int fd : {start[0], start[1], report[0], newerGone})
        ::close(fd);
}

TEST_F(SingleInstanceTest, NoOtherInstanceMeansNoLinesAndNoWait) {
    const auto start = Clock::now();
    EXPECT_EQ(SingleInstance::enforce(environment()), 0);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(SingleInstanceTest, OlderInstanceIsAskedToQuitAndTheWaitEndsWhenItIsGone) {
    const pid_t older = startFakeInstance(false);
    reapInBackground();
    const auto start = Clock::now();
    EXPECT_EQ(SingleInstance::enforce(environment()), 1);
    const auto waited = Clock::now() - start;
    reaper.join();
    EXPECT_LT(waited, std::chrono::milliseconds(1500));
    EXPECT_EQ(::kill(older, 0), -1); // gone
    EXPECT_EQ(log.lines, (std::vector<std::string>{"[Quillmere] 기존 프로세스 종료 중...",
                                                   "[Quillmere] 기존 프로세스 종료 완료"}));
    children.clear();
}

TEST_F(SingleInstanceTest, InstanceIgnoringTheRequestDelaysStartByThreeSecondsThenBothRun) {
    const pid_t stubborn = startFakeInstance(true);
    const auto start = Clock::now();
    EXPECT_EQ(SingleInstance::enforce(environment()), 1);
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(3000));
    EXPECT_LT(waited,
              std::chrono::milliseconds(4500)); // 3.0 s and a poll, with room for a loaded machine
    EXPECT_EQ(::kill(stubborn, 0), 0);          // never killed
    EXPECT_EQ(log.lines, (std::vector<std::string>{"[Quillmere] 기존 프로세스 종료 중...",
                                                   "[Quillmere] 기존 프로세스 종료 완료"}));
}

} // namespace
} // namespace quillmere
