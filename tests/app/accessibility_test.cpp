// The permission wait: immediate completion when trusted, one prompt and a
// one-second poll otherwise, the completion exactly once.
#include "app/AccessibilityHelper.h"
#include "app/PermissionPrompt.h"
#include "engine/Log.h"
#include "support/LogCapture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

namespace quillmere {
namespace {

class AccessibilityTest : public ::testing::Test {
protected:
    void SetUp() override {}
    void TearDown() override {
        AccessibilityHelper::setTrustCheck({});
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<PermissionPrompt*>(w))
                w->close();
        QCoreApplication::processEvents();
    }
    static int openPrompts() {
        int n = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            n += qobject_cast<PermissionPrompt*>(w) && w->isVisible();
        return n;
    }

    testing::LogCapture log;
};

TEST_F(AccessibilityTest, AlreadyTrustedCompletesOnTheNextTurnWithOneLine) {
    AccessibilityHelper::setTrustCheck([] { return true; });
    int runs = 0;
    AccessibilityHelper::ensureAccessibility([&] { ++runs; });
    EXPECT_EQ(runs, 0); // never from inside the call
    QCoreApplication::processEvents();
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"[Quillmere] AXIsProcessTrusted = 1"}));
    EXPECT_EQ(openPrompts(), 0);
}

TEST_F(AccessibilityTest, NotTrustedPromptsOnceThenCompletesOnceAfterTheGrant) {
    bool granted = false;
    int checks = 0;
    AccessibilityHelper::setTrustCheck([&] {
        ++checks;
        return granted;
    });
    int runs = 0;
    AccessibilityHelper::ensureAccessibility([&] { ++runs; });
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{"[Quillmere] AXIsProcessTrusted = 0",
                                        "[Quillmere] AXIsProcessTrustedWithOptions(prompt) = 0"}));
    EXPECT_EQ(openPrompts(), 1);
    QTest::qWait(2300); // two silent ticks
    EXPECT_EQ(runs, 0);
    EXPECT_GE(checks, 3); // the first query, the prompt query and at least one tick
    EXPECT_EQ(log.lines.size(), 2u);

    granted = true;
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return runs == 1; }, 2000));
    EXPECT_LE(clock.elapsed(), 1600); // the next tick, with room for a loaded machine
    EXPECT_EQ(log.lines.back(), "[Quillmere] 접근성 권한 부여됨");
    QTest::qWait(2200); // later ticks do nothing: the poll is over
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(log.lines.size(), 3u);
    EXPECT_EQ(openPrompts(), 0); // the prompt goes away once access is there
}

TEST_F(AccessibilityTest, GrantBetweenTheChecksStillWaitsForTheFirstTick) {
    int checks = 0;
    AccessibilityHelper::setTrustCheck([&] { return ++checks > 1; });
    int runs = 0;
    AccessibilityHelper::ensureAccessibility([&] { ++runs; });
    EXPECT_EQ(log.lines.at(1), "[Quillmere] AXIsProcessTrustedWithOptions(prompt) = 1");
    QTest::qWait(500);
    EXPECT_EQ(runs, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return runs == 1; }, 2000));
}

TEST_F(AccessibilityTest, PromptExplainsAndGivesCommandsThatLoadUinput) {
    AccessibilityHelper::setTrustCheck([] { return false; });
    AccessibilityHelper::ensureAccessibility([] {});
    PermissionPrompt* prompt = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* p = qobject_cast<PermissionPrompt*>(w))
            prompt = p;
    ASSERT_NE(prompt, nullptr);
    EXPECT_FALSE(prompt->isModal());
    EXPECT_TRUE(prompt->explanation().contains("/dev/uinput"));
    const QString commands = prompt->commandText();
    EXPECT_TRUE(commands.contains("sudo modprobe uinput"));
    EXPECT_TRUE(commands.contains("udevadm trigger"));
    // Every line is a complete command a user can paste as it stands.
    for (const QString& line : commands.split('\n'))
        EXPECT_TRUE(line.startsWith("sudo ") || line.startsWith("echo uinput | sudo tee"));
    // Let this call's poll finish so that it cannot answer a later test.
    AccessibilityHelper::setTrustCheck([] { return true; });
    QTest::qWait(1100);
}

} // namespace
} // namespace quillmere
