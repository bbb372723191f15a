#include "AppDelegate.h"

#include "AccessibilityHelper.h"
#include "AppInfo.h"
#include "Wiring.h"
#include "engine/GrabScrollManager.h"
#include "engine/Log.h"
#include "engine/ScrollConfig.h"
#include "net/Analytics.h"
#include "net/UpdateChecker.h"
#include "ui/StatusBarController.h"

#include <QJsonObject>
#include <QTimer>

namespace quillmere {

AppDelegate::AppDelegate() : AppDelegate(Options{}) {}
AppDelegate::AppDelegate(Options options) : options_(std::move(options)) {}
AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
    Log::write("[Quillmere] 시작 중...");
    AccessibilityHelper::ensureAccessibility([this] { accessibilityGranted(); }, options_.access);
}

void AppDelegate::accessibilityGranted() {
    Log::write("[Quillmere] 접근성 권한 확인됨");
    GrabScrollManager& manager = GrabScrollManager::shared();
    manager.start(); // a refused start only logs; the rest goes on
    statusBarController_ =
        std::make_unique<StatusBarController>(manager, Wiring::statusBarActions());
    statusBarController_->setMouseProblem(mouseProblem_);
    Log::write("[Quillmere] 준비 완료 — 오른쪽 버튼 드래그로 스크롤하세요");
    const std::optional<std::string> language = ScrollConfig::defaults().string("language");
    Analytics::send(
        QStringLiteral("app_launch"),
        QJsonObject{{QStringLiteral("app_version"), QString::fromLatin1(AppInfo::version)},
                    {QStringLiteral("language"), QString::fromStdString(language.value_or("en"))}});
    Analytics::startHeartbeat(heartbeatInterval);
    QTimer::singleShot(options_.updateCheckDelay, Qt::PreciseTimer, this,
                       [] { UpdateChecker::checkSilently(); });
}

void AppDelegate::setMouseProblem(const QString& problem) {
    mouseProblem_ = problem;
    if (statusBarController_)
        statusBarController_->setMouseProblem(problem);
}

void AppDelegate::applicationWillTerminate() {
    GrabScrollManager::shared().stop();
}

} // namespace quillmere
