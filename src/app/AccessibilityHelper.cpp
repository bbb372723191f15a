#include "AccessibilityHelper.h"

#include "PermissionPrompt.h"
#include "engine/Log.h"
#include "platform/InputAccess.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <string>

namespace quillmere::AccessibilityHelper {

namespace {
void queue(std::function<void()> completion) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(completion),
                              Qt::QueuedConnection);
}
} // namespace

void ensureAccessibility(std::function<void()> completion, Options options) {
    std::function<bool()> isTrusted = std::move(options.isTrusted);
    if (!isTrusted)
        isTrusted = [] { return InputAccess::isTrusted(); };
    const bool trusted = isTrusted();
    Log::write("[Quillmere] AXIsProcessTrusted = " + std::to_string(trusted ? 1 : 0));
    if (trusted) {
        queue(std::move(completion));
        return;
    }

    // The prompt is shown once for this call and polling goes on behind it.
    QPointer<PermissionPrompt> prompt = PermissionPrompt::showOnce();
    const bool trustedAfterPrompt = isTrusted();
    Log::write("[Quillmere] AXIsProcessTrustedWithOptions(prompt) = " +
               std::to_string(trustedAfterPrompt ? 1 : 0));

    auto* timer = new QTimer(QCoreApplication::instance());
    timer->setInterval(options.pollInterval);
    timer->setTimerType(Qt::CoarseTimer);
    QObject::connect(timer, &QTimer::timeout, timer,
                     [timer, prompt, isTrusted = std::move(isTrusted),
                      completion = std::move(completion)]() mutable {
                         if (!isTrusted())
                             return;
                         // Stopped before the completion is queued: it can run only once.
                         timer->stop();
                         timer->deleteLater();
                         Log::write("[Quillmere] 접근성 권한 부여됨");
                         if (prompt)
                             prompt->close();
                         queue(std::move(completion));
                     });
    timer->start();
}

} // namespace quillmere::AccessibilityHelper
