#pragma once
// The application delegate: does nothing visible until input access is
// granted, then starts the engine, shows the tray menu, reports the launch,
// starts the heartbeat and schedules a silent update check. Stops the engine
// when the application terminates.

#include "AccessibilityHelper.h"

#include <QObject>

#include <chrono>
#include <memory>

namespace quillmere {

class StatusBarController;

class AppDelegate : public QObject {
    Q_OBJECT
public:
    static constexpr double heartbeatInterval = 300.0;

    struct Options {
        AccessibilityHelper::Options access;
        // From the access grant to the silent update check.
        std::chrono::milliseconds updateCheckDelay{10000};
    };

    AppDelegate();
    explicit AppDelegate(Options options);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    void applicationWillTerminate();

    StatusBarController* statusBarController() const { return statusBarController_.get(); }
    // Why no mouse can be taken over (empty while one is), for the tray.
    void setMouseProblem(const QString& problem);

private:
    void accessibilityGranted();

    Options options_;
    std::unique_ptr<StatusBarController> statusBarController_;
    QString mouseProblem_;
};

} // namespace quillmere
