#include "StatusNotifierItem.h"

#include "TrayHostWatcher.h"
#include "engine/Log.h"

#include <QAction>
#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QtEndian>

// The bus types of the two interfaces (org.kde.StatusNotifierItem and
// com.canonical.dbusmenu), named after their signatures.

struct TrayPixmap { // (iiay): ARGB32 in network byte order
    int width = 0;
    int height = 0;
    QByteArray argb;
};
using TrayPixmaps = QList<TrayPixmap>;
struct TrayToolTip { // (sa(iiay)ss)
    QString iconName;
    TrayPixmaps pixmaps;
    QString title;
    QString text;
};
struct MenuNode { // (ia{sv}av), the children being MenuNodes in variants
    int id = 0;
    QVariantMap properties;
    QList<MenuNode> children;
};
struct MenuItemProperties { // (ia{sv})
    int id = 0;
    QVariantMap properties;
};
using MenuItemPropertiesList = QList<MenuItemProperties>;
struct MenuEvent { // (isvu)
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
using MenuEvents = QList<MenuEvent>;
using MenuShortcut = QList<QStringList>; // aas

Q_DECLARE_METATYPE(TrayPixmap)
Q_DECLARE_METATYPE(TrayToolTip)
Q_DECLARE_METATYPE(MenuNode)
Q_DECLARE_METATYPE(MenuItemProperties)
Q_DECLARE_METATYPE(MenuEvent)

QDBusArgument& operator<<(QDBusArgument& arg, const TrayPixmap& p) {
    arg.beginStructure();
    arg << p.width << p.height << p.argb;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, TrayPixmap& p) {
    arg.beginStructure();
    arg >> p.width >> p.height >> p.argb;
    arg.endStructure();
    return arg;
}
QDBusArgument& operator<<(QDBusArgument& arg, const TrayToolTip& t) {
    arg.beginStructure();
    arg << t.iconName << t.pixmaps << t.title << t.text;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, TrayToolTip& t) {
    arg.beginStructure();
    arg >> t.iconName >> t.pixmaps >> t.title >> t.text;
    arg.endStructure();
    return arg;
}
QDBusArgument& operator<<(QDBusArgument& arg, const MenuNode& node) {
    arg.beginStructure();
    arg << node.id << node.properties;
    arg.beginArray(qMetaTypeId<QDBusVariant>());
    for (const MenuNode& child : node.children)
        arg << QDBusVariant(QVariant::fromValue(child));
    arg.endArray();
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, MenuNode& node) {
    arg.beginStructure();
    arg >> node.id >> node.properties;
    arg.beginArray();
    while (!arg.atEnd()) {
        QDBusVariant child;
        arg >> child;
        node.children.append(qdbus_cast<MenuNode>(child.variant()));
    }
    arg.endArray();
    arg.endStructure();
    return arg;
}
QDBusArgument& operator<<(QDBusArgument& arg, const MenuItemProperties& item) {
    arg.beginStructure();
    arg << item.id << item.properties;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, MenuItemProperties& item) {
    arg.beginStructure();
    arg >> item.id >> item.properties;
    arg.endStructure();
    return arg;
}
QDBusArgument& operator<<(QDBusArgument& arg, const MenuEvent& event) {
    arg.beginStructure();
    arg << event.id << event.eventId << event.data << event.timestamp;
    arg.endStructure();
    return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, MenuEvent& event) {
    arg.beginStructure();
    arg >> event.id >> event.eventId >> event.data >> event.timestamp;
    arg.endStructure();
    return arg;
}

namespace quillmere {

namespace {

void registerBusTypes() {
    static const bool done = [] {
        qDBusRegisterMetaType<TrayPixmap>();
        qDBusRegisterMetaType<TrayPixmaps>();
        qDBusRegisterMetaType<TrayToolTip>();
        qDBusRegisterMetaType<MenuNode>();
        qDBusRegisterMetaType<MenuItemProperties>();
        qDBusRegisterMetaType<MenuItemPropertiesList>();
        qDBusRegisterMetaType<MenuEvent>();
        qDBusRegisterMetaType<MenuEvents>();
        qDBusRegisterMetaType<MenuShortcut>();
        return true;
    }();
    (void)done;
}

// dbusmenu marks the mnemonic with "_" where Qt uses "&".
QString menuLabel(const QString& text) {
    QString label;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'_')
            label += QStringLiteral("__");
        else if (text[i] == u'&' && i + 1 < text.size())
            label += text[++i] == u'&' ? QStringLiteral("&") : QStringLiteral("_") + text[i];
        else
            label += text[i];
    }
    return label;
}

MenuShortcut shortcutKeys(const QKeySequence& sequence) {
    MenuShortcut keys;
    for (int i = 0; i < sequence.count(); ++i) {
        const QKeyCombination combination = sequence[i];
        QStringList parts;
        const Qt::KeyboardModifiers mods = combination.keyboardModifiers();
        if (mods & Qt::MetaModifier)
            parts << QStringLiteral("Super");
        if (mods & Qt::ControlModifier)
            parts << QStringLiteral("Control");
        if (mods & Qt::AltModifier)
            parts << QStringLiteral("Alt");
        if (mods & Qt::ShiftModifier)
            parts << QStringLiteral("Shift");
        parts << QKeySequence(combination.key()).toString(QKeySequence::PortableText);
        keys << parts;
    }
    return keys;
}

QVariantMap itemProperties(const QAction* action) {
    QVariantMap p;
    if (action->isSeparator()) {
        p.insert(QStringLiteral("type"), QStringLiteral("separator"));
    } else {
        p.insert(QStringLiteral("label"), menuLabel(action->text()));
        p.insert(QStringLiteral("enabled"), action->isEnabled());
        if (action->isCheckable()) {
            p.insert(QStringLiteral("toggle-type"), QStringLiteral("checkmark"));
            p.insert(QStringLiteral("toggle-state"), action->isChecked() ? 1 : 0);
        }
        if (!action->shortcut().isEmpty())
            p.insert(QStringLiteral("shortcut"),
                     QVariant::fromValue(shortcutKeys(action->shortcut())));
    }
    p.insert(QStringLiteral("visible"), action->isVisible());
    return p;
}

TrayPixmaps pixmapsOf(const QIcon& icon) {
    TrayPixmaps pixmaps;
    for (int size : {16, 22, 32, 48, 64}) {
        const QImage image = icon.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32);
        if (image.isNull())
            continue;
        TrayPixmap p{image.width(), image.height(), QByteArray()};
        p.argb.resize(qsizetype(image.width()) * image.height() * 4);
        auto* out = reinterpret_cast<quint32*>(p.argb.data());
        for (int y = 0; y < image.height(); ++y) {
            const auto* line = reinterpret_cast<const quint32*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x)
                *out++ = qToBigEndian(line[x]);
        }
        pixmaps << p;
    }
    return pixmaps;
}

} // namespace

class StatusNotifierItemAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ id)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconName READ empty)
    Q_PROPERTY(TrayPixmaps IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ empty)
    Q_PROPERTY(TrayPixmaps OverlayIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionIconName READ empty)
    Q_PROPERTY(TrayPixmaps AttentionIconPixmap READ noPixmaps)
    Q_PROPERTY(TrayToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)

public:
    StatusNotifierItemAdaptor(StatusNotifierItem& item)
        : QDBusAbstractAdaptor(&item), item_(item), pixmaps_(pixmapsOf(item.icon_)) {
        connect(&item, &StatusNotifierItem::toolTipChanged, this,
                &StatusNotifierItemAdaptor::NewToolTip);
    }
    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return QCoreApplication::applicationName(); }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString empty() const { return QString(); }
    TrayPixmaps iconPixmap() const { return pixmaps_; }
    TrayPixmaps noPixmaps() const { return {}; }
    TrayToolTip toolTip() const { return {{}, {}, item_.toolTipTitle_, item_.toolTipText_}; }
    // The whole item is its menu: hosts open it on any click.
    bool itemIsMenu() const { return true; }
    QDBusObjectPath menu() const { return QDBusObjectPath(StatusNotifierItem::menuPath); }

public slots:
    // Only hosts that cannot draw the exported menu call these; they give
    // the click's screen position.
    void Activate(int x, int y) { item_.menu_.popup(QPoint(x, y)); }
    void ContextMenu(int x, int y) { item_.menu_.popup(QPoint(x, y)); }
    void SecondaryActivate(int, int) {}
    void Scroll(int, const QString&) {}

signals:
    void NewIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

private:
    StatusNotifierItem& item_;
    TrayPixmaps pixmaps_;
};

class DBusMenuAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    DBusMenuAdaptor(StatusNotifierItem& item, QObject* holder)
        : QDBusAbstractAdaptor(holder), item_(item) {
        connect(&item, &StatusNotifierItem::layoutUpdated, this, &DBusMenuAdaptor::LayoutUpdated);
    }
    uint version() const { return 3; }
    QString textDirection() const {
        return QGuiApplication::layoutDirection() == Qt::RightToLeft ? QStringLiteral("rtl")
                                                                     : QStringLiteral("ltr");
    }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

