#pragma once
// The application delegate: does nothing visible until input access is
// granted, then starts the engine, shows the tray menu, reports the launch,
// starts the heartbeat and schedules a silent update check. Stops the engine
// when the application terminates.

#include <QObject>

#include <memory>

namespace quillmere {

class StatusBarController;

class AppDelegate : public QObject {
    Q_OBJECT
public:
    static constexpr int updateCheckDelayMs = 10000;
    static constexpr double heartbeatInterval = 300.0;

    AppDelegate();
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    void applicationWillTerminate();

    StatusBarController* statusBarController() const { return statusBarController_.get(); }

private:
    void accessibilityGranted();

    std::unique_ptr<StatusBarController> statusBarController_;
};

} // namespace quillmere
