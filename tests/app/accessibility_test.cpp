// The permission wait: completion on a later turn when trusted; otherwise one
// prompt, polling, and the completion exactly once after the grant.
#include "app/AccessibilityHelper.h"
#include "app/PermissionPrompt.h"
#include "support/LogCapture.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace quillmere {
namespace {

using namespace std::chrono_literals;

class AccessibilityTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (PermissionPrompt* prompt = openPrompt())
            prompt->close();
    }
    static PermissionPrompt* openPrompt() {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* prompt = qobject_cast<PermissionPrompt*>(w); prompt && prompt->isVisible())
                return prompt;
        return nullptr;
    }
    // Asks for access with a 1 ms poll; the check counts its calls and
    // answers with `trusted`, or with `answer` where that is given.
    void ensure(std::function<bool()> answer = {}) {
        const auto check = [this, answer] {
            ++checks;
            return answer ? answer() : trusted;
        };
        AccessibilityHelper::ensureAccessibility([this] { ++runs; }, {check, 1ms});
    }
    // Runs the loop until a timer as fast as the poll has fired twice: a
    // live poll would have ticked before that.
    static void letThePollTick() {
        QTimer marker;
        int fired = 0;
        QObject::connect(&marker, &QTimer::timeout, [&] { ++fired; });
        marker.start(1ms);
        ASSERT_TRUE(QTest::qWaitFor([&] { return fired >= 2; }));
    }

    bool trusted = false;
    int checks = 0;
    int runs = 0;
    testing::LogCapture log;
};

TEST_F(AccessibilityTest, AlreadyTrustedCompletesOnTheNextTurnWithOneLine) {
    trusted = true;
    ensure();
    EXPECT_EQ(runs, 0); // never from inside the call
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"[Quillmere] AXIsProcessTrusted = 1"}));
    EXPECT_EQ(openPrompt(), nullptr);
}

TEST_F(AccessibilityTest, NotTrustedPromptsOnceThenCompletesOnceAfterTheGrant) {
    ensure();
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{"[Quillmere] AXIsProcessTrusted = 0",
                                        "[Quillmere] AXIsProcessTrustedWithOptions(prompt) = 0"}));
    PermissionPrompt* prompt = openPrompt();
    ASSERT_NE(prompt, nullptr);
    EXPECT_FALSE(prompt->isModal());
    EXPECT_TRUE(prompt->explanation().contains("/dev/uinput"));
    const QString commands = prompt->commandText();
    EXPECT_TRUE(commands.contains("sudo modprobe uinput") && commands.contains("udevadm trigger"));
    // Every line is a complete command a user can paste as it stands.
    for (const QString& line : commands.split('\n'))
        EXPECT_TRUE(line.startsWith("sudo ") || line.startsWith("echo uinput | sudo tee"));

    ASSERT_TRUE(QTest::qWaitFor([&] { return checks >= 5; })); // polls without access
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(log.lines.size(), 2u);
    trusted = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return runs == 1; }));
    EXPECT_EQ(log.lines.back(), "[Quillmere] 접근성 권한 부여됨");
    EXPECT_EQ(openPrompt(), nullptr); // the prompt goes once access is there
    const int checksAtGrant = checks;
    letThePollTick(); // the poll is over: no more checks, no second completion
    EXPECT_EQ(checks, checksAtGrant);
    EXPECT_EQ(runs, 1);
}

TEST_F(AccessibilityTest, GrantBetweenTheChecksStillWaitsForTheFirstTick) {
    ensure([this] { return checks > 1; });
    EXPECT_EQ(log.lines.at(1), "[Quillmere] AXIsProcessTrustedWithOptions(prompt) = 1");
    QCoreApplication::sendPostedEvents(); // a completion queued at once would run here
    EXPECT_EQ(runs, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return runs == 1; }));
    EXPECT_EQ(checks, 3);
}

} // namespace
} // namespace quillmere
