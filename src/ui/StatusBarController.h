#pragma once
// The tray icon and its menu: the on/off switch for grab scrolling, the
// preferences window, the update check and Quit. The menu follows the
// interface language.

#include <QDBusConnection>
#include <QObject>

#include <functional>
#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace quillmere {

class GrabScrollManager;
class PreferencesWindow;
class StatusNotifierItem;
class TrayHostWatcher;

// What the menu calls outside the user interface; the application wires the
// real services, tests substitute recorders.
struct StatusBarActions {
    std::function<void()> checkSilently;
    std::function<void()> checkForUpdate;
    std::function<void()> quitApplication;
    std::function<std::unique_ptr<PreferencesWindow>()> makePreferencesWindow;
};

class StatusBarController : public QObject {
    Q_OBJECT
public:
    // Builds the menu, then shows the tray icon as soon as a tray exists.
    StatusBarController(GrabScrollManager& manager, StatusBarActions actions,
                        QDBusConnection bus = QDBusConnection::sessionBus());
    ~StatusBarController() override;

    QMenu* menu() const { return menu_.get(); }
    QAction* versionItem() const { return versionItem_; }
    QAction* toggleItem() const { return toggleItem_; }
    QAction* prefsItem() const { return prefsItem_; }
    QAction* updateItem() const { return updateItem_; }
    QAction* quitItem() const { return quitItem_; }
    // Empty until a tray exists: an XEmbed tray (X11) gets a Qt tray icon,
    // a StatusNotifierItem host (any desktop) gets a notifier item.
    QSystemTrayIcon* statusItem() const { return statusItem_.get(); }
    StatusNotifierItem* notifierItem() const { return notifierItem_.get(); }
    // Empty until the preferences are first asked for.
    PreferencesWindow* preferencesWindow() const { return preferencesWindow_.get(); }

    // Why no mouse can be taken over, shown in the icon's tooltip; empty
    // while one is.
    void setMouseProblem(const QString& problem);

public slots:
    void toggleEnabled();
    void showPreferences();
    void checkForUpdates();
    void quit();

protected:
    // Lets Ctrl+Q work in the open menu: Qt matches action shortcuts only
    // in windows, not in a free-standing context menu.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setupStatusBar();
    void updateMenuStrings();
    void showStatusItemWhenTrayExists();
    void createStatusItem();
    void createNotifierItem();
    void showToolTip();

    GrabScrollManager& grabScrollManager_;
    StatusBarActions actions_;
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> statusItem_;
    std::unique_ptr<StatusNotifierItem> notifierItem_;
    std::unique_ptr<PreferencesWindow> preferencesWindow_;
    TrayHostWatcher* trayWatcher_ = nullptr;
    QString mouseProblem_;
    QAction* versionItem_ = nullptr;
    QAction* toggleItem_ = nullptr;
    QAction* prefsItem_ = nullptr;
    QAction* updateItem_ = nullptr;
    QAction* quitItem_ = nullptr;
};

} // namespace quillmere