public slots:
    // Item 0 is the menu itself; item n is its n-th entry.
    uint GetLayout(int parentId, int, const QStringList&, MenuNode& layout) {
        layout = MenuNode{parentId, {}, {}};
        if (parentId == 0) {
            layout.properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
            const QList<QAction*> actions = item_.menu_.actions();
            for (qsizetype i = 0; i < actions.size(); ++i)
                layout.children << MenuNode{int(i) + 1, itemProperties(actions[i]), {}};
        } else if (const QAction* action = actionOf(parentId)) {
            layout.properties = itemProperties(action);
        }
        return item_.revision_;
    }
    QList<MenuItemProperties> GetGroupProperties(const QList<int>& ids, const QStringList&) {
        QList<MenuItemProperties> found;
        for (int id : ids)
            if (const QAction* action = actionOf(id))
                found << MenuItemProperties{id, itemProperties(action)};
        return found;
    }
    QDBusVariant GetProperty(int id, const QString& name) {
        const QAction* action = actionOf(id);
        return QDBusVariant(action ? itemProperties(action).value(name) : QVariant());
    }
    void Event(int id, const QString& eventId, const QDBusVariant&, uint) {
        QAction* action = actionOf(id);
        // After the reply: the host is not kept waiting by what the item does.
        if (action && eventId == QLatin1String("clicked") && action->isEnabled())
            QMetaObject::invokeMethod(action, &QAction::trigger, Qt::QueuedConnection);
    }
    // Parameter types spelled out: QtDBus finds them by name, not by alias.
    QList<int> EventGroup(const QList<MenuEvent>& events) {
        QList<int> unknown;
        for (const MenuEvent& e : events) {
            if (e.id != 0 && !actionOf(e.id))
                unknown << e.id;
            Event(e.id, e.eventId, e.data, e.timestamp);
        }
        return unknown;
    }
    bool AboutToShow(int) { return false; }
    QList<int> AboutToShowGroup(const QList<int>&, QList<int>& unknown) {
        unknown.clear();
        return {};
    }

signals:
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

private:
    QAction* actionOf(int id) const {
        const QList<QAction*> actions = item_.menu_.actions();
        return id >= 1 && id <= actions.size() ? actions[id - 1] : nullptr;
    }

    StatusNotifierItem& item_;
};

StatusNotifierItem::StatusNotifierItem(QMenu& menu, const QIcon& icon, QDBusConnection bus,
                                       QObject* parent)
    : QObject(parent), menu_(menu), icon_(icon), bus_(std::move(bus)),
      serviceName_(QStringLiteral("org.kde.StatusNotifierItem-%1-1")
                       .arg(QCoreApplication::applicationPid())) {
    registerBusTypes();
    new StatusNotifierItemAdaptor(*this);
    // The menu lives on a path of its own, with an object to carry it.
    auto* menuHolder = new QObject(this);
    new DBusMenuAdaptor(*this, menuHolder);
    for (QAction* action : menu_.actions())
        connect(action, &QAction::changed, this, [this] { emit layoutUpdated(++revision_, 0); });
    if (!bus_.registerObject(QString::fromLatin1(itemPath), this) ||
        !bus_.registerObject(QString::fromLatin1(menuPath), menuHolder) ||
        !bus_.registerService(serviceName_))
        Log::write("[Quillmere] The tray icon could not be offered on the session bus.");
    // A panel that restarts brings a new watcher, which must be told again.
    auto* watcher = new QDBusServiceWatcher(QString::fromLatin1(TrayHostWatcher::watcherService),
                                            bus_, QDBusServiceWatcher::WatchForRegistration, this);
    connect(watcher, &QDBusServiceWatcher::serviceRegistered, this,
            &StatusNotifierItem::registerWithWatcher);
    registerWithWatcher();
}

StatusNotifierItem::~StatusNotifierItem() {
    bus_.unregisterService(serviceName_);
    bus_.unregisterObject(QString::fromLatin1(menuPath));
    bus_.unregisterObject(QString::fromLatin1(itemPath));
}

void StatusNotifierItem::setToolTip(const QString& title, const QString& text) {
    if (title == toolTipTitle_ && text == toolTipText_)
        return;
    toolTipTitle_ = title;
    toolTipText_ = text;
    emit toolTipChanged();
}

void StatusNotifierItem::registerWithWatcher() {
    QDBusMessage call =
        QDBusMessage::createMethodCall(QString::fromLatin1(TrayHostWatcher::watcherService),
                                       QString::fromLatin1(TrayHostWatcher::watcherPath),
                                       QString::fromLatin1(TrayHostWatcher::watcherInterface),
                                       QStringLiteral("RegisterStatusNotifierItem"));
    call << serviceName_;
    bus_.call(call, QDBus::NoBlock);
}

} // namespace quillmere

#include "StatusNotifierItem.moc"
