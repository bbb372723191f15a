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
#include <sys/prctl.h>
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
    // must not be asked to quit.
    SingleInstance::Environment environment() const {
        SingleInstance::Environment env = SingleInstance::systemEnvironment();
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

TEST(SingleInstanceFilter, MatchesExecutableOrNameButNeverItself) {
    using Processes::ProcessInfo;
    const std::vector<ProcessInfo> list = {
        {10, "/usr/bin/quillmere", "quillmere"},   // ourselves
        {11, "/usr/bin/quillmere", "renamed"},     // same binary, other name
        {12, "/opt/other/quillmere", "quillmere"}, // other binary, same name
        {13, "/usr/bin/bash", "bash"},
        {14, "", ""},          // nothing known: never kept
        {15, "", "Quillmere"}, // names compare case-sensitively
    };
    const auto found = Processes::otherInstances(list, "/usr/bin/quillmere", 10, "quillmere");
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].pid, 11);
    EXPECT_EQ(found[1].pid, 12);
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
