#include "HandednessWatcher.h"

#include "GnomeHandedness.h"
#include "X11Handedness.h"
#include "engine/Log.h"

#include <QAbstractEventDispatcher>
#include <QStandardPaths>

namespace quillmere {

DesktopKind desktopKind(const QString& xdgCurrentDesktop) {
    const QStringList names = xdgCurrentDesktop.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    if (names.contains(QStringLiteral("KDE"), Qt::CaseInsensitive))
        return DesktopKind::kde;
    if (names.contains(QStringLiteral("GNOME"), Qt::CaseInsensitive))
        return DesktopKind::gnome;
    return DesktopKind::other;
}

input::Handedness combineHandedness(DesktopKind desktop, bool onX11, bool gnomeLeftHanded,
                                    const KdeMouseSettings& kde, bool x11Swapped) {
    input::Handedness result;
    result.leftHanded = x11Swapped || (desktop != DesktopKind::kde && gnomeLeftHanded);
    if (desktop == DesktopKind::gnome)
        return result;
    if (onX11) {
        result.leftHanded = result.leftHanded || kde.x11.value_or(false);
    } else {
        result.leftHanded = result.leftHanded || kde.waylandDefault.value_or(false);
        result.perDevice = kde.perDevice;
    }
    return result;
}

HandednessWatcher::HandednessWatcher(HandednessSources sources, QObject* parent)
    : QObject(parent), desktop_(desktopKind(sources.desktop)) {
    const auto update = [this] { this->update(); };
    if (desktop_ != DesktopKind::kde) {
        gnome_ = std::make_unique<GnomeHandedness>(sources.gnomeSchema, update);
        // GSettings reports changes through GLib's main context, which only
        // Qt's GLib event loop runs (not one started with QT_NO_GLIB).
        const QAbstractEventDispatcher* loop = QAbstractEventDispatcher::instance();
        if (!loop || !loop->inherits("QEventDispatcherGlib"))
            Log::write("[Quillmere] the event loop does not run GLib: a change of GNOME's "
                       "left-handed takes effect at the next start");
    }
    if (desktop_ != DesktopKind::gnome) {
        if (sources.configHome.isEmpty())
            sources.configHome =
                QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        kde_ = std::make_unique<KdeHandedness>(sources.configHome, update);
    }
    if (sources.x11)
        x11_ = std::make_unique<X11Handedness>(sources.x11Display, update);
    current_ = combined();
    ready_ = true;
}

HandednessWatcher::~HandednessWatcher() = default;

input::Handedness HandednessWatcher::combined() const {
    return combineHandedness(desktop_, x11_ != nullptr, gnome_ && gnome_->leftHanded(),
                             kde_ ? kde_->settings() : KdeMouseSettings{}, x11_ && x11_->swapped());
}

void HandednessWatcher::update() {
    // Sources that report while this is being built are read at its end.
    if (!ready_)
        return;
    input::Handedness now = combined();
    if (now == current_)
        return;
    current_ = std::move(now);
    emit changed(current_);
}

} // namespace quillmere
