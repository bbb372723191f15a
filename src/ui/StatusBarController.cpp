#include "StatusBarController.h"

#include "AppInfo.h"
#include "AppStyle.h"
#include "Localization.h"
#include "PreferencesWindow.h"
#include "StatusNotifierItem.h"
#include "TrayHostWatcher.h"
#include "engine/GrabScrollManager.h"
#include "engine/Log.h"

#include <QAction>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QSystemTrayIcon>

namespace quillmere {

StatusBarController::StatusBarController(GrabScrollManager& manager, StatusBarActions actions,
                                         QDBusConnection bus)
    : grabScrollManager_(manager), actions_(std::move(actions)),
      trayWatcher_(new TrayHostWatcher(std::move(bus), this)) {
    setupStatusBar();
    // The connection ends with the controller, so a late notice finds no
    // dangling receiver.
    connect(&LanguageNotifier::instance(), &LanguageNotifier::languageDidChange, this,
            &StatusBarController::updateMenuStrings);
}

StatusBarController::~StatusBarController() = default;

void StatusBarController::setupStatusBar() {
    menu_ = std::make_unique<QMenu>();

    versionItem_ = menu_->addAction(QString::fromLatin1(AppInfo::versionTitle));
    versionItem_->setEnabled(false);
    menu_->addSeparator();

    toggleItem_ = menu_->addAction(asButtonText(L10n::enabled()));
    toggleItem_->setCheckable(true);
    toggleItem_->setChecked(grabScrollManager_.isEnabled);
    connect(toggleItem_, &QAction::triggered, this, &StatusBarController::toggleEnabled);
    menu_->addSeparator();

    prefsItem_ = menu_->addAction(asButtonText(L10n::preferences()));
    connect(prefsItem_, &QAction::triggered, this, &StatusBarController::showPreferences);
    updateItem_ = menu_->addAction(asButtonText(L10n::checkForUpdates()));
    connect(updateItem_, &QAction::triggered, this, &StatusBarController::checkForUpdates);
    menu_->addSeparator();

    quitItem_ = menu_->addAction(asButtonText(L10n::quit()));
    quitItem_->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));
    quitItem_->setShortcutVisibleInContextMenu(true);
    connect(quitItem_, &QAction::triggered, this, &StatusBarController::quit);
    menu_->installEventFilter(this);

    showStatusItemWhenTrayExists();
}

void StatusBarController::showStatusItemWhenTrayExists() {
    // A StatusNotifierItem host draws the icon and the menu itself. Only
    // without one does Qt make a tray icon (an XEmbed one, on X11): Qt
    // settles once per process which protocol it uses, the first time.
    if (trayWatcher_->isHostRegistered()) {
        createNotifierItem();
        return;
    }
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        // On X11 Qt docks into an XEmbed tray by itself as soon as one
        // claims the screen's tray selection.
        createStatusItem();
        if (!QSystemTrayIcon::isSystemTrayAvailable())
            Log::write("[Quillmere] No system tray yet; the tray icon will appear when one "
                       "starts. Grab scrolling keeps running.");
        return;
    }
    if (!trayWatcher_->isBusConnected()) {
        Log::write("[Quillmere] No session bus, so no system tray: running without a tray "
                   "icon. Grab scrolling keeps running.");
        return;
    }
    Log::write("[Quillmere] No system tray yet; the tray icon will appear when one starts. "
               "Grab scrolling keeps running.");
    connect(trayWatcher_, &TrayHostWatcher::hostRegistered, this,
            &StatusBarController::createNotifierItem);
    trayWatcher_->watch();
}

void StatusBarController::createNotifierItem() {
    if (notifierItem_)
        return;
    notifierItem_ =
        std::make_unique<StatusNotifierItem>(*menu_, AppStyle::appIcon(), trayWatcher_->bus());
    showToolTip();
}

void StatusBarController::setMouseProblem(const QString& problem) {
    mouseProblem_ = problem;
    showToolTip();
}

void StatusBarController::showToolTip() {
    const QString title = QCoreApplication::applicationName();
    if (notifierItem_)
        notifierItem_->setToolTip(title, mouseProblem_);
    if (statusItem_)
        statusItem_->setToolTip(
            mouseProblem_.isEmpty() ? title : title + QStringLiteral("\n") + mouseProblem_);
}

void StatusBarController::createStatusItem() {
    if (statusItem_)
        return;
    statusItem_ = std::make_unique<QSystemTrayIcon>(AppStyle::appIcon());
    statusItem_->setContextMenu(menu_.get());
    // A plain click opens the menu too. On X11 the pointer position is
    // known to every client, so the menu opens at the icon.
    connect(statusItem_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger && !menu_->isVisible())
                    menu_->popup(QCursor::pos());
            });
    showToolTip();
    statusItem_->show();
}

bool StatusBarController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == menu_.get() && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (QKeySequence(key->keyCombination()) == quitItem_->shortcut()) {
            menu_->close();
            quitItem_->trigger();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void StatusBarController::updateMenuStrings() {
    toggleItem_->setText(asButtonText(L10n::enabled()));
    prefsItem_->setText(asButtonText(L10n::preferences()));
    updateItem_->setText(asButtonText(L10n::checkForUpdates()));
    quitItem_->setText(asButtonText(L10n::quit()));
}

void StatusBarController::toggleEnabled() {
    grabScrollManager_.isEnabled = !grabScrollManager_.isEnabled;
    toggleItem_->setChecked(grabScrollManager_.isEnabled);
    if (grabScrollManager_.isEnabled)
        grabScrollManager_.start();
    else
        grabScrollManager_.stop();
}

void StatusBarController::showPreferences() {
    if (!preferencesWindow_ && actions_.makePreferencesWindow)
        preferencesWindow_ = actions_.makePreferencesWindow();
    if (preferencesWindow_) {
        PreferencesWindow& window = *preferencesWindow_;
        // On Wayland only the compositor moves the focus, for a request that
        // carries an activation token; Qt 6.4 cannot attach one to a window
        // already shown, and a tray host's menu hands none over. A window
        // mapped anew gets the focus as any new window does, so an open one
        // without the focus is unmapped and shown again.
        if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")) &&
            window.isVisible() && !window.isActiveWindow())
            window.hide();
        window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
        window.showWindow();
    }
    if (actions_.checkSilently)
        actions_.checkSilently();
}

void StatusBarController::checkForUpdates() {
    if (actions_.checkForUpdate)
        actions_.checkForUpdate();
}

void StatusBarController::quit() {
    grabScrollManager_.stop();
    if (actions_.quitApplication)
        actions_.quitApplication();
}

} // namespace quillmere
