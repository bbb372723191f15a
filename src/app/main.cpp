// Quillmere's entry point: one instance per user, a tray application without
// windows at start, quitting normally on SIGTERM and SIGINT.

#include "AppDelegate.h"
#include "AppInfo.h"
#include "SingleInstance.h"
#include "Wiring.h"
#include "engine/GrabScrollManager.h"
#include "engine/ScrollConfig.h"
#include "platform/JsonSettingsStore.h"
#include "platform/QuitSignals.h"
#include "platform/Realtime.h"
#include "platform/SessionWatcher.h"
#include "platform/handedness/HandednessWatcher.h"
#include "platform/input/InputThread.h"
#include "platform/input/QueuedLog.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char** argv) {
    using namespace quillmere;
    // Log lines reach standard error from a thread of their own: a stalled
    // terminal or journal never holds up the mouse.
    input::QueuedLog::install();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(AppInfo::productName));
    QApplication::setApplicationVersion(QString::fromLatin1(AppInfo::version));
    QApplication::setDesktopFileName(QString::fromLatin1(AppInfo::applicationId));
    // A tray application: closing the preferences window must not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    SingleInstance::enforce();

    // Termination runs the delegate's handler, which stops the engine and so
    // releases every grab and held button.
    QuitSignals::install([] { QCoreApplication::quit(); });

    // The settings first: the input thread reads what they publish.
    JsonSettingsStore settings;
    ScrollConfig::setDefaults(&settings);
    // Mice are read, scrolled and written on a thread of their own; the
    // engine lives there. Quitting stops it before this goes.
    input::InputThread input;
    Realtime::request(input.threadId());
    GrabScrollManager::installShared(input.services(), input.timers(), &input.loop());
    // Another user taking the seat, or sleep, suspends the input layer.
    SessionWatcher session;
    QObject::connect(&session, &SessionWatcher::activeChanged, &session, [&input](bool active) {
        input.loop().post([&input, active] { input.services().setSessionActive(active); });
    });
    // The desktop's handedness decides the gesture button; the input thread
    // gets the first answer and every change.
    HandednessSources sources;
    sources.x11 = QGuiApplication::platformName() == QLatin1String("xcb");
    HandednessWatcher handedness(sources);
    const auto forward = [&input](const input::Handedness& h) {
        input.loop().post([&input, h] { input.services().setHandedness(h); });
    };
    forward(handedness.current());
    QObject::connect(&handedness, &HandednessWatcher::changed, forward);

    UpdateChecker::setAlerts(Wiring::updateAlerts());
    AppDelegate delegate;
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate,
                     [&delegate] { delegate.applicationWillTerminate(); });
    // Whether any mouse can be taken over, told by the input thread, shown
    // in the tray's tooltip.
    input.loop().post([&input, &delegate] {
        input.services().setStatusListener([&delegate](bool, const std::string& why) {
            QMetaObject::invokeMethod(
                &delegate,
                [&delegate, problem = QString::fromStdString(why)] {
                    delegate.setMouseProblem(problem);
                },
                Qt::QueuedConnection);
        });
    });
    QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });
    const int result = QApplication::exec();
    // The delegate goes before the input thread: nothing may be told to it.
    input.loop().runAndWait([&input] { input.services().setStatusListener({}); });
    ScrollConfig::setDefaults(nullptr);
    return result;
}
