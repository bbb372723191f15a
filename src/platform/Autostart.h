#pragma once
// The freedesktop autostart entry that starts Quillmere at login:
// $XDG_CONFIG_HOME/autostart/app.quillmere.Quillmere.desktop.

#include <QString>

namespace quillmere::Autostart {

QString entryPath();

// Writes the entry atomically, starting the running binary by its absolute
// path. On failure returns false and describes why in *error.
bool registerEntry(QString* error);
// Removes the entry; an entry that is not there is already unregistered.
bool unregisterEntry(QString* error);
// Registered: the entry exists and is neither Hidden=true nor
// X-GNOME-Autostart-enabled=false.
bool isEnabled();

// The Exec= value for a program path, quoted and escaped as desktop entries
// require.
QString execValue(const QString& program);

} // namespace quillmere::Autostart
