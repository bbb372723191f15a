// The single-instance rule on a made-up process list and a manual clock:
// which processes count as older instances, the quit request and the wait.
// (The real process list and SIGTERM are exercised by the installed-app VM
// test, where a second start makes the first one quit.)
#include "app/SingleInstance.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using namespace std::chrono_literals;
using Processes::ProcessInfo;

TEST(SingleInstance, AsksOnlyOlderInstancesToQuitAndWaitsForThemUpToThreeSeconds) {
    const ProcessInfo self{10, "/usr/bin/quillmere", "quillmere", 500};
    const std::vector<ProcessInfo> others = {
        self,
        {13, "/usr/bin/bash", "bash", 1},
        {14, "", "", 1},                              // nothing known: never kept
        {15, "", "Quillmere", 1},                     // names compare case-sensitively
        {16, "/usr/bin/quillmere", "quillmere", 501}, // started later
        {17, "/usr/bin/quillmere", "quillmere", 500}, // the same tick, a later pid
    };
    const std::vector<ProcessInfo> older = {
        {11, "/usr/bin/quillmere", "renamed", 400},     // same binary, other name
        {12, "/opt/other/quillmere", "quillmere", 499}, // other binary, same name
        {9, "/usr/bin/quillmere", "quillmere", 500},    // the same tick, an earlier pid
    };
    // Whether older instances run, and whether they quit when asked.
    for (const auto& [withOlder, quits] : {std::pair{false, false}, {true, true}, {true, false}}) {
        SCOPED_TRACE(::testing::Message() << withOlder << quits);
        testing::LogCapture log;
        std::vector<ProcessInfo> running = others;
        if (withOlder)
            running.insert(running.end(), older.begin(), older.end());
        std::vector<pid_t> asked;
        std::chrono::milliseconds waited{0};
        const SingleInstance::Environment env{
            [&] { return running; }, [&](pid_t pid) { asked.push_back(pid); }, self,
            [&] { return std::chrono::steady_clock::time_point(waited); },
            [&](std::chrono::milliseconds step) {
                waited += step;
                if (quits)
                    running = others;
            }};
        EXPECT_EQ(SingleInstance::enforce(env), withOlder ? 3 : 0);
        EXPECT_EQ(asked, withOlder ? std::vector<pid_t>({11, 12, 9}) : std::vector<pid_t>());
        EXPECT_EQ(waited, !withOlder ? 0ms : quits ? SingleInstance::pollInterval : 3000ms);
        const std::vector<std::string> lines = {"[Quillmere] 기존 프로세스 종료 중...",
                                                "[Quillmere] 기존 프로세스 종료 완료"};
        EXPECT_EQ(log.lines, withOlder ? lines : std::vector<std::string>{});
    }
}

} // namespace
} // namespace quillmere
