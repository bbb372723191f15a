// Start-up: the wait for input access (a prompt while it lasts, polling
// behind it), then once, on a later turn of the loop, the engine, the tray
// menu, the launch report, the heartbeat and, after its delay, the silent
// update check; the engine stops at termination.
#include "app/AppDelegate.h"
#include "app/PermissionPrompt.h"
#include "engine/GrabScrollManager.h"
#include "net/NetFixture.h"
#include "support/FakeEventServices.h"
#include "support/ManualTimerFactory.h"
#include "support/StoreTest.h"
#include "ui/StatusBarController.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QNetworkRequest>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using namespace std::chrono_literals;

PermissionPrompt* openPrompt() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* prompt = qobject_cast<PermissionPrompt*>(w); prompt && prompt->isVisible())
            return prompt;
    return nullptr;
}

// The shared engine keeps them for the rest of the run.
testing::FakeEventServices services;
testing::ManualTimerFactory timers;

using AppDelegateTest = testing::StoreTest;

TEST_F(AppDelegateTest, StartsOnceAfterAccessOnALaterTurnWithThePromptGone) {
    GrabScrollManager::installShared(services, timers);
    std::vector<QString> requests;
    NetTesting::Hooks hooks;
    // Nothing leaves the process: every request is recorded and dropped.
    hooks.updateOrigin = hooks.analyticsOrigin = QUrl("https://127.0.0.1:9");
    hooks.requestGate = [&](const QNetworkRequest& request) {
        requests.push_back(request.url().path());
        return false;
    };
    NetTesting::install(hooks);

    // When access comes (1: at once, 2: between the first check and the
    // prompt's), and whether the engine is refused (it only logs then: the
    // rest comes all the same).
    for (const auto& [trustedFromCheck, refuseTap] :
         {std::pair{1, false}, {2, false}, {5, false}, {1, true}}) {
        SCOPED_TRACE(::testing::Message() << trustedFromCheck << refuseTap);
        log.lines.clear();
        requests.clear();
        services.refuseTap = refuseTap;
        int checks = 0;
        QElapsedTimer sinceStart;
        sinceStart.start();
        AppDelegate delegate({{[&] { return ++checks >= trustedFromCheck; }, 1ms}, 50ms});
        delegate.applicationDidFinishLaunching();
        EXPECT_EQ(delegate.statusBarController(), nullptr); // never from inside the call
        QCoreApplication::sendPostedEvents();
        // With a prompt up, the grant is seen by the poll only.
        EXPECT_EQ(delegate.statusBarController() != nullptr, trustedFromCheck == 1);
        EXPECT_EQ(requests.size(), trustedFromCheck == 1 ? 1u : 0u) << "a report before access";
        EXPECT_EQ(openPrompt() != nullptr, trustedFromCheck > 1);
        // The launch report, then the update check after its delay.
        ASSERT_TRUE(QTest::qWaitFor([&] { return requests.size() == 2; }));
        EXPECT_GE(sinceStart.elapsed(), 50);
        EXPECT_EQ(openPrompt(), nullptr);
        // A timer as fast as the poll fires twice: the poll would have ticked.
        const int checksAtEnd = checks;
        QTimer marker;
        int fired = 0;
        QObject::connect(&marker, &QTimer::timeout, [&] { ++fired; });
        marker.start(1ms);
        ASSERT_TRUE(QTest::qWaitFor([&] { return fired >= 2; }));
        EXPECT_EQ(checks, checksAtEnd) << "the poll goes on after the grant";
        EXPECT_EQ(requests, (std::vector<QString>{"/mp/collect", "/checkUpdate/"}));
        ASSERT_NE(NetTesting::heartbeatTimer(), nullptr);
        EXPECT_EQ(NetTesting::heartbeatTimer()->interval(), 300000);
        EXPECT_NE(delegate.statusBarController(), nullptr);
        EXPECT_EQ(GrabScrollManager::shared().hasEventTap(), !refuseTap);

        delegate.applicationWillTerminate();
        EXPECT_FALSE(GrabScrollManager::shared().hasEventTap());
        // The lines users and their scripts read (whether a tray is found
        // depends on the environment).
        if (refuseTap) {
            EXPECT_NE(std::ranges::find(log.lines, "[Quillmere] CGEvent tap 생성 실패 — "
                                                   "접근성 권한을 확인하세요."),
                      log.lines.end());
        } else if (trustedFromCheck == 1) {
            EXPECT_EQ(log.lines.at(1), "[Quillmere] AXIsProcessTrusted = 1");
        } else if (trustedFromCheck == 2) {
            std::erase_if(log.lines,
                          [](const auto& line) { return line.find("tray") != line.npos; });
            EXPECT_EQ(log.lines, (std::vector<std::string>{
                                     "[Quillmere] 시작 중...",
                                     "[Quillmere] AXIsProcessTrusted = 0",
                                     "[Quillmere] AXIsProcessTrustedWithOptions(prompt) = 1",
                                     "[Quillmere] 접근성 권한 부여됨",
                                     "[Quillmere] 접근성 권한 확인됨",
                                     "[Quillmere] 이벤트 탭 활성화됨",
                                     "[Quillmere] 준비 완료 — 오른쪽 버튼 드래그로 스크롤하세요",
                                     "[Quillmere] 이벤트 탭 비활성화됨",
                                 }));
        }
    }
    services.refuseTap = false;
    nettest::installLockdown(); // as between all tests
}

} // namespace
} // namespace quillmere
