// Start-up after the permission: engine, tray menu, launch report,
// heartbeat, the silent update check after its delay; stop at termination.
#include "AppInfo.h"
#include "app/AppDelegate.h"
#include "engine/GrabScrollManager.h"
#include "engine/MemorySettingsStore.h"
#include "engine/ScrollConfig.h"
#include "net/NetTesting.h"
#include "support/FakeEventServices.h"
#include "support/LogCapture.h"
#include "support/ManualTimerFactory.h"
#include "ui/StatusBarController.h"

#include <QElapsedTimer>
#include <QNetworkRequest>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using namespace std::chrono_literals;

testing::FakeEventServices services;
testing::ManualTimerFactory timers;

class AppDelegateTest : public ::testing::Test {
protected:
    void SetUp() override {
        GrabScrollManager::installShared(services, timers);
        ScrollConfig::setDefaults(&store);
        NetTesting::Hooks hooks;
        // Nothing leaves the process: every request is recorded and dropped.
        hooks.updateOrigin = hooks.analyticsOrigin = QUrl("https://127.0.0.1:9");
        hooks.requestGate = [this](const QNetworkRequest& request) {
            requests.push_back(request.url());
            return false;
        };
        NetTesting::install(hooks);
    }
    void TearDown() override {
        NetTesting::reset();
        ScrollConfig::setDefaults(nullptr);
    }
    AppDelegate::Options options(std::chrono::milliseconds updateCheckDelay) {
        return {{[this] {
                     ++checks;
                     return trusted;
                 },
                 1ms},
                updateCheckDelay};
    }

    bool trusted = false;
    int checks = 0;
    MemorySettingsStore store;
    testing::LogCapture log;
    std::vector<QUrl> requests;
};

TEST_F(AppDelegateTest, NothingHappensUntilAccessThenEverythingInOrder) {
    AppDelegate delegate(options(100ms));
    delegate.applicationDidFinishLaunching();
    ASSERT_TRUE(QTest::qWaitFor([&] { return checks >= 5; })); // polls without access
    EXPECT_EQ(delegate.statusBarController(), nullptr);
    EXPECT_FALSE(GrabScrollManager::shared().hasEventTap());
    EXPECT_TRUE(requests.empty()); // no analytics before the permission

    QElapsedTimer sinceGrant;
    sinceGrant.start();
    trusted = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return delegate.statusBarController() != nullptr; }));
    EXPECT_TRUE(GrabScrollManager::shared().hasEventTap());
    const std::vector<std::string> expected = {
        "[Quillmere] 시작 중...",
        "[Quillmere] AXIsProcessTrusted = 0",
        "[Quillmere] AXIsProcessTrustedWithOptions(prompt) = 0",
        "[Quillmere] 접근성 권한 부여됨",
        "[Quillmere] 접근성 권한 확인됨",
        "[Quillmere] 이벤트 탭 활성화됨",
        "[Quillmere] 준비 완료 — 오른쪽 버튼 드래그로 스크롤하세요",
    };
    std::vector<std::string> ours; // the tray's own note about a missing tray aside
    std::copy_if(log.lines.begin(), log.lines.end(), std::back_inserter(ours),
                 [](const std::string& line) { return line.find("tray") == std::string::npos; });
    EXPECT_EQ(ours, expected);
    // The launch report at once, the heartbeat every 300 s.
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path(), "/mp/collect");
    ASSERT_NE(NetTesting::heartbeatTimer(), nullptr);
    EXPECT_EQ(NetTesting::heartbeatTimer()->interval(), 300000);

    // The silent update check follows the delay after the grant, not before.
    ASSERT_TRUE(QTest::qWaitFor([&] { return requests.size() == 2; }));
    EXPECT_GE(sinceGrant.elapsed(), 100);
    EXPECT_EQ(requests[1].path(), "/checkUpdate/");
    EXPECT_EQ(requests[1].query(), QStringLiteral("v=") + AppInfo::version);

    delegate.applicationWillTerminate();
    EXPECT_FALSE(GrabScrollManager::shared().hasEventTap());
    EXPECT_EQ(log.lines.back(), "[Quillmere] 이벤트 탭 비활성화됨");
}

TEST_F(AppDelegateTest, RefusedEngineStillBringsUpTheMenu) {
    trusted = true;
    GrabScrollManager::shared().stop();
    services.refuseTap = true;
    AppDelegate delegate(options(1h));
    delegate.applicationDidFinishLaunching();
    ASSERT_TRUE(QTest::qWaitFor([&] { return delegate.statusBarController() != nullptr; }));
    services.refuseTap = false;
    EXPECT_FALSE(GrabScrollManager::shared().hasEventTap());
    EXPECT_NE(std::find(log.lines.begin(), log.lines.end(),
                        "[Quillmere] CGEvent tap 생성 실패 — 접근성 권한을 확인하세요."),
              log.lines.end());
    EXPECT_EQ(requests.size(), 1u); // the launch report all the same
}

} // namespace
} // namespace quillmere
