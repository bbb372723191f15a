// Start-up after the permission: engine, tray menu, launch report,
// heartbeat, silent update check ten seconds later; stop at termination.
#include "AppInfo.h"
#include "app/AccessibilityHelper.h"
#include "app/AppDelegate.h"
#include "engine/GrabScrollManager.h"
#include "engine/Log.h"
#include "engine/MemorySettingsStore.h"
#include "engine/ScrollConfig.h"
#include "net/NetTesting.h"
#include "support/FakeEventServices.h"
#include "support/LogCapture.h"
#include "support/ManualTimerFactory.h"
#include "ui/StatusBarController.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkRequest>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace quillmere {
namespace {

testing::FakeEventServices services;
testing::ManualTimerFactory timers;

class AppDelegateTest : public ::testing::Test {
protected:
    void SetUp() override {
        GrabScrollManager::installShared(services, timers);
        ScrollConfig::setDefaults(&store);
        NetTesting::Hooks hooks;
        // Nothing leaves the process: every request is recorded and dropped.
        hooks.updateOrigin = QUrl("https://127.0.0.1:9");
        hooks.analyticsOrigin = QUrl("https://127.0.0.1:9");
        hooks.requestGate = [this](const QNetworkRequest& request) {
            requests.push_back(request.url());
            return false;
        };
        NetTesting::install(hooks);
    }
    void TearDown() override {
        NetTesting::reset();
        AccessibilityHelper::setTrustCheck({});
        ScrollConfig::setDefaults(nullptr);
    }

    MemorySettingsStore store;
    testing::LogCapture log;
    std::vector<QUrl> requests;
};

TEST_F(AppDelegateTest, NothingHappensUntilAccessThenEverythingInOrder) {
    bool trusted = false;
    AccessibilityHelper::setTrustCheck([&] { return trusted; });
    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    QTest::qWait(1200);
    EXPECT_EQ(delegate.statusBarController(), nullptr);
    EXPECT_FALSE(GrabScrollManager::shared().hasEventTap());
    EXPECT_TRUE(requests.empty()); // no analytics before the permission

    store.setObject("language", std::string("xx-YY")); // passed on unchecked
    trusted = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return delegate.statusBarController() != nullptr; }, 2000));
    QElapsedTimer sinceGrant;
    sinceGrant.start();
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
    for (const std::string& line : log.lines)
        if (line.find("tray") == std::string::npos)
            ours.push_back(line);
    ours.resize(std::min(ours.size(), expected.size()));
    EXPECT_EQ(ours, expected);

    // The launch report went out at once.
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path(), "/mp/collect");
    // The heartbeat runs every 300 s.
    ASSERT_NE(NetTesting::heartbeatTimer(), nullptr);
    EXPECT_TRUE(NetTesting::heartbeatTimer()->isActive());
    EXPECT_EQ(NetTesting::heartbeatTimer()->interval(), 300000);

    // The silent update check follows 10 s after the grant, not before.
    ASSERT_TRUE(QTest::qWaitFor([&] { return requests.size() == 2; }, 12000));
    EXPECT_GE(sinceGrant.elapsed(), 9900);
    EXPECT_EQ(requests[1].path(), "/checkUpdate/");
    EXPECT_EQ(requests[1].query(), QStringLiteral("v=") + AppInfo::version);

    delegate.applicationWillTerminate();
    EXPECT_FALSE(GrabScrollManager::shared().hasEventTap());
    EXPECT_EQ(log.lines.back(), "[Quillmere] 이벤트 탭 비활성화됨");
}

TEST_F(AppDelegateTest, RefusedEngineStillBringsUpTheMenu) {
    AccessibilityHelper::setTrustCheck([] { return true; });
    GrabScrollManager::shared().stop();
    services.refuseTap = true;
    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    ASSERT_TRUE(QTest::qWaitFor([&] { return delegate.statusBarController() != nullptr; }, 2000));
    services.refuseTap = false;
    EXPECT_FALSE(GrabScrollManager::shared().hasEventTap());
    EXPECT_NE(std::find(log.lines.begin(), log.lines.end(),
                        "[Quillmere] CGEvent tap 생성 실패 — 접근성 권한을 확인하세요."),
              log.lines.end());
    EXPECT_EQ(requests.size(), 1u); // the launch report all the same
}

} // namespace
} // namespace quillmere
