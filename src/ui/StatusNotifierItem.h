#pragma once
// The tray icon for panels that are StatusNotifierItem hosts (KDE, waybar,
// the GNOME AppIndicator extension): the icon and the tray menu are exported
// on the session bus and the panel draws both, the menu at the icon. The item
// declares itself a menu, so a left click opens the panel's menu too. Qt's
// own tray icon cannot declare that: a left click comes back to the
// application, whose menu then opens wherever Qt last saw the pointer, which
// on Wayland is nowhere near the tray.

#include <QDBusConnection>
#include <QIcon>
#include <QObject>
#include <QString>

class QMenu;

namespace quillmere {

class StatusNotifierItem : public QObject {
    Q_OBJECT
public:
    static constexpr const char* itemPath = "/StatusNotifierItem";
    static constexpr const char* menuPath = "/MenuBar";

    // Exports the item and `menu` (which must outlive it) and registers with
    // the panel's watcher now and whenever the watcher starts again.
    StatusNotifierItem(QMenu& menu, const QIcon& icon, QDBusConnection bus,
                       QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    QString serviceName() const { return serviceName_; }
    // The menu layout's revision: it grows with every change of the menu.
    uint revision() const { return revision_; }
    // What the panel shows when the pointer rests on the icon.
    void setToolTip(const QString& title, const QString& text);

signals:
    void layoutUpdated(uint revision, int parent);
    void toolTipChanged();

private:
    friend class StatusNotifierItemAdaptor;
    friend class DBusMenuAdaptor;
    void registerWithWatcher();

    QMenu& menu_;
    QIcon icon_;
    QDBusConnection bus_;
    QString serviceName_;
    uint revision_ = 1;
    QString toolTipTitle_;
    QString toolTipText_;
};

} // namespace quillmere
